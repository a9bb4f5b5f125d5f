#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What to write. The layout and the encryption follow the iOS versions that wrote them:
// - mbdb: Manifest.mbdb, stored files flat in the folder (iOS 9 and older);
// - db: Manifest.db (WAL-mode SQLite) with archived MBFile descriptions, stored files in <id[:2]>/<id> (iOS 10+).
// Encrypted backups get a keybag whose class keys are wrapped with the password key and a wrapped key per file;
// with a DPIC count (iOS 10.2+) the password key comes from PBKDF2-HMAC-SHA256 then PBKDF2-HMAC-SHA1 and
// Manifest.db itself is enciphered with the key in "ManifestKey"; saltedDescriptions writes the iOS 10.0 form
// instead (plain Manifest.db, each description enciphered with a key made from the password and a 'salt').
struct BackupOptions
{
    QString outDir;
    QByteArray seed; // vCard bytes
    bool mbdbLayout = false;
    QString password; // empty: not encrypted
    int iterations = 10000;
    int dpic = 0; // 0: no DPSL/DPIC in the keybag
    QString deviceName = QStringLiteral("iPhone");
    bool saltedDescriptions = false;
};

// One file of the device stored in the backup, with the digest of its plain content.
struct StoredFile
{
    QString domain;
    QString relativePath;
    QString fileId;
    qint64 size = 0;
    QByteArray sha1;
};

// The device id backup-maker gives a device name: lower-case hex SHA-1 of "backup-maker:" + name.
QString makerUdid(const QString &deviceName);

// Writes the backup folder; throws std::runtime_error. Returns the stored files.
QList<StoredFile> writeBackup(const BackupOptions &options);
