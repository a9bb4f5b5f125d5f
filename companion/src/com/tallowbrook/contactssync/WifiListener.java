package com.tallowbrook.contactssync;

import java.io.IOException;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.net.Socket;

/**
 * The listener the program reaches over Wi-Fi: "hello:" is answered with the phone's name once the computer is
 * allowed (a new one waits for the user's tap); "backup:" or "restore:" with "//HOST:PORT/" from an allowed
 * computer opens one session on PORT that only that computer may use. Off unless the user turns it on.
 */
public final class WifiListener implements Runnable {
    public static final int PORT = 48888;
    /** How long the first line of a connection may take. */
    static final int FIRST_LINE_TIMEOUT_MS = 10000;

    private final SyncHost host;
    private final PeerGate gate;
    private final InetAddress sessionBind;
    private final ServerSocket server;
    private volatile boolean closed;

    /** Listens on bind:port at once (port 0: any free port); sessions listen on sessionBind. */
    public WifiListener(InetAddress bind, int port, InetAddress sessionBind, SyncHost host, PeerGate gate)
            throws IOException {
        this.host = host;
        this.gate = gate;
        this.sessionBind = sessionBind;
        server = new ServerSocket();
        server.setReuseAddress(true);
        server.bind(new InetSocketAddress(bind, port), 8);
    }

    public int port() {
        return server.getLocalPort();
    }

    public void close() {
        closed = true;
        try {
            server.close();
        } catch (IOException ignored) {
        }
    }

    @Override
    public void run() {
        while (!closed) {
            final Socket socket;
            try {
                socket = server.accept();
            } catch (IOException e) {
                if (!closed)
                    host.log("wifi: " + e.getMessage());
                return;
            }
            new Thread(new Runnable() {
                @Override
                public void run() {
                    handle(socket);
                }
            }, "wifi-request").start();
        }
    }

    void handle(Socket socket) {
        try {
            socket.setSoTimeout(FIRST_LINE_TIMEOUT_MS);
            LineChannel io = new LineChannel(socket.getInputStream(), socket.getOutputStream());
            String line = io.readLine();
            InetAddress peer = socket.getInetAddress();
            String address = peer.getHostAddress();
            if (line == null)
                return;
            if (line.startsWith("hello:")) {
                // The program waits for this answer while the user decides on the phone.
                socket.setSoTimeout(0);
                if (gate.admit(address))
                    io.write("hello:" + host.deviceName(), true);
                else
                    io.write("$error:" + Base64Text.encodeText("This computer was not allowed on the phone."), true);
                return;
            }
            SyncUrl url = SyncUrl.fromWifiLine(line);
            if (url == null) {
                host.log("wifi: unexpected line \"" + BatchPlan.clip(line) + "\"");
                return;
            }
            if (!gate.isAdmitted(address)) {
                host.log("wifi: session request from " + address + ", which is not allowed");
                return;
            }
            SessionListener session = new SessionListener(url.kind, url.port, sessionBind, peer, host);
            new Thread(session, "wifi-session-" + url.port).start();
        } catch (IOException e) {
            host.log("wifi: " + e.getMessage());
        } catch (BadInputException e) {
            host.log("wifi: " + e.getMessage());
        } catch (RuntimeException e) {
            host.log("wifi failed: " + e);
        } finally {
            try {
                socket.close();
            } catch (IOException ignored) {
            }
        }
    }
}
