package com.tallowbrook.contactssync;

import java.util.ArrayList;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Set;

/**
 * Computers allowed on this phone's Wi-Fi listener. A computer not seen before waits in admit() until the user
 * answers on the phone (or the time runs out, which refuses it); answers that allow are remembered.
 */
public final class PeerApprovals implements PeerGate {
    /** Keeps the allowed addresses between runs. */
    public interface Memory {
        Set<String> load();

        void save(Set<String> addresses);
    }

    public static final long ASK_TIMEOUT_MS = 60000;

    private final Memory memory;
    private final Set<String> allowed;
    private final Set<String> pending = new LinkedHashSet<String>();
    private final Set<String> refused = new LinkedHashSet<String>();
    private final long timeoutMs;
    private Runnable onChange;

    public PeerApprovals(Memory memory, long timeoutMs) {
        this.memory = memory;
        this.allowed = new LinkedHashSet<String>(memory.load());
        this.timeoutMs = timeoutMs;
    }

    /** Called (on the listener's thread) whenever a question appears or is answered. */
    public synchronized void setOnChange(Runnable onChange) {
        this.onChange = onChange;
    }

    @Override
    public synchronized boolean isAdmitted(String address) {
        return allowed.contains(address);
    }

    @Override
    public boolean admit(String address) {
        Runnable notify;
        synchronized (this) {
            if (allowed.contains(address))
                return true;
            refused.remove(address);
            pending.add(address);
            notify = onChange;
        }
        if (notify != null)
            notify.run();
        long deadline = System.currentTimeMillis() + timeoutMs;
        boolean result;
        synchronized (this) {
            try {
                for (long left = timeoutMs; left > 0 && !allowed.contains(address) && !refused.contains(address);
                        left = deadline - System.currentTimeMillis())
                    wait(left);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            pending.remove(address);
            result = allowed.contains(address);
            notify = onChange;
        }
        if (notify != null)
            notify.run();
        return result;
    }

    /** Addresses waiting for the user's answer. */
    public synchronized List<String> pending() {
        return new ArrayList<String>(pending);
    }

    public void answer(String address, boolean allow) {
        synchronized (this) {
            if (allow) {
                allowed.add(address);
                memory.save(new LinkedHashSet<String>(allowed));
            } else {
                refused.add(address);
            }
            notifyAll();
        }
    }

    /** Forgets every allowed computer. */
    public synchronized void forgetAll() {
        allowed.clear();
        memory.save(new LinkedHashSet<String>(allowed));
    }
}
