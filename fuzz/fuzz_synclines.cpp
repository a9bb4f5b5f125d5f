// What the companion app sends over the sync connection: lines read by the protocol's line reader, each handled
// as a backup session does (device name, version, count, rows of a batch decoded into data rows), and every line
// also scanned as a batch reply for remap items.

#include "android/androidentity.h"
#include "android/syncprotocol.h"
#include "memorysocket.h"

#include <cstdint>
#include <stdexcept>

using namespace simpleprotocol;

namespace {

void handleRow(const QString &line)
{
    const QStringList fields = line.mid(int(qstrlen(kEnt))).split(QLatin1Char(','), Qt::KeepEmptyParts);
    int type = 0;
    qint64 contactId = 0;
    if (!androidentity::parseRowId(fields.first(), &type, &contactId) || !pim::isEntityType(type))
        return;
    pim::DataRow row;
    row.src_id = fields.first();
    androidentity::decodeRow(fields, type, row);
    if (type == pim::ENTITY_NAME)
        (void)pim::displayName(row);
    if (type == pim::ENTITY_ADDRESS)
        (void)pim::addressText(row);
    // What was decoded goes back out as the phone would get it.
    (void)androidentity::encodeRow(type, contactId, contactId, row);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemorySocket socket(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    try {
        for (;;) {
            QString line;
            try {
                line = readReply(&socket, -1);
            } catch (const RemoteException &) {
                continue;
            }
            for (const RemapItem &item : remapItems(line))
                (void)item.newId.size();
            if (line.startsWith(QLatin1String(kDevice)))
                (void)androidentity::decodeText(line.mid(int(qstrlen(kDevice))));
            else if (line.startsWith(QLatin1String(kVersion)) || line.startsWith(QLatin1String(kCount)))
                (void)line.mid(int(qstrlen(kCount))).toInt();
            else if (line.startsWith(QLatin1String(kEnt)))
                handleRow(line);
            else if (line.startsWith(QLatin1String(kBye)))
                break;
        }
    } catch (const SocketDataTransferException &) {
        // The input ended or held an empty line: how a session ends on a closed connection.
    }
    return 0;
}
