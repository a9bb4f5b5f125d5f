#include "fileio/textencoding.h"

#include <QStringDecoder>

namespace fileio {

namespace {

// Two ASCII characters in two bytes each, the zero byte first (big-endian) or second (little-endian).
bool asciiPairs(QByteArrayView bytes, bool bigEndian)
{
    if (bytes.size() < 4)
        return false;
    for (int i = 0; i < 4; i += 2) {
        const uchar high = uchar(bytes[bigEndian ? i : i + 1]);
        const uchar low = uchar(bytes[bigEndian ? i + 1 : i]);
        if (high != 0 || low == 0 || low >= 0x80)
            return false;
    }
    return true;
}

} // namespace

TextEncoding detectEncoding(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return TextEncoding::Utf8Bom;
    // UTF-32 first: its little-endian mark begins with UTF-16's.
    if (bytes.startsWith(QByteArrayView("\xFF\xFE\0\0", 4)))
        return TextEncoding::Utf32LE;
    if (bytes.startsWith(QByteArrayView("\0\0\xFE\xFF", 4)))
        return TextEncoding::Utf32BE;
    if (bytes.startsWith("\xFF\xFE") || asciiPairs(bytes, false))
        return TextEncoding::Utf16LE;
    if (bytes.startsWith("\xFE\xFF") || asciiPairs(bytes, true))
        return TextEncoding::Utf16BE;
    return TextEncoding::Plain;
}

QByteArrayView asUtf8Text(const QByteArray &bytes, QByteArray &storage)
{
    QStringDecoder::Encoding wide = QStringDecoder::Utf16LE;
    switch (detectEncoding(bytes)) {
    case TextEncoding::Plain:
        return bytes;
    case TextEncoding::Utf8Bom:
        return QByteArrayView(bytes).sliced(3);
    case TextEncoding::Utf16LE:
        wide = QStringDecoder::Utf16LE;
        break;
    case TextEncoding::Utf16BE:
        wide = QStringDecoder::Utf16BE;
        break;
    case TextEncoding::Utf32LE:
        wide = QStringDecoder::Utf32LE;
        break;
    case TextEncoding::Utf32BE:
        wide = QStringDecoder::Utf32BE;
        break;
    }
    // The decoder drops the byte order mark itself; an odd last byte becomes a replacement character.
    QStringDecoder decoder(wide, QStringDecoder::Flag::Stateless);
    storage = QString(decoder.decode(bytes)).toUtf8();
    if (storage.startsWith("\xEF\xBB\xBF"))
        storage.remove(0, 3);
    return storage;
}

} // namespace fileio
