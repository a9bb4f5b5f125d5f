package com.tallowbrook.contactssync;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.net.InetAddress;

/**
 * The companion's own session code on the JVM, over the in-memory contacts provider: its Wi-Fi listener and the
 * sessions it opens, on 127.0.0.1, so that the program's real Android workers can be run against it.
 *   HostLauncher [--wifi-port N] [--port-file FILE] [--name NAME]
 * Every computer is allowed (there is nobody to tap on a host); port 0 takes a free port, written to the file.
 */
public final class HostLauncher {
    private HostLauncher() {}

    public static void main(String[] args) throws IOException, InterruptedException {
        int port = WifiListener.PORT;
        String portFile = null;
        String name = "Companion on the JVM";
        for (int i = 0; i + 1 < args.length; i += 2) {
            if (args[i].equals("--wifi-port"))
                port = Integer.parseInt(args[i + 1]);
            else if (args[i].equals("--port-file"))
                portFile = args[i + 1];
            else if (args[i].equals("--name"))
                name = args[i + 1];
            else
                throw new IllegalArgumentException("unknown option " + args[i]);
        }
        final MemoryContactsProvider provider = new MemoryContactsProvider();
        final String deviceName = name;
        SyncHost host = new SyncHost() {
            @Override
            public ContactStore store() {
                return provider;
            }

            @Override
            public String deviceName() {
                return deviceName;
            }

            @Override
            public void log(String message) {
                System.err.println("companion: " + message);
            }

            @Override
            public void sessionEnded() {
                System.err.println("companion: session ended, " + provider.visibleContactCount() + " contacts");
            }
        };
        PeerGate everyone = new PeerGate() {
            @Override
            public boolean isAdmitted(String address) {
                return true;
            }

            @Override
            public boolean admit(String address) {
                return true;
            }
        };
        InetAddress loopback = InetAddress.getByName("127.0.0.1");
        WifiListener wifi = new WifiListener(loopback, port, loopback, host, everyone);
        if (portFile != null) {
            try (OutputStream out = new FileOutputStream(portFile)) {
                out.write(String.valueOf(wifi.port()).getBytes("UTF-8"));
            }
        }
        System.err.println("companion: listening on 127.0.0.1:" + wifi.port());
        Thread t = new Thread(wifi, "wifi-listener");
        t.start();
        t.join();
    }
}
