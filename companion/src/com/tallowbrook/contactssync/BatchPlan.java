package com.tallowbrook.contactssync;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

/**
 * The provider operations of one restore batch ("$ent:", "$del:" and "$ungroup:" lines), checked against the
 * phone's rows before anything is written, and the remap items of the reply once the batch is applied.
 */
public final class BatchPlan {
    /** The provider refuses more operations than this between yield points; a batch never yields. */
    public static final int MAX_OPERATIONS = 450;

    private final ContactStore store;
    final List<StoreOp> ops = new ArrayList<StoreOp>();
    private final List<Remap> remaps = new ArrayList<Remap>();
    private final Map<String, Integer> newGroups = new HashMap<String, Integer>();
    private final Set<Long> deletedRaw = new HashSet<Long>();
    private Map<Long, ContactStore.GroupInfo> groups;

    /** A new row: the id the program sent and the operations that give its raw contact and its row. */
    private static final class Remap {
        final String sentId;
        final int type;
        final long raw;    // known raw contact, or
        final int rawOp;   // the operation inserting it (-1)
        final int dataOp;

        Remap(String sentId, int type, long raw, int rawOp, int dataOp) {
            this.sentId = sentId;
            this.type = type;
            this.raw = raw;
            this.rawOp = rawOp;
            this.dataOp = dataOp;
        }
    }

    public BatchPlan(ContactStore store) {
        this.store = store;
    }

    /** Plans every line; the first line refused throws and nothing of the batch is applied. */
    public void plan(List<String> lines) throws BadInputException, StoreException {
        Set<Long> dataIds = new LinkedHashSet<Long>();
        Set<Long> rawIds = new LinkedHashSet<Long>();
        Set<Long> contactIds = new LinkedHashSet<Long>();
        for (String line : lines) {
            if (line.startsWith("$ungroup:")) {
                contactIds.add(contactNumber(line.substring(9)));
                continue;
            }
            if (!line.startsWith("$ent:") && !line.startsWith("$del:"))
                throw new BadInputException("unexpected line in a batch: \"" + clip(line) + "\"");
            WireId id = WireId.parse(idText(line));
            if (id == null)
                throw new BadInputException("bad row id \"" + clip(idText(line)) + "\"");
            if (id.data > 0)
                dataIds.add(id.data);
            if (id.raw > 0)
                rawIds.add(id.raw);
        }
        Map<Long, DataRecord> rows = store.dataRows(dataIds);
        Map<Long, ContactStore.RawInfo> raws = store.rawContacts(rawIds);
        Map<Long, List<ContactStore.RawInfo>> byContact = new HashMap<Long, List<ContactStore.RawInfo>>();
        for (ContactStore.RawInfo r : store.rawContactsOf(contactIds)) {
            if (!byContact.containsKey(r.contactId))
                byContact.put(r.contactId, new ArrayList<ContactStore.RawInfo>());
            byContact.get(r.contactId).add(r);
        }
        for (String line : lines) {
            if (line.startsWith("$ent:"))
                planEnt(line.substring(5), rows, raws);
            else if (line.startsWith("$del:"))
                planDel(line.substring(5), rows);
            else if (line.startsWith("$ungroup:"))
                planUngroup(contactNumber(line.substring(9)), byContact);
            else
                throw new BadInputException("unexpected line in a batch: \"" + clip(line) + "\"");
        }
        if (ops.size() > MAX_OPERATIONS)
            throw new BadInputException("batch too large: " + ops.size() + " operations, at most " + MAX_OPERATIONS);
    }

    private static String idText(String line) {
        String arg = line.substring(line.indexOf(':') + 1);
        int comma = arg.indexOf(',');
        return comma < 0 ? arg : arg.substring(0, comma);
    }

    private static long contactNumber(String text) throws BadInputException {
        WireId probe = WireId.parse("0/" + text + "/0/0");
        if (probe == null || probe.contact <= 0)
            throw new BadInputException("bad contact id \"" + clip(text) + "\"");
        return probe.contact;
    }

    static String clip(String s) {
        return s.length() > 80 ? s.substring(0, 80) : s;
    }

    private void planEnt(String argument, Map<Long, DataRecord> rows, Map<Long, ContactStore.RawInfo> raws)
            throws BadInputException, StoreException {
        List<String> parts = new ArrayList<String>(Arrays.asList(argument.split(",", -1)));
        String sentId = parts.remove(0);
        WireId id = WireId.parse(sentId);
        if (RowCodec.fieldCount(id.type) < 0)
            throw new BadInputException("unknown row type " + id.type);
        String mimetype = Provider.mimetype(id.type);
        Map<String, Object> values;
        String groupTitle = null;
        if (id.type == 7) {
            groupTitle = RowCodec.decodeGroup(parts);
            if (groupTitle.isEmpty())
                throw new BadInputException("group row without a group name");
            values = new HashMap<String, Object>();
        } else {
            values = RowCodec.decode(id.type, parts);
        }

        if (id.data > 0) {
            DataRecord row = rows.get(id.data);
            if (row == null || row.rawContactId != id.raw || !mimetype.equals(row.mimetype))
                throw new BadInputException("no row " + sentId + " on the phone");
            if (id.type == 7) {
                ContactStore.RawInfo raw = raws.get(id.raw);
                long groupOp = group(groupTitle, raw);
                values.put(Provider.DATA[1], groupOp < 0 ? String.valueOf(-groupOp - 1) : null);
                StoreOp op = StoreOp.updateData(id.data, values);
                if (groupOp >= 0)
                    op.withBackReference(Provider.DATA[1], (int) groupOp);
                ops.add(op);
            } else {
                ops.add(StoreOp.updateData(id.data, values));
            }
            return;
        }
        if (id.type == 1 && id.data < 0) {
            // A name row the phone does not know: a new contact in the phone's local account.
            int rawOp = ops.size();
            ops.add(StoreOp.insertRawContact(null, null));
            ops.add(StoreOp.insertData(0, rawOp, mimetype, values));
            remaps.add(new Remap(sentId, 1, 0, rawOp, rawOp + 1));
            return;
        }
        ContactStore.RawInfo raw = raws.get(id.raw);
        if (raw == null || deletedRaw.contains(id.raw))
            throw new BadInputException("no raw contact " + id.contact + "/" + id.raw + " on the phone");
        StoreOp op = StoreOp.insertData(id.raw, -1, mimetype, values);
        if (id.type == 7) {
            long groupOp = group(groupTitle, raw);
            if (groupOp < 0)
                values.put(Provider.DATA[1], String.valueOf(-groupOp - 1));
            else
                op.withBackReference(Provider.DATA[1], (int) groupOp);
        }
        ops.add(op);
        // Data part 0 is the name row a nameless contact was sent with: it has no row to answer for.
        if (id.data < 0)
            remaps.add(new Remap(sentId, id.type, id.raw, -1, ops.size() - 1));
    }

    /**
     * The group of that title in the raw contact's account: -(id + 1) of an existing one, or the index of the
     * operation that creates it (once per batch). An exact title wins over one that differs in letter case only.
     */
    private long group(String title, ContactStore.RawInfo raw) throws StoreException {
        if (groups == null)
            groups = store.groups();
        String type = raw == null ? null : raw.accountType;
        String name = raw == null ? null : raw.accountName;
        ContactStore.GroupInfo loose = null;
        for (ContactStore.GroupInfo g : groups.values()) {
            if (!same(g.accountType, type) || !same(g.accountName, name))
                continue;
            if (g.title != null && g.title.equals(title))
                return -(g.id + 1);
            if (g.title != null && g.title.equalsIgnoreCase(title) && loose == null)
                loose = g;
        }
        if (loose != null)
            return -(loose.id + 1);
        String key = type + "\u0000" + name + "\u0000" + title.toLowerCase();
        Integer made = newGroups.get(key);
        if (made == null) {
            made = ops.size();
            ops.add(StoreOp.insertGroup(title, type, name));
            newGroups.put(key, made);
        }
        return made;
    }

    private static boolean same(String a, String b) {
        return a == null ? b == null : a.equals(b);
    }

    private void planDel(String argument, Map<Long, DataRecord> rows) throws BadInputException, StoreException {
        WireId id = WireId.parse(argument);
        if (id == null)
            throw new BadInputException("bad row id \"" + clip(argument) + "\"");
        if (id.data <= 0)
            return; // a row the phone never had: nothing to delete
        DataRecord row = rows.get(id.data);
        // Only the exact id of a row the phone has deletes anything: a stale id must not take another contact.
        if (row == null || row.rawContactId != id.raw || Provider.wireType(row.mimetype) != id.type)
            return;
        if (id.type != 1) {
            ops.add(StoreOp.deleteData(id.data));
            return;
        }
        // A name row stands for its whole contact: every raw contact of it goes, on every account.
        List<Long> contact = new ArrayList<Long>();
        contact.add(row.contactId);
        for (ContactStore.RawInfo r : store.rawContactsOf(contact)) {
            if (deletedRaw.add(r.id))
                ops.add(StoreOp.deleteRawContact(r.id));
        }
    }

    private void planUngroup(long contactId, Map<Long, List<ContactStore.RawInfo>> byContact) {
        List<ContactStore.RawInfo> raws = byContact.get(contactId);
        if (raws == null)
            return; // no such contact: it is in no group
        for (ContactStore.RawInfo r : raws)
            if (!deletedRaw.contains(r.id))
                ops.add(StoreOp.deleteMemberships(r.id));
    }

    public List<StoreOp> operations() {
        return ops;
    }

    /** The remap items "sent id=>new id" of an applied batch, in the order of the lines. */
    public List<String> remapItems(long[] results) throws StoreException {
        Set<Long> newRaw = new LinkedHashSet<Long>();
        for (Remap r : remaps)
            newRaw.add(r.rawOp >= 0 ? results[r.rawOp] : r.raw);
        Map<Long, ContactStore.RawInfo> raws = store.rawContacts(newRaw);
        List<String> items = new ArrayList<String>();
        for (Remap r : remaps) {
            long raw = r.rawOp >= 0 ? results[r.rawOp] : r.raw;
            ContactStore.RawInfo info = raws.get(raw);
            if (info == null)
                continue; // gone again at once (another app): nothing to name
            items.add(r.sentId + "=>" + new WireId(r.type, info.contactId, raw, results[r.dataOp]));
        }
        return items;
    }
}
