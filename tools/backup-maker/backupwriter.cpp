#include "backupwriter.h"

#include "addressbookwriter.h"
#include "sqlite_qt/sqlite_qt.h"
#include "vcardreader.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QUuid>
#include <QtEndian>

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <plist/plist.h>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void fail(const QString &message)
{
    throw std::runtime_error(message.toStdString());
}

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), count) != 1)
        fail(u"RAND_bytes failed"_s);
    return bytes;
}

QByteArray be32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

// ---- crypto, straight on OpenSSL (nothing shared with the program's reader) ----

QByteArray pbkdf2(const QByteArray &password, const QByteArray &salt, int iterations, const EVP_MD *md)
{
    QByteArray out(32, '\0');
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                          reinterpret_cast<const unsigned char *>(salt.constData()), int(salt.size()), iterations, md,
                          32, reinterpret_cast<unsigned char *>(out.data())) != 1)
        fail(u"PKCS5_PBKDF2_HMAC failed"_s);
    return out;
}

// One EVP run over a whole buffer.
QByteArray cipherRun(const EVP_CIPHER *cipher, const QByteArray &key, const QByteArray &iv, const QByteArray &in,
                     bool allowWrap)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    if (allowWrap)
        EVP_CIPHER_CTX_set_flags(ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    QByteArray out(in.size() + 64, '\0');
    int n1 = 0;
    int n2 = 0;
    const bool ok =
        EVP_EncryptInit_ex(ctx, cipher, nullptr, reinterpret_cast<const unsigned char *>(key.constData()),
                           iv.isEmpty() ? nullptr : reinterpret_cast<const unsigned char *>(iv.constData())) == 1 &&
        EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char *>(out.data()), &n1,
                          reinterpret_cast<const unsigned char *>(in.constData()), int(in.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char *>(out.data()) + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        fail(u"encryption failed"_s);
    out.truncate(n1 + n2);
    return out;
}

// RFC 3394 key wrap with a 256-bit key.
QByteArray wrapKey(const QByteArray &kek, const QByteArray &key)
{
    return cipherRun(EVP_aes_256_wrap(), kek, QByteArray(), key, true);
}

// Stored files and an enciphered Manifest.db: AES-256-CBC, zero IV, PKCS#7 padding.
QByteArray encryptFile(const QByteArray &key, const QByteArray &plain)
{
    return cipherRun(EVP_aes_256_cbc(), key, QByteArray(16, '\0'), plain, false);
}

// iOS 10.0 file descriptions: AES-128-CBC with the IV 00 01 … 0F.
QByteArray encryptDescription(const QByteArray &key16, const QByteArray &plain)
{
    QByteArray iv(16, '\0');
    for (int i = 0; i < 16; ++i)
        iv[i] = char(i);
    return cipherRun(EVP_aes_128_cbc(), key16, iv, plain, false);
}

// ---- property lists ----

QByteArray toBinary(plist_t node)
{
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    const QByteArray out(bin, qsizetype(length));
    plist_to_bin_free(bin);
    return out;
}

QByteArray toXml(plist_t node)
{
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    const QByteArray out(xml, qsizetype(length));
    plist_to_xml_free(xml);
    return out;
}

plist_t str(const QString &s)
{
    return plist_new_string(s.toUtf8().constData());
}

plist_t data(const QByteArray &bytes)
{
    return plist_new_data(bytes.constData(), quint64(bytes.size()));
}

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
plist_t date(const QDateTime &when)
{
    return plist_new_date(int32_t(when.toSecsSinceEpoch() - 978307200), 0);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        fail(u"cannot write %1: %2"_s.arg(path, file.errorString()));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(u"cannot read %1: %2"_s.arg(path, file.errorString()));
    return file.readAll();
}

// ---- the backup ----

enum class Kind { File, Directory, Link };

struct Entry
{
    QString domain;
    QString path;
    Kind kind = Kind::File;
    QByteArray content; // plain
    QString target;     // links
    int protectionClass = 3;
    QList<QPair<QByteArray, QByteArray>> properties;

    // Filled while writing.
    QByteArray encryptionKey; // class (little-endian) + wrapped file key
    quint64 inode = 0;
    quint16 mode() const { return kind == Kind::Directory ? 0x41ed : kind == Kind::Link ? 0xa1ed : 0x81a4; }
    QString fileId() const
    {
        return QString::fromLatin1(
            QCryptographicHash::hash((domain + u'-' + path).toUtf8(), QCryptographicHash::Sha1).toHex());
    }
    QByteArray digest() const { return QCryptographicHash::hash(content, QCryptographicHash::Sha1); }
};

struct Keys
{
    QByteArray keybag;
    QMap<int, QByteArray> classKeys;
};

QByteArray tlv(const char *tag, const QByteArray &value)
{
    return QByteArray(tag, 4) + be32(quint32(value.size())) + value;
}

// A backup keybag: keybag attributes, then classes 1-11, each wrapped with the key derived from the password.
// Without a password (an unencrypted backup) the class keys are wrapped with a random key that nobody can derive.
Keys makeKeybag(const QByteArray &password, int iterations, int dpic)
{
    Keys keys;
    const QByteArray salt = randomBytes(20);
    const QByteArray dpsl = randomBytes(20);
    const QByteArray kek = password.isEmpty() ? randomBytes(32)
                           : dpic > 0 ? pbkdf2(pbkdf2(password, dpsl, dpic, EVP_sha256()), salt, iterations, EVP_sha1())
                                      : pbkdf2(password, salt, iterations, EVP_sha1());
    QByteArray bag = tlv("VERS", be32(dpic > 0 ? 4 : 3)) + tlv("TYPE", be32(1)) + tlv("UUID", randomBytes(16)) +
                     tlv("HMCK", randomBytes(40)) + tlv("WRAP", be32(0)) + tlv("SALT", salt) +
                     tlv("ITER", be32(quint32(iterations)));
    if (dpic > 0)
        bag += tlv("DPWT", be32(1)) + tlv("DPIC", be32(quint32(dpic))) + tlv("DPSL", dpsl);
    for (int cls = 1; cls <= 11; ++cls) {
        const QByteArray classKey = randomBytes(32);
        keys.classKeys.insert(cls, classKey);
        bag += tlv("UUID", randomBytes(16)) + tlv("CLAS", be32(quint32(cls))) + tlv("WRAP", be32(cls <= 4 ? 2 : 3)) +
               tlv("KTYP", be32(cls == 2 ? 1 : 0)) + tlv("WPKY", wrapKey(kek, classKey));
        if (cls == 2)
            bag += tlv("PBKY", randomBytes(32));
    }
    keys.keybag = bag;
    return keys;
}

// The archived MBFile description of Manifest.db's "file" column (NSKeyedArchiver form).
QByteArray archivedDescription(const Entry &e, quint32 now)
{
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_t file = plist_new_dict();
    plist_array_append_item(objects, file);
    const auto addObject = [objects](plist_t node) {
        plist_array_append_item(objects, node);
        return plist_new_uid(plist_array_get_size(objects) - 1);
    };
    plist_dict_set_item(file, "RelativePath", addObject(str(e.path)));
    plist_dict_set_item(file, "Birth", plist_new_uint(now));
    plist_dict_set_item(file, "LastModified", plist_new_uint(now));
    plist_dict_set_item(file, "LastStatusChange", plist_new_uint(now));
    plist_dict_set_item(file, "Flags", plist_new_uint(0));
    plist_dict_set_item(file, "GroupID", plist_new_uint(501));
    plist_dict_set_item(file, "UserID", plist_new_uint(501));
    plist_dict_set_item(file, "InodeNumber", plist_new_uint(e.inode));
    plist_dict_set_item(file, "Mode", plist_new_uint(e.mode()));
    plist_dict_set_item(file, "Size", plist_new_uint(e.kind == Kind::File ? quint64(e.content.size()) : 0));
    plist_dict_set_item(file, "ProtectionClass", plist_new_uint(e.kind == Kind::File ? e.protectionClass : 0));
    if (e.kind == Kind::Link)
        plist_dict_set_item(file, "Target", addObject(str(e.target)));
    if (!e.encryptionKey.isEmpty()) {
        plist_t keyObject = plist_new_dict();
        plist_dict_set_item(keyObject, "NS.data", data(e.encryptionKey));
        plist_t keyUid = addObject(keyObject);
        plist_t dataClass = plist_new_dict();
        plist_t dataClasses = plist_new_array();
        for (const char *name : {"NSMutableData", "NSData", "NSObject"})
            plist_array_append_item(dataClasses, plist_new_string(name));
        plist_dict_set_item(dataClass, "$classes", dataClasses);
        plist_dict_set_item(dataClass, "$classname", plist_new_string("NSMutableData"));
        plist_dict_set_item(keyObject, "$class", addObject(dataClass));
        plist_dict_set_item(file, "EncryptionKey", keyUid);
    }
    plist_t fileClass = plist_new_dict();
    plist_t fileClasses = plist_new_array();
    plist_array_append_item(fileClasses, plist_new_string("MBFile"));
    plist_array_append_item(fileClasses, plist_new_string("NSObject"));
    plist_dict_set_item(fileClass, "$classes", fileClasses);
    plist_dict_set_item(fileClass, "$classname", plist_new_string("MBFile"));
    plist_dict_set_item(file, "$class", addObject(fileClass));

    plist_t archive = plist_new_dict();
    plist_dict_set_item(archive, "$version", plist_new_uint(100000));
    plist_dict_set_item(archive, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(1));
    plist_dict_set_item(archive, "$top", top);
    plist_dict_set_item(archive, "$objects", objects);
    const QByteArray bin = toBinary(archive);
    plist_free(archive);
    return bin;
}

// Manifest.mbdb: "mbdb" 05 00, then per record strings (u16 length, 0xFFFF absent) and big-endian numbers.
QByteArray mbdb(const QList<Entry> &entries, quint32 now)
{
    QByteArray out("mbdb\x05\x00", 6);
    const auto string = [&out](const QByteArray &s, bool absent) {
        if (absent) {
            out += "\xff\xff";
            return;
        }
        out += char(s.size() >> 8);
        out += char(s.size() & 0xff);
        out += s;
    };
    const auto number = [&out](quint64 value, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            out += char((value >> (8 * i)) & 0xff);
    };
    for (const Entry &e : entries) {
        string(e.domain.toUtf8(), false);
        string(e.path.toUtf8(), false);
        string(e.target.toUtf8(), e.kind != Kind::Link);
        string(e.digest(), e.kind != Kind::File);
        string(e.encryptionKey, e.encryptionKey.isEmpty());
        number(e.mode(), 2);
        number(e.inode, 8);
        number(501, 4);
        number(501, 4);
        number(now, 4);
        number(now, 4);
        number(now, 4);
        number(e.kind == Kind::File ? quint64(e.content.size()) : 0, 8);
        number(e.kind == Kind::File ? quint64(e.protectionClass) : 0, 1);
        number(quint64(e.properties.size()), 1);
        for (const auto &[name, value] : e.properties) {
            string(name, false);
            string(value, false);
        }
    }
    return out;
}

void writeManifestDb(const QString &path, const QList<Entry> &entries, quint32 now, const QByteArray &salt,
                     const QByteArray &descKey, const QByteArray &passwordHash)
{
    Sqlite3DB db;
    QFile::remove(path);
    db.openThrow(path, Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
    db.executeThrow("PRAGMA page_size=4096");
    db.executeThrow("PRAGMA journal_mode=WAL");
    db.executeThrow("CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, "
                    "file BLOB)");
    db.executeThrow("CREATE INDEX FilesDomainIdx ON Files(domain)");
    db.executeThrow("CREATE INDEX FilesRelativePathIdx ON Files(relativePath)");
    db.executeThrow("CREATE INDEX FilesFlagsIdx ON Files(flags)");
    db.executeThrow("CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB)");
    db.beginTran();
    if (!salt.isEmpty()) {
        for (const auto &[key, value] : {std::pair{"salt", salt}, std::pair{"passwordHash", passwordHash}}) {
            Sqlite3Sql insert("INSERT INTO Properties (key, value) VALUES (?, ?)");
            insert.addTextParam(QLatin1String(key));
            insert.addBlobParam(value);
            db.executeThrow(insert);
        }
    }
    for (const Entry &e : entries) {
        Sqlite3Sql insert("INSERT INTO Files (fileID, domain, relativePath, flags, file) VALUES (?,?,?,?,?)");
        insert.addTextParam(e.fileId());
        insert.addTextParam(e.domain);
        insert.addTextParam(e.path);
        insert.addIntParam(e.kind == Kind::File ? 1 : e.kind == Kind::Directory ? 2 : 4);
        const QByteArray description = archivedDescription(e, now);
        if (descKey.isEmpty())
            insert.addBlobParam(description);
        else // Base64 text of the enciphered description
            insert.addTextParam(QString::fromLatin1(encryptDescription(descKey, description).toBase64()));
        db.executeThrow(insert);
    }
    db.commitTran();
    db.close(); // the last connection checkpoints and removes the -wal file; the header keeps WAL mode
}

} // namespace

QString makerUdid(const QString &deviceName)
{
    return QString::fromLatin1(
        QCryptographicHash::hash((u"backup-maker:"_s + deviceName).toUtf8(), QCryptographicHash::Sha1).toHex());
}

QList<StoredFile> writeBackup(const BackupOptions &options)
{
    const bool encrypted = !options.password.isEmpty();
    if (options.saltedDescriptions && (options.mbdbLayout || !encrypted || options.dpic > 0))
        fail(u"--salted-descriptions needs --layout db, a password and a single iteration count"_s);

    const QDir out(options.outDir);
    if (!QDir().mkpath(out.absolutePath()))
        fail(u"cannot create %1"_s.arg(out.absolutePath()));
    for (const char *stale : {"Manifest.mbdb", "Manifest.db", "Manifest-decrypted.db"})
        QFile::remove(out.absoluteFilePath(QLatin1String(stale)));

    // The address book, built in a scratch folder.
    const QList<AbPerson> people = readVCardFile(options.seed);
    const QTemporaryDir scratch;
    if (!scratch.isValid())
        fail(u"cannot create a temporary folder"_s);
    writeAddressBook(scratch.filePath(u"AddressBook.sqlitedb"_s), people);
    writeAddressBookImages(scratch.filePath(u"AddressBookImages.sqlitedb"_s), people);

    const auto file = [](const char *domain, const QString &path, const QByteArray &content) {
        Entry e;
        e.domain = QLatin1String(domain);
        e.path = path;
        e.content = content;
        return e;
    };
    const auto dir = [](const char *domain, const char *path) {
        Entry e;
        e.domain = QLatin1String(domain);
        e.path = QLatin1String(path);
        e.kind = Kind::Directory;
        return e;
    };
    QList<Entry> entries = {
        dir("HomeDomain", ""),
        dir("HomeDomain", "Library"),
        dir("HomeDomain", "Library/AddressBook"),
        file("HomeDomain", u"Library/AddressBook/AddressBook.sqlitedb"_s,
             readFile(scratch.filePath(u"AddressBook.sqlitedb"_s))),
        file("HomeDomain", u"Library/AddressBook/AddressBookImages.sqlitedb"_s,
             readFile(scratch.filePath(u"AddressBookImages.sqlitedb"_s))),
        dir("HomeDomain", "Library/Preferences"),
        dir("MediaDomain", ""),
        dir("AppDomain-com.example.notes", ""),
        dir("AppDomain-com.example.notes", "Documents"),
        file("AppDomain-com.example.notes", u"Documents/notes.txt"_s, "Milk, eggs, bread.\n"),
    };
    {
        plist_t prefs = plist_new_dict();
        plist_dict_set_item(prefs, "ABNameSortingFormat", plist_new_string("sortingLastNameFirst"));
        Entry e = file("HomeDomain", u"Library/Preferences/com.apple.AddressBook.plist"_s, toBinary(prefs));
        plist_free(prefs);
        e.protectionClass = 4;
        e.properties.append({"com.apple.backup.mtime", be32(quint32(QDateTime::currentSecsSinceEpoch()))});
        entries.append(e);
        Entry link;
        link.domain = u"MediaDomain"_s;
        link.path = u"Library/Caches/current"_s;
        link.kind = Kind::Link;
        link.target = u"/var/mobile/Media/DCIM"_s;
        entries.append(link);
    }

    const QByteArray password = options.password.toUtf8();
    const Keys keys = makeKeybag(password, options.iterations, options.dpic);

    const quint32 now = quint32(QDateTime::currentSecsSinceEpoch());
    const QString udid = makerUdid(options.deviceName);
    QList<StoredFile> stored;
    quint64 inode = 1200000;
    for (Entry &e : entries) {
        e.inode = inode++;
        if (e.kind != Kind::File)
            continue;
        QByteArray onDisk = e.content;
        if (encrypted) {
            const QByteArray fileKey = randomBytes(32);
            e.encryptionKey =
                le32(quint32(e.protectionClass)) + wrapKey(keys.classKeys.value(e.protectionClass), fileKey);
            onDisk = encryptFile(fileKey, e.content);
        }
        const QString id = e.fileId();
        writeFile(options.mbdbLayout ? out.absoluteFilePath(id) : out.absoluteFilePath(id.left(2) + u'/' + id), onDisk);
        stored.append({e.domain, e.path, id, e.content.size(), e.digest()});
    }

    // The file table.
    QByteArray manifestKey;
    if (options.mbdbLayout) {
        writeFile(out.absoluteFilePath(u"Manifest.mbdb"_s), mbdb(entries, now));
    } else {
        QByteArray salt;
        QByteArray descKey;
        QByteArray passwordHash;
        if (options.saltedDescriptions) {
            salt = randomBytes(20);
            const QByteArray digest = QCryptographicHash::hash(password + salt, QCryptographicHash::Sha1);
            descKey = digest.left(16);
            passwordHash = digest;
        }
        const QString plainDb = scratch.filePath(u"Manifest.db"_s);
        writeManifestDb(plainDb, entries, now, salt, descKey, passwordHash);
        QByteArray db = readFile(plainDb);
        if (encrypted && options.dpic > 0) {
            // iOS 10.2 and later encipher Manifest.db with a key wrapped by class 4.
            const QByteArray key = randomBytes(32);
            manifestKey = le32(4) + wrapKey(keys.classKeys.value(4), key);
            db = encryptFile(key, db);
        }
        writeFile(out.absoluteFilePath(u"Manifest.db"_s), db);
    }

    // The descriptions.
    const QDateTime when = QDateTime::fromSecsSinceEpoch(now, Qt::UTC);
    const QString productVersion = options.mbdbLayout ? u"9.3.5"_s : options.dpic > 0 ? u"14.3"_s : u"10.0.2"_s;
    const QString productType = options.mbdbLayout ? u"iPhone8,1"_s : u"iPhone12,1"_s;
    const QString serial = u"BKMK"_s + udid.left(8).toUpper();

    plist_t lockdown = plist_new_dict();
    plist_dict_set_item(lockdown, "UniqueDeviceID", str(udid));
    plist_dict_set_item(lockdown, "DeviceName", str(options.deviceName));
    plist_dict_set_item(lockdown, "ProductType", str(productType));
    plist_dict_set_item(lockdown, "ProductVersion", str(productVersion));
    plist_dict_set_item(lockdown, "SerialNumber", str(serial));
    plist_dict_set_item(lockdown, "BuildVersion", str(options.mbdbLayout ? u"13G36"_s : u"18C66"_s));
    plist_t manifest = plist_new_dict();
    plist_dict_set_item(manifest, "BackupKeyBag", data(keys.keybag));
    plist_dict_set_item(manifest, "Lockdown", lockdown);
    plist_dict_set_item(manifest, "Date", date(when));
    plist_dict_set_item(manifest, "IsEncrypted", plist_new_bool(encrypted ? 1 : 0));
    plist_dict_set_item(manifest, "WasPasscodeSet", plist_new_bool(0));
    plist_dict_set_item(manifest, "Version", str(options.mbdbLayout ? u"9.1"_s : u"10.0"_s));
    plist_dict_set_item(manifest, "Applications", plist_new_dict());
    if (!manifestKey.isEmpty())
        plist_dict_set_item(manifest, "ManifestKey", data(manifestKey));
    writeFile(out.absoluteFilePath(u"Manifest.plist"_s), toBinary(manifest));
    plist_free(manifest);

    plist_t info = plist_new_dict();
    plist_dict_set_item(info, "Device Name", str(options.deviceName));
    plist_dict_set_item(info, "Display Name", str(options.deviceName));
    plist_dict_set_item(info, "Last Backup Date", date(when));
    plist_dict_set_item(info, "Product Type", str(productType));
    plist_dict_set_item(info, "Product Version", str(productVersion));
    plist_dict_set_item(info, "Serial Number", str(serial));
    plist_dict_set_item(info, "Target Identifier", str(udid));
    plist_dict_set_item(info, "Unique Identifier", str(udid.toUpper()));
    writeFile(out.absoluteFilePath(u"Info.plist"_s), toXml(info));
    plist_free(info);

    plist_t status = plist_new_dict();
    plist_dict_set_item(status, "BackupState", plist_new_string("new"));
    plist_dict_set_item(status, "Date", date(when));
    plist_dict_set_item(status, "IsFullBackup", plist_new_bool(0));
    plist_dict_set_item(status, "SnapshotState", plist_new_string("finished"));
    plist_dict_set_item(status, "UUID", str(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()));
    plist_dict_set_item(status, "Version", str(options.mbdbLayout ? u"2.4"_s : u"3.3"_s));
    writeFile(out.absoluteFilePath(u"Status.plist"_s), toBinary(status));
    plist_free(status);
    return stored;
}
