// The database-to-database backup worker, run on a real thread against real database files.

#include "cancelafterchecks.h"
#include "contactfixtures.h"
#include "contacts/backupcontactstolocalthread.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "core/texts.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using fixtures::person;

namespace {

} // namespace

class TestBackupThread : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_n = 0;

    std::unique_ptr<LocalDb> newDb()
    {
        auto db = std::make_unique<LocalDb>(m_dir.filePath(QStringLiteral("db%1.db").arg(++m_n)),
                                            PContactCombineRule(new LocalDbCombineRule));
        db->createFromTemplate();
        return db;
    }

    // Runs the worker to its end and lets the queued posts arrive.
    static void runToEnd(BackupContactsToLocalThread &worker, ProgressObject &progress)
    {
        QSignalSpy finished(&worker, &QThread::finished);
        worker.start();
        QVERIFY(finished.wait(20000));
        QTRY_VERIFY(progress.outcome() != ProgressObject::Outcome::Running);
    }

    static qint64 count(LocalDb &db, const char *sql)
    {
        Sqlite3Cursor c = db.db().queryThrow(sql);
        return c.moveNext() ? c.getInt64(0) : -1;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(installEnglishTranslation(*QCoreApplication::instance())); }

    void newThenMergedBackup()
    {
        auto target = newDb();
        const QList<pim::Contact> contacts{
            person(QStringLiteral("Anna"), QStringLiteral("Berg"), QStringLiteral("111")),
            person(QStringLiteral("Mark"), QStringLiteral("Cole"), QStringLiteral("222")),
            person(QStringLiteral("Zoë"), QStringLiteral("Adams"), QStringLiteral("333"))};
        {
            ProgressObject progress;
            QSignalSpy updates(&progress, &ProgressObject::progressChanged);
            BackupContactsToLocalThread worker(contacts, target.get(), &progress);
            runToEnd(worker, progress);
            QCOMPARE(progress.outcome(), ProgressObject::Outcome::Succeeded);
            QCOMPARE(progress.message(), QStringLiteral("Successfully backed up 3 contacts to the local database."));
            QCOMPARE(updates.size(), 3);
            QCOMPARE(updates.at(0).at(0).toString(), QStringLiteral("Backing up contacts to Local Database"));
            QCOMPARE(updates.at(0).at(1).toInt(), 33);
            QCOMPARE(updates.at(2).at(2).toString(), QStringLiteral("Contacts:3/3"));
        }
        // One namesake of three: two new contacts, one merged; the merged one gains its new phone only.
        pim::Contact again = person(QStringLiteral("anna"), QStringLiteral("berg"), QStringLiteral("999"));
        const QList<pim::Contact> second{again, person(QStringLiteral("New"), QStringLiteral("One")),
                                         person(QStringLiteral("Other"), QStringLiteral("Two"))};
        ProgressObject progress;
        BackupContactsToLocalThread worker(second, target.get(), &progress);
        runToEnd(worker, progress);
        QCOMPARE(
            progress.message(),
            QStringLiteral("Successfully backed up 2 contacts to the local database; 1 repeated contacts merged."));
        QCOMPARE(count(*target, "select count(*) from contact"), 5);
        const QList<pim::Contact> stored = target->listContacts(0, QStringLiteral("Anna Berg"));
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored.first().rows(pim::ENTITY_PHONE).size(), 2);
        QCOMPARE(stored.first().rows(pim::ENTITY_NAME).size(), 1);
    }

    void emptyListWritesNothing()
    {
        auto target = newDb();
        ProgressObject progress;
        BackupContactsToLocalThread worker({}, target.get(), &progress);
        runToEnd(worker, progress);
        QCOMPARE(progress.message(), QStringLiteral("Successfully backed up 0 contacts to the local database."));
        QCOMPARE(count(*target, "select count(*) from contact"), 0);
        QCOMPARE(target->db().tranDepth(), 0);
    }

    void cancelKeepsWhatWasSaved()
    {
        auto target = newDb();
        QList<pim::Contact> contacts;
        for (int i = 0; i < 10; ++i)
            contacts << person(QStringLiteral("P%1").arg(i), QStringLiteral("Q"), QString::number(i));
        CancelAfterChecks progress(4); // four contacts go through, the fifth check sees the cancel
        BackupContactsToLocalThread worker(contacts, target.get(), &progress);
        QSignalSpy finished(&worker, &QThread::finished);
        worker.start();
        QVERIFY(finished.wait(20000));
        QCOMPARE(count(*target, "select count(*) from contact"), 4);
        QCOMPARE(target->db().tranDepth(), 0); // committed, not left open
    }

    void storageFailureRollsEverythingBack()
    {
        auto target = newDb();
        pim::Contact kept = person(QStringLiteral("Already"), QStringLiteral("There"), QStringLiteral("1"));
        target->saveContactWithMerge(kept);
        target->db().executeThrow("create trigger boom before insert on data when new.data1='666' "
                                  "begin select raise(abort, 'disk said no'); end");
        const QList<pim::Contact> contacts{person(QStringLiteral("A"), QStringLiteral("One"), QStringLiteral("1")),
                                           person(QStringLiteral("B"), QStringLiteral("Two"), QStringLiteral("2")),
                                           person(QStringLiteral("C"), QStringLiteral("Three"), QStringLiteral("666")),
                                           person(QStringLiteral("D"), QStringLiteral("Four"), QStringLiteral("4"))};
        ProgressObject progress;
        BackupContactsToLocalThread worker(contacts, target.get(), &progress);
        runToEnd(worker, progress);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Failed);
        QVERIFY2(progress.message().contains(QLatin1String("disk said no")), qPrintable(progress.message()));
        QVERIFY(progress.finishedWithoutSuccess());
        // The database is exactly as before the backup.
        QCOMPARE(count(*target, "select count(*) from contact"), 1);
        QCOMPARE(count(*target, "select count(*) from data"), 2);
        QCOMPARE(target->db().tranDepth(), 0);
    }

    void progressPercentIsClamped_data()
    {
        QTest::addColumn<double>("done");
        QTest::addColumn<double>("total");
        QTest::addColumn<int>("percent");
        QTest::newRow("third") << 1.0 << 3.0 << 33;
        QTest::newRow("all") << 7.0 << 7.0 << 100;
        QTest::newRow("no total") << 0.0 << 0.0 << 0;
        QTest::newRow("over") << 12.0 << 10.0 << 100;
        QTest::newRow("negative") << -1.0 << 10.0 << 0;
    }
    void progressPercentIsClamped()
    {
        QFETCH(double, done);
        QFETCH(double, total);
        QFETCH(int, percent);
        QCOMPARE(ProgressReporter::percent(done, total), percent);
    }
};

QTEST_GUILESS_MAIN(TestBackupThread)
#include "tst_backupthread.moc"
