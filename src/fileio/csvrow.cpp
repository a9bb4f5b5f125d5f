#include "fileio/csvrow.h"

#include "fileio/log.h"

#include <QByteArray>
#include <QIODevice>

#include <stdexcept>

namespace {

[[noreturn]] void readFailed(const QIODevice &device)
{
    const QByteArray error = device.errorString().toUtf8();
    qCDebug(lcFileio, "utf8CSVRow::error:%s", error.constData());
    throw std::runtime_error(error.toStdString());
}

// One byte from the device: false at its end; a failed read throws.
bool nextByte(QIODevice &device, char &c)
{
    const qint64 n = device.read(&c, 1);
    if (n < 0)
        readFailed(device);
    return n == 1;
}

} // namespace

bool utf8CSVRow(QStringList &fields, QIODevice &device, bool atStart, char separator, bool *unterminated)
{
    if (unterminated)
        *unterminated = false;
    if (atStart) {
        // The first three bytes: a byte order mark is skipped; other bytes stay for the row (a header row may
        // be shorter than three bytes).
        char head[3];
        const qint64 n = device.peek(head, 3);
        if (n < 0)
            readFailed(device);
        if (n == 0)
            return false;
        if (QByteArray(head, n) == "\xEF\xBB\xBF" && device.read(head, 3) != 3)
            readFailed(device);
    }

    QByteArray buffer;
    bool inQuotes = false;
    bool quotePending = false;
    bool wasQuoted = false;
    for (;;) {
        char c;
        if (!nextByte(device, c)) {
            fields.append(QString::fromUtf8(buffer));
            if (unterminated)
                *unterminated = inQuotes && !quotePending;
            return false;
        }
        if (c == '\0')
            continue;

        if (c == '"' && !wasQuoted) {
            wasQuoted = true;
            inQuotes = true;
            continue;
        }
        if (inQuotes) {
            if (c == '"') {
                if (quotePending)
                    buffer.append('"');
                quotePending = !quotePending;
                continue;
            }
            if (quotePending) {
                // The quoted part has ended; the byte is read as one outside quotes.
                quotePending = false;
                inQuotes = false;
            }
        }
        if (!inQuotes) {
            if (c == separator) {
                fields.append(QString::fromUtf8(buffer));
                buffer.clear();
                wasQuoted = false;
                continue;
            }
            if (c == '\r')
                continue;
            if (c == '\n') {
                fields.append(QString::fromUtf8(buffer));
                return true;
            }
        }
        buffer.append(c);
    }
}
