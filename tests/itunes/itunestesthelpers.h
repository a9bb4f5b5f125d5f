#pragma once

// Builders for backup fixtures: property lists, keybag TLVs, Manifest.mbdb records, archived descriptions.

#include "ios/plistcftype.h"
#include "testfiles.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QtEndian>

#include <plist/plist.h>

namespace itunesfx {

inline QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

inline QByteArray tlv(const char *tag, const QByteArray &value)
{
    return QByteArray(tag, 4) + be32(quint32(value.size())) + value;
}

// A Manifest.plist (XML) with a Lockdown dictionary and the given top-level extras.
inline QByteArray manifestPlist(const QString &udid, const QString &name, const QDateTime &date, bool encrypted = false,
                                const QByteArray &keybag = QByteArray(), const QByteArray &manifestKey = QByteArray())
{
    PlistCFType lockdown = PlistCFType::newDict();
    lockdown.setItem(QStringLiteral("UniqueDeviceID"), PlistCFType::fromString(udid));
    lockdown.setItem(QStringLiteral("DeviceName"), PlistCFType::fromString(name));
    lockdown.setItem(QStringLiteral("ProductType"), PlistCFType::fromString(QStringLiteral("iPhone12,1")));
    lockdown.setItem(QStringLiteral("ProductVersion"), PlistCFType::fromString(QStringLiteral("14.3")));
    lockdown.setItem(QStringLiteral("SerialNumber"), PlistCFType::fromString(QStringLiteral("F2LXYZ")));
    PlistCFType root = PlistCFType::newDict();
    root.setItem(QStringLiteral("Lockdown"), lockdown);
    root.setItem(QStringLiteral("Date"), PlistCFType::fromDateTime(date));
    root.setItem(QStringLiteral("IsEncrypted"), PlistCFType::fromBool(encrypted));
    if (!keybag.isEmpty())
        root.setItem(QStringLiteral("BackupKeyBag"), PlistCFType::fromByteArray(keybag));
    if (!manifestKey.isEmpty())
        root.setItem(QStringLiteral("ManifestKey"), PlistCFType::fromByteArray(manifestKey));
    return root.toXml();
}

// One Manifest.mbdb record; a null string is written as absent (0xFFFF).
struct MbdbRecord
{
    QByteArray domain, path, target, digest, key;
    quint16 mode = 0x81a4;
    quint32 mtime = 1600000000;
    quint64 size = 0;
    quint8 protectionClass = 0;
    QList<QPair<QByteArray, QByteArray>> properties;
};

inline QByteArray mbdbString(const QByteArray &s)
{
    if (s.isNull())
        return QByteArray("\xff\xff", 2);
    QByteArray b(2, '\0');
    qToBigEndian(quint16(s.size()), b.data());
    return b + s;
}

inline QByteArray mbdbRecord(const MbdbRecord &r)
{
    QByteArray out =
        mbdbString(r.domain) + mbdbString(r.path) + mbdbString(r.target) + mbdbString(r.digest) + mbdbString(r.key);
    QByteArray numbers(2 + 8 + 4 * 5 + 8, '\0');
    char *p = numbers.data();
    qToBigEndian(r.mode, p);
    qToBigEndian(quint64(77), p + 2);
    qToBigEndian(quint32(501), p + 10);
    qToBigEndian(quint32(501), p + 14);
    qToBigEndian(r.mtime, p + 18);
    qToBigEndian(r.mtime, p + 22);
    qToBigEndian(r.mtime, p + 26);
    qToBigEndian(r.size, p + 30);
    out += numbers;
    out += char(r.protectionClass);
    out += char(quint8(r.properties.size()));
    for (const auto &[name, value] : r.properties)
        out += mbdbString(name) + mbdbString(value);
    return out;
}

// An archived MBFile description; fields given as libplist nodes, objects added as needed.
class Archive
{
public:
    Archive() : m_objects(plist_new_array()), m_root(plist_new_dict())
    {
        plist_array_append_item(m_objects, plist_new_string("$null"));
        plist_array_append_item(m_objects, m_root);
    }
    ~Archive() { plist_free(m_archive ? m_archive : m_objects); }
    Archive(const Archive &) = delete;
    Archive &operator=(const Archive &) = delete;

    void set(const char *key, plist_t value) { plist_dict_set_item(m_root, key, value); }
    void setNumber(const char *key, quint64 value) { set(key, plist_new_uint(value)); }
    // Adds an object; returns a UID node referring to it.
    plist_t object(plist_t node)
    {
        plist_array_append_item(m_objects, node);
        return plist_new_uid(plist_array_get_size(m_objects) - 1);
    }
    static plist_t data(const QByteArray &b) { return plist_new_data(b.constData(), quint64(b.size())); }

    QByteArray binary()
    {
        if (!m_archive) {
            m_archive = plist_new_dict();
            plist_t top = plist_new_dict();
            plist_dict_set_item(top, "root", plist_new_uid(1));
            plist_dict_set_item(m_archive, "$top", top);
            plist_dict_set_item(m_archive, "$objects", m_objects);
        }
        char *bin = nullptr;
        uint32_t length = 0;
        plist_to_bin(m_archive, &bin, &length);
        const QByteArray out(bin, qsizetype(length));
        plist_to_bin_free(bin);
        return out;
    }

private:
    plist_t m_objects;
    plist_t m_root;
    plist_t m_archive = nullptr;
};

// Every file under a folder with its size and modification time, to show that nothing was written there.
inline QMap<QString, QString> snapshot(const QString &folder)
{
    QMap<QString, QString> files;
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        files.insert(QDir(folder).relativeFilePath(info.filePath()),
                     QStringLiteral("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch()));
    }
    return files;
}

// Sets the 4-byte value of a keybag attribute ("DPIC", "ITER") in a backup's Manifest.plist; false when the
// keybag has no such item.
inline bool setKeybagNumber(const QString &folder, const char *tag, quint32 value)
{
    const QString path = folder + QStringLiteral("/Manifest.plist");
    PlistCFType root = PlistCFType::fromData(readFile(path));
    QByteArray bag = root.item(QStringLiteral("BackupKeyBag")).toByteArray();
    const qsizetype at = bag.indexOf(QByteArray(tag, 4) + be32(4));
    if (at < 0)
        return false;
    bag.replace(at + 8, 4, be32(value));
    root.setItem(QStringLiteral("BackupKeyBag"), PlistCFType::fromByteArray(bag));
    return writeFile(path, root.toXml());
}

} // namespace itunesfx
