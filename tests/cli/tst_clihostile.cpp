// Hostile files, backups and databases, and careless command lines, through the real command line tool: nothing
// is written outside the program's folders, nothing is lost, every long step can be cancelled, and every failure
// says what failed and where.

#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/privatetemp.h"
#include "ios/plistcftype.h"
#include "programrun.h"
#include "sqlite_qt/sqlite_qt.h"
#include "temphome.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Result = ProcessResult;

QProcessEnvironment environmentFor(const TempHome &home)
{
    return homeEnvironment(home.path());
}

Result cli(const TempHome &home, const QStringList &args, int timeoutMs = 30000)
{
    return runProgram(QStringLiteral(CONTACT_MOVER_CLI_EXE), args, environmentFor(home), timeoutMs);
}

QByteArray cards(int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Person" + QByteArray::number(i) + ";Anna;;;\r\nTEL:+1 555 " +
               QByteArray::number(100000 + i) + "\r\nEND:VCARD\r\n";
    return out;
}

// A local database with `count` contacts, made by the tool's own import.
QString databaseWith(const TempHome &home, const QString &name, int count)
{
    const QString vcf = home.filePath(name + u".vcf"_s);
    writeFile(vcf, cards(count));
    const Result r = cli(home, {u"import"_s, vcf, u"--format"_s, u"vcf"_s, u"--db"_s, name});
    if (r.code != 0)
        qWarning("import failed: %s", r.err.constData());
    return LocalDbFiles::pathFor(name + u".db"_s);
}

// Runs backup-maker into the second backup root; returns the backup's folder.
QString makeBackup(const TempHome &home, const QStringList &options, int contacts = 2)
{
    const QString seed = home.filePath(u"seed.vcf"_s);
    writeFile(seed, cards(contacts));
    const QString staging = home.filePath(u"staging"_s);
    QProcess p;
    p.start(QStringLiteral(BACKUP_MAKER), QStringList{staging, u"--seed"_s, seed} + options);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return QString();
    QString udid;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n'))
        if (line.startsWith("udid "))
            udid = QString::fromLatin1(line.mid(5));
    const QString root = home.path() + u"/Apple/MobileSync/Backup"_s;
    QDir().mkpath(root);
    const QString folder = root + u'/' + udid;
    return QDir().rename(staging, folder) ? folder : QString();
}

QStringList everythingIn(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

// Runs the tool as a child of its own (not through QProcess, which reaps its children itself) and returns its
// exit code and peak resident memory in kilobytes.
std::pair<int, long> measured(const TempHome &home, const QStringList &args)
{
    QList<QByteArray> argv{QByteArray(CONTACT_MOVER_CLI_EXE)};
    for (const QString &a : args)
        argv << QFile::encodeName(a);
    std::vector<char *> pointers;
    for (QByteArray &a : argv)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    const QByteArray homeVariable = "HOME=" + QFile::encodeName(home.path());
    const pid_t child = ::fork();
    if (child == 0) {
        ::putenv(const_cast<char *>(homeVariable.constData()));
        ::freopen("/dev/null", "w", stderr);
        ::freopen("/dev/null", "w", stdout);
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage
    {
    };
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status))
        return {-1, 0};
    return {WEXITSTATUS(status), usage.ru_maxrss};
}

} // namespace

class TestCliHostile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // An export whose output is a database of the data folder (the source itself, another one, or the same file
    // reached through a link) would destroy it: refused before anything is written.
    void exportOverADatabaseIsRefused_data()
    {
        QTest::addColumn<int>("target"); // 0: the source, 1: another database, 2: hard link, 3: symbolic link
        QTest::newRow("the source itself") << 0;
        QTest::newRow("another database of the data folder") << 1;
        QTest::newRow("a hard link to the source") << 2;
        QTest::newRow("a symbolic link to the source") << 3;
    }
    void exportOverADatabaseIsRefused()
    {
        QFETCH(int, target);
        TempHome home;
        const QString source = databaseWith(home, u"Work"_s, 3);
        const QString other = databaseWith(home, u"Home"_s, 2);
        QString out = target == 0 ? source : target == 1 ? other : home.filePath(u"contacts.vcf"_s);
        if (target == 2)
            QCOMPARE(::link(QFile::encodeName(source).constData(), QFile::encodeName(out).constData()), 0);
        if (target == 3)
            QVERIFY(QFile::link(source, out));
        const QByteArray sourceBytes = readFile(source);
        const QByteArray otherBytes = readFile(other);

        for (const QString &format : {u"vcf"_s, u"csv"_s, u"pdf"_s}) {
            const Result r = cli(home, {u"export"_s, u"--db"_s, u"Work"_s, u"--format"_s, format, out});
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.contains("is a database of this program"), r.err.constData());
        }
        QCOMPARE(readFile(source), sourceBytes);
        QCOMPARE(readFile(other), otherBytes);
    }

    // A database open in another process (here: this test) is not deleted; once closed, it is.
    void deleteDbRefusesADatabaseInUse()
    {
        TempHome home;
        const QString path = databaseWith(home, u"Busy"_s, 2);
        {
            LocalDb held(path, PContactCombineRule(new LocalDbCombineRule));
            QCOMPARE(held.countContacts(), 2);
            const Result r = cli(home, {u"delete-db"_s, u"Busy"_s});
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.contains("is in use"), r.err.constData());
            QVERIFY(QFileInfo::exists(path));
            QCOMPARE(held.countContacts(), 2);
        }
        const Result r = cli(home, {u"delete-db"_s, u"Busy"_s});
        QCOMPARE(r.code, 0);
        QVERIFY(!QFileInfo::exists(path));
    }

    // Names that make hidden, empty or misleading files are refused with the reason; nothing is created.
    void badDatabaseNamesAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("dot") << u"."_s << QByteArray("hidden file");
        QTest::newRow("dot dot") << u".."_s << QByteArray("hidden file");
        QTest::newRow(".db") << u".db"_s << QByteArray("hidden file");
        QTest::newRow("hidden") << u".secret"_s << QByteArray("hidden file");
        QTest::newRow("control character") << u"a\u0001b"_s << QByteArray("U+0001");
        QTest::newRow("escape") << u"a\u001b[31mred"_s << QByteArray("U+001B");
        QTest::newRow("right-to-left override") << u"invoice\u202Efdp.exe"_s << QByteArray("U+202E");
        QTest::newRow("isolate") << u"x\u2067y"_s << QByteArray("U+2067");
        QTest::newRow("blank") << u"   "_s << QByteArray("enter a new Database name");
    }
    void badDatabaseNamesAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, reason);
        TempHome home;
        const Result r = cli(home, {u"create-db"_s, name});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(reason), r.err.constData());
        QCOMPARE(everythingIn(DataFolder::localDbDir()), QStringList());
    }

    // Output that cannot be written says why and where, and is not reported as a success: a device that is
    // always full, and a file that may not grow past 4 KB (as a full disk refuses).
    void failedWritesSayWhatFailed()
    {
        TempHome home;
        databaseWith(home, u"Work"_s, 300);
        Result r = cli(home, {u"export"_s, u"--db"_s, u"Work"_s, u"--format"_s, u"vcf"_s, u"/dev/full"_s});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("/dev/full") && r.err.contains("No space left on device"), r.err.constData());
        QVERIFY(r.out.isEmpty());
        struct stat device
        {
        };
        QCOMPARE(::stat("/dev/full", &device), 0);
        QVERIFY(S_ISCHR(device.st_mode));

        const QString out = home.filePath(u"out.vcf"_s);
        QProcess p;
        p.setProcessEnvironment(environmentFor(home));
        // ulimit -f counts 1 KB blocks here; SIGXFSZ is ignored so the write fails with EFBIG instead of ending
        // the process.
        p.start(u"/bin/sh"_s,
                {u"-c"_s, u"ulimit -f 4; trap '' XFSZ; exec \"$0\" \"$@\""_s, QStringLiteral(CONTACT_MOVER_CLI_EXE),
                 u"export"_s, u"--db"_s, u"Work"_s, u"--format"_s, u"vcf"_s, out});
        QVERIFY(p.waitForFinished(30000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains(QFile::encodeName(out)) && err.contains("File too large"), err.constData());
        QVERIFY(!err.contains("Unknown error"));
        QVERIFY(!QFileInfo::exists(out));
    }

    // A truncated Manifest.mbdb names the file and the truncation.
    void truncatedFileTableSaysSo()
    {
        TempHome home;
        const QString folder = makeBackup(home, {u"--layout"_s, u"mbdb"_s});
        QVERIFY(!folder.isEmpty());
        const QByteArray mbdb = readFile(folder + u"/Manifest.mbdb"_s);
        QVERIFY(writeFile(folder + u"/Manifest.mbdb"_s, mbdb.left(mbdb.size() - 9)));
        const Result r = cli(home, {u"itunes-import"_s, folder});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("Manifest.mbdb: the file table is truncated"), r.err.constData());
        QVERIFY(LocalDbFiles::list().isEmpty());
    }

    // One backup whose description nests 100,000 lists deep ended the tool and hid every backup; now it is
    // reported and the others are listed.
    void deeplyNestedBackupHidesNothing()
    {
        TempHome home;
        const QString good = makeBackup(home, {u"--layout"_s, u"db"_s, u"--device-name"_s, u"Good Phone"_s});
        QVERIFY(!good.isEmpty());
        const QString bad = QFileInfo(good).absolutePath() + u"/deep"_s;
        QVERIFY(QDir().mkpath(bad));
        QVERIFY(writeFile(bad + u"/Manifest.db"_s, "x"));
        QVERIFY(writeFile(bad + u"/Manifest.plist"_s, "<?xml version=\"1.0\"?><plist version=\"1.0\">" +
                                                          QByteArray("<array>").repeated(100000) +
                                                          QByteArray("</array>").repeated(100000) + "</plist>"));
        const Result r = cli(home, {u"itunes-backups"_s});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains("Good Phone"), r.out.constData());
        QVERIFY2(r.err.contains("deep/Manifest.plist is damaged"), r.err.constData());
    }

    // A database whose contact table is an endless view hung "dbs" and hid every other database: it is named as
    // damaged at once and the others are counted.
    void endlessViewInTheDataFolder()
    {
        TempHome home;
        databaseWith(home, u"Good"_s, 3);
        {
            Sqlite3DB db;
            db.openThrow(LocalDbFiles::pathFor(u"Trap.db"_s), Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
            db.executeThrow("CREATE TABLE data (_id INTEGER PRIMARY KEY, contact_id INTEGER, type INTEGER, "
                            "src_id TEXT, data1 TEXT, data15 BLOB)");
            db.executeThrow("CREATE TABLE contact_group (_id INTEGER PRIMARY KEY, name TEXT)");
            db.executeThrow("CREATE VIEW contact AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM r "
                            "WHERE n < 5000000) SELECT n AS _id, '' AS src_id, 'x' AS full_name FROM r");
            db.executeThrow("INSERT INTO data (contact_id, type, data1) VALUES (1, 1, 'x')");
        }
        QElapsedTimer clock;
        clock.start();
        const Result r = cli(home, {u"dbs"_s});
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(r.code, 1);
        QCOMPARE(r.out, QByteArray("Good.db\t3\n"));
        QVERIFY2(r.err.contains("Trap.db") && r.err.contains("contact is a view"), r.err.constData());
    }

    // 100,000 one-line cards: the import held every contact (17 times the file); now it stays within three times
    // the file plus 100 MB, and the export reads the rows a batch at a time.
    void largeFilesStayWithinMemory()
    {
        TempHome home;
        const int count = 100000;
        QByteArray file;
        for (int i = 0; i < count; ++i)
            file += "BEGIN:VCARD\nFN:P" + QByteArray::number(i) + "\nTEL:" + QByteArray::number(5550000 + i) +
                    "\nEND:VCARD\n";
        const QString vcf = home.filePath(u"many.vcf"_s);
        QVERIFY(writeFile(vcf, file));
        const long limitKb = (3 * file.size() + 100 * 1024 * 1024) / 1024;
        const auto [imported, importKb] =
            measured(home, {u"import"_s, vcf, u"--format"_s, u"vcf"_s, u"--db"_s, u"Many"_s});
        QCOMPARE(imported, 0);
        QVERIFY2(importKb < limitKb, qPrintable(u"import: %1 KB, limit %2 KB"_s.arg(importKb).arg(limitKb)));
        const Result dbs = cli(home, {u"dbs"_s});
        QCOMPARE(dbs.out, QByteArray("Many.db\t100000\n"));
        const QString csv = home.filePath(u"many.csv"_s);
        const auto [exported, exportKb] =
            measured(home, {u"export"_s, u"--db"_s, u"Many"_s, u"--format"_s, u"csv"_s, csv});
        QCOMPARE(exported, 0);
        QVERIFY2(exportKb < limitKb, qPrintable(u"export: %1 KB, limit %2 KB"_s.arg(exportKb).arg(limitKb)));
        QCOMPARE(readFile(csv).count('\n'), count + 1);
    }

    // SIGTERM during the password check of a backup with ten million iterations ends it at once as a cancel.
    void passwordCheckCancels()
    {
        TempHome home;
        const QString folder = makeBackup(home, {u"--password"_s, u"pw"_s, u"--iterations"_s, u"3,3"_s});
        QVERIFY(!folder.isEmpty());
        // The keybag's DPIC raised to what iOS writes: the derivation now takes seconds.
        const QString manifest = folder + u"/Manifest.plist"_s;
        PlistCFType root = PlistCFType::fromData(readFile(manifest));
        QByteArray keybag = root.item(u"BackupKeyBag"_s).toByteArray();
        const QByteArray dpic = QByteArray("DPIC") + QByteArray::fromHex("00000004");
        const qsizetype at = keybag.indexOf(dpic);
        QVERIFY(at >= 0);
        keybag.replace(at + 8, 4, QByteArray::fromHex("00989680")); // 10,000,000
        root.setItem(u"BackupKeyBag"_s, PlistCFType::fromByteArray(keybag));
        QVERIFY(writeFile(manifest, root.toXml()));
        writeFile(home.filePath(u"pw.txt"_s), "pw\n");

        QProcess p;
        p.setProcessEnvironment(environmentFor(home));
        p.start(QStringLiteral(CONTACT_MOVER_CLI_EXE),
                {u"itunes-import"_s, folder, u"--password-file"_s, home.filePath(u"pw.txt"_s)});
        QVERIFY(p.waitForStarted());
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("Verifying"), 10000);
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 3);
        QVERIFY(LocalDbFiles::list().isEmpty());
    }

    // Two signals (Ctrl-C, then SIGTERM) during an encrypted import end the tool at once, and the deciphered copies go
    // with it: none in the data folder's private folder, none in the shared temporary folder.
    void secondSignalLeavesNoDecipheredCopies()
    {
        TempHome home;
        const QString folder = makeBackup(home, {u"--password"_s, u"pw"_s, u"--iterations"_s, u"3,3"_s}, 6000);
        QVERIFY(!folder.isEmpty());
        writeFile(home.filePath(u"pw.txt"_s), "pw\n");
        QTemporaryDir shared;
        QProcess p;
        QProcessEnvironment env = environmentFor(home);
        env.insert(u"TMPDIR"_s, shared.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CONTACT_MOVER_CLI_EXE),
                {u"itunes-import"_s, folder, u"--password-file"_s, home.filePath(u"pw.txt"_s)});
        QVERIFY(p.waitForStarted());
        // Once the deciphered address book is there, two signals in a row.
        const QString privateFolders = PrivateTempDir::parentFolder();
        const auto bookThere = [&] {
            const QStringList files = everythingIn(privateFolders);
            return std::any_of(files.cbegin(), files.cend(),
                               [](const QString &f) { return f.endsWith(u"/AddressBook.sqlitedb"_s); });
        };
        QElapsedTimer clock;
        clock.start();
        while (!bookThere() && p.state() == QProcess::Running && clock.elapsed() < 30000)
            QTest::qWait(2);
        QVERIFY2(p.state() == QProcess::Running, "the import ended before it could be interrupted");
        // Two different signals: two of the same kind sent at once may arrive as one.
        ::kill(pid_t(p.processId()), SIGINT);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit); // ended by the signal
        QCOMPARE(everythingIn(privateFolders), QStringList());
        QCOMPARE(everythingIn(shared.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCliHostile)
#include "tst_clihostile.moc"
