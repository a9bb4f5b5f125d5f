#include "android/restoresession.h"

#include "android/iandroidconnector.h"
#include "android/log.h"
#include "contacts/localdb.h"

#include <QTcpSocket>

using namespace simpleprotocol;

namespace restoresession {

void open(QTcpSocket &socket, IAndroidConnector &connector, int port)
{
    // The connector may move the session to another port.
    const QString host = connector.startRestore(port);
    connectThrow(socket, host, port);
}

void sendBatch(QTcpSocket &socket, const QList<QPair<const char *, QString>> &body)
{
    writeCommand(&socket, QLatin1String(kBatch), QString(), true, -1);
    for (const auto &[command, argument] : body)
        writeCommand(&socket, QLatin1String(command), argument, false, -1);
    writeCommand(&socket, QLatin1String(kEnd), QString(), true, -1);
}

int applyRowRemap(LocalDb &db, const QList<RemapItem> &items, const QSet<qint64> &sentLocalRows)
{
    int updated = 0;
    for (const RemapItem &item : items) {
        if (!sentLocalRows.contains(item.part4)) {
            qCDebug(lcAndroidSync, "Android Sync, remap of a row not sent in this batch ignored: %lld=>%s", item.part4,
                    qUtf8Printable(item.newId));
            continue;
        }
        db.setRowSrcId(item.part4, item.newId);
        ++updated;
    }
    return updated;
}

QHash<qint64, QString> applyContactRemap(LocalDb &db, const QList<RemapItem> &items,
                                         const QHash<qint64, qint64> &sentContacts)
{
    QHash<qint64, QString> phoneIds;
    for (const RemapItem &item : items) {
        const auto sent = sentContacts.constFind(item.part2);
        if (sent == sentContacts.constEnd() || sent.value() != item.part4 || phoneIds.contains(item.part2)) {
            qCDebug(lcAndroidSync, "Android Sync, remap of a contact not sent in this batch ignored: %lld/%lld=>%s",
                    item.part2, item.part4, qUtf8Printable(item.newId));
            continue;
        }
        db.setContactSrcId(item.part2, item.newId);
        db.setRowSrcId(item.part4, item.newId);
        phoneIds.insert(item.part2, item.newId);
    }
    return phoneIds;
}

} // namespace restoresession
