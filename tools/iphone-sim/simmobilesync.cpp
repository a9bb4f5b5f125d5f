// The simulator's mobilesync service: the device-link version exchange, then one sync session of
// "com.apple.Contacts" at a time. The phone sends its records in batches (each acknowledged by the computer),
// announces that it is ready for changes, applies the computer's batches to a copy of its store, answers each
// with the identifiers it gave to new records, and commits the copy when the computer finishes the session.

#include "iphonesim.h"

#include "simchannel.h"

#include <QDateTime>
#include <QPair>

#include <QtEndian>
#include <iterator>

#include <cstdio>

#include <sys/socket.h>

using namespace simplist;
using namespace simrecords;

namespace {

constexpr char kContactsClass[] = "com.apple.Contacts";

enum class State {
    Idle,         // no session (before a start, after a refusal or a finish)
    Started,      // session started; waiting for a request of records or for the computer's changes
    AwaitingAck,  // a batch went out; its acknowledgement is due
    ReadyForPing, // the phone said it is ready for changes; the computer's ping is due
    Receiving,    // taking the computer's batches until it finishes
};

} // namespace

void IPhoneSim::serveMobilesync(Device *device, int fd)
{
    const QString udid = device->config.udid;
    const QString fail = device->config.fail;
    const quint64 dlVersion = quint64(device->config.dlVersion);
    SimChannel channel(fd);

    const auto send = [&](const Plist &message) {
        note(udid, "mobilesync", "out", message.get());
        return channel.writeFrame(message.toBinary());
    };
    const auto receive = [&](Plist *message, QString *name) {
        QByteArray frame;
        if (!channel.readFrame(&frame))
            return false;
        *message = Plist::parse(frame);
        *name = messageName(message->get());
        note(udid, "mobilesync", "in", message->get());
        return true;
    };
    const auto protocolError = [&](const QString &text) { error(udid, QStringLiteral("mobilesync: %1").arg(text)); };

    // Device link: the phone announces its version; the computer must accept exactly that one.
    if (!send(message("DLMessageVersionExchange", {unum(dlVersion), unum(100)})))
        return;
    Plist msg;
    QString name;
    if (!receive(&msg, &name))
        return;
    if (name != QLatin1String("DLMessageVersionExchange") ||
        string(plist_array_get_item(msg.get(), 1)) != QLatin1String("DLVersionsOk") ||
        uintValue(plist_array_get_item(msg.get(), 2)) != dlVersion) {
        protocolError(QStringLiteral("expected [DLMessageVersionExchange, DLVersionsOk, %1]").arg(dlVersion));
        return;
    }
    if (!send(message("DLMessageDeviceReady")))
        return;

    State state = State::Idle;
    SimStore staged;                    // the session's copy of the store
    QHash<QString, QString> sessionMap; // temporary identifiers of this session → the phone's
    // Batches still to send to the computer; an empty one goes as an empty dictionary, or as the empty-parameter
    // string when emptyString is set.
    struct Batch
    {
        QList<QPair<QString, Plist>> records;
        bool emptyString = false;
    };
    QList<Batch> outgoing;
    int batchesSent = 0;
    int batchesTotal = 0;
    bool changed = false;
    QString newAnchor;

    const auto arg = [&](int i) { return plist_array_get_item(msg.get(), uint32_t(i)); };
    const auto cancel = [&](const QString &reason) {
        protocolError(reason);
        send(message("SDMessageCancelSession", {plist_new_string(kContactsClass), str(reason)}));
        state = State::Idle;
    };
    const auto sendBatch = [&]() -> bool {
        Batch next = outgoing.takeFirst();
        plist_t entities = nullptr;
        if (next.records.isEmpty() && next.emptyString) {
            entities = plist_new_string(kEmptyParameter);
        } else {
            entities = plist_new_dict();
            for (QPair<QString, Plist> &entry : next.records)
                plist_dict_set_item(entities, entry.first.toUtf8().constData(), entry.second.release());
        }
        const bool more = !outgoing.isEmpty();
        const Plist batch = message("SDMessageProcessChanges", {plist_new_string(kContactsClass), entities,
                                                                boolean(more), plist_new_string(kEmptyParameter)});
        ++batchesSent;
        if (fail == QLatin1String("stall-mid-batch") && batchesSent == qMin(2, batchesTotal)) {
            // The phone stops sending but keeps the line open: whatever the computer says is read and left
            // unanswered until it hangs up.
            Plist ignored;
            QString ignoredName;
            while (receive(&ignored, &ignoredName)) {
            }
            return false;
        }
        if (fail == QLatin1String("drop-mid-batch") && batchesSent == qMin(2, batchesTotal)) {
            // Half a frame, then the line goes dead, as when the cable is pulled mid-transfer.
            note(udid, "mobilesync", "out", batch.get());
            QByteArray payload = batch.toBinary();
            QByteArray frame(4, Qt::Uninitialized);
            qToBigEndian<quint32>(quint32(payload.size()), frame.data());
            channel.writeAll(frame + payload.left(payload.size() / 2));
            ::shutdown(fd, SHUT_RDWR);
            return false;
        }
        state = State::AwaitingAck;
        return send(batch);
    };

    for (;;) {
        if (!receive(&msg, &name))
            break;
        if (name.isEmpty()) {
            protocolError(QStringLiteral("a message that is not an array with a name"));
            return;
        }
        if (name == QLatin1String("DLMessageDisconnect"))
            break;
        const bool forSession = name.startsWith(QLatin1String("SDMessage"));
        if (forSession && name != QLatin1String("SDMessageSyncDataClassWithDevice") && state != State::Idle &&
            string(arg(1)) != QLatin1String(kContactsClass)) {
            cancel(QStringLiteral("%1 names the data class \"%2\"").arg(name, string(arg(1))));
            continue;
        }
        if (name == QLatin1String("SDMessageCancelSession") && state != State::Idle) {
            state = State::Idle;
            continue;
        }

        switch (state) {
        case State::Idle: {
            if (name != QLatin1String("SDMessageSyncDataClassWithDevice")) {
                protocolError(QStringLiteral("%1 without a session").arg(name));
                return;
            }
            bool versionOk = false;
            uintValue(arg(4), &versionOk);
            if (plist_array_get_size(msg.get()) != 6 || !isString(arg(2)) || string(arg(3)).isEmpty() || !versionOk ||
                !isString(arg(5))) {
                protocolError(QStringLiteral("malformed SDMessageSyncDataClassWithDevice"));
                return;
            }
            if (string(arg(1)) != QLatin1String(kContactsClass)) {
                send(
                    message("SDMessageRefuseToSyncDataClassWithComputer",
                            {str(string(arg(1))), plist_new_string("This data class is not synced with a computer.")}));
                continue;
            }
            if (fail == QLatin1String("refuse-start")) {
                send(message("SDMessageRefuseToSyncDataClassWithComputer",
                             {plist_new_string(kContactsClass),
                              plist_new_string("Contacts are synced with iCloud on this iPhone.")}));
                continue;
            }
            if (fail == QLatin1String("refuse-start-silent")) {
                send(message("SDMessageRefuseToSyncDataClassWithComputer", {plist_new_string(kContactsClass)}));
                continue;
            }
            {
                std::lock_guard lock(m_mutex);
                staged = device->store;
            }
            sessionMap.clear();
            changed = false;
            // The sync type follows the anchors, as the phone's sync agent decides it: a phone that never
            // finished a session with a computer resets; a computer that names the anchor the phone holds gets a
            // fast sync; any other anchor (a computer that does not know it, "---") a slow one.
            QString phoneAnchor;
            {
                std::lock_guard lock(m_mutex);
                phoneAnchor = device->anchor;
            }
            const char *syncType = phoneAnchor.isEmpty()           ? "SDSyncTypeReset"
                                   : string(arg(2)) == phoneAnchor ? "SDSyncTypeFast"
                                                                   : "SDSyncTypeSlow";
            newAnchor = QStringLiteral("%1-%2-%3")
                            .arg(udid.left(8))
                            .arg(staged.nextId)
                            .arg(QDateTime::currentMSecsSinceEpoch());
            if (!send(message("SDMessageSyncDataClassWithComputer",
                              {plist_new_string(kContactsClass),
                               str(phoneAnchor.isEmpty() ? QStringLiteral("---") : phoneAnchor), str(newAnchor),
                               plist_new_string(syncType), unum(106)})))
                return;
            state = State::Started;
            break;
        }
        case State::Started:
            if (name == QLatin1String("SDMessageGetAllRecordsFromDevice") ||
                name == QLatin1String("SDMessageGetChangesFromDevice")) {
                // Every record, kind by kind as a phone's sync agent sends them: Contacts and groups first, then
                // one run of batches per kind in a fixed order. A kind the phone has nothing of still gets its
                // batch: an empty dictionary for the Contacts, the empty-parameter string for the others.
                outgoing.clear();
                static const char *const order[] = {"com.apple.contacts.Phone Number",
                                                    "com.apple.contacts.Email Address",
                                                    "com.apple.contacts.Street Address",
                                                    "com.apple.contacts.URL",
                                                    "com.apple.contacts.IM",
                                                    "com.apple.contacts.Date",
                                                    "com.apple.contacts.Related Name"};
                QList<QList<QPair<QString, Plist>>> byKind(1 + int(std::size(order)));
                for (auto it = staged.records.begin(); it != staged.records.end(); ++it) {
                    const QString kind = stringItem(it.value().get(), kEntityNameKey);
                    int slot = -1;
                    if (kind == QLatin1String(kContact) || kind == QLatin1String(kGroup))
                        slot = 0;
                    for (int k = 0; k < int(std::size(order)) && slot < 0; ++k)
                        if (kind == QLatin1String(order[k]))
                            slot = k + 1;
                    if (slot >= 0)
                        byKind[slot].append({QString::number(it.key()), it.value()});
                }
                for (int slot = 0; slot < byKind.size(); ++slot) {
                    const QList<QPair<QString, Plist>> &records = byKind[slot];
                    if (records.isEmpty()) {
                        outgoing.append(Batch{{}, slot > 0});
                        continue;
                    }
                    for (qsizetype at = 0; at < records.size(); at += device->config.batchSize)
                        outgoing.append(Batch{records.mid(at, device->config.batchSize), false});
                }
                batchesSent = 0;
                batchesTotal = int(outgoing.size());
                if (!sendBatch())
                    return;
            } else if (name == QLatin1String("SDMessageAcknowledgeChangesFromDevice")) {
                // Nothing was asked for: the computer wants to send. The phone has no changes to report.
                if (!send(message("SDMessageDeviceReadyToReceiveChanges")))
                    return;
                state = State::ReadyForPing;
            } else if (name == QLatin1String("SDMessageFinishSessionOnDevice")) {
                {
                    std::lock_guard lock(m_mutex);
                    device->anchor = newAnchor;
                }
                if (!send(message("SDMessageDeviceFinishedSession", {plist_new_string(kContactsClass)})))
                    return;
                state = State::Idle;
            } else {
                cancel(QStringLiteral("%1 right after the session start").arg(name));
            }
            break;
        case State::AwaitingAck:
            if (name != QLatin1String("SDMessageAcknowledgeChangesFromDevice")) {
                cancel(QStringLiteral("%1 instead of the acknowledgement of batch %2").arg(name).arg(batchesSent));
                break;
            }
            if (!outgoing.isEmpty()) {
                if (!sendBatch())
                    return;
            } else {
                if (!send(message("SDMessageDeviceReadyToReceiveChanges")))
                    return;
                state = State::ReadyForPing;
            }
            break;
        case State::ReadyForPing:
            if (name != QLatin1String("DLMessagePing")) {
                cancel(QStringLiteral("%1 instead of the computer's ping").arg(name));
                break;
            }
            state = State::Receiving;
            break;
        case State::Receiving: {
            if (name == QLatin1String("SDMessageFinishSessionOnDevice")) {
                QString why;
                {
                    std::lock_guard lock(m_mutex);
                    device->store = staged;
                    device->anchor = newAnchor;
                    if (!device->store.save(&why))
                        std::fprintf(stderr, "iphone-sim: %s\n", qPrintable(why));
                }
                changed = false;
                if (!send(message("SDMessageDeviceFinishedSession", {plist_new_string(kContactsClass)})))
                    return;
                state = State::Idle;
                break;
            }
            if (name != QLatin1String("SDMessageProcessChanges")) {
                cancel(QStringLiteral("%1 while taking changes").arg(name));
                break;
            }
            bool moreOk = false;
            boolValue(arg(3), &moreOk);
            plist_t actions = arg(4);
            if (plist_array_get_size(msg.get()) != 5 || !moreOk ||
                !(isString(actions) ? string(actions) == QLatin1String(kEmptyParameter)
                                    : actions && plist_get_node_type(actions) == PLIST_DICT)) {
                cancel(QStringLiteral("malformed SDMessageProcessChanges"));
                break;
            }
            QMap<QString, QString> remapped;
            QString why;
            if (!staged.applyChanges(arg(2), sessionMap, &remapped, &why)) {
                cancel(why);
                break;
            }
            changed = true;
            plist_t mapping = nullptr;
            if (remapped.isEmpty()) {
                mapping = plist_new_string(kEmptyParameter);
            } else {
                mapping = plist_new_dict();
                for (auto it = remapped.begin(); it != remapped.end(); ++it)
                    plist_dict_set_item(mapping, it.key().toUtf8().constData(), str(it.value()));
            }
            if (!send(message("SDMessageRemapRecordIdentifiers", {plist_new_string(kContactsClass), mapping})))
                return;
            break;
        }
        }
    }
    if (changed)
        std::fprintf(stderr, "iphone-sim: %s: the session ended without a finish; its changes are dropped\n",
                     qPrintable(udid));
}
