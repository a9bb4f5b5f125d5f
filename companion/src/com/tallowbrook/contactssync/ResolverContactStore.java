package com.tallowbrook.contactssync;

import android.content.ContentProviderOperation;
import android.content.ContentProviderResult;
import android.content.ContentResolver;
import android.content.ContentUris;
import android.content.OperationApplicationException;
import android.database.Cursor;
import android.net.Uri;
import android.os.RemoteException;
import android.provider.ContactsContract;

import java.util.ArrayList;
import java.util.Collection;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/** The phone's contacts provider behind the sessions' interface. */
public final class ResolverContactStore implements ContactStore {
    /** Ids per "IN (…)" query, well below SQLite's limit on bound values. */
    private static final int IDS_PER_QUERY = 400;
    /** Cursor.FIELD_TYPE_BLOB. */
    private static final int FIELD_TYPE_BLOB = 4;

    private final ContentResolver resolver;

    public ResolverContactStore(ContentResolver resolver) {
        this.resolver = resolver;
    }

    private Cursor query(Uri uri, String[] projection, String selection, String order) throws StoreException {
        Cursor c = resolver.query(uri, projection, selection, null, order);
        if (c == null)
            throw new StoreException("the contacts provider is not available");
        return c;
    }

    @Override
    public List<DataRecord> readAll() throws StoreException {
        // Raw contacts joined with their data rows, in one query.
        String[] projection = new String[19];
        projection[0] = Provider.CONTACT_ID;
        projection[1] = Provider.ID; // the raw contact's id in this view
        projection[2] = Provider.DATA_ID;
        projection[3] = Provider.MIMETYPE;
        for (int i = 1; i <= 15; i++)
            projection[3 + i] = Provider.DATA[i];
        Cursor c = query(ContactsContract.RawContactsEntity.CONTENT_URI, projection, Provider.DELETED + "=0",
                Provider.CONTACT_ID + "," + Provider.ID + "," + Provider.DATA_ID);
        List<DataRecord> rows = new ArrayList<DataRecord>();
        try {
            while (c.moveToNext()) {
                if (c.isNull(2))
                    continue; // a raw contact without any data row
                String mimetype = c.getString(3);
                Map<String, Object> values = new LinkedHashMap<String, Object>();
                // Some vendors keep bytes in their own kinds' columns; reading those as text would throw.
                for (int i = 1; i <= 14; i++)
                    if (c.getType(3 + i) != FIELD_TYPE_BLOB)
                        values.put(Provider.DATA[i], c.getString(3 + i));
                if (Provider.PHOTO.equals(mimetype))
                    values.put(Provider.DATA[15], c.getBlob(18));
                rows.add(new DataRecord(c.getLong(0), c.getLong(1), c.getLong(2), mimetype, values));
            }
        } finally {
            c.close();
        }
        return rows;
    }

    @Override
    public Map<Long, GroupInfo> groups() throws StoreException {
        Cursor c = query(ContactsContract.Groups.CONTENT_URI, new String[] {Provider.ID, Provider.TITLE,
                Provider.ACCOUNT_TYPE, Provider.ACCOUNT_NAME, Provider.SYSTEM_ID}, Provider.DELETED + "=0", null);
        Map<Long, GroupInfo> groups = new LinkedHashMap<Long, GroupInfo>();
        try {
            while (c.moveToNext())
                groups.put(c.getLong(0), new GroupInfo(c.getLong(0), c.getString(1), c.getString(2), c.getString(3),
                        !c.isNull(4)));
        } finally {
            c.close();
        }
        return groups;
    }

    private static List<String> inClauses(String column, Collection<Long> ids) {
        List<String> clauses = new ArrayList<String>();
        StringBuilder sb = null;
        int n = 0;
        for (Long id : ids) {
            if (sb == null) {
                sb = new StringBuilder(column).append(" IN (");
                n = 0;
            }
            sb.append(n == 0 ? "" : ",").append(id.longValue());
            if (++n == IDS_PER_QUERY) {
                clauses.add(sb.append(')').toString());
                sb = null;
            }
        }
        if (sb != null)
            clauses.add(sb.append(')').toString());
        return clauses;
    }

    @Override
    public Map<Long, DataRecord> dataRows(Collection<Long> ids) throws StoreException {
        Map<Long, DataRecord> rows = new LinkedHashMap<Long, DataRecord>();
        for (String in : inClauses(Provider.ID, ids)) {
            Cursor c = query(ContactsContract.Data.CONTENT_URI, new String[] {Provider.CONTACT_ID,
                    Provider.RAW_CONTACT_ID, Provider.ID, Provider.MIMETYPE}, in, null);
            try {
                while (c.moveToNext())
                    rows.put(c.getLong(2), new DataRecord(c.getLong(0), c.getLong(1), c.getLong(2), c.getString(3), null));
            } finally {
                c.close();
            }
        }
        return rows;
    }

    private List<RawInfo> raws(String in) throws StoreException {
        Cursor c = query(ContactsContract.RawContacts.CONTENT_URI, new String[] {Provider.ID, Provider.CONTACT_ID,
                Provider.ACCOUNT_TYPE, Provider.ACCOUNT_NAME}, Provider.DELETED + "=0 AND " + in, null);
        List<RawInfo> list = new ArrayList<RawInfo>();
        try {
            while (c.moveToNext())
                list.add(new RawInfo(c.getLong(0), c.getLong(1), c.getString(2), c.getString(3)));
        } finally {
            c.close();
        }
        return list;
    }

    @Override
    public Map<Long, RawInfo> rawContacts(Collection<Long> ids) throws StoreException {
        Map<Long, RawInfo> map = new LinkedHashMap<Long, RawInfo>();
        for (String in : inClauses(Provider.ID, ids))
            for (RawInfo r : raws(in))
                map.put(r.id, r);
        return map;
    }

    @Override
    public List<RawInfo> rawContactsOf(Collection<Long> contactIds) throws StoreException {
        List<RawInfo> list = new ArrayList<RawInfo>();
        for (String in : inClauses(Provider.CONTACT_ID, contactIds))
            list.addAll(raws(in));
        return list;
    }

    @Override
    public long[] applyBatch(List<StoreOp> ops) throws StoreException {
        ArrayList<ContentProviderOperation> batch = new ArrayList<ContentProviderOperation>();
        for (StoreOp op : ops)
            batch.add(operation(op));
        ContentProviderResult[] results;
        try {
            results = resolver.applyBatch(Provider.AUTHORITY, batch);
        } catch (RemoteException e) {
            throw new StoreException("the contacts provider failed: " + e.getMessage(), e);
        } catch (OperationApplicationException e) {
            throw new StoreException("the contacts provider refused the batch: " + e.getMessage(), e);
        }
        long[] out = new long[results.length];
        for (int i = 0; i < results.length; i++)
            out[i] = results[i].uri != null ? ContentUris.parseId(results[i].uri)
                    : results[i].count != null ? results[i].count.intValue() : 0;
        return out;
    }

    private static ContentProviderOperation operation(StoreOp op) {
        ContentProviderOperation.Builder b;
        switch (op.kind) {
        case INSERT_RAW_CONTACT:
            b = ContentProviderOperation.newInsert(ContactsContract.RawContacts.CONTENT_URI);
            break;
        case INSERT_GROUP:
            b = ContentProviderOperation.newInsert(ContactsContract.Groups.CONTENT_URI);
            break;
        case INSERT_DATA:
            b = ContentProviderOperation.newInsert(ContactsContract.Data.CONTENT_URI)
                    .withValue(Provider.MIMETYPE, op.mimetype);
            if (!op.backReferences.containsKey(Provider.RAW_CONTACT_ID))
                b.withValue(Provider.RAW_CONTACT_ID, Long.valueOf(op.id));
            break;
        case UPDATE_DATA:
            b = ContentProviderOperation.newUpdate(ContentUris.withAppendedId(ContactsContract.Data.CONTENT_URI, op.id))
                    .withExpectedCount(1);
            break;
        case DELETE_DATA:
            b = ContentProviderOperation.newDelete(ContentUris.withAppendedId(ContactsContract.Data.CONTENT_URI, op.id))
                    .withExpectedCount(1);
            break;
        case DELETE_RAW_CONTACT:
            b = ContentProviderOperation.newDelete(
                    ContentUris.withAppendedId(ContactsContract.RawContacts.CONTENT_URI, op.id)).withExpectedCount(1);
            break;
        default: // DELETE_MEMBERSHIPS
            b = ContentProviderOperation.newDelete(ContactsContract.Data.CONTENT_URI).withSelection(
                    Provider.RAW_CONTACT_ID + "=? AND " + Provider.MIMETYPE + "=?",
                    new String[] {String.valueOf(op.id), Provider.GROUP_MEMBERSHIP});
            break;
        }
        for (Map.Entry<String, Object> v : op.values.entrySet())
            b.withValue(v.getKey(), v.getValue());
        for (Map.Entry<String, Integer> r : op.backReferences.entrySet())
            b.withValueBackReference(r.getKey(), r.getValue().intValue());
        return b.build();
    }
}
