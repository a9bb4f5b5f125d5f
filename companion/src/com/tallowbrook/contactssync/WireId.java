package com.tallowbrook.contactssync;

/**
 * A row id on the wire: "type/contact/raw/data", decimal with an optional minus. Rows of the phone carry their
 * own ids; a row the program made carries a negative data part (its own row number) and, for a new contact,
 * its own contact number as the contact and raw parts.
 */
public final class WireId {
    public final int type;
    public final long contact;
    public final long raw;
    public final long data;

    public WireId(int type, long contact, long raw, long data) {
        this.type = type;
        this.contact = contact;
        this.raw = raw;
        this.data = data;
    }

    /** Null when the text is not exactly four such numbers (a number beyond 18 digits is refused too). */
    public static WireId parse(String text) {
        String[] parts = text.split("/", -1);
        if (parts.length != 4)
            return null;
        long[] n = new long[4];
        for (int i = 0; i < 4; i++) {
            String p = parts[i];
            int start = p.startsWith("-") ? 1 : 0;
            if (p.length() == start || p.length() - start > 18)
                return null;
            for (int k = start; k < p.length(); k++)
                if (p.charAt(k) < '0' || p.charAt(k) > '9')
                    return null;
            n[i] = Long.parseLong(p);
        }
        if (n[0] != (int) n[0])
            return null; // the type is a 32-bit number
        return new WireId((int) n[0], n[1], n[2], n[3]);
    }

    @Override
    public String toString() {
        return type + "/" + contact + "/" + raw + "/" + data;
    }
}
