// CSV files: the row reader on its own (every row of the input, with its quotes, line breaks and byte order
// mark), then the importer on the same bytes as a file, every record mapped to a contact.

#include "fileio/csvimport.h"
#include "fileio/csvrow.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QBuffer in(&bytes);
        in.open(QIODevice::ReadOnly);
        bool atStart = true;
        for (;;) {
            QStringList fields;
            const bool more = utf8CSVRow(fields, in, atStart, size > 0 && data[0] == ';' ? ';' : ',');
            atStart = false;
            if (!more)
                break;
        }
    }

    // The importer reads a file: one per process, rewritten for each input.
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("input.csv"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(bytes);
    file.close();
    CSVImport importer;
    try {
        importer.open(path);
    } catch (const std::runtime_error &) {
        return 0;
    }
    while (importer.hasNext()) {
        pim::Contact contact;
        importer.next(contact);
        (void)contact.full_name.size();
    }
    importer.close();
    return 0;
}
