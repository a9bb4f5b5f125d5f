package com.tallowbrook.contactssync;

import java.util.ArrayList;
import java.util.Collection;
import java.util.Collections;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * An in-memory contacts provider with the rules of the phone's: raw contacts aggregated into contacts, data rows
 * typed by MIME type and owned by one raw contact, a user's delete that removes a local raw contact but only
 * marks one of a synced account deleted (hidden from every read), groups per account, batches applied whole or
 * not at all with back-references to earlier results, expected counts, and at most 499 operations per batch
 * without yield points.
 */
public final class MemoryContactsProvider implements ContactStore {
    static final class Raw {
        long id, contactId;
        String accountType, accountName;
        boolean deleted;

        Raw copy() {
            Raw r = new Raw();
            r.id = id; r.contactId = contactId; r.accountType = accountType; r.accountName = accountName;
            r.deleted = deleted;
            return r;
        }
    }

    static final class Row {
        long id, rawId;
        String mimetype;
        Map<String, Object> values = new LinkedHashMap<String, Object>();

        Row copy() {
            Row r = new Row();
            r.id = id; r.rawId = rawId; r.mimetype = mimetype; r.values = new LinkedHashMap<String, Object>(values);
            return r;
        }
    }

    static final class State {
        Map<Long, Raw> raws = new LinkedHashMap<Long, Raw>();
        Map<Long, Row> rows = new LinkedHashMap<Long, Row>();
        Map<Long, GroupInfo> groups = new LinkedHashMap<Long, GroupInfo>();
        Map<Long, Boolean> groupDeleted = new LinkedHashMap<Long, Boolean>();
        long nextRaw = 1, nextContact = 1, nextRow = 1, nextGroup = 1;

        State copy() {
            State s = new State();
            for (Raw r : raws.values()) s.raws.put(r.id, r.copy());
            for (Row r : rows.values()) s.rows.put(r.id, r.copy());
            s.groups.putAll(groups);
            s.groupDeleted.putAll(groupDeleted);
            s.nextRaw = nextRaw; s.nextContact = nextContact; s.nextRow = nextRow; s.nextGroup = nextGroup;
            return s;
        }
    }

    private State state = new State();
    int batches;
    int readAllCalls;

    // ---- setting up a phone ----

    public synchronized long addRawContact(String accountType, String accountName) {
        Raw r = new Raw();
        r.id = state.nextRaw++;
        // The ids of contacts and raw contacts differ on a real phone; keep them apart here too.
        r.contactId = 1000 + state.nextContact++;
        r.accountType = accountType;
        r.accountName = accountName;
        state.raws.put(r.id, r);
        return r.id;
    }

    /** Aggregation: the second raw contact joins the first one's contact. */
    public synchronized void join(long rawA, long rawB) {
        state.raws.get(rawB).contactId = state.raws.get(rawA).contactId;
    }

    public synchronized long addRow(long rawId, String mimetype, Object... columnsAndValues) {
        Row r = new Row();
        r.id = state.nextRow++;
        r.rawId = rawId;
        r.mimetype = mimetype;
        for (int i = 0; i < columnsAndValues.length; i += 2)
            r.values.put((String) columnsAndValues[i], columnsAndValues[i + 1]);
        state.rows.put(r.id, r);
        return r.id;
    }

    public synchronized long addGroup(String title, String accountType, String accountName, boolean system) {
        long id = state.nextGroup++;
        state.groups.put(id, new GroupInfo(id, title, accountType, accountName, system));
        state.groupDeleted.put(id, false);
        return id;
    }

    public synchronized long contactOf(long rawId) {
        return state.raws.get(rawId).contactId;
    }

    public synchronized boolean rawDeleted(long rawId) {
        Raw r = state.raws.get(rawId);
        return r == null || r.deleted;
    }

    public synchronized boolean rawExists(long rawId) {
        return state.raws.containsKey(rawId);
    }

    public synchronized int visibleContactCount() {
        java.util.Set<Long> ids = new java.util.HashSet<Long>();
        for (Raw r : state.raws.values())
            if (!r.deleted)
                ids.add(r.contactId);
        return ids.size();
    }

    // ---- the provider's reads ----

    @Override
    public synchronized List<DataRecord> readAll() {
        readAllCalls++;
        List<DataRecord> out = new ArrayList<DataRecord>();
        for (Row r : state.rows.values()) {
            Raw raw = state.raws.get(r.rawId);
            if (raw != null && !raw.deleted)
                out.add(record(r, raw));
        }
        Collections.sort(out, new Comparator<DataRecord>() {
            @Override
            public int compare(DataRecord a, DataRecord b) {
                int c = Long.compare(a.contactId, b.contactId);
                if (c == 0) c = Long.compare(a.rawContactId, b.rawContactId);
                return c != 0 ? c : Long.compare(a.dataId, b.dataId);
            }
        });
        return out;
    }

    private static DataRecord record(Row r, Raw raw) {
        Map<String, Object> values = new LinkedHashMap<String, Object>();
        for (Map.Entry<String, Object> e : r.values.entrySet())
            values.put(e.getKey(), e.getValue() instanceof Number ? e.getValue().toString() : e.getValue());
        return new DataRecord(raw.contactId, raw.id, r.id, r.mimetype, values);
    }

    @Override
    public synchronized Map<Long, GroupInfo> groups() {
        Map<Long, GroupInfo> out = new LinkedHashMap<Long, GroupInfo>();
        for (GroupInfo g : state.groups.values())
            if (!state.groupDeleted.get(g.id))
                out.put(g.id, g);
        return out;
    }

    @Override
    public synchronized Map<Long, DataRecord> dataRows(Collection<Long> ids) {
        Map<Long, DataRecord> out = new LinkedHashMap<Long, DataRecord>();
        for (Long id : ids) {
            Row r = state.rows.get(id);
            Raw raw = r == null ? null : state.raws.get(r.rawId);
            if (raw != null && !raw.deleted)
                out.put(id, record(r, raw));
        }
        return out;
    }

    @Override
    public synchronized Map<Long, RawInfo> rawContacts(Collection<Long> ids) {
        Map<Long, RawInfo> out = new LinkedHashMap<Long, RawInfo>();
        for (Long id : ids) {
            Raw r = state.raws.get(id);
            if (r != null && !r.deleted)
                out.put(id, new RawInfo(r.id, r.contactId, r.accountType, r.accountName));
        }
        return out;
    }

    @Override
    public synchronized List<RawInfo> rawContactsOf(Collection<Long> contactIds) {
        List<RawInfo> out = new ArrayList<RawInfo>();
        for (Raw r : state.raws.values())
            if (!r.deleted && contactIds.contains(r.contactId))
                out.add(new RawInfo(r.id, r.contactId, r.accountType, r.accountName));
        return out;
    }

    /** The visible rows of one MIME type, for checks. */
    public synchronized List<DataRecord> rowsOf(String mimetype) {
        List<DataRecord> out = new ArrayList<DataRecord>();
        for (DataRecord r : readAll())
            if (r.mimetype.equals(mimetype))
                out.add(r);
        readAllCalls--;
        return out;
    }

    // ---- the provider's batch ----

    @Override
    public synchronized long[] applyBatch(List<StoreOp> ops) throws StoreException {
        if (ops.size() >= 500)
            throw new StoreException("Too many content provider operations between yield points. The maximum number"
                    + " of operations per yield point is 500");
        State saved = state.copy();
        long[] results = new long[ops.size()];
        try {
            for (int i = 0; i < ops.size(); i++)
                results[i] = apply(ops.get(i), results, i);
        } catch (StoreException e) {
            state = saved;
            throw e;
        }
        batches++;
        return results;
    }

    private long apply(StoreOp op, long[] results, int index) throws StoreException {
        Map<String, Object> values = new LinkedHashMap<String, Object>(op.values);
        for (Map.Entry<String, Integer> ref : op.backReferences.entrySet()) {
            if (ref.getValue() >= index)
                throw new StoreException("back reference " + ref.getValue() + " is not less than index " + index);
            values.put(ref.getKey(), String.valueOf(results[ref.getValue()]));
        }
        switch (op.kind) {
        case INSERT_RAW_CONTACT:
            return addRawContact((String) values.get(Provider.ACCOUNT_TYPE), (String) values.get(Provider.ACCOUNT_NAME));
        case INSERT_GROUP: {
            String title = (String) values.get(Provider.TITLE);
            if (title == null)
                throw new StoreException("a group needs a title");
            return addGroup(title, (String) values.get(Provider.ACCOUNT_TYPE), (String) values.get(Provider.ACCOUNT_NAME),
                    false);
        }
        case INSERT_DATA: {
            long rawId = values.containsKey(Provider.RAW_CONTACT_ID)
                    ? Long.parseLong(values.remove(Provider.RAW_CONTACT_ID).toString()) : op.id;
            if (op.mimetype == null)
                throw new StoreException("mimetype is required");
            Raw raw = state.raws.get(rawId);
            if (raw == null)
                throw new StoreException("raw contact " + rawId + " does not exist");
            checkGroup(op.mimetype, values);
            Row r = new Row();
            r.id = state.nextRow++;
            r.rawId = rawId;
            r.mimetype = op.mimetype;
            putAll(r, values);
            state.rows.put(r.id, r);
            return r.id;
        }
        case UPDATE_DATA: {
            Row r = state.rows.get(op.id);
            Raw raw = r == null ? null : state.raws.get(r.rawId);
            if (r == null || raw.deleted)
                return expect(0, op);
            checkGroup(r.mimetype, values);
            putAll(r, values);
            return 1;
        }
        case DELETE_DATA:
            return expect(state.rows.remove(op.id) == null ? 0 : 1, op);
        case DELETE_RAW_CONTACT: {
            Raw raw = state.raws.get(op.id);
            if (raw == null || raw.deleted)
                return expect(0, op);
            if (raw.accountType == null) {
                state.raws.remove(raw.id);
                List<Long> gone = new ArrayList<Long>();
                for (Row r : state.rows.values())
                    if (r.rawId == raw.id)
                        gone.add(r.id);
                for (Long id : gone)
                    state.rows.remove(id);
            } else {
                raw.deleted = true; // until the account's sync adapter removes it
            }
            return 1;
        }
        default: { // DELETE_MEMBERSHIPS
            List<Long> gone = new ArrayList<Long>();
            for (Row r : state.rows.values())
                if (r.rawId == op.id && Provider.GROUP_MEMBERSHIP.equals(r.mimetype))
                    gone.add(r.id);
            for (Long id : gone)
                state.rows.remove(id);
            return gone.size();
        }
        }
    }

    private void checkGroup(String mimetype, Map<String, Object> values) throws StoreException {
        if (!Provider.GROUP_MEMBERSHIP.equals(mimetype) || !values.containsKey(Provider.DATA[1]))
            return;
        Object v = values.get(Provider.DATA[1]);
        if (v == null || !state.groups.containsKey(Long.parseLong(v.toString())))
            throw new StoreException("no group " + v);
    }

    private static void putAll(Row r, Map<String, Object> values) {
        for (Map.Entry<String, Object> e : values.entrySet()) {
            if (e.getValue() == null)
                r.values.remove(e.getKey());
            else
                r.values.put(e.getKey(), e.getValue());
        }
    }

    /** An operation that names one row fails the batch when it touched none. */
    private static long expect(long count, StoreOp op) throws StoreException {
        if (count != 1 && op.kind != StoreOp.Kind.DELETE_MEMBERSHIPS)
            throw new StoreException("wrong number of rows: " + count + " (" + op.kind + " " + op.id + ")");
        return count;
    }
}
