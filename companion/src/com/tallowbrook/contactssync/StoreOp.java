package com.tallowbrook.contactssync;

import java.util.LinkedHashMap;
import java.util.Map;

/**
 * One operation of a batch, as the provider's batch operations express it: an insert may take a column's value
 * from the result of an earlier operation of the same batch (a back-reference by index); updates and deletes of
 * one row expect to touch exactly one row, so a row that vanished meanwhile fails the whole batch.
 */
public final class StoreOp {
    public enum Kind { INSERT_RAW_CONTACT, INSERT_GROUP, INSERT_DATA, UPDATE_DATA, DELETE_DATA, DELETE_RAW_CONTACT,
        DELETE_MEMBERSHIPS }

    public final Kind kind;
    /** The row an update or delete names; the raw contact of a data insert without back-reference. */
    public final long id;
    public final String mimetype;
    public final Map<String, Object> values;
    /** Column → index of the earlier operation whose new id goes into it. */
    public final Map<String, Integer> backReferences = new LinkedHashMap<String, Integer>();

    private StoreOp(Kind kind, long id, String mimetype, Map<String, Object> values) {
        this.kind = kind;
        this.id = id;
        this.mimetype = mimetype;
        this.values = values == null ? new LinkedHashMap<String, Object>() : values;
    }

    /** A raw contact in the given account (nulls: the phone's local account). */
    public static StoreOp insertRawContact(String accountType, String accountName) {
        Map<String, Object> v = new LinkedHashMap<String, Object>();
        v.put(Provider.ACCOUNT_TYPE, accountType);
        v.put(Provider.ACCOUNT_NAME, accountName);
        return new StoreOp(Kind.INSERT_RAW_CONTACT, 0, null, v);
    }

    public static StoreOp insertGroup(String title, String accountType, String accountName) {
        Map<String, Object> v = new LinkedHashMap<String, Object>();
        v.put(Provider.TITLE, title);
        v.put(Provider.ACCOUNT_TYPE, accountType);
        v.put(Provider.ACCOUNT_NAME, accountName);
        return new StoreOp(Kind.INSERT_GROUP, 0, null, v);
    }

    /** A data row of an existing raw contact, or of the raw contact inserted by operation rawRef (≥ 0). */
    public static StoreOp insertData(long rawContactId, int rawRef, String mimetype, Map<String, Object> values) {
        StoreOp op = new StoreOp(Kind.INSERT_DATA, rawContactId, mimetype, values);
        if (rawRef >= 0)
            op.backReferences.put(Provider.RAW_CONTACT_ID, rawRef);
        return op;
    }

    public static StoreOp updateData(long dataId, Map<String, Object> values) {
        return new StoreOp(Kind.UPDATE_DATA, dataId, null, values);
    }

    public static StoreOp deleteData(long dataId) {
        return new StoreOp(Kind.DELETE_DATA, dataId, null, null);
    }

    /** A user's delete: the provider removes a local raw contact and marks one of a synced account deleted. */
    public static StoreOp deleteRawContact(long rawContactId) {
        return new StoreOp(Kind.DELETE_RAW_CONTACT, rawContactId, null, null);
    }

    /** Every group membership row of a raw contact (any number, none included). */
    public static StoreOp deleteMemberships(long rawContactId) {
        return new StoreOp(Kind.DELETE_MEMBERSHIPS, rawContactId, Provider.GROUP_MEMBERSHIP, null);
    }

    public StoreOp withBackReference(String column, int opIndex) {
        backReferences.put(column, opIndex);
        return this;
    }
}
