#pragma once

#include "itunes/keybag.h"
#include "itunes/mbdbparser.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class PrivateTempDir;

// One iTunes backup folder: its description (Manifest.plist, Status.plist), its file table (Manifest.mbdb or
// Manifest.db), its keybag and the copying out of stored files, deciphered when the backup is encrypted.
//
// Nothing is ever written inside a backup folder (it may be on read-only media, belong to someone else, or hold
// links planted to redirect a write). The deciphered Manifest.db of an encrypted backup goes into a private
// folder of this object (see PrivateTempDir), removed with it; a plain Manifest.db (WAL-mode SQLite, which leaves
// -wal/-shm files beside any database it opens for writing) is read from a copy in such a folder too.
class BackupManifest : public QObject
{
    Q_OBJECT
public:
    using FileRecord = BackupFileRecord;
    // Called during a plain copy with the source size, the bytes written so far and the caller's pointer.
    using ProgressCallback = void (*)(qint64 total, qint64 done, void *userData);

    BackupManifest(const QString &folderPath, QObject *parent = nullptr);
    ~BackupManifest() override;

    // Where backups are looked for, in this order: "Apple Computer/MobileSync/Backup" under the roaming
    // application-data folder of the home folder, then "Apple/MobileSync/Backup" under the home folder.
    static QStringList backupRoots();
    // The direct sub-folders of a root that hold Manifest.plist and Manifest.mbdb or Manifest.db, oldest
    // modification time first.
    static QStringList candidateFolders(const QString &root);

    // Reads Manifest.plist and Status.plist and forms the display name. Throws std::runtime_error.
    void readInfo();

    QString deviceId() const { return m_deviceId; }
    QString deviceName() const { return m_deviceName; }
    QDateTime backupDate() const { return m_backupDate; }
    QString productType() const { return m_productType; }
    QString productVersion() const { return m_productVersion; }
    QString serialNumber() const { return m_serialNumber; }
    bool isEncrypted() const { return m_encrypted; }
    QString displayName() const { return m_displayName; }
    QDir folder() const { return m_folder; }
    // Lower-case hex MD5 of the UTF-8 absolute folder path: tells whether a folder is already listed.
    QString identity() const;

    // Checks the password against the keybag; for a keybag with "DPIC" and "DPSL" also deciphers Manifest.db
    // into Manifest-decrypted.db in this object's private folder. False for a wrong password (nothing else
    // changes). Throws std::runtime_error when Manifest.db cannot be deciphered or the keybag is damaged, and
    // StepCancelled when `cancelled` returns true during the key derivation.
    bool setPassword(const QString &password, const std::function<bool()> &cancelled = {});
    QString password() const { return m_password; }
    const Keybag &keybag() const { return m_keybag; }
    QString decryptedManifestPath() const { return m_decryptedManifestPath; }

    // Told the records of the file table read so far and their total, now and then during load().
    using LoadProgress = std::function<void(qint64 done, qint64 total)>;
    // Reads the file table and finds the address-book records; a second call does nothing. Only those records
    // are kept (a file table can hold millions of rows). Throws std::runtime_error (a damaged table names its
    // file), StepCancelled when `cancelled` returns true.
    void load(const std::function<bool()> &cancelled = {}, const LoadProgress &progress = {});
    bool isLoaded() const { return m_loaded; }
    // The records of the file table that name a file (a domain), counted by load().
    qint64 fileCount() const { return m_fileCount; }
    // The records found by load(), or null.
    const FileRecord *addressBookRecord() const { return m_addressBook ? &*m_addressBook : nullptr; }
    const FileRecord *addressBookImagesRecord() const { return m_addressBookImages ? &*m_addressBookImages : nullptr; }

    // Writes the plain content of the record's stored file to destPath (deciphered when the backup is encrypted
    // and the file key unwraps, copied in 8192-byte blocks otherwise) and gives the copy the record's
    // modification time. A null record does nothing. Throws std::runtime_error.
    void extractFile(const FileRecord *record, const QString &destPath, ProgressCallback progress = nullptr,
                     void *userData = nullptr) const;

    // Lower-case hex SHA-1 of the UTF-8 text domain + "-" + relativePath.
    static QString fileId(const QString &domain, const QString &relativePath);
    // True when the folder has Manifest.db and no Manifest.mbdb: stored files then lie in sub-folders named by
    // the first two characters of their id.
    static bool usesHashedFolders(const QDir &folder);
    static QString storedFilePath(const QDir &folder, const QString &fileId, bool makeFolders);

    // Deciphers a whole stored file (AES-256-CBC, IV of sixteen zero bytes, padding removed). A failed run
    // removes the incomplete destination and throws std::runtime_error.
    static void decryptFile(const QByteArray &key, const QString &sourcePath, const QString &destPath);

private:
    class RecordPicker;
    void readManifestDb(RecordPicker &picker, const std::function<bool()> &cancelled, const LoadProgress &progress);
    void readManifestMbdb(RecordPicker &picker, const std::function<bool()> &cancelled,
                          const LoadProgress &progress) const;
    // This object's private folder, made on first use.
    PrivateTempDir &privateFolder();

    QString m_deviceId;
    QString m_deviceName;
    QDateTime m_backupDate;
    QString m_productType;
    QString m_productVersion;
    QString m_serialNumber;
    bool m_encrypted = false;
    QByteArray m_keybagBytes;
    QByteArray m_manifestKeyBytes;
    QString m_displayName;
    QString m_decryptedManifestPath;
    QByteArray m_manifestDbKey;
    QDir m_folder;
    QString m_password;
    Keybag m_keybag;
    qint64 m_fileCount = 0;
    std::optional<FileRecord> m_addressBook;
    std::optional<FileRecord> m_addressBookImages;
    bool m_loaded = false;
    std::unique_ptr<PrivateTempDir> m_private;
};

using PBackupManifest = QSharedPointer<BackupManifest>;
