package com.tallowbrook.contactssync;

import java.io.IOException;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * One session with the program. Backup: the phone sends "$device:", "$version:", "$count:", its contacts in
 * batches acknowledged by "$batch:", then "$bye:". Restore: the program sends batches of "$ent:", "$del:" and
 * "$ungroup:" lines between "$batch:" and "$end:"; each batch is applied whole or not at all and answered with
 * "$batch:" and the new ids of the rows it created. A refused line is answered with "$error:" and ends the session.
 */
public final class SyncSession {
    public enum Kind { BACKUP, RESTORE }

    public static final int PROTOCOL_VERSION = 3;
    public static final int CONTACTS_PER_BATCH = 25;
    /** More lines than this in one batch is no batch the program sends. */
    public static final int MAX_BATCH_LINES = 20000;

    private final LineChannel io;
    private final SyncHost host;

    public SyncSession(LineChannel io, SyncHost host) {
        this.io = io;
        this.host = host;
    }

    public void serve(Kind kind) throws IOException {
        try {
            if (kind == Kind.BACKUP)
                serveBackup();
            else
                serveRestore();
        } catch (BadInputException e) {
            refuse(e.getMessage());
        } catch (StoreException e) {
            refuse(e.getMessage());
        } catch (RuntimeException e) {
            // The provider's own refusals (a missing permission, a value it rejects) arrive as runtime exceptions.
            refuse(e.getClass().getSimpleName() + ": " + e.getMessage());
        }
    }

    private void refuse(String message) throws IOException {
        host.log("session refused: " + message);
        io.write("$error:" + Base64Text.encodeText(message), true);
    }

    private void serveBackup() throws IOException, BadInputException, StoreException {
        List<List<DataRecord>> contacts = groupByContact(host.store().readAll());
        Map<Long, ContactStore.GroupInfo> groups = host.store().groups();
        io.write("$device:" + Base64Text.encodeText(host.deviceName()), false);
        io.write("$version:" + PROTOCOL_VERSION, false);
        io.write("$count:" + contacts.size(), true);
        for (int first = 0; first < contacts.size(); first += CONTACTS_PER_BATCH) {
            io.write("$batch:", false);
            for (int k = first; k < Math.min(contacts.size(), first + CONTACTS_PER_BATCH); k++)
                for (String arg : contactLines(contacts.get(k), groups))
                    io.write("$ent:" + arg, false);
            io.write("$end:", true);
            String ack = io.readLine();
            if (!"$batch:".equals(ack)) {
                host.log("backup: no batch acknowledgement, got " + (ack == null ? "end of connection" : BatchPlan.clip(ack)));
                return;
            }
        }
        io.write("$bye:", true);
        // The program hangs up once it has everything; reading until then keeps the last lines from being cut off.
        while (io.readLine() != null) {
        }
    }

    static List<List<DataRecord>> groupByContact(List<DataRecord> rows) {
        Map<Long, List<DataRecord>> byContact = new LinkedHashMap<Long, List<DataRecord>>();
        for (DataRecord r : rows) {
            List<DataRecord> list = byContact.get(r.contactId);
            if (list == null) {
                list = new ArrayList<DataRecord>();
                byContact.put(r.contactId, list);
            }
            list.add(r);
        }
        return new ArrayList<List<DataRecord>>(byContact.values());
    }

    /**
     * The "$ent:" arguments of one contact: its name row first (the program makes a contact of each name row),
     * then every other row of all its raw contacts. A contact on several accounts goes out once with the first
     * raw contact's name; a contact without any name row goes out with an empty one whose row part is 0.
     */
    static List<String> contactLines(List<DataRecord> rows, Map<Long, ContactStore.GroupInfo> groups) {
        long contactId = rows.get(0).contactId;
        DataRecord name = null;
        for (DataRecord r : rows) {
            if (Provider.NAME.equals(r.mimetype) && (name == null || (nameEmpty(name) && !nameEmpty(r))))
                name = r;
        }
        List<String> out = new ArrayList<String>();
        if (name != null)
            out.add(RowCodec.encode(name, contactId, null));
        else
            out.add(new WireId(1, contactId, rows.get(0).rawContactId, 0) + ",,,,,");
        for (DataRecord r : rows) {
            if (Provider.NAME.equals(r.mimetype))
                continue;
            String title = null;
            if (Provider.GROUP_MEMBERSHIP.equals(r.mimetype)) {
                ContactStore.GroupInfo g = groups.get((long) r.number(1, -1));
                title = g == null || g.system || g.title == null || g.title.isEmpty() ? null : g.title;
            }
            String arg = RowCodec.encode(r, contactId, title);
            if (arg != null)
                out.add(arg);
        }
        return out;
    }

    private static boolean nameEmpty(DataRecord r) {
        for (int c : new int[] {2, 3, 4, 5, 6})
            if (!r.text(c).isEmpty())
                return false;
        return true;
    }

    private void serveRestore() throws IOException, BadInputException, StoreException {
        for (;;) {
            String line = io.readLine();
            if (line == null)
                return; // the program closes after its last reply
            if (!"$batch:".equals(line))
                throw new BadInputException("expected \"$batch:\", got \"" + BatchPlan.clip(line) + "\"");
            List<String> body = new ArrayList<String>();
            for (;;) {
                String l = io.readLine();
                if (l == null) {
                    host.log("restore: connection closed inside a batch; the batch is dropped");
                    return;
                }
                if ("$end:".equals(l))
                    break;
                if (body.size() >= MAX_BATCH_LINES)
                    throw new BadInputException("more than " + MAX_BATCH_LINES + " lines in a batch");
                body.add(l);
            }
            BatchPlan plan = new BatchPlan(host.store());
            plan.plan(body);
            long[] results = plan.operations().isEmpty() ? new long[0] : host.store().applyBatch(plan.operations());
            StringBuilder reply = new StringBuilder("$batch:");
            List<String> items = plan.remapItems(results);
            for (int i = 0; i < items.size(); i++)
                reply.append(i == 0 ? "" : ",").append(items.get(i));
            io.write(reply.toString(), true);
        }
    }
}
