package com.tallowbrook.contactssync;

import java.util.Collection;
import java.util.List;
import java.util.Map;

/**
 * What the sessions need from the phone's contacts provider. On the phone it is the content resolver; on the
 * host an in-memory provider with the same rules. Raw contacts marked deleted are invisible to every read.
 */
public interface ContactStore {
    /** A raw contact: its aggregate contact and its account (both null: the phone's local account). */
    final class RawInfo {
        public final long id;
        public final long contactId;
        public final String accountType;
        public final String accountName;

        public RawInfo(long id, long contactId, String accountType, String accountName) {
            this.id = id;
            this.contactId = contactId;
            this.accountType = accountType;
            this.accountName = accountName;
        }
    }

    final class GroupInfo {
        public final long id;
        public final String title;
        public final String accountType;
        public final String accountName;
        /** Groups the sync adapter manages ("My Contacts", "Starred"): not carried over the wire. */
        public final boolean system;

        public GroupInfo(long id, String title, String accountType, String accountName, boolean system) {
            this.id = id;
            this.title = title;
            this.accountType = accountType;
            this.accountName = accountName;
            this.system = system;
        }
    }

    /** Every data row of every visible raw contact, in one query, ordered by contact, raw contact and row. */
    List<DataRecord> readAll() throws StoreException;

    /** Visible groups by id. */
    Map<Long, GroupInfo> groups() throws StoreException;

    /** The visible data rows among the given ids. */
    Map<Long, DataRecord> dataRows(Collection<Long> ids) throws StoreException;

    /** The visible raw contacts among the given ids. */
    Map<Long, RawInfo> rawContacts(Collection<Long> ids) throws StoreException;

    /** The visible raw contacts that belong to the given contacts. */
    List<RawInfo> rawContactsOf(Collection<Long> contactIds) throws StoreException;

    /**
     * Applies all operations in one transaction: all or nothing. Returns per operation the new row id of an
     * insert or the number of rows an update or delete touched.
     */
    long[] applyBatch(List<StoreOp> ops) throws StoreException;
}
