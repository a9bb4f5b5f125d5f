// The backup reader on hand-made fixtures and outside test vectors: file ids and stored paths, backup roots,
// descriptions, both file tables, the keybag, key derivation and unwrap (hashcat's iTunes-backup example hashes,
// RFC 3394), and the ciphers (NIST SP 800-38A CBC vectors).

#include "core/progress.h"
#include "core/texts.h"
#include "errorof.h"
#include "itunes/backupmanifest.h"
#include "itunes/keybag.h"
#include "itunes/loadbackupmanifestthread.h"
#include "itunes/qopensslevpaes.h"
#include "itunestesthelpers.h"
#include "sqlite_qt/sqlite_qt.h"
#include "temphome.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>
#include <utility>

#include <openssl/evp.h>

#include <sys/time.h>

using namespace Qt::StringLiterals;
using namespace itunesfx;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray sequence(int n)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char(i);
    return b;
}

// The plaintext of NIST SP 800-38A, F.2 (four blocks).
const char kSp800Plain[] = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                           "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

// A binary property list of `depth` arrays, each holding the next (the last one empty); with `fanOut` 2 every
// array holds its child twice, so the list unfolds into 2^depth arrays.
QByteArray nestedBinaryPlist(int depth, int fanOut = 1)
{
    QByteArray out("bplist00");
    QList<quint32> offsets;
    for (int i = 0; i < depth; ++i) {
        offsets << quint32(out.size());
        if (i + 1 == depth) {
            out += char(0xA0);
            continue;
        }
        out += char(0xA0 | fanOut);
        for (int k = 0; k < fanOut; ++k)
            out += be32(quint32(i + 1));
    }
    const quint32 table = quint32(out.size());
    for (quint32 offset : std::as_const(offsets))
        out += be32(offset);
    out += QByteArray(6, '\0') + char(4) + char(4);
    out += QByteArray(4, '\0') + be32(quint32(depth)); // objects
    out += QByteArray(8, '\0');                        // the top object: 0
    out += QByteArray(4, '\0') + be32(table);
    return out;
}

QByteArray nestedXmlPlist(int depth)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" +
           QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth) + "</plist>\n";
}

// A keybag with one password-wrapped class and the given counts (DPIC left out when 0).
QByteArray keybagWith(quint32 iter, quint32 dpic)
{
    QByteArray bag = tlv("VERS", be32(3)) + tlv("TYPE", be32(1)) + tlv("UUID", QByteArray(16, 'u')) +
                     tlv("WRAP", be32(0)) + tlv("SALT", QByteArray(20, 's')) + tlv("ITER", be32(iter));
    if (dpic)
        bag += tlv("DPIC", be32(dpic)) + tlv("DPSL", QByteArray(20, 'd'));
    return bag + tlv("UUID", QByteArray(16, 'a')) + tlv("CLAS", be32(1)) + tlv("WRAP", be32(3)) +
           tlv("WPKY", QByteArray(40, 'w'));
}

} // namespace

class TestItunes : public QObject
{
    Q_OBJECT

    TempHome m_home; // private folders of the manifests go into its data folder

private Q_SLOTS:
    // The ids real backups use for the two address-book files, and where the two layouts keep a stored file.
    void fileIdsAndStoredPaths()
    {
        QCOMPARE(BackupManifest::fileId(u"HomeDomain"_s, u"Library/AddressBook/AddressBook.sqlitedb"_s),
                 u"31bb7ba8914766d4ba40d6dfb6113c8b614be442"_s);
        QCOMPARE(BackupManifest::fileId(u"HomeDomain"_s, u"Library/AddressBook/AddressBookImages.sqlitedb"_s),
                 u"cd6702cea29fe89cf280a76794405adb17f9a0ee"_s);
        // UTF-8 of the whole text, not Latin-1.
        QCOMPARE(BackupManifest::fileId(u"AppDomain-x"_s, u"Dokumente/Bücher.txt"_s),
                 QString::fromLatin1(
                     QCryptographicHash::hash(u"AppDomain-x-Dokumente/Bücher.txt"_s.toUtf8(), QCryptographicHash::Sha1)
                         .toHex()));

        QTemporaryDir dir;
        const QDir folder(dir.path());
        const QString id = u"0a1b2c3d4e5f60718293a4b5c6d7e8f901234567"_s;
        QVERIFY(writeFile(dir.filePath(u"Manifest.db"_s), "x"));
        QVERIFY(BackupManifest::usesHashedFolders(folder));
        QCOMPARE(BackupManifest::storedFilePath(folder, id, false), dir.filePath(u"0a/"_s + id));
        QVERIFY(!QFileInfo::exists(dir.filePath(u"0a"_s)));
        BackupManifest::storedFilePath(folder, id, true);
        QVERIFY(QFileInfo(dir.filePath(u"0a"_s)).isDir());

        QVERIFY(writeFile(dir.filePath(u"Manifest.mbdb"_s), "x"));
        QVERIFY(!BackupManifest::usesHashedFolders(folder));
        QCOMPARE(BackupManifest::storedFilePath(folder, id, false), dir.filePath(id));
    }

    void backupRootsAndCandidates()
    {
        TempHome home;
        QCOMPARE(BackupManifest::backupRoots(),
                 QStringList({home.filePath(u"Application Data/Apple Computer/MobileSync/Backup"_s),
                              home.filePath(u"Apple/MobileSync/Backup"_s)}));
        QDir().mkpath(home.filePath(u"AppData/Roaming"_s));
        const QString root = BackupManifest::backupRoots().constFirst();
        QCOMPARE(root, home.filePath(u"AppData/Roaming/Apple Computer/MobileSync/Backup"_s));

        // Three backups with chosen ages, one folder without Manifest.plist, one without a file table, a file.
        const QDateTime now = QDateTime::currentDateTime();
        const QList<QPair<QString, int>> backups = {{u"new"_s, 10}, {u"old"_s, 1000}, {u"middle"_s, 100}};
        for (const auto &[name, age] : backups) {
            QVERIFY(writeFile(root + u'/' + name + u"/Manifest.plist"_s, "x"));
            QVERIFY(writeFile(root + u'/' + name + (name == u"old" ? u"/Manifest.mbdb"_s : u"/Manifest.db"_s), "x"));
        }
        QVERIFY(writeFile(root + u"/no-plist/Manifest.db"_s, "x"));
        QVERIFY(writeFile(root + u"/no-table/Manifest.plist"_s, "x"));
        QVERIFY(writeFile(root + u"/a-file"_s, "x"));
        for (const auto &[name, age] : backups) {
            const qint64 when = now.addSecs(-age).toSecsSinceEpoch();
            const struct timeval times[2] = {{time_t(when), 0}, {time_t(when), 0}};
            QCOMPARE(::utimes(QFile::encodeName(root + u'/' + name).constData(), times), 0);
        }
        QCOMPARE(BackupManifest::candidateFolders(root),
                 QStringList({root + u"/old"_s, root + u"/middle"_s, root + u"/new"_s}));
        QVERIFY(BackupManifest::candidateFolders(home.filePath(u"nowhere"_s)).isEmpty());
    }

    void readInfo_data()
    {
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<QString>("udid");
        QTest::addColumn<QString>("displayName");
        QTest::newRow("named after the device")
            << u"00008101-000A1B2C3D4E001E"_s << u"00008101-000A1B2C3D4E001E"_s << u"Phone"_s;
        QTest::newRow("id inside the name")
            << u"00008101-000A1B2C3D4E001E-20240102"_s << u"00008101-000A1B2C3D4E001E"_s << u"Phone-20240102"_s;
        QTest::newRow("other name") << u"abc"_s << u"00008101-000A1B2C3D4E001E"_s << u"Phone-abc"_s;
        // Without a device id nothing is replaced (an empty id is "contained" in every name).
        QTest::newRow("no device id") << u"abc"_s << QString() << u"Phone-abc"_s;
    }
    void readInfo()
    {
        QFETCH(QString, folderName);
        QFETCH(QString, udid);
        QFETCH(QString, displayName);
        QTemporaryDir dir;
        const QString folder = dir.filePath(folderName);
        const QDateTime date(QDate(2021, 3, 4), QTime(5, 6, 7));
        QVERIFY(writeFile(folder + u"/Manifest.plist"_s, manifestPlist(udid, u"Phone"_s, date, true, "KB", "MK")));

        BackupManifest m(folder);
        m.readInfo();
        QCOMPARE(m.displayName(), displayName);
        QCOMPARE(m.deviceId(), udid);
        QCOMPARE(m.deviceName(), u"Phone"_s);
        QCOMPARE(m.productType(), u"iPhone12,1"_s);
        QCOMPARE(m.productVersion(), u"14.3"_s);
        QCOMPARE(m.serialNumber(), u"F2LXYZ"_s);
        QVERIFY(m.isEncrypted());
        QCOMPARE(m.backupDate(), date);

        // Status.plist's modification time wins over the description's date.
        const QDateTime statusTime = QDateTime::currentDateTime().addDays(-3);
        QVERIFY(writeFile(folder + u"/Status.plist"_s, "x"));
        QFile status(folder + u"/Status.plist"_s);
        QVERIFY(status.open(QIODevice::ReadOnly));
        QVERIFY(status.setFileTime(statusTime, QFileDevice::FileModificationTime));
        BackupManifest again(folder);
        again.readInfo();
        QCOMPARE(again.backupDate().toSecsSinceEpoch(), statusTime.toSecsSinceEpoch());
    }

    void readInfoWithoutManifestPlist()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"Manifest.db"_s), "x"));
        BackupManifest m(dir.path());
        QCOMPARE(errorOf([&] { m.readInfo(); }), u"Cannot find "_s + dir.filePath(u"Manifest.plist"_s));
        // An unencrypted description without a keybag: absent values read as their defaults.
        QVERIFY(writeFile(dir.filePath(u"Manifest.plist"_s), manifestPlist(u"X"_s, u"P"_s, QDateTime())));
        m.readInfo();
        QVERIFY(!m.isEncrypted());
        QVERIFY(m.keybag().classKeys.isEmpty());
    }

    // Records are read in full (absent domains, properties, counts of 128 and more), domain-less ones are not
    // stored, the address book is found without regard to case with the first in sort order winning, and a
    // second load() does not read again.
    void mbdbFileTable()
    {
        QTemporaryDir dir;
        MbdbRecord absentDomain;
        absentDomain.path = "Library/orphan";
        absentDomain.properties = {{"com.apple.x", "1"}, {"com.apple.y", QByteArray("")}};
        MbdbRecord emptyDomain;
        emptyDomain.domain = QByteArray("");
        emptyDomain.path = "x";
        MbdbRecord manyProperties;
        manyProperties.domain = "MediaDomain";
        manyProperties.path = "Media/a.jpg";
        for (int i = 0; i < 130; ++i)
            manyProperties.properties.append({"k" + QByteArray::number(i), "v"});
        MbdbRecord lowerCase; // sorts after "HomeDomain" (plain comparison: 'H' < 'h')
        lowerCase.domain = "homedomain";
        lowerCase.path = "library/addressbook/addressbook.sqlitedb";
        lowerCase.size = 1;
        MbdbRecord mixedCase;
        mixedCase.domain = "HomeDomain";
        mixedCase.path = "LIBRARY/AddressBook/AddressBook.SQLITEDB";
        mixedCase.size = 2;
        mixedCase.mtime = 1234567890;
        mixedCase.key = QByteArray(44, 'k');
        mixedCase.protectionClass = 3;
        MbdbRecord images;
        images.domain = "HomeDomain";
        images.path = "Library/AddressBook/AddressBookImages.sqlitedb";
        images.digest = QByteArray(20, 'd');
        MbdbRecord link;
        link.domain = "HomeDomain";
        link.path = "Library/link";
        link.target = "/var/x";
        link.mode = 0xa1ed;

        QByteArray mbdb("mbdb\x05\x00", 6);
        for (const MbdbRecord &r : {absentDomain, lowerCase, emptyDomain, manyProperties, mixedCase, images, link})
            mbdb += mbdbRecord(r);
        QVERIFY(writeFile(dir.filePath(u"Manifest.mbdb"_s), mbdb));
        QVERIFY(writeFile(dir.filePath(u"Manifest.db"_s), "not read: Manifest.mbdb decides"));

        QBuffer buffer(&mbdb);
        buffer.open(QIODevice::ReadOnly);
        const QList<BackupFileRecord> all = MBDBParser::readMbdb(buffer);
        QCOMPARE(all.size(), 7);
        QVERIFY(all[0].domain.isNull());
        QCOMPARE(all[0].properties.size(), 2);
        QVERIFY(!all[0].properties[1].second.isNull() && all[0].properties[1].second.isEmpty());
        QVERIFY(!all[2].domain.isNull() && all[2].domain.isEmpty());
        QCOMPARE(all[3].properties.size(), 130);
        QCOMPARE(all[3].properties.last().first, QByteArray("k129"));
        QCOMPARE(all[6].linkTarget, QByteArray("/var/x"));

        BackupManifest m(dir.path());
        m.load();
        QCOMPARE(m.fileCount(), 5);
        const BackupFileRecord *book = m.addressBookRecord();
        QVERIFY(book);
        QCOMPARE(book->relativePath, QByteArray("LIBRARY/AddressBook/AddressBook.SQLITEDB"));
        QCOMPARE(book->size, quint64(2));
        QCOMPARE(book->lastModified, quint32(1234567890));
        QCOMPARE(book->protectionClass, quint8(3));
        QCOMPARE(book->encryptionKey, QByteArray(44, 'k'));
        QCOMPARE(book->mode, quint16(0x81a4));
        QVERIFY(m.addressBookImagesRecord());
        QCOMPARE(m.addressBookImagesRecord()->digest, QByteArray(20, 'd'));

        QVERIFY(QFile::remove(dir.filePath(u"Manifest.mbdb"_s)));
        m.load(); // already loaded: nothing is read
        QCOMPARE(m.fileCount(), 5);
    }

    void mbdbTruncated_data()
    {
        QTest::addColumn<int>("cut");
        QTest::newRow("inside the header") << 3;
        QTest::newRow("inside a string") << 6 + 2 + 5;
        QTest::newRow("inside the numbers") << 6 + 2 + 10 + 2 + 4 + 6 + 3;
        QTest::newRow("inside the properties") << -3;
    }
    void mbdbTruncated()
    {
        QFETCH(int, cut);
        MbdbRecord r;
        r.domain = "HomeDomain";
        r.path = "Library/AddressBook/AddressBook.sqlitedb";
        r.properties = {{"name", "value"}};
        QByteArray mbdb = QByteArray("mbdb\x05\x00", 6) + mbdbRecord(r);
        mbdb.truncate(cut > 0 ? cut : mbdb.size() + cut);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"Manifest.mbdb"_s), mbdb));
        BackupManifest m(dir.path());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, m.load());
        QVERIFY(!m.isLoaded());
        // The message says what and where, not the device's "Unknown error".
        const QString error = errorOf([&] { m.load(); });
        QVERIFY2(error.startsWith(dir.filePath(u"Manifest.mbdb"_s) + u": "_s), qPrintable(error));
        QVERIFY2(error.contains(u"truncated"_s) || error.contains(u"does not start with"_s), qPrintable(error));
    }

    // The archived descriptions in their forms: data values, NS.data objects, NS.data behind one more UID, a
    // missing protection class (taken from the key's prefix); rows without a domain are skipped and a later row
    // with the same id replaces an earlier one. The backup folder gets no -wal or -shm files.
    void manifestDbFileTable()
    {
        QTemporaryDir dir;
        const QString dbPath = dir.filePath(u"Manifest.db"_s);
        const QByteArray key = QByteArray::fromHex("03000000") + QByteArray(40, 'w');
        const QByteArray keyNoClass = QByteArray::fromHex("05000000") + QByteArray(40, 'v');

        Archive book; // NS.data object, all numbers present
        book.setNumber("Mode", 0x81a4);
        book.setNumber("Size", 65536);
        book.setNumber("LastModified", 1600000001);
        book.setNumber("Birth", 1500000000);
        book.setNumber("InodeNumber", 1234567890123ULL);
        book.setNumber("UserID", 501);
        book.setNumber("ProtectionClass", 3);
        book.set("RelativePath", book.object(plist_new_string("Library/AddressBook/AddressBook.sqlitedb")));
        plist_t nsdata = plist_new_dict();
        plist_dict_set_item(nsdata, "NS.data", Archive::data(key));
        book.set("EncryptionKey", book.object(nsdata));
        book.set("Digest", Archive::data(QByteArray(20, 'd')));

        Archive images; // NS.data behind a UID, no ProtectionClass
        images.setNumber("Size", 28672);
        plist_t indirect = plist_new_dict();
        plist_t keyData = Archive::data(keyNoClass);
        plist_dict_set_item(indirect, "NS.data", images.object(keyData));
        images.set("EncryptionKey", images.object(indirect));

        Archive link;
        link.setNumber("Mode", 0xa1ed);
        link.set("Target", link.object(plist_new_string("/var/mobile")));

        Archive first;
        first.setNumber("Size", 1);

        {
            Sqlite3DB db;
            db.openThrow(dbPath, Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
            db.executeThrow("PRAGMA journal_mode=WAL");
            db.executeThrow("CREATE TABLE Files (fileID TEXT, domain TEXT, relativePath TEXT, flags INTEGER, "
                            "file BLOB)");
            const auto add = [&db](const QString &domain, const QString &path, const QByteArray &blob) {
                Sqlite3Sql insert("INSERT INTO Files (fileID, domain, relativePath, flags, file) VALUES "
                                  "('ignored', ?, ?, 1, ?)");
                insert.addTextParam(domain);
                insert.addTextParam(path);
                insert.addBlobParam(blob);
                db.executeThrow(insert);
            };
            add(u"HomeDomain"_s, u"Library/AddressBook/AddressBook.sqlitedb"_s, first.binary());
            add(u"HomeDomain"_s, u"Library/AddressBook/AddressBook.sqlitedb"_s, book.binary());
            add(u"HOMEDOMAIN"_s, u"Library/AddressBook/AddressBookImages.sqlitedb"_s, images.binary());
            add(u"HomeDomain"_s, u"Library/link"_s, link.binary());
            add(QString(), u"no domain"_s, first.binary());
            db.close();
        }
        const auto before = snapshot(dir.path());

        BackupManifest m(dir.path());
        m.load();
        QCOMPARE(m.fileCount(), 4); // every row with a domain, the replaced one included
        const BackupFileRecord *rec = m.addressBookRecord();
        QVERIFY(rec);
        QCOMPARE(rec->size, quint64(65536));
        QCOMPARE(rec->lastModified, quint32(1600000001));
        QCOMPARE(rec->birth, quint32(1500000000));
        QCOMPARE(rec->inodeNumber, quint64(1234567890123ULL));
        QCOMPARE(rec->userId, quint32(501));
        QCOMPARE(rec->protectionClass, quint8(3));
        QCOMPARE(rec->encryptionKey, key);
        QCOMPARE(rec->digest, QByteArray(20, 'd'));
        const BackupFileRecord *img = m.addressBookImagesRecord();
        QVERIFY(img);
        QCOMPARE(img->encryptionKey, keyNoClass);
        QCOMPARE(img->protectionClass, quint8(5));
        // Records other than the address book's are not kept; a link's description reads as such.
        BackupFileRecord linkRec;
        MBDBParser::fillFromArchive(link.binary(), linkRec);
        QCOMPARE(linkRec.linkTarget, QByteArray("/var/mobile"));
        QCOMPARE(linkRec.mode, quint16(0xa1ed));
        QCOMPARE(snapshot(dir.path()), before);
    }

    // The iOS 10.0 form: descriptions as Base64 of AES-128-CBC data keyed by SHA-1(password + salt).
    void saltedDescriptions()
    {
        QTemporaryDir dir;
        Archive book;
        book.setNumber("Size", 42);
        const QByteArray salt = "0123456789abcdefghij";
        const QByteArray descKey = descriptionKey("pw", salt);
        QCOMPARE(descKey, QCryptographicHash::hash("pw0123456789abcdefghij", QCryptographicHash::Sha1).left(16));

        // Encipher with the cipher class (the vectors below check it against NIST's).
        QBuffer plain;
        plain.setData(book.binary());
        plain.open(QIODevice::ReadOnly);
        QBuffer enciphered;
        enciphered.open(QIODevice::WriteOnly);
        QOpenSSLEVPAES aes;
        QVERIFY(aes.init(EVP_aes_128_cbc(), descKey, sequence(16), true));
        QVERIFY(aes.updateAll(&plain, &enciphered, 8192) >= 0 && aes.finalAll(&enciphered, 8192) >= 0);
        {
            Sqlite3DB db;
            db.openThrow(dir.filePath(u"Manifest.db"_s), Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
            db.executeThrow(
                "CREATE TABLE Files (fileID TEXT, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB)");
            db.executeThrow("CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB)");
            Sqlite3Sql prop("INSERT INTO Properties VALUES ('salt', ?)");
            prop.addBlobParam(salt);
            db.executeThrow(prop);
            Sqlite3Sql insert("INSERT INTO Files VALUES ('x', 'HomeDomain', "
                              "'Library/AddressBook/AddressBook.sqlitedb', 1, ?)");
            insert.addTextParam(QString::fromLatin1(enciphered.data().toBase64()));
            db.executeThrow(insert);
        }
        // The descriptions are deciphered only when a password is set.
        const QByteArray keybag = tlv("UUID", "bag") + tlv("WRAP", be32(0)) + tlv("SALT", "s") + tlv("ITER", be32(1)) +
                                  tlv("UUID", "c") + tlv("CLAS", be32(1)) + tlv("WRAP", be32(2)) +
                                  tlv("WPKY", aesKeyWrap(QByteArray(32, 'k'), QByteArray(32, 'c'), true));
        QVERIFY(writeFile(dir.filePath(u"Manifest.plist"_s), manifestPlist(u"u"_s, u"n"_s, QDateTime(), true, keybag)));
        BackupManifest plainReader(dir.path());
        plainReader.load();
        QCOMPARE(plainReader.addressBookRecord()->size, quint64(0));

        // A keybag whose password key is PBKDF2-SHA1("pw", "s", 1).
        QByteArray kek(32, '\0');
        QVERIFY(pbkdf2("pw", "s", 1, EVP_sha1(), kek));
        const QByteArray realKeybag = tlv("UUID", "bag") + tlv("WRAP", be32(0)) + tlv("SALT", "s") +
                                      tlv("ITER", be32(1)) + tlv("UUID", "c") + tlv("CLAS", be32(1)) +
                                      tlv("WRAP", be32(2)) + tlv("WPKY", aesKeyWrap(kek, QByteArray(32, 'c'), true));
        QVERIFY(
            writeFile(dir.filePath(u"Manifest.plist"_s), manifestPlist(u"u"_s, u"n"_s, QDateTime(), true, realKeybag)));
        BackupManifest m(dir.path());
        m.readInfo();
        QVERIFY(m.setPassword(u"pw"_s));
        QVERIFY(m.decryptedManifestPath().isEmpty()); // no DPSL/DPIC: Manifest.db is plain
        m.load();
        QVERIFY(m.addressBookRecord());
        QCOMPARE(m.addressBookRecord()->size, quint64(42));
    }

    void keybagParsing()
    {
        const QByteArray bag = tlv("VERS", be32(3)) + tlv("UUID", "bag-uuid") + tlv("WRAP", be32(0)) +
                               tlv("SALT", "salt") + tlv("ITER", be32(10000)) + tlv("UUID", "class-1") +
                               tlv("CLAS", be32(1)) + tlv("WRAP", be32(3)) + tlv("KTYP", be32(0)) +
                               tlv("WPKY", "wrapped-1") + tlv("UUID", "class-2") + tlv("CLAS", be32(2)) +
                               tlv("WRAP", be32(1)) + tlv("PBKY", "public") + tlv("UUID", "short") +
                               tlv("CLAS", "\x00\x01") + tlv("HMCK", "after") + tlv("UUID", "class-11") +
                               tlv("CLAS", be32(11)) + tlv("WPKY", "cut") + QByteArray("WPKY\x00\x00\x00\x10xx", 10);
        const Keybag kb = parseKeybag(bag);
        QCOMPARE(kb.attributes.value(u"UUID"_s), QByteArray("bag-uuid"));
        QCOMPARE(kb.attributes.value(u"WRAP"_s), be32(0));
        QCOMPARE(kb.attributes.value(u"HMCK"_s), QByteArray("after"));
        QCOMPARE(kb.attributes.value(u"VERS"_s), be32(3));
        QCOMPARE(kb.classKeys.keys(), QList<int>({1, 2, 11}));
        QCOMPARE(kb.classKeys[1].value(u"UUID"_s), QByteArray("class-1"));
        QCOMPARE(kb.classKeys[1].value(u"WRAP"_s), be32(3));
        QCOMPARE(kb.classKeys[1].value(u"WPKY"_s), QByteArray("wrapped-1"));
        QCOMPARE(kb.classKeys[2].value(u"PBKY"_s), QByteArray("public"));
        // The item that runs past the end is dropped; the class before it keeps what it had.
        QCOMPARE(kb.classKeys[11].value(u"WPKY"_s), QByteArray("cut"));

        bool ok = true;
        QCOMPARE(keybagNumber("\x00\x01\x00", &ok), 0);
        QVERIFY(!ok);
        QCOMPARE(keybagNumber(QByteArray("\x00\x98\x96\x80\xff", 5), &ok), 10000000);
        QVERIFY(ok);
        QCOMPARE(keybagNumber("\xff\xff\xff\xff", &ok), 0);
        QVERIFY(!ok);
        QVERIFY(parseKeybag("garbage that is no keybag at all").classKeys.isEmpty());
    }

    // hashcat's published example hashes for its iTunes-backup modes 14700 and 14800 (password "hashcat"): one
    // class key, wrapped with the key derived as real backups derive it. The unwrapped keys were computed with
    // Python's hashlib and cryptography.
    void hashcatVectors_data()
    {
        QTest::addColumn<QByteArray>("wpky");
        QTest::addColumn<int>("iter");
        QTest::addColumn<QByteArray>("salt");
        QTest::addColumn<int>("dpic");
        QTest::addColumn<QByteArray>("dpsl");
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("14700 example")
            << hex("b8e3f3a970239b22ac199b622293fe4237b9d16e74bad2c3c3568cd1bd3c471615a6c4f867265642") << 10000
            << hex("4542263740587424862267232255853830404566") << 0 << QByteArray()
            << hex("ef6350dc7dd100005d63c19758080000d16b7de7ab7300000f6187b152020000");
        QTest::newRow("14700 self-test")
            << hex("ebd7f9b33293b2511f0a4139d5b213feff51476968863cef60ec38d720497b6ff39a0bb63fa9f84e") << 10000
            << hex("2202015774208421818002001652122401871832") << 0 << QByteArray()
            << hex("d684b4867dd1000012ddecf958080000d3c202a1ab73000070ef26e352020000");
        QTest::newRow("14800 self-test")
            << hex("17a3b858e79bc273be43a9f113b71efe7ec8e7e401396b350180b4592ef45db67ffef7b2d64329a5") << 10000
            << hex("2721336781705041205314422175267631184867") << 1000
            << hex("99fafc983e732998adb9fadc162a2e382143f115")
            << hex("2ed7042e87b50000fa6ba698661c000013194470a1f70000c35bd72ce0360000");
    }
    void hashcatVectors()
    {
        QFETCH(QByteArray, wpky);
        QFETCH(int, iter);
        QFETCH(QByteArray, salt);
        QFETCH(int, dpic);
        QFETCH(QByteArray, dpsl);
        QFETCH(QByteArray, key);
        QByteArray bag = tlv("VERS", be32(3)) + tlv("TYPE", be32(1)) + tlv("UUID", QByteArray(16, 'u')) +
                         tlv("WRAP", be32(0)) + tlv("SALT", salt) + tlv("ITER", be32(quint32(iter)));
        if (dpic)
            bag += tlv("DPWT", be32(1)) + tlv("DPIC", be32(quint32(dpic))) + tlv("DPSL", dpsl);
        bag += tlv("UUID", QByteArray(16, 'a')) + tlv("CLAS", be32(1)) + tlv("WRAP", be32(3)) + tlv("KTYP", be32(0)) +
               tlv("WPKY", wpky);
        // A device-wrapped class (WRAP 1) is left alone and does not make the unlock fail.
        bag += tlv("UUID", QByteArray(16, 'b')) + tlv("CLAS", be32(7)) + tlv("WRAP", be32(1)) +
               tlv("WPKY", QByteArray(40, 'z'));

        Keybag kb = parseKeybag(bag);
        QVERIFY(unlockKeybag("hashcat", kb));
        QCOMPARE(kb.classKeys[1].value(u"KEY"_s), key);
        QVERIFY(!kb.classKeys[7].contains(u"KEY"_s));

        for (const QByteArray &wrong : {QByteArray("hashcat1"), QByteArray("Hashcat"), QByteArray()}) {
            Keybag other = parseKeybag(bag);
            QVERIFY2(!unlockKeybag(wrong, other), wrong.constData());
            QVERIFY(!other.classKeys[1].contains(u"KEY"_s));
        }

        // DPIC without DPSL is an older keybag: the SHA-1 step alone on the password.
        Keybag partial = parseKeybag(bag);
        partial.attributes.remove(u"DPSL"_s);
        if (!dpic)
            partial.attributes.insert(u"DPIC"_s, be32(1000));
        QCOMPARE(unlockKeybag("hashcat", partial), dpic == 0);
    }

    void unlockRefusesKeybagsThatCheckNothing()
    {
        // Only device-wrapped classes, or no classes: no password would be checked.
        const QByteArray head = tlv("UUID", "bag") + tlv("WRAP", be32(0));
        Keybag onlyDevice = parseKeybag(head + tlv("SALT", "s") + tlv("ITER", be32(1)) + tlv("UUID", "c") +
                                        tlv("CLAS", be32(1)) + tlv("WRAP", be32(1)) + tlv("WPKY", QByteArray(40, 'x')));
        QVERIFY(!unlockKeybag("anything", onlyDevice));
        Keybag noIter = parseKeybag(head + tlv("SALT", "s") + tlv("UUID", "c") + tlv("CLAS", be32(1)) +
                                    tlv("WRAP", be32(2)) + tlv("WPKY", QByteArray(40, 'x')));
        QVERIFY(!unlockKeybag("anything", noIter));
    }

    // Lists nested 100,000 deep overflowed the stack inside libplist (reading and freeing recurse per level),
    // and a list whose containers refer to one child twice unfolds exponentially: both are refused before
    // libplist sees them, in Manifest.plist and in a file description, and nothing else in the backup is lost.
    void deepNestingIsRefused_data()
    {
        QTest::addColumn<QByteArray>("plist");
        QTest::newRow("XML, 100000 deep") << nestedXmlPlist(100000);
        QTest::newRow("binary, 100000 deep") << nestedBinaryPlist(100000);
        QTest::newRow("binary, 129 deep") << nestedBinaryPlist(129);
        QTest::newRow("binary, 2^40 unfolded") << nestedBinaryPlist(40, 2);
    }
    void deepNestingIsRefused()
    {
        QFETCH(QByteArray, plist);
        QCOMPARE(PlistCFType::fromData(plist).type(), int(PlistCFType::TypeNone));

        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"Manifest.plist"_s), plist));
        BackupManifest m(dir.path());
        QVERIFY2(errorOf([&] { m.readInfo(); }).contains(u"is damaged"_s), "a damaged description is an error");

        // The same list as one file's description: that record reads as empty, the others stay.
        QVERIFY(writeFile(dir.filePath(u"Manifest.plist"_s), manifestPlist(u"X"_s, u"P"_s, QDateTime())));
        {
            Sqlite3DB db;
            db.openThrow(dir.filePath(u"Manifest.db"_s), Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
            db.executeThrow(
                "CREATE TABLE Files (fileID TEXT, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB)");
            Archive book;
            book.setNumber("Size", 42);
            Sqlite3Sql insert(
                "INSERT INTO Files VALUES ('a', 'HomeDomain', 'Library/AddressBook/AddressBook.sqlitedb', "
                "1, ?), ('b', 'HomeDomain', 'Library/deep', 1, ?)");
            insert.addBlobParam(book.binary());
            insert.addBlobParam(plist);
            db.executeThrow(insert);
        }
        BackupManifest withTable(dir.path());
        withTable.readInfo();
        withTable.load();
        QCOMPARE(withTable.fileCount(), 2);
        QVERIFY(withTable.addressBookRecord());
        QCOMPARE(withTable.addressBookRecord()->size, quint64(42));
    }

    // Views and computed columns in Manifest.db are refused before any row is read: an endless view ate memory
    // at 200 MB/s. A table without the columns read is named in the error with the file.
    void manifestDbOfTheWrongKind_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("expected");
        QTest::newRow("recursive view")
            << u"CREATE VIEW Files AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM r WHERE n < 3000000) "
               "SELECT 'HomeDomain' AS domain, 'f' || n AS relativePath, x'' AS file FROM r"_s
            << u"Files is a view"_s;
        QTest::newRow("no file column") << u"CREATE TABLE Files (domain TEXT, relativePath TEXT)"_s
                                        << u"Files has no column \"file\""_s;
        QTest::newRow("computed column")
            << u"CREATE TABLE Files (domain TEXT, relativePath TEXT, file BLOB AS (zeroblob(900000000)))"_s
            << u"computed column \"file\""_s;
    }
    void manifestDbOfTheWrongKind()
    {
        QFETCH(QString, statement);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        {
            Sqlite3DB db;
            db.openThrow(dir.filePath(u"Manifest.db"_s), Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
            db.executeThrow(Sqlite3Sql(statement));
        }
        BackupManifest m(dir.path());
        QElapsedTimer clock;
        clock.start();
        const QString error = errorOf([&] { m.load(); });
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY2(error.startsWith(dir.filePath(u"Manifest.db"_s) + u": "_s), qPrintable(error));
        QVERIFY2(error.contains(expected), qPrintable(error));
        QVERIFY(!m.isLoaded());
    }

    // Reading the file table stops when asked to, also inside one long statement.
    void loadCancels()
    {
        QTemporaryDir dir;
        {
            Sqlite3DB db;
            db.openThrow(dir.filePath(u"Manifest.db"_s), Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
            db.executeThrow("CREATE TABLE Files (domain TEXT, relativePath TEXT, file BLOB)");
            db.executeThrow("WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM r WHERE n < 20000) "
                            "INSERT INTO Files SELECT 'HomeDomain', 'f' || n, x'' FROM r");
        }
        BackupManifest m(dir.path());
        int asked = 0;
        QVERIFY_THROWS_EXCEPTION(StepCancelled, m.load([&asked] { return ++asked > 3; }));
        QVERIFY(!m.isLoaded());
        m.load();
        QCOMPARE(m.fileCount(), 20000);
    }

    // A large file table is read with progress, keeping only the address book's records: of the rows whose
    // domain and path match in any letter case the one first by domain, then path wins, wherever it stands.
    // The window reads the file table behind its progress dialog: progress with the reading text, a damaged table
    // as the dialog's error, a cancel leaving the manifest unloaded and ending without success.
    void fileTableReadOffTheWindowThread()
    {
        QTemporaryDir dir;
        {
            Sqlite3DB db;
            db.openThrow(dir.filePath(u"Manifest.db"_s), Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
            db.executeThrow("CREATE TABLE Files (domain TEXT, relativePath TEXT, file BLOB)");
            db.executeThrow("WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM r WHERE n < 30000) "
                            "INSERT INTO Files SELECT 'MediaDomain', 'f' || n, x'00' FROM r");
        }
        const auto run = [](const PBackupManifest &manifest, ProgressObject &progress, QStringList &statuses) {
            connect(&progress, &ProgressObject::progressChanged, &progress,
                    [&statuses](const QString &status, int, const QString &) { statuses.append(status); });
            LoadBackupManifestThread loader(manifest, &progress);
            loader.start();
            QTRY_VERIFY_WITH_TIMEOUT(loader.isFinished(), 60000);
            QCoreApplication::processEvents();
        };

        const PBackupManifest good(new BackupManifest(dir.path()));
        ProgressObject progress;
        QStringList statuses;
        run(good, progress, statuses);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Succeeded);
        QVERIFY(progress.message().isEmpty()); // no box after a read
        QVERIFY(good->isLoaded());
        QCOMPARE(good->fileCount(), 30000);
        QVERIFY(statuses.size() >= 2);
        QCOMPARE(statuses.last(), trKey("IDS_READING_BACKUP_FILE_TABLE_%1").arg(100));

        const PBackupManifest cancelled(new BackupManifest(dir.path()));
        ProgressObject cancelling;
        cancelling.cancel();
        QStringList ignored;
        run(cancelled, cancelling, ignored);
        QCOMPARE(cancelling.outcome(), ProgressObject::Outcome::Cancelled);
        QVERIFY(!cancelled->isLoaded());

        QTemporaryDir damagedDir;
        QFile damaged(damagedDir.filePath(u"Manifest.db"_s));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write(QByteArray(4096, 'x'));
        damaged.close();
        ProgressObject failing;
        run(PBackupManifest(new BackupManifest(damagedDir.path())), failing, ignored);
        QCOMPARE(failing.outcome(), ProgressObject::Outcome::Failed);
        QVERIFY2(failing.message().contains(u"Manifest.db"_s), qPrintable(failing.message()));
    }

    void largeFileTablePicksRecordsWithProgress()
    {
        QTemporaryDir dir;
        const auto described = [](quint64 size) {
            Archive a;
            a.setNumber("Size", size);
            return a.binary();
        };
        {
            Sqlite3DB db;
            db.openThrow(dir.filePath(u"Manifest.db"_s), Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
            db.executeThrow("CREATE TABLE Files (domain TEXT, relativePath TEXT, file BLOB)");
            const auto add = [&db](const char *domain, const char *path, const QByteArray &blob) {
                Sqlite3Sql insert("INSERT INTO Files VALUES (?, ?, ?)");
                insert.addTextParam(QString::fromUtf8(domain));
                insert.addTextParam(QString::fromUtf8(path));
                insert.addBlobParam(blob);
                db.executeThrow(insert);
            };
            add("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", described(1));
            db.executeThrow("WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM r WHERE n < 60000) "
                            "INSERT INTO Files SELECT 'MediaDomain', 'f' || n, x'00' FROM r");
            add("HOMEDOMAIN", "library/addressbook/addressbook.sqlitedb", described(2)); // sorts first
            add("HomeDomain", "Library/AddressBook/AddressBookImages.sqlitedb", described(3));
            add("HomeDomain", "Library/AddressBook/AddressBookImages.sqlitedb", described(4)); // replaces it
            add("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb.bak", described(5));
            add("", "Library/AddressBook/AddressBook.sqlitedb", described(6));
        }
        BackupManifest m(dir.path());
        QList<QPair<qint64, qint64>> reports;
        m.load({}, [&reports](qint64 done, qint64 total) { reports.append({done, total}); });
        QVERIFY(m.addressBookRecord() && m.addressBookImagesRecord());
        QCOMPARE(m.addressBookRecord()->size, quint64(2));
        QCOMPARE(m.addressBookRecord()->domain, QByteArray("HOMEDOMAIN"));
        QCOMPARE(m.addressBookImagesRecord()->size, quint64(4));
        QCOMPARE(m.fileCount(), 60005);

        const qint64 total = 60006;
        QVERIFY2(reports.size() >= 4, "progress is told during the table, not only at its ends");
        QCOMPARE(reports.first(), (QPair<qint64, qint64>(0, total)));
        QCOMPARE(reports.last(), (QPair<qint64, qint64>(total, total)));
        for (qsizetype i = 1; i < reports.size(); ++i) {
            QVERIFY(reports.at(i).first >= reports.at(i - 1).first);
            QCOMPARE(reports.at(i).second, total);
        }
    }

    // The key derivation equals OpenSSL's for every digest, output length and count (the own loop exists only
    // to be cancellable), and a cancel stops it at once.
    void pbkdf2MatchesOpenSsl_data()
    {
        QTest::addColumn<int>("digest"); // 1: SHA-1, 256: SHA-256
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<int>("iterations");
        QTest::addColumn<int>("length");
        QTest::newRow("sha1, one block") << 1 << QByteArray("pw") << 1 << 20;
        QTest::newRow("sha1, 4097 rounds, two blocks") << 1 << QByteArray("pässwörd") << 4097 << 32;
        QTest::newRow("sha256, long password") << 256 << QByteArray(100, 'p') << 3 << 32;
        QTest::newRow("sha256, 9000 rounds, three blocks") << 256 << QByteArray("x") << 9000 << 80;
    }
    void pbkdf2MatchesOpenSsl()
    {
        QFETCH(int, digest);
        QFETCH(QByteArray, password);
        QFETCH(int, iterations);
        QFETCH(int, length);
        const EVP_MD *md = digest == 1 ? EVP_sha1() : EVP_sha256();
        const QByteArray salt("NaCl and more salt");
        QByteArray expected(length, '\0');
        QCOMPARE(PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                                   reinterpret_cast<const unsigned char *>(salt.constData()), int(salt.size()),
                                   iterations, md, length, reinterpret_cast<unsigned char *>(expected.data())),
                 1);
        QByteArray out(length, '\0');
        QVERIFY(pbkdf2(password, salt, iterations, md, out));
        QCOMPARE(out.toHex(), expected.toHex());
    }

    // Counts near 2^31 took up to 48 minutes with no way out: above what iOS writes they are a damaged backup
    // (not a wrong password), and any derivation stops on cancel.
    void keybagIterationLimits()
    {
        QElapsedTimer clock;
        clock.start();
        for (const auto &[iter, dpic] :
             {std::pair<quint32, quint32>{0x7fffffff, 0}, {10000, 0x7ffffffe}, {10'000'001, 0}}) {
            Keybag bag = parseKeybag(keybagWith(iter, dpic));
            const QString error = errorOf([&] { unlockKeybag("pw", bag); });
            QVERIFY2(error.contains(u"damaged"_s), qPrintable(error));
        }
        QVERIFY(clock.elapsed() < 2000);

        Keybag slow = parseKeybag(keybagWith(10000, 10'000'000));
        int asked = 0;
        clock.restart();
        QVERIFY_THROWS_EXCEPTION(StepCancelled, unlockKeybag("pw", slow, [&asked] { return ++asked >= 3; }));
        QCOMPARE(asked, 3);
        QVERIFY(clock.elapsed() < 2000);

        // Through the manifest: the same error for a damaged keybag, and no password is taken.
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"Manifest.plist"_s),
                          manifestPlist(u"X"_s, u"P"_s, QDateTime(), true, keybagWith(0x7fffffff, 0), "MK")));
        BackupManifest m(dir.path());
        m.readInfo();
        QVERIFY(errorOf([&] { m.setPassword(u"pw"_s); }).contains(u"damaged"_s));
        QVERIFY(m.password().isEmpty());
    }

    // RFC 3394, section 4: the wrap ciphers by key length, both directions.
    void aesKeyWrapVectors_data()
    {
        QTest::addColumn<QByteArray>("kek");
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("wrapped");
        const QByteArray d128 = hex("00112233445566778899AABBCCDDEEFF");
        const QByteArray d256 = hex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");
        QTest::newRow("4.1 128-bit KEK") << sequence(16) << d128
                                         << hex("1FA68B0A8112B447AEF34BD8FB5A7B829D3E862371D2CFE5");
        QTest::newRow("4.2 192-bit KEK") << sequence(24) << d128
                                         << hex("96778B25AE6CA435F92B5B97C050AED2468AB8A17AD84E5D");
        QTest::newRow("4.3 256-bit KEK") << sequence(32) << d128
                                         << hex("64E8C3F9CE0F5BA263E9777905818A2A93C8191E7D6E8AE7");
        QTest::newRow("4.6 256-bit key data")
            << sequence(32) << d256
            << hex("28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
    }
    void aesKeyWrapVectors()
    {
        QFETCH(QByteArray, kek);
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, wrapped);
        QCOMPARE(aesKeyWrap(kek, plain, true), wrapped);
        QCOMPARE(aesKeyWrap(kek, wrapped, false), plain);
        QByteArray damaged = wrapped;
        damaged[5] = char(damaged[5] ^ 1);
        QVERIFY(aesKeyWrap(kek, damaged, false).isEmpty());
        QVERIFY(aesKeyWrap(QByteArray(20, 'k'), wrapped, false).isEmpty());
        QVERIFY(aesKeyWrap(kek, wrapped.left(wrapped.size() - 3), false).isEmpty());
    }

    void unwrapClassKeys()
    {
        // A 32-byte key wrapped with a 24-byte class key (AES-192), computed with Python's cryptography.
        const QByteArray wrapped =
            hex("08861e000aabfa4479c7191f9dc51cca37c50f16cc14441c6ea4980cfce0f41d9285758c6f74ac6d");
        const QByteArray plain = hex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");
        Keybag kb;
        kb.classKeys[3].insert(u"KEY"_s, sequence(24));
        kb.classKeys[4].insert(u"KEY"_s, sequence(20));
        kb.classKeys[5].insert(u"WPKY"_s, wrapped); // never unlocked: no "KEY"
        QCOMPARE(unwrapClassKey(kb, 3, wrapped), plain);
        QVERIFY(unwrapClassKey(kb, 4, wrapped).isEmpty());
        QVERIFY(unwrapClassKey(kb, 5, wrapped).isEmpty());
        QVERIFY(unwrapClassKey(kb, 9, wrapped).isEmpty());
        // A stored key is 4 bytes of class and 40 wrapped bytes; only the 40 are unwrapped.
        const QByteArray stored = hex("03000000") + wrapped;
        QCOMPARE(unwrapClassKey(kb, 3, stored.mid(4)), plain);
        QVERIFY(unwrapClassKey(kb, 3, stored).isEmpty());
        QVERIFY(unwrapClassKey(kb, 3, wrapped.left(32)).isEmpty());
    }

    // NIST SP 800-38A F.2.1 (AES-128) and F.2.3 (AES-192) use the IV 00 01 … 0F, the IV of file descriptions;
    // the last block (PKCS#7 padding) was added with Python's cryptography.
    void descriptionCipherVectors_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("cipher");
        QTest::newRow("F.2.1 AES-128") << hex("2b7e151628aed2a6abf7158809cf4f3c")
                                       << hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                                              "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"
                                              "8cb82807230e1321d3fae00d18cc2012");
        QTest::newRow("F.2.3 AES-192") << hex("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b")
                                       << hex("4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
                                              "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"
                                              "612ccd79224b350935d45dd6a98f8176");
    }
    void descriptionCipherVectors()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, cipher);
        QCOMPARE(MBDBParser::decryptFileDescThrow(cipher, key), hex(kSp800Plain));
        QVERIFY(MBDBParser::decryptFileDescThrow(QByteArray(), key).isEmpty());
        // A wrong key spoils the padding: an error, not a shorter result.
        QCOMPARE(errorOf([&] { MBDBParser::decryptFileDescThrow(cipher, QByteArray(key.size(), 'x')); }),
                 u"MBDBParser::decryptFileDescThrow, QOpenSSLEVPAES::finalAll, EVP_CipherFinal return false."_s);
        QCOMPARE(errorOf([&] { MBDBParser::decryptFileDescThrow(cipher, QByteArray(20, 'k')); }),
                 u"MBDBParser::decryptFileDescThrow, invalid key size."_s);
    }

    // F.2.5 (AES-256) deciphered with the zero IV of stored files: the first block comes out XORed with the IV
    // of the vector (00 01 … 0F), the others unchanged.
    void decryptFileVector()
    {
        QTemporaryDir dir;
        const QByteArray key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
        const QByteArray cipher = hex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
                                      "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"
                                      "3f461796d6b0d6b2e0c2a72b4d80e644");
        QByteArray expected = hex(kSp800Plain);
        for (int i = 0; i < 16; ++i)
            expected[i] = char(expected[i] ^ i);
        QVERIFY(writeFile(dir.filePath(u"in"_s), cipher));
        BackupManifest::decryptFile(key, dir.filePath(u"in"_s), dir.filePath(u"sub/out"_s));
        QCOMPARE(readFile(dir.filePath(u"sub/out"_s)), expected);

        // Failures leave no output that could pass for the file: a wrong key, a cut file, a key of another size.
        const QString out = dir.filePath(u"bad"_s);
        QCOMPARE(
            errorOf([&] { BackupManifest::decryptFile(QByteArray(32, 'x'), dir.filePath(u"in"_s), out); }),
            u"BackupManifest::decryptFile: decrypt failed. QOpenSSLEVPAES::finalAll, EVP_CipherFinal return false."_s);
        QVERIFY(!QFileInfo::exists(out));
        QVERIFY(writeFile(dir.filePath(u"cut"_s), cipher.left(cipher.size() - 5)));
        QVERIFY(!errorOf([&] { BackupManifest::decryptFile(key, dir.filePath(u"cut"_s), out); }).isEmpty());
        QVERIFY(!QFileInfo::exists(out));
        QCOMPARE(
            errorOf([&] { BackupManifest::decryptFile(key.left(16), dir.filePath(u"in"_s), out); }),
            u"BackupManifest::decryptFile: decrypt failed. QOpenSSLEVPAES::init, EVP_CipherInit_ex return false."_s);
        QCOMPARE(errorOf([&] { BackupManifest::decryptFile(key, dir.filePath(u"missing"_s), out); }),
                 u"can not open %1. No such file or directory"_s.arg(dir.filePath(u"missing"_s)));
    }

    void streamingFailures()
    {
        const QByteArray key(16, 'k');
        QBuffer in;
        in.setData(QByteArray(100, 'a'));
        in.open(QIODevice::ReadOnly);
        QBuffer readOnlyOut;
        readOnlyOut.open(QIODevice::ReadOnly);
        QOpenSSLEVPAES aes;
        QVERIFY(aes.init(EVP_aes_128_cbc(), key, QByteArray(16, '\0'), true));
        QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QBuffer): ReadOnly device");
        QCOMPARE(aes.updateAll(&in, &readOnlyOut, 8192), qint64(-1));
        QVERIFY(aes.errorString().startsWith(u"QOpenSSLEVPAES::updateAll, write file error, "_s));

        QBuffer notReadable;
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QOpenSSLEVPAES aes2;
        QVERIFY(aes2.init(EVP_aes_128_cbc(), key, QByteArray(16, '\0'), true));
        QTest::ignoreMessage(QtWarningMsg, "QIODevice::read (QBuffer): device not open");
        QCOMPARE(aes2.updateAll(&notReadable, &out, 8192), qint64(-1));
        QCOMPARE(aes2.errorString(), u"QOpenSSLEVPAES::updateAll, read file error."_s);

        QOpenSSLEVPAES aes3;
        QVERIFY(!aes3.init(EVP_aes_128_cbc(), QByteArray(15, 'k'), QByteArray(), false));
        QCOMPARE(aes3.errorString(), u"QOpenSSLEVPAES::init, EVP_CipherInit_ex return false."_s);
    }
};

QTEST_GUILESS_MAIN(TestItunes)
#include "tst_itunes.moc"
