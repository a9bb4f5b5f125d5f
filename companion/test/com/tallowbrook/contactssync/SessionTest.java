package com.tallowbrook.contactssync;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** Backup and restore sessions over TCP against the in-memory provider, as the program drives them. */
public final class SessionTest {
    private final MemoryContactsProvider phone = new MemoryContactsProvider();
    private final TestHost host = new TestHost(phone);

    private static String b64(String s) {
        return Base64Text.encodeText(s);
    }

    private long person(String given, String family) {
        long raw = phone.addRawContact(null, null);
        phone.addRow(raw, Provider.NAME, "data2", given, "data3", family, "data1", given + " " + family);
        return raw;
    }

    /** Reads a whole backup session the way the program does and returns the "$ent:" arguments. */
    private List<String> backup(List<String> header) throws Exception {
        List<String> rows = new ArrayList<String>();
        try (Wire w = new Wire(host.session(SyncSession.Kind.BACKUP))) {
            for (String line = w.read(); !"$bye:".equals(line); line = w.read()) {
                Check.isTrue(line != null, "backup ended without $bye:");
                if (line.startsWith("$ent:"))
                    rows.add(line.substring(5));
                else if (line.equals("$end:"))
                    w.send("$batch:");
                else if (header != null)
                    header.add(line);
            }
        }
        host.awaitEnded(1);
        return rows;
    }

    public void testBackupSendsEachContactOnceNameFirstInBatches() throws Exception {
        for (int i = 0; i < 30; i++)
            person("P" + i, "Q");
        // One person on two accounts, aggregated: one name row, the rows of both raw contacts.
        long local = person("Ann", "Lee");
        long google = phone.addRawContact("com.google", "ann@example.com");
        phone.join(local, google);
        phone.addRow(google, Provider.NAME, "data2", "Ann", "data3", "Lee");
        phone.addRow(google, Provider.PHONE, "data2", "2", "data1", "555");
        long family = phone.addGroup("Family", "com.google", "ann@example.com", false);
        long myContacts = phone.addGroup("My Contacts", "com.google", "ann@example.com", true);
        phone.addRow(google, Provider.GROUP_MEMBERSHIP, "data1", String.valueOf(family));
        phone.addRow(google, Provider.GROUP_MEMBERSHIP, "data1", String.valueOf(myContacts));
        // A contact without a name row, and one deleted on its account (the sync adapter has not removed it yet).
        long nameless = phone.addRawContact(null, null);
        phone.addRow(nameless, Provider.EMAIL, "data2", "1", "data1", "x@y.z");
        long gone = phone.addRawContact("com.google", "ann@example.com");
        phone.addRow(gone, Provider.NAME, "data2", "Gone");
        phone.applyBatch(Arrays.asList(StoreOp.deleteRawContact(gone)));

        List<String> header = new ArrayList<String>();
        List<String> rows = backup(header);
        Check.equal(Arrays.asList("$device:" + b64("Pixel Ünit"), "$version:3", "$count:32", "$batch:", "$batch:"),
                header, "header lines and two batches");
        int names = 0;
        long lastContact = -1;
        for (String r : rows) {
            WireId id = WireId.parse(r.substring(0, r.indexOf(',')));
            if (id.contact != lastContact) {
                Check.equal(1, id.type, "first row of contact " + id.contact);
                lastContact = id.contact;
            }
            if (id.type == 1)
                names++;
        }
        Check.equal(32, names, "one name row per contact");
        long annContact = phone.contactOf(local);
        List<String> ann = new ArrayList<String>();
        for (String r : rows)
            if (r.startsWith("1/" + annContact + "/") || r.contains("/" + annContact + "/" + google + "/"))
                ann.add(r.substring(0, 2) + r.substring(r.indexOf(',')));
        Check.equal(Arrays.asList("1/," + ",QW5u,," + "TGVl,", "3/,mobile,,NTU1", "7/,RmFtaWx5"), ann,
                "Ann once, with the phone and the user group of her second account, not the system group");
        Check.isTrue(rows.contains("1/" + phone.contactOf(nameless) + "/" + nameless + "/0,,,,,"),
                "a nameless contact goes out with an empty name row of row number 0");
        for (String r : rows)
            Check.isTrue(!r.contains(b64("Gone")), "deleted raw contact not sent");
        Check.equal(1, phone.readAllCalls, "all rows in one query");
    }

    public void testBackupStopsWhenTheProgramDoesNotAcknowledge() throws Exception {
        for (int i = 0; i < 30; i++)
            person("P" + i, "Q");
        try (Wire w = new Wire(host.session(SyncSession.Kind.BACKUP))) {
            String line;
            while (!"$end:".equals(line = w.read()))
                Check.isTrue(line != null, "first batch incomplete");
            w.send("$ent:nonsense");
            Check.equal(null, w.read(), "the phone hangs up");
        }
        host.awaitEnded(1);
    }

    public void testRestoreCreatesContactsAndRowsAndAnswersTheirIds() throws Exception {
        long raw = person("Old", "Friend");
        long oldPhone = phone.addRow(raw, Provider.PHONE, "data2", "1", "data1", "111");
        long oldMail = phone.addRow(raw, Provider.EMAIL, "data2", "1", "data1", "old@x");
        long contact = phone.contactOf(raw);
        try (Wire w = new Wire(host.session(SyncSession.Kind.RESTORE))) {
            String reply = w.batch(Arrays.asList("$ent:1/17/17/-42,," + b64("Neu") + ",,,",
                    "$ent:1/18/18/-43,," + b64("Zwei") + ",," + b64("Leute") + ","));
            Check.isTrue(reply.startsWith("$batch:"), "reply " + reply);
            String[] items = reply.substring(7).split(",");
            Check.equal(2, items.length, "two remap items: " + reply);
            Check.isTrue(items[0].startsWith("1/17/17/-42=>1/"), "first item " + items[0]);
            WireId created = WireId.parse(items[0].substring(items[0].indexOf("=>") + 2));
            Check.equal(phone.contactOf(created.raw), created.contact, "remap names the new contact");
            Check.isTrue(phone.rawExists(created.raw), "raw contact made");

            // Rows for the new contact and for an old one; an update and a delete of old rows.
            String newRaw = created.contact + "/" + created.raw;
            reply = w.batch(Arrays.asList("$ent:3/" + newRaw + "/-50,work,," + b64("222"),
                    "$ent:3/" + contact + "/" + raw + "/" + oldPhone + ",mobile,," + b64("111-9"),
                    "$del:4/" + contact + "/" + raw + "/" + oldMail,
                    "$ent:6/" + contact + "/" + raw + "/-51,birthday,,1980-02-29"));
            String[] rowItems = reply.substring(7).split(",");
            Check.equal(2, rowItems.length, "remaps only for new rows: " + reply);
            Check.isTrue(rowItems[0].startsWith("3/" + newRaw + "/-50=>3/" + newRaw + "/"), rowItems[0]);
            Check.isTrue(rowItems[1].startsWith("6/" + contact + "/" + raw + "/-51=>6/" + contact + "/" + raw + "/"),
                    rowItems[1]);
        }
        host.awaitEnded(1);
        Check.equal(3, phone.visibleContactCount(), "contacts on the phone");
        List<String> phones = new ArrayList<String>();
        for (DataRecord r : phone.rowsOf(Provider.PHONE))
            phones.add(r.text(2) + ":" + r.text(1));
        Check.equal(Arrays.asList("2:111-9", "3:222"), phones, "updated and added phones");
        Check.equal(0, phone.rowsOf(Provider.EMAIL).size(), "deleted e-mail");
        Check.equal("1980-02-29", phone.rowsOf(Provider.EVENT).get(0).text(1), "event date");
        Check.equal("Zwei Leute", phone.rowsOf(Provider.NAME).get(2).text(1), "display name of a new contact");
    }

    public void testGroupsAreFoundOrMadeOnceAndMembershipsCleared() throws Exception {
        long a = person("A", "A"), b = person("B", "B");
        long family = phone.addGroup("family", null, null, false);
        long ca = phone.contactOf(a), cb = phone.contactOf(b);
        try (Wire w = new Wire(host.session(SyncSession.Kind.RESTORE))) {
            String reply = w.batch(Arrays.asList("$ent:7/" + ca + "/" + a + "/-1," + b64("Friends"),
                    "$ent:7/" + cb + "/" + b + "/-2," + b64("Friends"), "$ent:7/" + cb + "/" + b + "/-3," + b64("Family")));
            Check.equal(3, reply.split("=>").length - 1, "three memberships answered: " + reply);
            Check.equal(2, phone.groups().size(), "one group made for two rows naming it");
            List<String> groupsOfB = new ArrayList<String>();
            for (DataRecord r : phone.rowsOf(Provider.GROUP_MEMBERSHIP))
                if (r.rawContactId == b)
                    groupsOfB.add(phone.groups().get(Long.parseLong(r.text(1))).title);
            Check.equal(Arrays.asList("Friends", "family"), groupsOfB, "existing group found whatever its letter case");
            reply = w.batch(Arrays.asList("$ungroup:" + cb, "$ungroup:999999"));
            Check.equal("$batch:", reply, "ungroup reply");
        }
        host.awaitEnded(1);
        Check.equal(1, phone.rowsOf(Provider.GROUP_MEMBERSHIP).size(), "only A stays in a group");
        Check.isTrue(phone.groups().containsKey(family), "the group itself stays");
    }

    public void testDeletingContactsTakesAllTheirRawContactsAndOnlyExactIds() throws Exception {
        long local = person("Loc", "Al");
        long synced = phone.addRawContact("com.google", "me@x");
        long syncedName = phone.addRow(synced, Provider.NAME, "data2", "Syn");
        long both = person("Two", "Accounts");
        long bothGoogle = phone.addRawContact("com.google", "me@x");
        phone.join(both, bothGoogle);
        long keep = person("Keep", "Me");
        long localName = phone.rowsOf(Provider.NAME).get(0).dataId;
        long bothName = phone.rowsOf(Provider.NAME).get(2).dataId;
        long keepName = phone.rowsOf(Provider.NAME).get(3).dataId;
        try (Wire w = new Wire(host.session(SyncSession.Kind.RESTORE))) {
            // The program deletes with the name row's id; a wrong raw part or an unknown row deletes nothing.
            w.send("$batch:", "$del:1/" + phone.contactOf(local) + "/" + local + "/" + localName,
                    "$del:1/" + phone.contactOf(synced) + "/" + synced + "/" + syncedName,
                    "$del:1/" + phone.contactOf(both) + "/" + both + "/" + bothName,
                    "$del:1/" + phone.contactOf(keep) + "/" + (keep + 100) + "/" + keepName,
                    "$del:1/0/0/-7", "$del:1/5/5/987654", "$end:");
            Check.equal("$batch:", w.read(), "delete batch answered");
        }
        host.awaitEnded(1);
        Check.isTrue(!phone.rawExists(local), "local raw contact removed");
        Check.isTrue(phone.rawExists(synced) && phone.rawDeleted(synced), "synced raw contact only marked deleted");
        Check.isTrue(!phone.rawExists(both) && phone.rawDeleted(bothGoogle), "both raw contacts of a joined contact");
        Check.equal(1, phone.visibleContactCount(), "only Keep stays");
    }

    /** A refused batch must leave the phone as it was, and the session ends with "$error:". */
    private void refused(List<String> batch, String why) throws Exception {
        int before = phone.batches, contacts = phone.visibleContactCount(), rows = phone.readAll().size();
        int ended = host.ended;
        try (Wire w = new Wire(host.session(SyncSession.Kind.RESTORE))) {
            String reply = w.batch(batch);
            Check.isTrue(reply != null && reply.startsWith("$error:"), why + ": reply " + reply);
            Check.isTrue(!Base64Text.decodeText(reply.substring(7)).isEmpty(), why + ": error text");
            Check.equal(null, w.read(), why + ": the session ends");
        }
        host.awaitEnded(ended + 1);
        Check.equal(before, phone.batches, why + ": nothing applied");
        Check.equal(contacts, phone.visibleContactCount(), why + ": contacts");
        Check.equal(rows, phone.readAll().size(), why + ": rows");
    }

    public void testBadBatchesChangeNothing() throws Exception {
        long raw = person("A", "B");
        long c = phone.contactOf(raw);
        String good = "$ent:1/1/1/-1,," + b64("New") + ",,,";
        refused(Arrays.asList(good, "$ent:3/1/1/-2,mobile"), "too few fields");
        refused(Arrays.asList(good, "$ent:3/x/1/-2,mobile,,MQ=="), "bad id");
        refused(Arrays.asList(good, "$frobnicate:1"), "unknown command");
        refused(Arrays.asList(good, "$ent:4/" + c + "/" + raw + "/-3,home,,@@@"), "bad Base64");
        refused(Arrays.asList(good, "$ent:3/" + c + "/999/-3,home,,MQ=="), "row for a raw contact that does not exist");
        refused(Arrays.asList(good, "$ent:3/" + c + "/" + raw + "/424242,home,,MQ=="), "update of a row that does not exist");
        refused(Arrays.asList(good, "$ent:77/" + c + "/" + raw + "/-3,x"), "unknown row type");
        refused(Arrays.asList(good, "$ungroup:-5"), "bad contact number");
        List<String> huge = new ArrayList<String>();
        for (int i = 0; i < 240; i++)
            huge.add("$ent:1/" + (i + 1) + "/" + (i + 1) + "/-" + (i + 1) + ",," + b64("N" + i) + ",,,");
        refused(huge, "a batch beyond the provider's operation limit");
        // Outside a batch only "$batch:" is expected.
        try (Wire w = new Wire(host.session(SyncSession.Kind.RESTORE))) {
            w.send("$ent:" + good.substring(5));
            Check.isTrue(w.read().startsWith("$error:"), "line outside a batch");
        }
    }

    public void testDisconnectInsideABatchAppliesNothing() throws Exception {
        try (Wire w = new Wire(host.session(SyncSession.Kind.RESTORE))) {
            w.send("$batch:", "$ent:1/1/1/-1,," + b64("Half") + ",,,");
        }
        host.awaitEnded(1);
        Check.equal(0, phone.batches, "no batch applied");
        Check.equal(0, phone.visibleContactCount(), "no contact made");
    }
}
