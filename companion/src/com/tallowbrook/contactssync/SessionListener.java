package com.tallowbrook.contactssync;

import java.io.IOException;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.net.SocketTimeoutException;

/**
 * Serves ONE session on a port: the listener takes the first connection (from the expected computer, when one
 * is named) and closes at once, so that nothing else on the phone or the network reaches the contacts through it.
 */
public final class SessionListener implements Runnable {
    /** How long a session request waits for the program's connection. */
    public static final int ACCEPT_TIMEOUT_MS = 60000;
    /** A program silent this long inside a session is given up. */
    public static final int IDLE_TIMEOUT_MS = 120000;

    private final SyncSession.Kind kind;
    private final SyncHost host;
    private final InetAddress onlyPeer;
    private final ServerSocket server;

    /** Binds at once, so that the caller learns of a busy port. */
    public SessionListener(SyncSession.Kind kind, int port, InetAddress bind, InetAddress onlyPeer, SyncHost host)
            throws IOException {
        this.kind = kind;
        this.host = host;
        this.onlyPeer = onlyPeer;
        server = new ServerSocket();
        server.setReuseAddress(true);
        server.bind(new InetSocketAddress(bind, port), 1);
        server.setSoTimeout(ACCEPT_TIMEOUT_MS);
    }

    public int port() {
        return server.getLocalPort();
    }

    @Override
    public void run() {
        Socket socket = null;
        try {
            try {
                while (socket == null) {
                    Socket s = server.accept();
                    if (onlyPeer == null || onlyPeer.equals(s.getInetAddress())) {
                        socket = s;
                    } else {
                        host.log("session: connection from " + s.getInetAddress().getHostAddress() + " refused");
                        s.close();
                    }
                }
            } finally {
                server.close();
            }
            socket.setSoTimeout(IDLE_TIMEOUT_MS);
            socket.setTcpNoDelay(true);
            new SyncSession(new LineChannel(socket.getInputStream(), socket.getOutputStream()), host).serve(kind);
        } catch (SocketTimeoutException e) {
            host.log("session: no connection or no line in time on port " + server.getLocalPort());
        } catch (IOException e) {
            host.log("session: " + e.getMessage());
        } catch (RuntimeException e) {
            host.log("session failed: " + e);
        } finally {
            if (socket != null) {
                try {
                    socket.close();
                } catch (IOException ignored) {
                }
            }
            host.sessionEnded();
        }
    }
}
