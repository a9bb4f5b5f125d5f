// The preview of a merge: computed on a throwaway copy, it must say exactly what the real run then does to the
// database, and write nothing itself.

#include "contacts/backupcontactstolocalthread.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "contacts/mergepreview.h"
#include "core/privatetemp.h"
#include "core/progress.h"
#include "core/texts.h"
#include "randombooks.h"
#include "temphome.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// contact _id → (full name, type → (row _id → columns as text)): a database as comparable values.
using RowMap = QMap<qint64, QMap<QString, QString>>;
struct Stored
{
    QString name;
    QMap<int, RowMap> rows;
    bool operator==(const Stored &) const = default;
};
using Book = QMap<qint64, Stored>;

QMap<QString, QString> columnsOf(const pim::DataRow &row)
{
    QMap<QString, QString> out;
    for (auto it = row.columns.cbegin(); it != row.columns.cend(); ++it)
        if (!pim::valueEmpty(it.value()))
            out.insert(it.key(), it.value().toString());
    return out;
}

Book read(LocalDb &db)
{
    Book book;
    for (const pim::Contact &c : db.listContacts(0, QString())) {
        Stored &s = book[c._id];
        s.name = c.full_name;
        for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
            for (const pim::DataRow &row : it.value())
                s.rows[it.key()].insert(row._id, columnsOf(row));
    }
    return book;
}

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                                       : QByteArray();
}

} // namespace

class TestMergePreview : public QObject
{
    Q_OBJECT

    std::unique_ptr<LocalDb> newDb(const TempHome &home, const QString &name, const PContactCombineRule &rule)
    {
        auto db = std::make_unique<LocalDb>(home.filePath(name), rule);
        db->createFromTemplate();
        return db;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(installEnglishTranslation(*QCoreApplication::instance())); }

    // 30 seeded books merged into 30 seeded databases, alternately under the rule of the user's databases and
    // of the phone caches: the database after the run is the database before with exactly the rows the preview
    // listed, the rows it called changed were stored as it said, and its counts are the worker's.
    void previewIsWhatTheRunDoes()
    {
        TempHome home;
        for (quint32 seed = 1; seed <= 30; ++seed) {
            const PContactCombineRule rule(seed % 2 ? static_cast<AbsContactCombineRule *>(new UserDbCombineRule)
                                                    : new LocalDbCombineRule);
            auto db = newDb(home, u"book%1.db"_s.arg(seed), rule);
            for (const pim::Contact &c : randombooks::randomBook(seed, 25))
                db->saveContactWithMerge(c);
            const QList<pim::Contact> incoming = randombooks::randomBook(1000 + seed, 25);
            const Book before = read(*db);

            MergePreview preview(db.get(), rule);
            preview.mergeAll(incoming);
            const MergePlan plan = preview.plan();
            QCOMPARE(read(*db), before); // the preview wrote nothing

            ProgressObject progress;
            BackupContactsToLocalThread worker(incoming, db.get(), &progress);
            QSignalSpy finished(&worker, &QThread::finished);
            worker.start();
            QVERIFY(finished.wait(20000));
            QTRY_COMPARE(progress.outcome(), ProgressObject::Outcome::Succeeded);
            const Book after = read(*db);

            Book predicted = before;
            QCOMPARE(plan.contacts.size(), incoming.size());
            for (qsizetype i = 0; i < plan.contacts.size(); ++i) {
                const PlannedContact &c = plan.contacts.at(i);
                QCOMPARE(c.name, incoming.at(i).full_name);
                QCOMPARE(c.outcome == PlannedContact::Added, !predicted.contains(c.targetId));
                QCOMPARE(c.outcome == PlannedContact::Unchanged, c.rows.isEmpty());
                QCOMPARE(c.targetIsNew, !before.contains(c.targetId));
                Stored &target = predicted[c.targetId];
                target.name = c.targetName;
                for (const PlannedRow &row : c.rows) {
                    RowMap &rows = target.rows[row.type];
                    if (row.isNew()) {
                        QVERIFY2(!rows.contains(row.after._id), "a row called new was already stored");
                    } else {
                        // What the preview says was there is what was there.
                        QVERIFY(rows.contains(row.before._id));
                        QCOMPARE(columnsOf(row.before), rows.value(row.before._id));
                        QCOMPARE(row.before._id, row.after._id);
                        QVERIFY(!row.changedColumns().isEmpty());
                    }
                    rows.insert(row.after._id, columnsOf(row.after));
                }
            }
            QCOMPARE(after, predicted);

            const int added = plan.count(PlannedContact::Added);
            const int merged = plan.count(PlannedContact::Merged) + plan.count(PlannedContact::Unchanged);
            QCOMPARE(progress.message(), merged == 0
                                             ? trKey("IDS_SUC_IMPORT_%1_TO_LOCALDB").arg(added)
                                             : trKey("IDS_SUC_IMPORT_%1_TO_LOCALDB_%2_MERGED").arg(added).arg(merged));
            QVERIFY(plan.count(PlannedContact::Added) + merged == incoming.size());
        }
    }

    // The preview leaves the target's file as it was, a preview of a database not made yet adds everything,
    // the text and JSON forms carry the same plan, and a file that is no database is refused without a crash.
    void previewWritesNothingAndSaysItAllWays()
    {
        TempHome home;
        const PContactCombineRule rule(new UserDbCombineRule);
        auto db = newDb(home, u"target.db"_s, rule);
        pim::Contact anna = randombooks::randomContact(*QRandomGenerator::global());
        anna.entities.clear();
        anna.full_name = u"Anna Abel"_s;
        anna.addRow(pim::ENTITY_NAME,
                    randombooks::fields({{"data1", u"Anna Abel"_s}, {"data2", u"Anna"_s}, {"data3", u"Abel"_s}}));
        anna.addRow(pim::ENTITY_PHONE, randombooks::fields({{"data1", u"555 1"_s}, {"data2", u"2"_s}}));
        db->saveContactWithMerge(anna);
        db->close();
        const QByteArray hash = fileHash(db->path());

        pim::Contact annaAgain = anna;
        annaAgain.entities[pim::ENTITY_PHONE].first().setValue(u"data3"_s, u"Boat"_s);
        annaAgain.addRow(pim::ENTITY_EMAIL, randombooks::fields({{"data1", u"a@example.org"_s}, {"data2", u"1"_s}}));
        pim::Contact bert = anna;
        bert.full_name = u"Bert Brand"_s;
        bert.entities[pim::ENTITY_NAME].first().setValue(u"data1"_s, bert.full_name);

        MergePreview preview(db.get(), rule);
        preview.mergeAll({annaAgain, bert, anna});
        db->close();
        QCOMPARE(fileHash(db->path()), hash);

        const MergePlan &plan = preview.plan();
        QCOMPARE(plan.count(PlannedContact::Added), 1);
        QCOMPARE(plan.count(PlannedContact::Merged), 1);
        QCOMPARE(plan.count(PlannedContact::Unchanged), 1);
        QCOMPARE(plan.summaryText(),
                 u"1 contacts will be added, 1 merged into contacts already there and 1 left unchanged."_s);
        // The user's rule keeps a number with a new label as a row of its own.
        QCOMPARE(plan.detailsText(), u"Merge into: Anna Abel\n"
                                     "    + Phone: Boat:555 1\n"
                                     "    + E-mail: Home:a@example.org\n"
                                     "Add: Bert Brand\n"
                                     "    + Phone: Mobile:555 1\n"
                                     "Unchanged, already there: Anna Abel"_s);
        const QJsonObject json = plan.toJson();
        QCOMPARE(json[u"added"_s].toInt(), 1);
        const QJsonArray contacts = json[u"contacts"_s].toArray();
        QCOMPARE(contacts.size(), 3);
        QCOMPARE(contacts[0][u"outcome"_s].toString(), u"merged"_s);
        QCOMPARE(contacts[0][u"target"_s][u"_id"_s].toInteger(), 1);
        QCOMPARE(contacts[0][u"rows"_s].toArray().size(), 2);
        QCOMPARE(contacts[0][u"rows"_s][0][u"after"_s][u"data3"_s].toString(), u"Boat"_s);
        QCOMPARE(contacts[1][u"target"_s][u"new"_s].toBool(), true);
        QCOMPARE(contacts[2][u"rows"_s].toArray().size(), 0);

        // The phone caches' rule updates the number's row in place: a change, with the column that changed.
        auto cache = newDb(home, u"cache.db"_s, PContactCombineRule(new LocalDbCombineRule));
        cache->saveContactWithMerge(anna);
        MergePreview onCache(cache.get(), cache->rule());
        onCache.mergeAll({annaAgain});
        const PlannedRow &changed = onCache.plan().contacts.first().rows.first();
        QVERIFY(!changed.isNew());
        QCOMPARE(changed.changedColumns(), QStringList{u"data3"_s});
        QVERIFY(
            onCache.plan().detailsText().contains(u"~ Phone: \u201CMobile:555 1\u201D to \u201CBoat:555 1\u201D"_s));

        // No database yet: everything is added, and still nothing is made where the database would be.
        MergePreview fresh(nullptr, rule);
        fresh.mergeAll({anna, bert});
        QCOMPARE(fresh.plan().count(PlannedContact::Added), 2);

        QFile junk(home.filePath(u"junk.db"_s));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        LocalDb notADb(junk.fileName(), rule);
        const auto folders = [] {
            return QDir(PrivateTempDir::parentFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        };
        const QStringList foldersBefore = folders();
        QCOMPARE(foldersBefore.size(), 3); // one per preview alive
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, MergePreview(&notADb, rule));
        // Nothing of the refused preview is left in the private folder.
        QCOMPARE(folders(), foldersBefore);
    }
};

QTEST_GUILESS_MAIN(TestMergePreview)
#include "tst_mergepreview.moc"
