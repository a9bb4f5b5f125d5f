#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace fileio {

// How the text of a contact file is encoded, as far as its first bytes tell.
enum class TextEncoding { Plain, Utf8Bom, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

// Reads the byte order mark, if any. Without one, text whose first characters are ASCII written in two bytes
// each ("B\0E\0G\0" or "\0B\0E\0G") is taken as UTF-16 of that byte order: editors on Windows save such
// files ("Unicode") and without this every byte pair would read as a character and a NUL.
TextEncoding detectEncoding(QByteArrayView bytes);

// The text as UTF-8 without a byte order mark. Plain bytes and UTF-8 after a mark come back unchanged (the view
// points into `bytes`); UTF-16 and UTF-32 are converted into `storage`, which the view then points into.
QByteArrayView asUtf8Text(const QByteArray &bytes, QByteArray &storage);

} // namespace fileio
