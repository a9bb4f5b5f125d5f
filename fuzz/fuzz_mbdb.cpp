// Manifest.mbdb, the file table of older backups: every record with its strings and properties.

#include "itunes/mbdbparser.h"

#include <QBuffer>

#include <cstdint>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    try {
        const QList<BackupFileRecord> records = MBDBParser::readMbdb(in);
        for (const BackupFileRecord &r : records) {
            (void)r.domainText();
            (void)r.relativePathText();
        }
    } catch (const std::runtime_error &) {
        // A short read is the parser's answer to a truncated file.
    }
    return 0;
}
