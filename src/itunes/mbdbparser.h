#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

class QIODevice;

// One entry of a backup's file table. Byte strings keep the difference between absent (a null QByteArray, the
// length 0xFFFF of Manifest.mbdb) and empty (a non-null empty QByteArray); both read as empty text.
struct BackupFileRecord
{
    QByteArray domain;
    QByteArray relativePath;
    QByteArray linkTarget;
    QByteArray digest;
    QByteArray encryptionKey; // 4 bytes of protection class, then the 40-byte wrapped file key
    quint16 mode = 0;         // 0x4000 set: a directory
    quint64 inodeNumber = 0;
    quint32 userId = 0;
    quint32 groupId = 0;
    quint32 lastModified = 0; // seconds since 1970-01-01 UTC
    quint32 lastStatusChange = 0;
    quint32 birth = 0;
    quint64 size = 0; // of the plain file
    quint8 protectionClass = 0;
    QList<QPair<QByteArray, QByteArray>> properties; // extended attributes; Manifest.mbdb only

    QString domainText() const { return QString::fromUtf8(domain); }
    QString relativePathText() const { return QString::fromUtf8(relativePath); }
};

// Reads the two forms of the file table.
class MBDBParser
{
public:
    // Every record of a Manifest.mbdb after its 6-byte header, each read in full (absent domains and
    // properties included). Throws std::runtime_error with the device's error string on a short read.
    static QList<BackupFileRecord> readMbdb(QIODevice &in);

    // Fills a record's fields (all but domain and relative path) from the archived MBFile description of a
    // Manifest.db row. A missing key leaves its field empty or 0.
    static void fillFromArchive(const QByteArray &blob, BackupFileRecord &record);

    // Deciphers one enciphered file description (AES-CBC, key length picks 128/192/256, IV 00 01 … 0F).
    // Empty data gives empty bytes; throws std::runtime_error on a key of another size or a failed run.
    static QByteArray decryptFileDescThrow(const QByteArray &data, const QByteArray &key);
};
