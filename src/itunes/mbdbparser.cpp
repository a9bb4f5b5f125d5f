#include "itunes/mbdbparser.h"

#include "core/texts.h"
#include "ios/plistcftype.h"
#include "itunes/qopensslevpaes.h"

#include <QBuffer>
#include <QtEndian>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

// Big-endian reads from a device; a short read throws with the device's error string.
class MbdbReader
{
public:
    explicit MbdbReader(QIODevice &in) : m_in(in) {}

    bool atEnd() const { return m_in.atEnd(); }

    QByteArray bytes(qint64 count)
    {
        const qint64 at = m_in.pos();
        QByteArray data = m_in.read(count);
        if (data.size() != count) {
            // A device error has its own text; a short read without one is a file that ends too early (the
            // device's text would be "Unknown error").
            const QString reason = data.size() < 0 && !m_in.errorString().isEmpty()
                                       ? m_in.errorString()
                                       : QStringLiteral("the file table is truncated: %1 bytes expected at offset %2, "
                                                        "%3 there")
                                             .arg(count)
                                             .arg(at)
                                             .arg(qMax(qsizetype(0), data.size()));
            throw std::runtime_error(reason.toStdString());
        }
        return data;
    }
    template <typename T> T number() { return qFromBigEndian<T>(bytes(sizeof(T)).constData()); }
    // A 16-bit length and that many bytes; 0xFFFF is absent (null), 0 is empty (not null).
    QByteArray string()
    {
        const quint16 length = number<quint16>();
        if (length == 0xFFFF)
            return QByteArray();
        if (length == 0)
            return QByteArray(""); // empty, not absent
        return bytes(length);
    }

private:
    QIODevice &m_in;
};

// The bytes of a data value, or of an archived data object's "NS.data" (itself a data value, or a UID of one).
QByteArray archivedData(const PlistCFType &value, const PlistCFType &objects)
{
    if (value.isData())
        return value.toByteArray();
    PlistCFType data = value.item(u"NS.data"_s);
    if (data.type() == PlistCFType::TypeUid)
        data = objects.item(int(data.uid()));
    return data.toByteArray();
}

} // namespace

QList<BackupFileRecord> MBDBParser::readMbdb(QIODevice &in)
{
    MbdbReader r(in);
    if (!r.bytes(6).startsWith("mbdb"))
        throw std::runtime_error("the file table does not start with \"mbdb\": not a Manifest.mbdb file");
    QList<BackupFileRecord> records;
    while (!r.atEnd()) {
        BackupFileRecord rec;
        rec.domain = r.string();
        rec.relativePath = r.string();
        rec.linkTarget = r.string();
        rec.digest = r.string();
        rec.encryptionKey = r.string();
        rec.mode = r.number<quint16>();
        rec.inodeNumber = r.number<quint64>();
        rec.userId = r.number<quint32>();
        rec.groupId = r.number<quint32>();
        rec.lastModified = r.number<quint32>();
        rec.lastStatusChange = r.number<quint32>();
        rec.birth = r.number<quint32>();
        rec.size = r.number<quint64>();
        rec.protectionClass = r.number<quint8>();
        // The count is an unsigned byte: every property it announces is read, so the next record starts where
        // it should even for counts of 128 and more.
        const int propertyCount = r.number<quint8>();
        for (int i = 0; i < propertyCount; ++i) {
            const QByteArray name = r.string();
            rec.properties.append({name, r.string()});
        }
        records.append(rec);
    }
    return records;
}

void MBDBParser::fillFromArchive(const QByteArray &blob, BackupFileRecord &record)
{
    const PlistCFType archive = PlistCFType::fromData(blob);
    const PlistCFType objects = archive.item(u"$objects"_s);
    // The flattened values are views into the archive, which lives until the end of this function.
    const QHash<QString, PlistCFType> root = archive.archiveRootObject();
    const auto get = [&root](const char *key) { return root.value(QString::fromLatin1(key)); };

    record.linkTarget = get("Target").toString().toUtf8();
    record.digest = archivedData(get("Digest"), objects);
    record.encryptionKey = archivedData(get("EncryptionKey"), objects);
    record.mode = quint16(get("Mode").toUInt64());
    record.inodeNumber = get("InodeNumber").toUInt64();
    record.userId = quint32(get("UserID").toUInt64());
    record.groupId = quint32(get("GroupID").toUInt64());
    record.lastModified = quint32(get("LastModified").toUInt64());
    record.lastStatusChange = quint32(get("LastStatusChange").toUInt64());
    record.birth = quint32(get("Birth").toUInt64());
    record.size = get("Size").toUInt64();
    const PlistCFType protectionClass = get("ProtectionClass");
    if (protectionClass.type() == PlistCFType::TypeNumber)
        record.protectionClass = quint8(protectionClass.toUInt64());
    else if (record.encryptionKey.size() >= 4)
        // Some descriptions lack the class; the wrapped key starts with it (32 bits, little-endian).
        record.protectionClass = quint8(qFromLittleEndian<quint32>(record.encryptionKey.constData()));
}

QByteArray MBDBParser::decryptFileDescThrow(const QByteArray &data, const QByteArray &key)
{
    if (data.isEmpty())
        return QByteArray();
    const EVP_CIPHER *cipher = nullptr;
    switch (key.size() * 8) {
    case 128:
        cipher = EVP_aes_128_cbc();
        break;
    case 192:
        cipher = EVP_aes_192_cbc();
        break;
    case 256:
        cipher = EVP_aes_256_cbc();
        break;
    default:
        throw std::runtime_error(trKey("MBDBParser::decryptFileDescThrow, invalid key size.").toStdString());
    }
    // The descriptions of these manifests are enciphered with the IV 00 01 02 … 0F.
    QByteArray iv(16, '\0');
    for (int i = 0; i < iv.size(); ++i)
        iv[i] = char(i);

    QBuffer in;
    in.setData(data);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QOpenSSLEVPAES aes;
    if (!aes.init(cipher, key, iv, false) || aes.updateAll(&in, &out, 8192) < 0 || aes.finalAll(&out, 8192) < 0)
        throw std::runtime_error(trKey("MBDBParser::decryptFileDescThrow, %1").arg(aes.errorString()).toStdString());
    return out.data();
}
