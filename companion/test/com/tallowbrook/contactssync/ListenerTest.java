package com.tallowbrook.contactssync;

import java.io.IOException;
import java.net.ConnectException;
import java.net.InetAddress;
import java.net.Socket;
import java.util.HashSet;
import java.util.Set;

/** Who may reach the contacts: one connection per session request, and Wi-Fi only for computers the user allowed. */
public final class ListenerTest {
    private final MemoryContactsProvider phone = new MemoryContactsProvider();
    private final TestHost host = new TestHost(phone);

    private static final class Remembered implements PeerApprovals.Memory {
        final Set<String> saved = new HashSet<String>();

        @Override
        public Set<String> load() {
            return new HashSet<String>(saved);
        }

        @Override
        public void save(Set<String> addresses) {
            saved.clear();
            saved.addAll(addresses);
        }
    }

    private static boolean refusesConnections(int port) throws IOException {
        try (Socket s = new Socket("127.0.0.1", port)) {
            s.setSoTimeout(3000);
            return s.getInputStream().read() < 0; // taken, then closed at once
        } catch (ConnectException e) {
            return true;
        }
    }

    public void testASessionListenerServesOneConnectionOnly() throws Exception {
        int port = host.session(SyncSession.Kind.BACKUP);
        try (Wire w = new Wire(port)) {
            Check.isTrue(w.read().startsWith("$device:"), "first connection served");
            Check.isTrue(refusesConnections(port), "a second connection finds nobody listening");
        }
    }

    public void testASessionForOneComputerIgnoresOthers() throws Exception {
        SessionListener l = new SessionListener(SyncSession.Kind.BACKUP, 0, InetAddress.getByName("127.0.0.1"),
                InetAddress.getByName("192.0.2.1"), host);
        new Thread(l).start();
        Check.isTrue(refusesConnections(l.port()), "connection from another address closed unserved");
        Check.isTrue(host.log.toString().contains("refused"), "refusal logged");
    }

    public void testWifiHelloWaitsForTheUserWhoAllowsOnce() throws Exception {
        Remembered memory = new Remembered();
        final PeerApprovals approvals = new PeerApprovals(memory, 10000);
        WifiListener wifi = new WifiListener(InetAddress.getByName("127.0.0.1"), 0, InetAddress.getByName("127.0.0.1"),
                host, approvals);
        new Thread(wifi).start();
        try {
            try (Wire w = new Wire(wifi.port())) {
                w.send("hello://127.0.0.1");
                long deadline = System.currentTimeMillis() + 5000;
                while (approvals.pending().isEmpty() && System.currentTimeMillis() < deadline)
                    Thread.sleep(20);
                Check.equal("[127.0.0.1]", approvals.pending().toString(), "the phone asks about the computer");
                Check.isTrue(w.socket.getInputStream().available() == 0, "no answer before the tap");
                approvals.answer("127.0.0.1", true);
                Check.equal("hello:Pixel Ünit", w.read(), "answer after the tap");
            }
            Check.isTrue(memory.saved.contains("127.0.0.1"), "the allowed computer is remembered");
            try (Wire w = new Wire(wifi.port())) {
                w.send("hello://127.0.0.1");
                Check.equal("hello:Pixel Ünit", w.read(), "known computer answered at once");
            }
            // A session asked for over Wi-Fi: served once on the port named.
            int port = freePort();
            try (Wire w = new Wire(wifi.port())) {
                w.send("backup://127.0.0.1:" + port + "/");
                Check.equal(null, w.read(), "no answer to a session request");
            }
            try (Wire s = new Wire(port)) {
                Check.isTrue(s.read().startsWith("$device:"), "session served");
            }
        } finally {
            wifi.close();
        }
    }

    public void testWifiRefusesComputersTheUserDenied() throws Exception {
        final PeerApprovals approvals = new PeerApprovals(new Remembered(), 10000);
        approvals.setOnChange(new Runnable() {
            @Override
            public void run() {
                for (String a : approvals.pending())
                    approvals.answer(a, false);
            }
        });
        WifiListener wifi = new WifiListener(InetAddress.getByName("127.0.0.1"), 0, InetAddress.getByName("127.0.0.1"),
                host, approvals);
        new Thread(wifi).start();
        try {
            try (Wire w = new Wire(wifi.port())) {
                w.send("hello://127.0.0.1");
                String reply = w.read();
                Check.isTrue(reply.startsWith("$error:"), "refused hello: " + reply);
            }
            int port = freePort();
            try (Wire w = new Wire(wifi.port())) {
                w.send("restore://127.0.0.1:" + port + "/");
                w.read();
            }
            Check.isTrue(refusesConnections(port), "no session for a computer not allowed");
            Check.isTrue(!approvals.isAdmitted("127.0.0.1"), "a denial is not remembered as allowed");
        } finally {
            wifi.close();
        }
    }

    public void testAnUnansweredQuestionRefusesInTime() {
        PeerApprovals approvals = new PeerApprovals(new Remembered(), 200);
        long start = System.currentTimeMillis();
        Check.isTrue(!approvals.admit("10.0.0.9"), "no tap: refused");
        Check.isTrue(System.currentTimeMillis() - start < 5000, "gave up after its time");
        Check.isTrue(approvals.pending().isEmpty(), "the question is withdrawn");
    }

    private static int freePort() throws IOException {
        try (java.net.ServerSocket s = new java.net.ServerSocket(0)) {
            return s.getLocalPort();
        }
    }
}
