// Backups written by backup-maker (a process, with its own writing code) in every variant are found under the
// backup roots, unlocked with the right password and refused with a wrong one, and their address-book files come
// out byte-identical to what went in; damaged backups give their errors, and nothing is ever written into a backup
// folder.

#include "core/privatetemp.h"
#include "errorof.h"
#include "itunes/backupmanifest.h"
#include "itunestesthelpers.h"
#include "sqlite_qt/sqlite_qt.h"
#include "temphome.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace itunesfx;

namespace {

// A small PNG, as the address book keeps photos.
const char kPhoto[] =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==";

QByteArray seedCards()
{
    return QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lovelace;Ada;;Countess;\r\nFN:Ada Lovelace\r\n"
                      "ORG:Analytical Engines;Research\r\nTITLE:Programmer\r\nTEL;TYPE=CELL:+44 20 7946 0000\r\n"
                      "item1.TEL:+44 20 7946 0001\r\nitem1.X-ABLabel:Lab\r\nEMAIL;TYPE=WORK:ada@example.org\r\n"
                      "ADR;TYPE=HOME:;;12 St James's Sq;London;;SW1Y 4LB;United Kingdom\r\nBDAY:1815-12-10\r\n"
                      "NOTE:First\\, and famous\r\nPHOTO;ENCODING=b;TYPE=PNG:") +
           kPhoto +
           "\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:Hopper;Grace;Brewster;;\r\nFN:Grace Hopper\r\n"
           "X-SKYPE:amazing.grace\r\nEND:VCARD\r\n";
}

struct Made
{
    QString folder;
    QString udid;
    QMap<QString, QPair<qint64, QByteArray>> stored; // "domain-path" → (size, SHA-1)
};

QString makerPath()
{
    return QStringLiteral(BACKUP_MAKER);
}

// Runs backup-maker into a folder named after the device id under the home folder's second backup root.
Made make(const TempHome &home, const QStringList &options, const QString &name = u"Test iPhone"_s)
{
    const QString seed = home.filePath(u"seed.vcf"_s);
    writeFile(seed, seedCards());
    const QString staging = home.filePath(u"staging"_s);
    QProcess p;
    p.start(makerPath(), QStringList{staging, u"--seed"_s, seed, u"--device-name"_s, name} + options);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        throw std::runtime_error("backup-maker failed: " + p.readAllStandardError().toStdString());
    Made made;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.value(0) == "udid")
            made.udid = QString::fromLatin1(f.value(1));
        else if (f.value(0) == "stored")
            made.stored.insert(QString::fromUtf8(f.mid(4).join(' ')),
                               {f.value(2).toLongLong(), QByteArray::fromHex(f.value(3))});
    }
    made.folder = BackupManifest::backupRoots().constLast() + u'/' + made.udid;
    QDir().mkpath(BackupManifest::backupRoots().constLast());
    QDir().rename(staging, made.folder);
    return made;
}

// The second reader (tools/backup-maker/verify-backup.py, Python's standard library and cryptography package):
// "domain-path" → (size, SHA-1) of every stored file; empty when Python or its cryptography package is missing.
QMap<QString, QPair<qint64, QByteArray>> pythonReader(const QString &folder, const QString &password, bool *ran)
{
    QMap<QString, QPair<qint64, QByteArray>> stored;
    // Debian's python3-cryptography serves /usr/bin/python3; another python3 first in PATH may lack it.
    const QString python = QFileInfo::exists(u"/usr/bin/python3"_s) ? u"/usr/bin/python3"_s : u"python3"_s;
    QProcess p;
    p.start(python, {QStringLiteral(VERIFY_BACKUP), folder, password});
    *ran = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit;
    const QByteArray err = p.readAllStandardError();
    if (*ran && p.exitCode() != 0 && err.contains("No module named 'cryptography'"))
        *ran = false;
    if (!*ran)
        return stored;
    if (p.exitCode() != 0)
        qWarning("verify-backup.py: %s", err.constData());
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() >= 4)
            stored.insert(QString::fromUtf8(f.mid(3).join(' ')),
                          {f.value(1).toLongLong(), QByteArray::fromHex(f.value(2))});
    }
    return stored;
}

QByteArray sha1Of(const QString &path)
{
    return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1);
}

// The persons and the labelled multi-values of an extracted address book, read with the importer's queries.
QStringList persons(const QString &path)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::OpenReadWrite);
    QStringList out;
    Sqlite3Cursor c = db.queryThrow("select rowid, first,last,middle,prefix,suffix,organization,department,jobtitle,"
                                    "note,birthday,nickname from Abperson order by rowid asc");
    while (c.moveNext()) {
        QStringList row;
        for (int i = 1; i < 12; ++i)
            row << c.getText(i);
        Sqlite3Cursor v = db.queryThrow(
            u"select v.UID,v.property,v.value,l.value as subType from abmultivalue as v "
            "inner join abmultivaluelabel as l on v.record_id=%1 and v.label=l.rowid"_s.arg(c.getInt64(0)));
        while (v.moveNext())
            row << v.getText(u"property"_s) + u':' + v.getText(u"value"_s) + u':' + v.getText(u"subType"_s);
        out << row.join(u'|');
    }
    return out;
}

} // namespace

class TestBackupRoundTrip : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("decryptsManifest");
        QTest::newRow("mbdb") << QStringList{u"--layout"_s, u"mbdb"_s} << QString() << false;
        QTest::newRow("mbdb encrypted") << QStringList{u"--layout"_s, u"mbdb"_s,         u"--password"_s,
                                                       u"pässwörd"_s, u"--iterations"_s, u"5"_s}
                                        << u"pässwörd"_s << false;
        QTest::newRow("db") << QStringList{u"--layout"_s, u"db"_s} << QString() << false;
        QTest::newRow("db encrypted, no DPSL")
            << QStringList{u"--password"_s, u"secret"_s, u"--iterations"_s, u"7"_s} << u"secret"_s << false;
        QTest::newRow("db encrypted, DPSL/DPIC")
            << QStringList{u"--password"_s, u"secret"_s, u"--iterations"_s, u"7,9"_s} << u"secret"_s << true;
        QTest::newRow("db encrypted, salted descriptions")
            << QStringList{u"--password"_s, u"secret"_s, u"--iterations"_s, u"3"_s, u"--salted-descriptions"_s}
            << u"secret"_s << false;
    }
    void roundTrip()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, password);
        QFETCH(bool, decryptsManifest);
        TempHome home;
        const Made made = make(home, options);
        const auto before = snapshot(made.folder);

        // What backup-maker says it stored is what a reader written apart from ours finds.
        bool pythonRan = false;
        const auto byPython = pythonReader(made.folder, password, &pythonRan);
        if (pythonRan)
            QCOMPARE(byPython, made.stored);
        else
            qInfo("python3 with the cryptography package is missing: the second reader did not run");

        const QString root = BackupManifest::backupRoots().constLast();
        QCOMPARE(BackupManifest::candidateFolders(root), QStringList{made.folder});
        BackupManifest m(made.folder);
        m.readInfo();
        QCOMPARE(m.displayName(), u"Test iPhone"_s);
        QCOMPARE(m.deviceId(), made.udid);
        QCOMPARE(m.isEncrypted(), !password.isEmpty());
        if (!password.isEmpty()) {
            QVERIFY(!m.setPassword(password + u'x'));
            QVERIFY(!m.setPassword(QString()));
            QVERIFY(m.setPassword(password));
        }
        QCOMPARE(!m.decryptedManifestPath().isEmpty(), decryptsManifest);
        m.load();

        const QTemporaryDir out;
        const BackupFileRecord *records[] = {m.addressBookRecord(), m.addressBookImagesRecord()};
        for (const BackupFileRecord *rec : records) {
            QVERIFY(rec);
            const QString key = rec->domainText() + u'-' + rec->relativePathText();
            QVERIFY2(made.stored.contains(key), qPrintable(key));
            QCOMPARE(qint64(rec->size), made.stored[key].first);
            const QString dest = out.filePath(u"x/"_s + rec->relativePathText().section(u'/', -1));
            QList<qint64> progress;
            m.extractFile(
                rec, dest,
                [](qint64 total, qint64 done, void *list) {
                    static_cast<QList<qint64> *>(list)->append(done);
                    QVERIFY(done <= total);
                },
                &progress);
            QCOMPARE(sha1Of(dest), made.stored[key].second);
            QCOMPARE(QFileInfo(dest).lastModified().toSecsSinceEpoch(), qint64(rec->lastModified));
            // Plain copies report their progress block by block; deciphered ones do not.
            if (password.isEmpty()) {
                QCOMPARE(progress.size(), int((rec->size + 8191) / 8192));
                QCOMPARE(progress.last(), qint64(rec->size));
            }
        }
        QCOMPARE(persons(out.filePath(u"x/AddressBook.sqlitedb"_s)),
                 QStringList({u"Ada|Lovelace||Countess||Analytical Engines|Research|Programmer|First, and famous|"
                              "-5839992000||3:+44 20 7946 0000:_$!<Mobile>!$_|3:+44 20 7946 0001:Lab|"
                              "4:ada@example.org:_$!<Work>!$_|5::_$!<Home>!$_"_s,
                              u"Grace|Hopper|Brewster||||||||"_s}));

        // Nothing was added to the backup folder; the deciphered manifest lives in the manifest's private folder.
        QCOMPARE(snapshot(made.folder), before);
        if (decryptsManifest)
            QVERIFY(m.decryptedManifestPath().startsWith(PrivateTempDir::parentFolder() + u'/'));
    }

    void damagedBackups()
    {
        TempHome home;
        const Made made = make(home, {u"--password"_s, u"pw"_s, u"--iterations"_s, u"3,3"_s});
        const QString mdb = made.folder + u"/Manifest.db"_s;

        { // A wrong password changes nothing; the right one still works afterwards.
            BackupManifest m(made.folder);
            m.readInfo();
            QVERIFY(!m.setPassword(u"PW"_s));
            QVERIFY(m.password().isEmpty());
            QVERIFY(!QFileInfo::exists(made.folder + u"/Manifest-decrypted.db"_s));
            QVERIFY(m.setPassword(u"pw"_s));
            QCOMPARE(m.password(), u"pw"_s);
        }
        { // A corrupt keybag takes no password.
            const QByteArray plist = readFile(made.folder + u"/Manifest.plist"_s);
            PlistCFType root = PlistCFType::fromData(plist);
            root.setItem(u"BackupKeyBag"_s, PlistCFType::fromByteArray("UUID\x00\x00\x00\x02xxWRAP\xff\xff"));
            QVERIFY(writeFile(made.folder + u"/Manifest.plist"_s, root.toXml()));
            BackupManifest broken(made.folder);
            broken.readInfo();
            QVERIFY(!broken.setPassword(u"pw"_s));
            QVERIFY(!broken.setPassword(QString()));
            QVERIFY(writeFile(made.folder + u"/Manifest.plist"_s, plist));
        }
        { // A stored file that is missing, and one that was cut short: errors, no partial output.
            BackupManifest m(made.folder);
            m.readInfo();
            QVERIFY(m.setPassword(u"pw"_s));
            m.load();
            const QTemporaryDir out;
            const QString bookId =
                BackupManifest::fileId(u"HomeDomain"_s, u"Library/AddressBook/AddressBook.sqlitedb"_s);
            const QString stored = made.folder + u'/' + bookId.left(2) + u'/' + bookId;
            const QByteArray content = readFile(stored);
            QVERIFY(writeFile(stored, content.left(content.size() - 16)));
            QVERIFY(errorOf([&] {
                        m.extractFile(m.addressBookRecord(), out.filePath(u"a"_s));
                    }).startsWith(u"BackupManifest::decryptFile: decrypt failed. "_s));
            QVERIFY(!QFileInfo::exists(out.filePath(u"a"_s)));
            QVERIFY(QFile::remove(stored));
            QCOMPARE(errorOf([&] { m.extractFile(m.addressBookRecord(), out.filePath(u"a"_s)); }),
                     u"can not open %1. No such file or directory"_s.arg(stored));
            m.extractFile(nullptr, out.filePath(u"b"_s)); // no record: nothing happens
            QVERIFY(!QFileInfo::exists(out.filePath(u"b"_s)));
        }
        { // A Manifest.db cut short cannot be deciphered: the check throws and keeps no deciphered manifest.
            QVERIFY(writeFile(mdb, readFile(mdb).left(4096)));
            BackupManifest m(made.folder);
            m.readInfo();
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, m.setPassword(u"pw"_s));
            QVERIFY(m.decryptedManifestPath().isEmpty());
            QVERIFY(!QFileInfo::exists(made.folder + u"/Manifest-decrypted.db"_s));
        }
    }

    // A Manifest-decrypted.db planted in the backup folder as a link to one of the user's files was overwritten
    // through the link. Now nothing is written there: the link's target stays as it was, a read-only backup
    // folder imports, and the deciphered manifest goes with the manifest object.
    void nothingIsWrittenIntoTheBackupFolder()
    {
        TempHome home;
        const Made made = make(home, {u"--password"_s, u"pw"_s, u"--iterations"_s, u"3,3"_s});
        const QString victim = home.filePath(u"thesis.txt"_s);
        QVERIFY(writeFile(victim, "years of work"));
        QVERIFY(QFile::link(victim, made.folder + u"/Manifest-decrypted.db"_s));
        QVERIFY(::chmod(QFile::encodeName(made.folder).constData(), 0555) == 0);
        const auto before = snapshot(made.folder);

        QString decrypted;
        {
            BackupManifest m(made.folder);
            m.readInfo();
            QVERIFY(m.setPassword(u"pw"_s));
            m.load();
            QVERIFY(m.addressBookRecord());
            decrypted = m.decryptedManifestPath();
            QVERIFY2(decrypted.startsWith(PrivateTempDir::parentFolder() + u'/'), qPrintable(decrypted));
            QVERIFY(QFileInfo::exists(decrypted));
        }
        QVERIFY(!QFileInfo::exists(decrypted));
        QVERIFY(QDir(PrivateTempDir::parentFolder()).isEmpty());
        ::chmod(QFile::encodeName(made.folder).constData(), 0755);
        QCOMPARE(readFile(victim), QByteArray("years of work"));
        QCOMPARE(snapshot(made.folder), before);
    }

    void damagedMbdbBackup()
    {
        TempHome home;
        const Made made = make(home, {u"--layout"_s, u"mbdb"_s});
        const QString mbdb = made.folder + u"/Manifest.mbdb"_s;
        const QByteArray content = readFile(mbdb);
        QVERIFY(writeFile(mbdb, content.left(content.size() - 7)));
        BackupManifest m(made.folder);
        m.readInfo();
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, m.load());

        QVERIFY(QFile::remove(made.folder + u"/Manifest.plist"_s));
        QVERIFY(BackupManifest::candidateFolders(BackupManifest::backupRoots().constLast()).isEmpty());
        BackupManifest gone(made.folder);
        QCOMPARE(errorOf([&] { gone.readInfo(); }), u"Cannot find "_s + made.folder + u"/Manifest.plist"_s);
    }
};

QTEST_GUILESS_MAIN(TestBackupRoundTrip)
#include "tst_backuproundtrip.moc"
