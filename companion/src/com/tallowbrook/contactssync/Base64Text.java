package com.tallowbrook.contactssync;

import java.nio.charset.Charset;

/**
 * Base64 (standard alphabet, padded) as the wire uses it: free text travels as Base64 of its UTF-8 bytes,
 * photos as Base64 of their bytes. Written here because java.util.Base64 is missing before API 26 and
 * android.util.Base64 does not exist on the JVM where these classes are tested.
 */
public final class Base64Text {
    static final Charset UTF8 = Charset.forName("UTF-8");
    private static final char[] ALPHABET =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/".toCharArray();
    private static final int[] VALUES = new int[128];

    static {
        for (int i = 0; i < VALUES.length; i++)
            VALUES[i] = -1;
        for (int i = 0; i < ALPHABET.length; i++)
            VALUES[ALPHABET[i]] = i;
    }

    private Base64Text() {}

    public static String encode(byte[] bytes) {
        StringBuilder out = new StringBuilder((bytes.length + 2) / 3 * 4);
        for (int i = 0; i < bytes.length; i += 3) {
            int b0 = bytes[i] & 0xff;
            int b1 = i + 1 < bytes.length ? bytes[i + 1] & 0xff : 0;
            int b2 = i + 2 < bytes.length ? bytes[i + 2] & 0xff : 0;
            out.append(ALPHABET[b0 >> 2]);
            out.append(ALPHABET[((b0 & 3) << 4) | (b1 >> 4)]);
            out.append(i + 1 < bytes.length ? ALPHABET[((b1 & 15) << 2) | (b2 >> 6)] : '=');
            out.append(i + 2 < bytes.length ? ALPHABET[b2 & 63] : '=');
        }
        return out.toString();
    }

    /** Strict: a length that is no multiple of 4, a character outside the alphabet or misplaced padding throws. */
    public static byte[] decode(String text) {
        if (text.length() % 4 != 0)
            throw new IllegalArgumentException("Base64 length is not a multiple of 4");
        int pad = text.endsWith("==") ? 2 : text.endsWith("=") ? 1 : 0;
        byte[] out = new byte[text.length() / 4 * 3 - pad];
        int o = 0;
        for (int i = 0; i < text.length(); i += 4) {
            int[] v = new int[4];
            for (int k = 0; k < 4; k++) {
                char c = text.charAt(i + k);
                boolean padding = c == '=' && i + 4 == text.length() && k >= 4 - pad;
                v[k] = padding ? 0 : c < 128 ? VALUES[c] : -1;
                if (v[k] < 0)
                    throw new IllegalArgumentException("not Base64: '" + c + "'");
            }
            int n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
            out[o++] = (byte) (n >> 16);
            if (o < out.length)
                out[o++] = (byte) (n >> 8);
            if (o < out.length)
                out[o++] = (byte) n;
        }
        return out;
    }

    public static String encodeText(String text) {
        return text == null ? "" : encode(text.getBytes(UTF8));
    }

    public static String decodeText(String field) {
        return new String(decode(field), UTF8);
    }
}
