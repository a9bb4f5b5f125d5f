package com.tallowbrook.contactssync;

import java.util.LinkedHashMap;
import java.util.Map;

/** One data row as the provider returns it from data joined to raw contacts. */
public final class DataRecord {
    public final long contactId;
    public final long rawContactId;
    public final long dataId;
    public final String mimetype;
    /** "data1" … "data15": text, or bytes for a photo's data15; an absent key reads as null. */
    public final Map<String, Object> values;

    public DataRecord(long contactId, long rawContactId, long dataId, String mimetype, Map<String, Object> values) {
        this.contactId = contactId;
        this.rawContactId = rawContactId;
        this.dataId = dataId;
        this.mimetype = mimetype;
        this.values = values == null ? new LinkedHashMap<String, Object>() : values;
    }

    public String text(int column) {
        Object v = values.get(Provider.DATA[column]);
        if (v == null)
            return "";
        return v instanceof byte[] ? new String((byte[]) v, Base64Text.UTF8) : v.toString();
    }

    /** An integer column; the fallback when it is empty or no number. */
    public int number(int column, int fallback) {
        try {
            return Integer.parseInt(text(column).trim());
        } catch (NumberFormatException e) {
            return fallback;
        }
    }

    public byte[] bytes(int column) {
        Object v = values.get(Provider.DATA[column]);
        if (v == null)
            return new byte[0];
        return v instanceof byte[] ? (byte[]) v : v.toString().getBytes(Base64Text.UTF8);
    }
}
