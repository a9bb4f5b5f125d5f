#include "apkmanifest.h"

#include <QStringList>
#include <QtEndian>

#include <zlib.h>

using namespace Qt::StringLiterals;

namespace {

quint8 u8(const QByteArray &d, qsizetype at)
{
    return at >= 0 && at < d.size() ? quint8(d.at(at)) : 0;
}

quint16 u16(const QByteArray &d, qsizetype at)
{
    return at >= 0 && at + 2 <= d.size() ? qFromLittleEndian<quint16>(d.constData() + at) : 0;
}

quint32 u32(const QByteArray &d, qsizetype at)
{
    return at >= 0 && at + 4 <= d.size() ? qFromLittleEndian<quint32>(d.constData() + at) : 0;
}

// The bytes of one zip entry (stored or deflated), found through the central directory.
bool zipEntry(const QByteArray &zip, const QByteArray &name, QByteArray *out, QString *error)
{
    qsizetype eocd = -1;
    for (qsizetype i = zip.size() - 22; i >= 0 && i >= zip.size() - 22 - 65535; --i)
        if (u32(zip, i) == 0x06054b50) {
            eocd = i;
            break;
        }
    if (eocd < 0) {
        *error = u"not a zip file"_s;
        return false;
    }
    const quint16 count = u16(zip, eocd + 10);
    qsizetype at = u32(zip, eocd + 16);
    for (int n = 0; n < count; ++n) {
        if (u32(zip, at) != 0x02014b50)
            break;
        const quint16 method = u16(zip, at + 10);
        const quint32 packed = u32(zip, at + 20), size = u32(zip, at + 24);
        const quint16 nameLen = u16(zip, at + 28), extraLen = u16(zip, at + 30), commentLen = u16(zip, at + 32);
        const qsizetype local = u32(zip, at + 42);
        if (zip.mid(at + 46, nameLen) == name) {
            const qsizetype data = local + 30 + u16(zip, local + 26) + u16(zip, local + 28);
            if (u32(zip, local) != 0x04034b50 || data + qsizetype(packed) > zip.size() || size > 16 * 1024 * 1024) {
                *error = u"damaged zip entry %1"_s.arg(QString::fromLatin1(name));
                return false;
            }
            if (method == 0) {
                *out = zip.mid(data, packed);
                return true;
            }
            if (method != 8) {
                *error = u"unknown compression %1"_s.arg(method);
                return false;
            }
            out->resize(size);
            z_stream z{};
            z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zip.constData() + data));
            z.avail_in = packed;
            z.next_out = reinterpret_cast<Bytef *>(out->data());
            z.avail_out = size;
            const bool ok =
                inflateInit2(&z, -MAX_WBITS) == Z_OK && inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == size;
            inflateEnd(&z);
            if (!ok)
                *error = u"can not inflate %1"_s.arg(QString::fromLatin1(name));
            return ok;
        }
        at += 46 + nameLen + extraLen + commentLen;
    }
    *error = u"no %1 in the package"_s.arg(QString::fromLatin1(name));
    return false;
}

// Strings of a ResStringPool chunk starting at `at`.
QStringList stringPool(const QByteArray &x, qsizetype at)
{
    const quint32 count = u32(x, at + 8);
    const bool utf8 = u32(x, at + 16) & 0x100;
    const qsizetype strings = at + u32(x, at + 20);
    const qsizetype offsets = at + u16(x, at + 2);
    QStringList out;
    for (quint32 i = 0; i < count && i < 100000; ++i) {
        qsizetype s = strings + u32(x, offsets + 4 * i);
        if (utf8) {
            s += (u8(x, s) & 0x80) ? 2 : 1; // length in UTF-16 units
            int len = u8(x, s);
            if (len & 0x80) {
                len = ((len & 0x7f) << 8) | u8(x, s + 1);
                ++s;
            }
            out << QString::fromUtf8(x.mid(s + 1, len));
        } else {
            int len = u16(x, s);
            if (len & 0x8000) {
                len = ((len & 0x7fff) << 16) | u16(x, s + 2);
                s += 2;
            }
            QString str;
            for (int k = 0; k < len; ++k)
                str += QChar(u16(x, s + 2 + 2 * k));
            out << str;
        }
    }
    return out;
}

} // namespace

bool readApkManifest(const QByteArray &apk, ApkManifest *manifest, QString *error)
{
    QByteArray x;
    if (!zipEntry(apk, "AndroidManifest.xml", &x, error))
        return false;
    if (u16(x, 0) != 0x0003) {
        *error = u"AndroidManifest.xml is not binary XML"_s;
        return false;
    }
    QStringList pool;
    for (qsizetype at = u16(x, 2); at + 8 <= x.size();) {
        const quint16 type = u16(x, at);
        const quint32 size = u32(x, at + 4);
        if (size < 8)
            break;
        if (type == 0x0001) {
            pool = stringPool(x, at);
        } else if (type == 0x0102) { // start of an element: the first one is <manifest>
            const qsizetype ext = at + u16(x, at + 2);
            if (pool.value(int(u32(x, ext + 4))) != u"manifest"_s)
                break;
            const qsizetype first = ext + u16(x, ext + 8);
            const quint16 attrSize = u16(x, ext + 10), attrCount = u16(x, ext + 12);
            for (int i = 0; i < attrCount; ++i) {
                const qsizetype a = first + qsizetype(i) * attrSize;
                const QString name = pool.value(int(u32(x, a + 4)));
                const quint32 raw = u32(x, a + 8);
                const quint8 dataType = u8(x, a + 15);
                const quint32 data = u32(x, a + 16);
                if (name == u"package"_s)
                    manifest->package = pool.value(int(raw == 0xffffffff ? data : raw));
                else if (name == u"versionCode"_s && dataType >= 0x10 && dataType <= 0x1f)
                    manifest->versionCode = data;
            }
            if (manifest->package.isEmpty()) {
                *error = u"the manifest names no package"_s;
                return false;
            }
            return true;
        }
        at += size;
    }
    *error = u"no <manifest> element"_s;
    return false;
}
