package com.tallowbrook.contactssync;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;

/** Lines of the session protocol on a byte stream: UTF-8, ended by a line feed, carriage returns dropped. */
public final class LineChannel {
    /** A longer line is refused: the program never sends one, and an endless line must not eat the memory. */
    public static final int MAX_LINE_BYTES = 16 * 1024 * 1024;

    private final InputStream in;
    private final OutputStream out;
    private final byte[] buffer = new byte[65536];
    private int start;
    private int end;

    public LineChannel(InputStream in, OutputStream out) {
        this.in = in;
        this.out = out;
    }

    /** The next line without its line feed; null when the peer closed (a last line without line feed is dropped). */
    public String readLine() throws IOException, BadInputException {
        ByteArrayOutputStream line = new ByteArrayOutputStream();
        for (;;) {
            for (int i = start; i < end; i++) {
                if (buffer[i] == '\n') {
                    append(line, start, i);
                    start = i + 1;
                    return new String(line.toByteArray(), Base64Text.UTF8);
                }
            }
            append(line, start, end);
            start = end = 0;
            if (line.size() > MAX_LINE_BYTES)
                throw new BadInputException("line longer than " + MAX_LINE_BYTES + " bytes");
            int n = in.read(buffer, 0, buffer.length);
            if (n < 0)
                return null;
            end = n;
        }
    }

    private void append(ByteArrayOutputStream line, int from, int to) {
        for (int i = from; i < to; i++)
            if (buffer[i] != '\r')
                line.write(buffer[i]);
    }

    /** Writes the line and its line feed; with flush, hands everything written so far to the connection. */
    public void write(String line, boolean flush) throws IOException {
        out.write((line + "\n").getBytes(Base64Text.UTF8));
        if (flush)
            out.flush();
    }
}
