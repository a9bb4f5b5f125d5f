package com.tallowbrook.contactssync;

import java.io.IOException;
import java.net.Socket;
import java.util.ArrayList;
import java.util.List;

/** The program's end of a session in tests: a TCP client that writes and reads protocol lines. */
final class Wire implements AutoCloseable {
    final Socket socket;
    final LineChannel io;

    Wire(int port) throws IOException {
        socket = new Socket("127.0.0.1", port);
        socket.setSoTimeout(20000);
        io = new LineChannel(socket.getInputStream(), socket.getOutputStream());
    }

    void send(String... lines) throws IOException {
        for (String l : lines)
            io.write(l, false);
        socket.getOutputStream().flush();
    }

    String read() throws Exception {
        return io.readLine();
    }

    /** Sends one restore batch and returns the phone's reply line. */
    String batch(List<String> body) throws Exception {
        List<String> all = new ArrayList<String>();
        all.add("$batch:");
        all.addAll(body);
        all.add("$end:");
        send(all.toArray(new String[0]));
        return read();
    }

    @Override
    public void close() throws IOException {
        socket.close();
    }
}
