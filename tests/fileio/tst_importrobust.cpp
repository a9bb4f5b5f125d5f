// Storage faults during an import and strange files in the data folder: a full disk or a database that refuses
// writes half-way rolls the whole import back and reports it; the tool killed mid-import leaves the database
// consistent and as it was; a damaged or foreign .db is reported and never written to. New databases are the
// owner's alone.

#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/progress.h"
#include "core/texts.h"
#include "fileio/fileformats.h"
#include "fileio/importcontactstolocalthread.h"
#include "temphome.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// count cards with a name, a phone and a note of noteBytes letters each.
QByteArray manyCards(int count, int noteBytes, const QString &prefix = u"Person"_s)
{
    QByteArray out;
    const QByteArray note(noteBytes, 'x');
    for (int i = 0; i < count; ++i)
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + prefix.toUtf8() + QByteArray::number(i) + ";Ann\r\nTEL:+1 555 " +
               QByteArray::number(i) + "\r\nNOTE:" + note + "\r\nEND:VCARD\r\n";
    return out;
}

// Every row of the three tables, in key order: equal dumps mean equal contents.
QStringList dump(Sqlite3DB &db)
{
    QStringList rows;
    for (const char *table : {"contact", "data", "contact_group"}) {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(u"select * from %1 order by _id"_s.arg(QLatin1String(table))));
        while (c.moveNext()) {
            QStringList cells{QLatin1String(table)};
            for (int i = 0; i < c.columnCount(); ++i)
                cells << (c.isNull(i) ? u"<null>"_s : c.getText(i));
            rows << cells.join(u'|');
        }
    }
    return rows;
}

QString integrity(Sqlite3DB &db)
{
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("pragma integrity_check"));
    return c.moveNext() ? c.getText(0) : QString();
}

void runToEnd(QThread &worker)
{
    worker.start();
    QVERIFY(worker.wait(120000));
    QCoreApplication::sendPostedEvents();
}

struct CliResult
{
    int code;
    QByteArray out;
    QByteArray err;
};

CliResult cli(const TempHome &home, const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, home.path());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CONTACT_MOVER_CLI_EXE), args);
    if (!p.waitForFinished(120000))
        return {-1, {}, "timed out"};
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

} // namespace

class TestImportRobust : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LocalDb> m_db;

    // The database with two stored contacts; returns its dump.
    QStringList seed()
    {
        m_db->saveContactWithMerge([] {
            pim::Contact c;
            c.full_name = u"Anna Berg"_s;
            pim::DataRow name;
            name.setValue(u"data2"_s, u"Anna"_s);
            name.setValue(u"data3"_s, u"Berg"_s);
            c.entities[pim::ENTITY_NAME].append(name);
            pim::DataRow phone;
            phone.setValue(u"data1"_s, u"111"_s);
            phone.setValue(u"data2"_s, 2);
            c.entities[pim::ENTITY_PHONE].append(phone);
            return c;
        }());
        return dump(m_db->db());
    }

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_db = std::make_unique<LocalDb>(m_dir->filePath(u"target.db"_s), PContactCombineRule(new LocalDbCombineRule));
        m_db->createFromTemplate();
    }
    void cleanup()
    {
        m_db.reset();
        m_dir.reset();
    }

    // The disk fills up after some contacts went in (the page limit stands for the disk's end); and a database
    // that refuses every write (read-only: query_only, since a test run as root writes any file whatever its
    // mode). Both end as a reported failure with nothing of the import left.
    void storageFailureRollsBack_data()
    {
        QTest::addColumn<QString>("pragma");
        QTest::addColumn<QString>("expected");
        QTest::newRow("disk full") << u"max_page_count"_s << u"full"_s;
        QTest::newRow("read-only") << u"query_only"_s << u"readonly"_s;
    }
    void storageFailureRollsBack()
    {
        QFETCH(QString, pragma);
        QFETCH(QString, expected);
        const QStringList before = seed();
        const QString file = m_dir->filePath(u"many.vcf"_s);
        QVERIFY(writeFile(file, manyCards(400, 600)));
        if (pragma == u"max_page_count") {
            Sqlite3Cursor pages = m_db->db().queryThrow(Sqlite3Sql("pragma page_count"));
            QVERIFY(pages.moveNext());
            // Room for a few dozen contacts, not for 400.
            m_db->db().queryThrow(Sqlite3Sql(u"pragma max_page_count=%1"_s.arg(pages.getInt64(0) + 20)));
        } else {
            m_db->db().executeThrow(Sqlite3Sql("pragma query_only=1"));
        }

        ProgressObject progress;
        int lastPercent = 0;
        connect(&progress, &ProgressObject::progressChanged, this,
                [&lastPercent](const QString &, int value, const QString &) { lastPercent = value; });
        ImportContactsToLocalThread worker(file, fileio::ImportVCard, m_db.get(), &progress);
        runToEnd(worker);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Failed);
        QVERIFY2(progress.message().contains(expected, Qt::CaseInsensitive), qPrintable(progress.message()));
        if (pragma == u"max_page_count")
            QVERIFY2(lastPercent > 0 && lastPercent < 100, "the disk filled before or after the import");

        m_db->db().executeThrow(Sqlite3Sql("pragma query_only=0"));
        QCOMPARE(integrity(m_db->db()), u"ok"_s);
        QCOMPARE(dump(m_db->db()), before);
        // The same connection goes on working once there is room again.
        m_db->db().queryThrow(Sqlite3Sql("pragma max_page_count=1073741823"));
        ProgressObject again;
        ImportContactsToLocalThread retry(file, fileio::ImportVCard, m_db.get(), &again);
        runToEnd(retry);
        QCOMPARE(again.outcome(), ProgressObject::Outcome::Succeeded);
        QCOMPARE(m_db->listContacts(0, QString()).size(), 401);
    }

    // SIGKILL in the middle of the import's transaction: the next open finds the journal, rolls it back, and the
    // database is whole and holds exactly what it held before.
    void killedImportLeavesDatabaseAsItWas()
    {
        TempHome home;
        const QString small = home.filePath(u"small.vcf"_s);
        QVERIFY(writeFile(small, manyCards(3, 10, u"Kept"_s)));
        QCOMPARE(cli(home, {u"import"_s, small, u"--format"_s, u"vcf"_s, u"--db"_s, u"Book"_s}).code, 0);
        const QString path = LocalDbFiles::pathFor(u"Book.db"_s);
        QStringList before;
        {
            Sqlite3DB db;
            db.openThrow(path, Sqlite3DB::OpenReadWrite);
            before = dump(db);
        }
        QCOMPARE(before.filter(QRegularExpression(u"^contact\\|"_s)).size(), 3);

        const QString big = home.filePath(u"big.vcf"_s);
        QVERIFY(writeFile(big, manyCards(30000, 200)));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, home.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CONTACT_MOVER_CLI_EXE),
                {u"import"_s, big, u"--format"_s, u"vcf"_s, u"--db"_s, u"Book"_s});
        QVERIFY(p.waitForStarted());
        // Wait until a good part of the contacts went into the open transaction.
        static const QRegularExpression progressLine(u"Contacts: ?(\\d+)/30000"_s);
        QByteArray err;
        int done = 0;
        QElapsedTimer timer;
        timer.start();
        while (done < 3000 && p.state() == QProcess::Running && timer.elapsed() < 100000) {
            p.waitForReadyRead(200);
            err += p.readAllStandardError();
            const qsizetype lastLine = err.lastIndexOf('\n', err.size() - 2);
            const QRegularExpressionMatch m = progressLine.match(QString::fromUtf8(err.mid(lastLine + 1)));
            if (m.hasMatch())
                done = m.captured(1).toInt();
            if (err.size() > 1 << 20)
                err = err.right(4096);
        }
        QVERIFY2(p.state() == QProcess::Running && done >= 3000, "the import ended before it could be killed");
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QVERIFY2(QFile::exists(path + u"-journal"_s) || QFile::exists(path + u"-wal"_s),
                 "no journal: the kill did not land inside the transaction");

        Sqlite3DB db;
        db.openThrow(path, Sqlite3DB::OpenReadWrite);
        QCOMPARE(integrity(db), u"ok"_s);
        QCOMPARE(dump(db), before);
        db.close();
        // And the tool reads it as before.
        const CliResult listed = cli(home, {u"list"_s, u"--db"_s, u"Book"_s});
        QCOMPARE(listed.code, 0);
        QCOMPARE(listed.out.count('\n'), 3);
    }

    // A file that is no SQLite database at all, and a SQLite database of another program, lie in the data
    // folder: listing, reading and importing into them fail with a message and leave their bytes as they were;
    // the good database beside them is still listed.
    void strangeFilesAreReportedAndLeftAlone()
    {
        TempHome home;
        const QString good = home.filePath(u"good.vcf"_s);
        QVERIFY(writeFile(good, manyCards(2, 10)));
        QCOMPARE(cli(home, {u"import"_s, good, u"--format"_s, u"vcf"_s, u"--db"_s, u"Good"_s}).code, 0);

        const QString broken = LocalDbFiles::pathFor(u"Broken.db"_s);
        QByteArray garbage = "SQLite format 3";
        garbage.append('\0');
        garbage.append(QCryptographicHash::hash("noise", QCryptographicHash::Sha512).repeated(64));
        QVERIFY(writeFile(broken, garbage));
        const QString foreign = LocalDbFiles::pathFor(u"Foreign.db"_s);
        {
            Sqlite3DB db;
            db.openThrow(foreign, Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
            db.executeThrow(Sqlite3Sql("create table notes(id integer primary key, body text)"));
            db.executeThrow(Sqlite3Sql("insert into notes(body) values('keep me')"));
        }
        const QByteArray brokenBytes = readFile(broken);
        const QByteArray foreignBytes = readFile(foreign);
        const auto untouched = [&] {
            QCOMPARE(readFile(broken), brokenBytes);
            QCOMPARE(readFile(foreign), foreignBytes);
            const QStringList left = QDir(DataFolder::localDbDir()).entryList(QDir::Files);
            QCOMPARE(left, (QStringList{u"Broken.db"_s, u"Foreign.db"_s, u"Good.db"_s}));
        };

        const CliResult dbs = cli(home, {u"dbs"_s});
        QVERIFY2(dbs.out.contains("Good.db\t2"), dbs.out + dbs.err);
        QVERIFY2(dbs.err.contains("Broken.db") && dbs.err.contains("Foreign.db"), dbs.err);
        QCOMPARE(dbs.code, 1);
        untouched();

        for (const QString &name : {u"Broken"_s, u"Foreign"_s}) {
            const CliResult list = cli(home, {u"list"_s, u"--db"_s, name});
            QCOMPARE(list.code, 1);
            QVERIFY2(!list.err.isEmpty(), qPrintable(name));
            const CliResult import = cli(home, {u"import"_s, good, u"--format"_s, u"vcf"_s, u"--db"_s, name});
            QCOMPARE(import.code, 1);
            QVERIFY2(!import.err.isEmpty(), qPrintable(name));
            untouched();
        }
    }

    // A new database, local or a device's cache, is readable and writable by its owner only, and so are the
    // journal files SQLite makes beside it.
    void newDatabasesAreOwnerOnly()
    {
        const mode_t oldMask = ::umask(022);
        LocalDb db(m_dir->filePath(u"new.db"_s), PContactCombineRule(new LocalDbCombineRule));
        db.createFromTemplate();
        db.beginTransaction();
        db.saveContactWithMerge([] {
            pim::Contact c;
            c.full_name = u"Anna"_s;
            pim::DataRow name;
            name.setValue(u"data2"_s, u"Anna"_s);
            c.entities[pim::ENTITY_NAME].append(name);
            return c;
        }());
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(db.path()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
        QCOMPARE(::stat(QFile::encodeName(db.path() + u"-journal"_s).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
        db.endTransaction(true);
        ::umask(oldMask);
    }
};

QTEST_GUILESS_MAIN(TestImportRobust)
#include "tst_importrobust.moc"
