#include "itunes/backupmanifest.h"

#include "core/datafolder.h"
#include "core/privatetemp.h"
#include "core/progress.h"
#include "core/texts.h"
#include "ios/plistcftype.h"
#include "itunes/log.h"
#include "itunes/qopensslevpaes.h"
#include "sqlite_qt/sqlite_qt.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <stdexcept>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr int kBlockSize = 8192;

[[noreturn]] void fail(const QString &message)
{
    throw std::runtime_error(message.toStdString());
}

// Creates the parent folder of a path (with its parents) when it is missing.
void makeParentFolder(const QString &path)
{
    const QFileInfo info(path);
    if (!info.dir().exists())
        QDir().mkpath(info.absolutePath());
}

// Gives a written file the access and modification times of its record.
void setRecordTimes(const QString &path, quint32 lastModified)
{
    const QDateTime when = QDateTime::fromSecsSinceEpoch(lastModified, Qt::UTC);
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly) ||
        !file.setFileTime(when, QFileDevice::FileAccessTime) ||
        !file.setFileTime(when, QFileDevice::FileModificationTime))
        qCDebug(lcItunes, "BackupManifest: cannot set the times of %s: %s", qPrintable(path),
                qPrintable(file.errorString()));
}

// Copies a database (with a -wal file left beside it, if any) into a private folder, so that SQLite's
// journal files arise there and not beside the original. Returns the copy's path.
QString copyDatabase(const QString &source, const PrivateTempDir &tmp)
{
    const QString copy = tmp.filePath(u"Manifest-copy.db"_s);
    QFile::remove(copy);
    QFile::remove(copy + u"-wal"_s);
    const auto copyOne = [](const QString &from, const QString &to) {
        QFile file(from);
        if (!file.copy(to))
            fail(trKey("can not open %1. %2").arg(from, file.errorString()));
    };
    copyOne(source, copy);
    if (QFileInfo::exists(source + u"-wal"_s))
        copyOne(source + u"-wal"_s, copy + u"-wal"_s);
    return copy;
}

// How many records pass between two progress reports.
constexpr qint64 kProgressStep = 20000;

const QString kAddressBookPath = u"Library/AddressBook/AddressBook.sqlitedb"_s;
const QString kAddressBookImagesPath = u"Library/AddressBook/AddressBookImages.sqlitedb"_s;

} // namespace

// Picks the address-book records from the file table as it is read, without keeping the others. Of the records
// whose domain is "HomeDomain" and whose path is the file's (letter case ignored in both), the one first by
// domain, then path (plain comparison) is taken; among records of exactly the same domain and path, the last
// read, as a later row of a file replaces an earlier one.
class BackupManifest::RecordPicker
{
public:
    // Whether a record of this domain and path can be one of the files sought: only those need their
    // description decoded.
    static bool wanted(const QString &domain, const QString &path)
    {
        return domain.compare(u"HomeDomain"_s, Qt::CaseInsensitive) == 0 &&
               (path.compare(kAddressBookPath, Qt::CaseInsensitive) == 0 ||
                path.compare(kAddressBookImagesPath, Qt::CaseInsensitive) == 0);
    }

    // A record of the table that has a domain; domain and path are its texts.
    void offer(const FileRecord &record, const QString &domain, const QString &path)
    {
        ++count;
        if (!wanted(domain, path))
            return;
        std::optional<FileRecord> &slot =
            path.compare(kAddressBookPath, Qt::CaseInsensitive) == 0 ? addressBook : addressBookImages;
        if (!slot || !precedes(*slot, domain, path))
            slot = record;
    }

    qint64 count = 0;
    std::optional<FileRecord> addressBook;
    std::optional<FileRecord> addressBookImages;

private:
    // The kept record sorts strictly before this domain and path.
    static bool precedes(const FileRecord &kept, const QString &domain, const QString &path)
    {
        const int byDomain = kept.domainText().compare(domain);
        return byDomain != 0 ? byDomain < 0 : kept.relativePathText() < path;
    }
};

BackupManifest::BackupManifest(const QString &folderPath, QObject *parent) : QObject(parent), m_folder(folderPath)
{
}

BackupManifest::~BackupManifest() = default;

PrivateTempDir &BackupManifest::privateFolder()
{
    if (!m_private) {
        auto folder = std::make_unique<PrivateTempDir>(u"backup"_s);
        if (!folder->isValid())
            fail(trKey("can not create %1. %2").arg(PrivateTempDir::parentFolder(), folder->errorString()));
        m_private = std::move(folder);
    }
    return *m_private;
}

QStringList BackupManifest::backupRoots()
{
    return {DataFolder::baseFolder() + u"/Apple Computer/MobileSync/Backup"_s,
            QDir::homePath() + u"/Apple/MobileSync/Backup"_s};
}

QStringList BackupManifest::candidateFolders(const QString &root)
{
    QStringList result;
    const QFileInfoList entries =
        QDir(root).entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
    for (const QFileInfo &entry : entries) {
        const QDir dir(entry.absoluteFilePath());
        if (dir.exists(u"Manifest.plist"_s) && (dir.exists(u"Manifest.mbdb"_s) || dir.exists(u"Manifest.db"_s)))
            result.append(entry.absoluteFilePath());
    }
    return result;
}

void BackupManifest::readInfo()
{
    const QString path = m_folder.absoluteFilePath(u"Manifest.plist"_s);
    if (!QFileInfo::exists(path))
        fail(trKey("Cannot find ") + path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(file.errorString());
    const PlistCFType manifest = PlistCFType::fromData(file.readAll());
    // Unreadable, refused (nested too deep, a NUL in a string) or not a dictionary: nothing in it can be trusted.
    if (manifest.type() != PlistCFType::TypeDict)
        fail(u"%1 is damaged: it is not a readable property list."_s.arg(path));

    const PlistCFType lockdown = manifest.item(u"Lockdown"_s);
    m_deviceId = lockdown.item(u"UniqueDeviceID"_s).toString();
    m_deviceName = lockdown.item(u"DeviceName"_s).toString();
    m_productType = lockdown.item(u"ProductType"_s).toString();
    m_productVersion = lockdown.item(u"ProductVersion"_s).toString();
    m_serialNumber = lockdown.item(u"SerialNumber"_s).toString();
    m_backupDate = manifest.item(u"Date"_s).toDateTime();
    m_encrypted = manifest.item(u"IsEncrypted"_s).toBool(false);
    m_keybagBytes = manifest.item(u"BackupKeyBag"_s).toByteArray();
    m_manifestKeyBytes = manifest.item(u"ManifestKey"_s).toByteArray();

    // A folder named after the device shows the device's name in its place. An empty device id is not looked
    // for: every text "contains" it, and replacing it would put the name between all the letters.
    const QString dirName = m_folder.dirName();
    if (!m_deviceId.isEmpty() && dirName.contains(m_deviceId))
        m_displayName = QString(dirName).replace(m_deviceId, m_deviceName);
    else
        m_displayName = m_deviceName + u'-' + dirName;

    const QFileInfo status(m_folder.absoluteFilePath(u"Status.plist"_s));
    if (status.exists() && status.isFile())
        m_backupDate = status.lastModified();
}

QString BackupManifest::identity() const
{
    return QString::fromLatin1(
        QCryptographicHash::hash(m_folder.absolutePath().toUtf8(), QCryptographicHash::Md5).toHex());
}

bool BackupManifest::setPassword(const QString &password, const std::function<bool()> &cancelled)
{
    m_keybag = parseKeybag(m_keybagBytes);
    if (!unlockKeybag(password.toUtf8(), m_keybag, cancelled))
        return false;
    m_password = password;

    const QMap<QString, QByteArray> &attrs = m_keybag.attributes;
    if (attrs.contains(u"DPIC"_s) && attrs.contains(u"DPSL"_s)) {
        // Newer backups encipher Manifest.db with a key wrapped by one of the classes; the class prefix of the
        // wrapped key is not trusted, every class is tried (a wrong one fails the unwrap's integrity check).
        const QByteArray wrapped = m_manifestKeyBytes.mid(4);
        for (auto it = m_keybag.classKeys.constBegin(); it != m_keybag.classKeys.constEnd(); ++it) {
            const QByteArray key = unwrapClassKey(m_keybag, it.key(), wrapped);
            if (key.isEmpty())
                continue;
            // Into the private folder, never the backup folder: a link planted there would redirect the write.
            const QString decrypted = privateFolder().filePath(u"Manifest-decrypted.db"_s);
            QFile::remove(decrypted);
            decryptFile(key, m_folder.absoluteFilePath(u"Manifest.db"_s), decrypted);
            // Kept only once the file is complete, so load() never reads a stale or partial copy.
            m_manifestDbKey = key;
            m_decryptedManifestPath = decrypted;
            break;
        }
    }
    return true;
}

void BackupManifest::load(const std::function<bool()> &cancelled, const LoadProgress &progress)
{
    if (m_loaded)
        return;
    RecordPicker picker;
    if (usesHashedFolders(m_folder))
        readManifestDb(picker, cancelled, progress);
    else
        readManifestMbdb(picker, cancelled, progress);
    m_fileCount = picker.count;
    m_addressBook = picker.addressBook;
    m_addressBookImages = picker.addressBookImages;
    m_loaded = true;
}

void BackupManifest::readManifestDb(RecordPicker &picker, const std::function<bool()> &cancelled,
                                    const LoadProgress &progress)
{
    const QString source = m_manifestDbKey.isEmpty()
                               ? copyDatabase(m_folder.absoluteFilePath(u"Manifest.db"_s), privateFolder())
                               : m_decryptedManifestPath;
    const QString shown = m_folder.absoluteFilePath(u"Manifest.db"_s);
    Sqlite3DB db;
    // The file's own SQL never runs (views and computed columns are refused), no value may grow past 64 MB,
    // and a cancel stops any statement within milliseconds.
    db.setProgressHandler([&cancelled] { return cancelled && cancelled(); });
    try {
        db.openThrow(source, Sqlite3DB::OpenReadWrite);
        db.setLengthLimit(64 * 1024 * 1024);
        // Far more steps than reading a real file table of this size needs, far fewer than an endless query.
        db.setStepBudget(500'000'000 + 5000 * QFileInfo(source).size());
        db.checkTable(u"Files"_s, {u"domain"_s, u"relativePath"_s, u"file"_s});

        // iOS 10.0 backups keep Manifest.db plain but encipher each file description with a key made from the
        // password and the 'salt' property.
        QByteArray descKey;
        if (!m_password.isEmpty()) {
            Sqlite3Cursor hasProperties =
                db.queryThrow("select 1 from sqlite_master where name='Properties' collate nocase");
            if (hasProperties.moveNext()) {
                db.checkTable(u"Properties"_s, {u"key"_s, u"value"_s});
                Sqlite3Cursor salt = db.queryThrow("select value from Properties where key='salt' limit 1");
                if (salt.moveNext())
                    descKey = descriptionKey(m_password.toUtf8(), salt.getBlob(0));
            }
        }

        qint64 total = 0;
        if (progress) {
            db.queryEach("select count(*) from Files", [&total](const Sqlite3Row &row) { total = row.getInt64(0); });
            progress(0, total);
        }
        // Row by row, keeping only the records sought: a table of millions of files is never held. Only their
        // descriptions are decoded (and deciphered).
        qint64 done = 0;
        db.queryEach("select domain, relativePath, file from Files", [&](const Sqlite3Row &row) {
            if (progress && ++done % kProgressStep == 0)
                progress(done, total);
            FileRecord record;
            const QString domain = row.getText(0);
            if (domain.isEmpty())
                return;
            record.domain = domain.toUtf8();
            const QString path = row.getText(1);
            record.relativePath = path.toUtf8();
            if (RecordPicker::wanted(domain, path)) {
                QByteArray blob = row.getBlob(2);
                if (!descKey.isEmpty())
                    blob = MBDBParser::decryptFileDescThrow(QByteArray::fromBase64(blob), descKey);
                MBDBParser::fillFromArchive(blob, record);
            }
            picker.offer(record, domain, path);
        });
        if (progress)
            progress(total, total);
    } catch (const Sqlite3Exception &e) {
        if (cancelled && cancelled())
            throw StepCancelled();
        fail(u"%1: %2"_s.arg(shown, QString::fromUtf8(e.what())));
    }
    db.close();
    if (m_manifestDbKey.isEmpty()) {
        QFile::remove(source);
        QFile::remove(source + u"-wal"_s);
        QFile::remove(source + u"-shm"_s);
    }
}

void BackupManifest::readManifestMbdb(RecordPicker &picker, const std::function<bool()> &cancelled,
                                      const LoadProgress &progress) const
{
    const QString path = m_folder.absoluteFilePath(u"Manifest.mbdb"_s);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(trKey("can not open %1. %2").arg(path, file.errorString()));
    QList<FileRecord> records;
    try {
        records = MBDBParser::readMbdb(file);
    } catch (const std::exception &e) {
        fail(u"%1: %2"_s.arg(path, QString::fromUtf8(e.what())));
    }
    const qint64 total = records.size();
    if (progress)
        progress(0, total);
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (cancelled && cancelled())
            throw StepCancelled();
        // Each record is dropped once looked at.
        const FileRecord record = std::exchange(records[i], FileRecord());
        if (!record.domain.isEmpty())
            picker.offer(record, record.domainText(), record.relativePathText());
        if (progress && (i + 1) % kProgressStep == 0)
            progress(i + 1, total);
    }
    if (progress)
        progress(total, total);
}

void BackupManifest::extractFile(const FileRecord *record, const QString &destPath, ProgressCallback progress,
                                 void *userData) const
{
    if (!record)
        return;
    const QString stored = storedFilePath(m_folder, fileId(record->domainText(), record->relativePathText()), false);

    QByteArray fileKey;
    if (m_encrypted)
        fileKey = unwrapClassKey(m_keybag, record->protectionClass, record->encryptionKey.mid(4));

    if (!fileKey.isEmpty()) {
        decryptFile(fileKey, stored, destPath);
    } else {
        QFile in(stored);
        if (!in.open(QIODevice::ReadOnly))
            fail(trKey("can not open %1. %2").arg(stored, in.errorString()));
        makeParentFolder(destPath);
        QFile out(destPath);
        if (!out.open(QIODevice::WriteOnly))
            fail(trKey("can not create %1. %2").arg(destPath, out.errorString()));
        const qint64 total = in.size();
        qint64 done = 0;
        QByteArray block(kBlockSize, '\0');
        while (!in.atEnd()) {
            const qint64 got = in.read(block.data(), kBlockSize);
            if (got < 0)
                fail(trKey("can not open %1. %2").arg(stored, in.errorString()));
            // A failed write is an error, not a shorter copy.
            if (out.write(block.constData(), got) != got) {
                const QString reason = out.errorString();
                out.remove();
                fail(trKey("can not create %1. %2").arg(destPath, reason));
            }
            done += got;
            if (progress)
                progress(total, done, userData);
        }
        if (!out.flush()) {
            const QString reason = out.errorString();
            out.remove();
            fail(trKey("can not create %1. %2").arg(destPath, reason));
        }
        out.close();
    }
    setRecordTimes(destPath, record->lastModified);
}

QString BackupManifest::fileId(const QString &domain, const QString &relativePath)
{
    const QByteArray text = (domain + u'-' + relativePath).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex());
}

bool BackupManifest::usesHashedFolders(const QDir &folder)
{
    return !folder.exists(u"Manifest.mbdb"_s) && folder.exists(u"Manifest.db"_s);
}

QString BackupManifest::storedFilePath(const QDir &folder, const QString &fileId, bool makeFolders)
{
    if (!usesHashedFolders(folder))
        return folder.absoluteFilePath(fileId);
    const QString path = folder.absoluteFilePath(fileId.left(2) + u'/' + fileId);
    if (makeFolders)
        QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

void BackupManifest::decryptFile(const QByteArray &key, const QString &sourcePath, const QString &destPath)
{
    QFile in(sourcePath);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        fail(trKey("can not open %1. %2").arg(sourcePath, in.errorString()));
    makeParentFolder(destPath);
    QFile out(destPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        fail(trKey("can not create %1. %2").arg(destPath, out.errorString()));

    // Stored files and Manifest.db are enciphered with an IV of sixteen zero bytes.
    const QByteArray iv(16, '\0');
    QOpenSSLEVPAES aes;
    if (!aes.init(EVP_aes_256_cbc(), key, iv, false) || aes.updateAll(&in, &out, kBlockSize) < 0 ||
        aes.finalAll(&out, kBlockSize) < 0) {
        // Nothing incomplete is left behind to be taken for the whole file.
        out.remove();
        fail(trKey("BackupManifest::decryptFile: decrypt failed. %1").arg(aes.errorString()));
    }
    out.close();
}
