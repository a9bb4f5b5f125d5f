package com.tallowbrook.contactssync;

import java.io.IOException;
import java.net.InetAddress;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/** A SyncHost over the in-memory provider that records its log and counts ended sessions. */
final class TestHost implements SyncHost {
    final MemoryContactsProvider provider;
    final List<String> log = Collections.synchronizedList(new ArrayList<String>());
    int ended;

    TestHost(MemoryContactsProvider provider) {
        this.provider = provider;
    }

    @Override
    public ContactStore store() {
        return provider;
    }

    @Override
    public String deviceName() {
        return "Pixel Ünit";
    }

    @Override
    public void log(String message) {
        log.add(message);
    }

    @Override
    public synchronized void sessionEnded() {
        ended++;
        notifyAll();
    }

    synchronized void awaitEnded(int count) throws InterruptedException {
        long deadline = System.currentTimeMillis() + 20000;
        while (ended < count && System.currentTimeMillis() < deadline)
            wait(100);
        Check.isTrue(ended >= count, "session did not end");
    }

    /** Opens a one-session listener on a free port of 127.0.0.1 and returns its port. */
    int session(SyncSession.Kind kind) throws IOException {
        SessionListener l = new SessionListener(kind, 0, InetAddress.getByName("127.0.0.1"), null, this);
        new Thread(l).start();
        return l.port();
    }
}
