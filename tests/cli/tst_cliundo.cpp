// Snapshots and undo from the command line against phone-sim and iphone-sim: every write is undone until the
// phone's own store equals the one before in every field; each command is a new process, so every undo also
// runs after a restart.

#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "programrun.h"
#include "temphome.h"
#include "testfiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using fixtures::person;
using namespace Qt::StringLiterals;

namespace {

QJsonArray storeContacts(const QString &store)
{
    QFile f(store);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll())[u"contacts"_s].toArray();
}

// Every field of every contact of a simulator's store, without the ids the phone gives (a contact brought back is
// a new record on the phone): one line per contact, its rows sorted, the lines sorted.
QStringList everyField(const QString &store)
{
    QStringList out;
    for (const QJsonValue &c : storeContacts(store)) {
        QJsonObject contact = c.toObject();
        contact.remove(u"id"_s);
        contact.remove(u"raw"_s);
        // An iPhone contact the program creates says "display as company: person", the default a contact seeded
        // without the key has too.
        QJsonObject fields = contact.value(u"fields"_s).toObject();
        if (fields.value(u"display as company"_s).toString() == u"person"_s) {
            fields.remove(u"display as company"_s);
            contact.insert(u"fields"_s, fields);
        }
        QStringList rows;
        for (const QJsonValue &r : contact.take(u"rows"_s).toArray()) {
            QJsonObject row = r.toObject();
            row.remove(u"id"_s);
            rows << QString::fromUtf8(QJsonDocument(row).toJson(QJsonDocument::Compact));
        }
        rows.sort();
        out << QString::fromUtf8(QJsonDocument(contact).toJson(QJsonDocument::Compact)) + u" "_s + rows.join(u' ');
    }
    out.sort();
    return out;
}

QByteArray cards(int n, const char *prefix)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += "BEGIN:VCARD\nVERSION:3.0\nN:" + QByteArray(prefix) + QByteArray::number(i) +
               ";Test;;;\nTEL;TYPE=CELL:555 " + QByteArray::number(i) + "\nEMAIL;TYPE=HOME:t" + QByteArray::number(i) +
               "@example.org\nNOTE:seed " + QByteArray::number(i) + "\nEND:VCARD\n";
    return out;
}

void makeOffice()
{
    QDir().mkpath(DataFolder::localDbDir());
    LocalDb db(LocalDbFiles::pathFor(u"Office.db"_s), PContactCombineRule(new LocalDbCombineRule));
    db.createFromTemplate();
    db.saveContactWithMerge(person(u"Dora"_s, u"Dee"_s, u"+49 1"_s));
    db.saveContactWithMerge(person(u"Emil"_s, u"Eck"_s, u"+49 2"_s));
    // A namesake of a phone contact: the transfer merges its number into that contact.
    pim::Contact namesake = person(u"Test"_s, u"B1"_s, u"999"_s);
    namesake.addRow(pim::ENTITY_NOTE, fixtures::row({{1, u"from the office"_s}}));
    db.saveContactWithMerge(namesake);
}

} // namespace

class TestCliUndo : public QObject
{
    Q_OBJECT

    // A running phone-sim "Phone U", its store in the test's home; ended when the test lets go of it.
    struct PhoneSim : PhoneSimProcess
    {
        bool start(const TempHome &home, const QByteArray &seed, int adbPort = 0)
        {
            return PhoneSimProcess::start(QStringLiteral(PHONE_SIM_EXE), home.path(), u"Phone U"_s, u"phone"_s, seed,
                                          adbPort);
        }
        QStringList fields() const { return everyField(store); }
    };

    ProcessResult cli(const TempHome &home, const QString &phone, const QStringList &args)
    {
        return runProgram(QStringLiteral(CONTACT_MOVER_CLI_EXE), args, phoneEnvironment(home.path(), {phone}), 60000);
    }

    // The cache ids of the device's contacts whose names are listed (all of them for an empty list).
    QStringList ids(const TempHome &home, const QString &phone, const QString &device, const QStringList &names = {})
    {
        const ProcessResult r = cli(home, phone, {u"list"_s, u"--device"_s, device, u"--json"_s});
        QStringList out;
        for (const QJsonValue &c : QJsonDocument::fromJson(r.out).array())
            if (names.isEmpty() || names.contains(c[u"full_name"_s].toString()))
                out << QString::number(c[u"_id"_s].toInteger());
        return out;
    }

private Q_SLOTS:
    void androidUndoOfRestoreGroupDeleteAndClear()
    {
        TempHome home;
        PhoneSim phone;
        QVERIFY(phone.start(home, cards(3, "B")));
        makeOffice();
        const QString s = phone.serial;
        const QStringList seeded = phone.fields();
        QCOMPARE(seeded.size(), 3);

        // A restore of a database: two new contacts and one merged into "Test B1".
        ProcessResult r = cli(home, s, {u"transfer"_s, u"--db"_s, u"Office"_s, u"--to"_s, s});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(phone.fields().size(), 5);
        r = cli(home, s, {u"undo"_s, u"--device"_s, s});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY2(r.out.contains("Removed 2 added contacts, brought back 0 deleted and 1 changed contacts."),
                 r.out.constData());
        QTRY_COMPARE_WITH_TIMEOUT(phone.fields(), seeded, 10000);

        // The undo is undoable: the restore comes back.
        r = cli(home, s, {u"transfer"_s, u"--db"_s, u"Office"_s, u"--to"_s, s});
        QVERIFY2(r.code == 0, r.err.constData());
        const QStringList restored = phone.fields();
        r = cli(home, s, {u"undo"_s, u"--device"_s, s});
        QVERIFY2(r.code == 0, r.err.constData());
        QTRY_COMPARE_WITH_TIMEOUT(phone.fields(), seeded, 10000);
        r = cli(home, s, {u"undo"_s, u"--device"_s, s});
        QVERIFY2(r.code == 0, r.err.constData());
        QTRY_COMPARE_WITH_TIMEOUT(phone.fields(), restored, 10000);

        // A group and its contacts deleted: the contacts come back with their membership.
        r = cli(home, s,
                {u"set-group"_s, u"--device"_s, s, u"--contacts"_s,
                 ids(home, s, s, {u"Test B0"_s, u"Emil Eck"_s}).join(u','), u"--group"_s, u"Golf"_s});
        QVERIFY2(r.code == 0, r.err.constData());
        const QStringList grouped = phone.fields();
        QVERIFY(grouped.filter(u"Golf"_s).size() == 2);
        r = cli(home, s,
                {u"delete"_s, u"--device"_s, s, u"--contacts"_s,
                 ids(home, s, s, {u"Test B0"_s, u"Emil Eck"_s}).join(u',')});
        QVERIFY2(r.code == 0, r.err.constData());
        QTRY_COMPARE_WITH_TIMEOUT(phone.fields().size(), 3, 10000);
        r = cli(home, s, {u"undo"_s, u"--device"_s, s});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(phone.fields(), grouped);

        // Every contact deleted, then undone.
        r = cli(home, s, {u"delete"_s, u"--device"_s, s, u"--contacts"_s, ids(home, s, s).join(u',')});
        QVERIFY2(r.code == 0, r.err.constData());
        QTRY_COMPARE_WITH_TIMEOUT(phone.fields().size(), 0, 10000);
        r = cli(home, s, {u"undo"_s, u"--device"_s, s});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(phone.fields(), grouped);

        // Exactly the first snapshot again, whatever came after it.
        r = cli(home, s, {u"snapshots"_s, u"--device"_s, s, u"--json"_s});
        QVERIFY2(r.code == 0, r.err.constData());
        const QJsonArray list = QJsonDocument::fromJson(r.out)[u"snapshots"_s].toArray();
        QVERIFY(list.size() >= 8);
        QCOMPARE(list.last()[u"operation"_s].toString(), u"transfer"_s);
        QVERIFY(QJsonDocument::fromJson(r.out)[u"folderBytes"_s].toInteger() > 0);
        r = cli(home, s, {u"restore-snapshot"_s, list.last()[u"id"_s].toString()});
        QVERIFY2(r.code == 0, r.err.constData());
        QTRY_COMPARE_WITH_TIMEOUT(phone.fields(), seeded, 10000);
    }

    // Undo keeps what the user did on the phone after the write, and says so.
    void androidUndoKeepsLaterChangesOnThePhone()
    {
        TempHome home;
        PhoneSim phone;
        QVERIFY(phone.start(home, cards(2, "B")));
        makeOffice();
        const QStringList seeded = phone.fields();
        ProcessResult r = cli(home, phone.serial, {u"transfer"_s, u"--db"_s, u"Office"_s, u"--to"_s, phone.serial});
        QVERIFY2(r.code == 0, r.err.constData());

        // The user adds a contact on the phone itself (the phone restarted on the same port with it in its store).
        phone.stop();
        QFile f(phone.store);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QJsonObject doc = QJsonDocument::fromJson(f.readAll()).object();
        f.close();
        QJsonArray contacts = doc[u"contacts"_s].toArray();
        contacts.append(QJsonObject{
            {u"id"_s, 900},
            {u"name"_s, u"Own Mine"_s},
            {u"rows"_s,
             QJsonArray{
                 QJsonObject{{u"type"_s, 1}, {u"fields"_s, QJsonArray{u""_s, u"Own"_s, u""_s, u"Mine"_s, u""_s}}},
                 QJsonObject{{u"type"_s, 3}, {u"fields"_s, QJsonArray{u"mobile"_s, u""_s, u"42"_s}}}}}});
        doc.insert(u"contacts"_s, contacts);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(doc).toJson());
        f.close();
        const int port = phone.port;
        QVERIFY(phone.start(home, QByteArray(), port));
        const QStringList withMine = phone.fields();
        QCOMPARE(withMine.filter(u"Own Mine"_s).size(), 1);

        r = cli(home, phone.serial, {u"undo"_s, u"--device"_s, phone.serial});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY2(r.out.contains("Kept 1 contacts added there since: Own Mine"), r.out.constData());
        QStringList expected = seeded + withMine.filter(u"Own Mine"_s);
        expected.sort();
        QTRY_COMPARE_WITH_TIMEOUT(phone.fields(), expected, 10000);
    }

    void damagedSnapshotAndUnwritableSnapshotStopTheWrite()
    {
        TempHome home;
        PhoneSim phone;
        QVERIFY(phone.start(home, cards(2, "B")));
        makeOffice();
        const QString s = phone.serial;
        ProcessResult r = cli(home, s, {u"transfer"_s, u"--db"_s, u"Office"_s, u"--to"_s, s});
        QVERIFY2(r.code == 0, r.err.constData());
        const QStringList transferred = phone.fields();

        // One byte of the snapshot changed: refused, the phone untouched, no new snapshot.
        const QString folder = DataFolder::root() + u"/snapshots"_s;
        const QStringList copies = QDir(folder).entryList({u"*.db"_s}, QDir::Files, QDir::Name);
        QCOMPARE(copies.size(), 2); // before and after the transfer
        QFile copy(folder + u'/' + copies.filter(u".after."_s).first().replace(u".after.db"_s, u".db"_s));
        QVERIFY(copy.open(QIODevice::ReadWrite));
        copy.seek(100);
        copy.write("\x7f");
        copy.close();
        r = cli(home, s, {u"undo"_s, u"--device"_s, s});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("is damaged (its database file was altered); nothing was changed."), r.err.constData());
        QCOMPARE(phone.fields(), transferred);
        QCOMPARE(QDir(folder).entryList({u"*.db"_s}, QDir::Files).size(), 2);

        // No snapshot can be kept: the transfer does not start.
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        r = cli(home, s, {u"delete"_s, u"--device"_s, s, u"--contacts"_s, ids(home, s, s).join(u',')});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("No snapshot of Phone U could be kept, so nothing was written to it"),
                 r.err.constData());
        QTest::qWait(500);
        QCOMPARE(phone.fields(), transferred);
        // A local database neither.
        r = cli(home, s, {u"delete"_s, u"--db"_s, u"Office"_s, u"--contacts"_s, u"1"_s});
        QCOMPARE(r.code, 1);
        LocalDb office(LocalDbFiles::pathFor(u"Office.db"_s), PContactCombineRule(new LocalDbCombineRule));
        QCOMPARE(office.countContacts(), 3);
    }

    void iphoneUndoOfRestoreDeleteAndClear()
    {
        TempHome home;
        makeOffice();
        const QString udid = u"00008030-00000000000000C3"_s, store = home.filePath(u"ic.json"_s),
                      seed = home.filePath(u"ic.vcf"_s);
        QVERIFY(writeFile(seed, cards(2, "B") + "BEGIN:VCARD\nVERSION:3.0\nN:Ipho;Ida;;;\nTEL;TYPE=HOME:+1 2\n"
                                                "BDAY:1990-04-01\nORG:Acme\nEND:VCARD\n"));
        IphoneSimProcess iphones;
        QVERIFY(iphones.start(QStringLiteral(IPHONE_SIM_EXE),
                              {u"--socket"_s, home.filePath(u"mux.sock"_s), u"--udid"_s, udid, u"--name"_s,
                               u"Ida's iPhone"_s, u"--store"_s, store, u"--seed"_s, seed}));
        const QStringList seeded = everyField(store);
        QCOMPARE(seeded.size(), 3);

        ProcessResult r = cli(home, {}, {u"transfer"_s, u"--db"_s, u"Office"_s, u"--to"_s, udid});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(everyField(store).size(), 5);
        r = cli(home, {}, {u"undo"_s, u"--device"_s, udid});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY2(r.out.contains("Removed 2 added contacts, brought back 0 deleted and 1 changed contacts."),
                 r.out.constData());
        QCOMPARE(everyField(store), seeded);

        r = cli(home, {},
                {u"delete"_s, u"--device"_s, udid, u"--contacts"_s, ids(home, {}, udid, {u"Ida Ipho"_s}).join(u',')});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(everyField(store).size(), 2);
        r = cli(home, {}, {u"undo"_s, u"--device"_s, udid});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(everyField(store), seeded);

        r = cli(home, {}, {u"delete"_s, u"--device"_s, udid, u"--contacts"_s, ids(home, {}, udid).join(u',')});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(everyField(store).size(), 0);
        r = cli(home, {}, {u"undo"_s, u"--device"_s, udid});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(everyField(store), seeded);
    }

    void localDatabaseUndoAndLimits()
    {
        TempHome home;
        makeOffice();
        ProcessResult r = cli(home, {}, {u"snapshot-limits"_s, u"--per-device"_s, u"2"_s});
        QVERIFY2(r.code == 0, r.err.constData());
        LocalDb office(LocalDbFiles::pathFor(u"Office.db"_s), PContactCombineRule(new LocalDbCombineRule));
        const auto names = [&office] {
            QStringList out;
            for (const pim::Contact &c : office.listContacts(0, QString()))
                out << c.full_name;
            out.sort(Qt::CaseInsensitive);
            return out;
        };
        QStringList beforeLast;
        for (const char *prefix : {"V", "W", "X"}) {
            const QString vcf = home.filePath(QString::fromLatin1(prefix) + u".vcf"_s);
            QVERIFY(writeFile(vcf, cards(1, prefix)));
            beforeLast = names();
            r = cli(home, {}, {u"import"_s, vcf, u"--format"_s, u"vcf"_s, u"--db"_s, u"Office"_s});
            QVERIFY2(r.code == 0, r.err.constData());
        }
        QVERIFY(names().contains(u"Test X0"_s));
        r = cli(home, {}, {u"snapshots"_s, u"--db"_s, u"Office"_s, u"--json"_s});
        QCOMPARE(QJsonDocument::fromJson(r.out)[u"snapshots"_s].toArray().size(), 2);

        // A contact added by someone else after the last import stays; the import goes.
        office.saveContactWithMerge(person(u"Own"_s, u"Mine"_s, u"1"_s));
        office.close();
        r = cli(home, {}, {u"undo"_s, u"--db"_s, u"Office"_s});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY2(r.out.contains("Kept 1 contacts added there since: Own Mine"), r.out.constData());
        QStringList expected = beforeLast + QStringList{u"Own Mine"_s};
        expected.sort(Qt::CaseInsensitive);
        QCOMPARE(names(), expected);
        QCOMPARE(cli(home, {}, {u"undo"_s, u"--db"_s, u"Nowhere"_s}).code, 1);
        QCOMPARE(cli(home, {}, {u"undo"_s}).code, 2);
        QCOMPARE(cli(home, {}, {u"restore-snapshot"_s, u"../../etc/passwd"_s}).code, 1);
    }
};

QTEST_GUILESS_MAIN(TestCliUndo)
#include "tst_cliundo.moc"
