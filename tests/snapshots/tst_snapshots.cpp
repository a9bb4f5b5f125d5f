// Snapshots kept in the data folder (limits, disk use, damaged and unwritable files) and the undo plan worked out
// from a snapshot, the state its write left and the state now, applied to a local database.

#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/contactchanges.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "snapshots/snapshotstore.h"
#include "snapshots/undoplan.h"
#include "snapshots/undorunner.h"
#include "temphome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using fixtures::person;
using fixtures::row;
using Kind = SnapshotInfo::Kind;

namespace {

// name → content of every contact, for comparing databases independent of their ids.
QMap<QString, QStringList> contents(const QList<pim::Contact> &contacts, bool withGroups = true)
{
    QMap<QString, QStringList> out;
    for (const pim::Contact &c : contacts)
        out.insert(c.full_name, undo::contentOf(c, withGroups));
    return out;
}

pim::Contact withSrc(pim::Contact c, const QString &src)
{
    c.src_id = src;
    return c;
}

QStringList names(const QList<pim::Contact> &contacts)
{
    QStringList out;
    for (const pim::Contact &c : contacts)
        out << c.full_name;
    out.sort();
    return out;
}

} // namespace

class TestSnapshots : public QObject
{
    Q_OBJECT

    static QString makeDb(const QString &name, int contacts)
    {
        QDir().mkpath(DataFolder::localDbDir());
        const QString path = LocalDbFiles::pathFor(name);
        LocalDb db(path, PContactCombineRule(new UserDbCombineRule));
        db.createFromTemplate();
        for (int i = 0; i < contacts; ++i)
            db.saveContactWithMerge(
                person(QStringLiteral("P%1").arg(i), QStringLiteral("Test"), QStringLiteral("55%1").arg(i)));
        return path;
    }

private Q_SLOTS:
    void limitsAndDiskUse()
    {
        TempHome home;
        const QString a = makeDb(QStringLiteral("A.db"), 2), b = makeDb(QStringLiteral("B.db"), 1);
        SnapshotStore::setLimits({30, 2});
        SnapshotStore store;
        QStringList taken;
        for (int i = 0; i < 3; ++i)
            taken << store.take(Kind::LocalDb, QStringLiteral("A.db"), QStringLiteral("A"), QStringLiteral("import"), a)
                         .id;
        const SnapshotInfo other =
            store.take(Kind::LocalDb, QStringLiteral("B.db"), QStringLiteral("B"), QStringLiteral("delete"), b);

        // The oldest of A went; B counts on its own; ids sort in the order taken.
        QCOMPARE(store.list(Kind::LocalDb, QStringLiteral("A.db")).size(), 2);
        QCOMPARE(store.list(Kind::LocalDb, QStringLiteral("A.db")).first().id, taken.last());
        QVERIFY(!store.find(taken.first()));
        QVERIFY(!QFile::exists(store.beforePath(taken.first())));
        QCOMPARE(store.list(Kind::LocalDb, QStringLiteral("B.db")).size(), 1);
        QCOMPARE(store.list(Kind::LocalDb, QStringLiteral("A.db")).first().contacts, 2);
        // Same target name, other kind: another target.
        QVERIFY(store.list(Kind::Android, QStringLiteral("A.db")).isEmpty());

        qint64 files = 0;
        for (const QFileInfo &f : QDir(store.folder()).entryInfoList(QDir::Files))
            files += f.size();
        QCOMPARE(store.diskUse(), files);
        qint64 listed = 0;
        for (const SnapshotInfo &info : store.listAll())
            listed += info.bytes;
        QCOMPARE(listed, files);

        // Older than the age limit: removed by the next snapshot, even below the count.
        QFile json(store.infoPath(other.id));
        QVERIFY(json.open(QIODevice::ReadOnly));
        QJsonObject o = QJsonDocument::fromJson(json.readAll()).object();
        json.close();
        o.insert(QStringLiteral("time"), QDateTime::currentDateTimeUtc().addDays(-31).toString(Qt::ISODateWithMs));
        QVERIFY(json.open(QIODevice::WriteOnly | QIODevice::Truncate));
        json.write(QJsonDocument(o).toJson());
        json.close();
        QCOMPARE(store.list(Kind::LocalDb, QStringLiteral("B.db")).size(), 1);
        store.take(Kind::LocalDb, QStringLiteral("A.db"), QStringLiteral("A"), QStringLiteral("import"), a);
        QVERIFY(store.list(Kind::LocalDb, QStringLiteral("B.db")).isEmpty());
        QCOMPARE(store.list(Kind::LocalDb, QStringLiteral("A.db")).size(), 2);

        // The settings survive the process; nonsense in them falls back to the defaults.
        QCOMPARE(SnapshotStore::limits().maxPerTarget, 2);
        QFile ini(SnapshotStore::settingsPath());
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("[snapshots]\nmaxAgeDays=-4\nmaxPerDevice=zero\n");
        ini.close();
        QCOMPARE(SnapshotStore::limits().maxAgeDays, SnapshotStore::Limits().maxAgeDays);
        QCOMPARE(SnapshotStore::limits().maxPerTarget, SnapshotStore::Limits().maxPerTarget);
    }

    void damagedAndUnwritableSnapshots()
    {
        TempHome home;
        const QString a = makeDb(QStringLiteral("A.db"), 3);
        SnapshotStore store;
        SnapshotInfo info =
            store.take(Kind::LocalDb, QStringLiteral("A.db"), QStringLiteral("A"), QStringLiteral("delete"), a);
        QCOMPARE(store.contacts(info, false).size(), 3);
        store.recordAfter(info, a);
        QCOMPARE(store.contacts(*store.find(info.id), true).size(), 3);

        // One byte changed anywhere in the copy: refused as a whole.
        QFile copy(store.beforePath(info.id));
        QVERIFY(copy.open(QIODevice::ReadWrite));
        copy.seek(copy.size() - 10);
        const char last = copy.read(1).at(0);
        copy.seek(copy.size() - 10);
        copy.write(QByteArray(1, char(last ^ 0x5a)));
        copy.close();
        QVERIFY_THROWS_EXCEPTION(SnapshotDamaged, store.contacts(info, false));
        QVERIFY(QFile::remove(store.beforePath(info.id)));
        QVERIFY_THROWS_EXCEPTION(SnapshotDamaged, store.contacts(info, false));

        // A description that is not one: listed as damaged, never offered for a target, refused when named.
        QFile json(store.infoPath(info.id));
        QVERIFY(json.open(QIODevice::WriteOnly | QIODevice::Truncate));
        json.write("{\"id\": \"");
        json.close();
        QCOMPARE(store.listAll().size(), 1);
        QVERIFY(store.listAll().first().damaged);
        QVERIFY(store.list(Kind::LocalDb, QStringLiteral("A.db")).isEmpty());
        QVERIFY_THROWS_EXCEPTION(SnapshotDamaged, store.contacts(*store.find(info.id), false));
        // Ids are file names the store made, nothing else.
        QVERIFY(!store.find(QStringLiteral("../data/A")));

        // No folder for snapshots (a file is in its place): the write must not start, nothing is left behind.
        SnapshotStore blocked(home.filePath(QStringLiteral("blocked")));
        QFile file(blocked.folder());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY_THROWS_EXCEPTION(SnapshotError, blocked.take(Kind::LocalDb, QStringLiteral("A.db"), QStringLiteral("A"),
                                                             QStringLiteral("x"), a));
        // A source that is not a database: no snapshot, no partial files.
        SnapshotStore fresh(home.filePath(QStringLiteral("fresh")));
        const QString junk = home.filePath(QStringLiteral("junk.db"));
        QFile j(junk);
        QVERIFY(j.open(QIODevice::WriteOnly));
        j.write(QByteArray(4096, 'x'));
        j.close();
        QVERIFY_THROWS_EXCEPTION(SnapshotError, fresh.take(Kind::LocalDb, QStringLiteral("junk.db"),
                                                           QStringLiteral("junk"), QStringLiteral("x"), junk));
        QVERIFY(QDir(fresh.folder()).entryList(QDir::Files).isEmpty());
    }

    // The write deleted C, changed B and added D; afterwards the user added E and changed A on the phone.
    void planKeepsWhatChangedAfterTheWrite()
    {
        const pim::Contact a =
            withSrc(person(QStringLiteral("A"), QStringLiteral("X"), QStringLiteral("1")), QStringLiteral("a"));
        const pim::Contact b =
            withSrc(person(QStringLiteral("B"), QStringLiteral("X"), QStringLiteral("2")), QStringLiteral("b"));
        const pim::Contact c =
            withSrc(person(QStringLiteral("C"), QStringLiteral("X"), QStringLiteral("3")), QStringLiteral("c"));
        const pim::Contact d =
            withSrc(person(QStringLiteral("D"), QStringLiteral("X"), QStringLiteral("4")), QStringLiteral("d"));
        const pim::Contact e =
            withSrc(person(QStringLiteral("E"), QStringLiteral("X"), QStringLiteral("5")), QStringLiteral("e"));
        pim::Contact b2 = b;
        b2.addRow(pim::ENTITY_EMAIL, row({{1, QStringLiteral("b@x")}, {2, 1}}));
        pim::Contact a2 = a;
        a2.entities[pim::ENTITY_PHONE].first().setValue(QStringLiteral("data1"), QStringLiteral("9"));

        const QList<pim::Contact> before{a, b, c}, after{a, b2, d}, now{a2, b2, d, e};
        undo::Plan plan = undo::plan(before, after, now, undo::Options());
        QCOMPARE(names(plan.toDelete), QStringList{QStringLiteral("D X")});
        QCOMPARE(plan.toRestore.size(), 2);
        QStringList restored;
        for (const undo::Restore &r : plan.toRestore)
            restored << r.target.full_name +
                            (r.current._id == 0 && r.current.src_id.isEmpty() ? QStringLiteral(" new") : QString());
        restored.sort();
        QCOMPARE(restored, (QStringList{QStringLiteral("B X"), QStringLiteral("C X new")}));
        QCOMPARE(plan.keptAdded, QStringList{QStringLiteral("E X")});
        QCOMPARE(plan.keptChanged, QStringList{QStringLiteral("A X")});
        QVERIFY(plan.summary().contains(QStringLiteral("E X")));

        // Without the state after the write (restore-snapshot, or a write that failed), the snapshot wins.
        plan = undo::plan(before, std::nullopt, now, undo::Options());
        QCOMPARE(names(plan.toDelete), (QStringList{QStringLiteral("D X"), QStringLiteral("E X")}));
        QCOMPARE(plan.toRestore.size(), 3);
        QVERIFY(plan.keptAdded.isEmpty() && plan.keptChanged.isEmpty());

        // A contact deleted on the phone after the write stays deleted.
        plan = undo::plan(before, after, QList<pim::Contact>{b2, d}, undo::Options());
        QCOMPARE(plan.keptDeleted, QStringList{QStringLiteral("A X")});
        QCOMPARE(names(plan.toDelete), QStringList{QStringLiteral("D X")});
    }

    void changeRecordsKeepRowsAndRecords()
    {
        pim::Contact stored = person(QStringLiteral("Ann"), QStringLiteral("Lee"), QStringLiteral("1"));
        stored._id = 7;
        stored.entities[pim::ENTITY_NAME].first()._id = 70;
        stored.entities[pim::ENTITY_PHONE].first()._id = 71;
        stored.entities[pim::ENTITY_PHONE].first().src_id = QStringLiteral("p1");
        pim::DataRow mail = row({{1, QStringLiteral("a@x")}, {2, 1}});
        mail._id = 72;
        stored.addRow(pim::ENTITY_EMAIL, mail);
        pim::DataRow group = row({{1, QStringLiteral("3")}, {2, QStringLiteral("Golf")}});
        group._id = 73;
        stored.addRow(pim::ENTITY_GROUP, group);

        pim::Contact target = person(QStringLiteral("Ann"), QStringLiteral("Lee-Ray"), QStringLiteral("2"));
        target.entities[pim::ENTITY_PHONE].first().src_id = QStringLiteral("p1");
        target.addRow(pim::ENTITY_GROUP, row({{1, QStringLiteral("12")}, {2, QStringLiteral("Golf")}}));
        target.addRow(pim::ENTITY_NOTE, row({{1, QStringLiteral("hi")}}));

        const QList<pim::ChangeRecord> changes = undo::changesTo(stored, target, true);
        QStringList seen;
        for (const pim::ChangeRecord &ch : changes)
            seen << QStringLiteral("%1:%2:%3").arg(ch.type).arg(ch.action).arg(ch.row._id);
        // Name updated in place, the phone row updated under its record, note added, e-mail deleted; the
        // membership names the same group under another local number: left alone.
        QCOMPARE(seen, (QStringList{QStringLiteral("1:2:70"), QStringLiteral("3:2:71"), QStringLiteral("4:3:72"),
                                    QStringLiteral("9:1:0")}));
        QCOMPARE(changes.at(1).row.text(QStringLiteral("data1")), QStringLiteral("2"));
        // An iPhone's groups do not take part.
        for (const pim::ChangeRecord &ch : undo::changesTo(stored, pim::Contact(), false))
            QVERIFY(ch.type != pim::ENTITY_GROUP);
    }

    void undoOnALocalDatabase()
    {
        TempHome home;
        const QString path = makeDb(QStringLiteral("Home.db"), 3);
        LocalDb db(path, PContactCombineRule(new UserDbCombineRule));
        const qint64 grouped = db.listContacts(0, QString()).at(1)._id;
        db.beginTransaction();
        setContactsGroup(db, {db.loadContact(grouped)}, 0, QStringLiteral("Golf"));
        db.endTransaction(true);
        const QMap<QString, QStringList> original = contents(db.listContacts(0, QString()));

        SnapshotStore store;
        SnapshotInfo info = store.take(Kind::LocalDb, QStringLiteral("Home.db"), QStringLiteral("Home"),
                                       QStringLiteral("import"), path);
        // The write: one deleted (the grouped one), one edited, one merged into, one added.
        const QList<pim::Contact> all = db.listContacts(0, QString());
        db.deleteContact(grouped);
        pim::Contact edited = db.loadContact(all.at(0)._id);
        pim::DataRow phone = edited.firstRow(pim::ENTITY_PHONE);
        phone.setValue(QStringLiteral("data1"), QStringLiteral("000"));
        db.updateRow(pim::ENTITY_PHONE, phone);
        db.saveContactWithMerge(person(QStringLiteral("P2"), QStringLiteral("Test"), QStringLiteral("777")));
        db.saveContactWithMerge(person(QStringLiteral("New"), QStringLiteral("One"), QStringLiteral("8")));
        store.recordAfter(info, path);
        // After the write, the user adds a contact of their own.
        db.saveContactWithMerge(person(QStringLiteral("Own"), QStringLiteral("Mine"), QStringLiteral("9")));

        const undo::Plan plan = undo::planFor(store, info, db, true);
        undo::applyToLocalDb(plan, db);
        QMap<QString, QStringList> expected = original;
        expected.insert(QStringLiteral("Own Mine"), QStringList());
        QMap<QString, QStringList> now = contents(db.listContacts(0, QString()));
        QVERIFY(now.contains(QStringLiteral("Own Mine")));
        now[QStringLiteral("Own Mine")] = QStringList();
        QCOMPARE(now, expected);
        QCOMPARE(plan.keptAdded, QStringList{QStringLiteral("Own Mine")});

        // The exact way back: the snapshot wins over the later contact too.
        undo::applyToLocalDb(undo::planFor(store, info, db, false), db);
        QCOMPARE(contents(db.listContacts(0, QString())), original);
    }
};

QTEST_GUILESS_MAIN(TestSnapshots)
#include "tst_snapshots.moc"
