#include "android/androidsendchangesthread.h"

#include "android/androidcontactsdb.h"
#include "android/androidentity.h"
#include "android/iandroidconnector.h"
#include "android/log.h"
#include "android/restoresession.h"
#include "android/syncprotocol.h"
#include "contacts/localdb.h"
#include "core/texts.h"

#include <QTcpSocket>

#include <memory>

using namespace simpleprotocol;
using pim::DataRow;

AndroidSendChangesThread::AndroidSendChangesThread(ProgressTarget *progress, AndroidContactsDb *cache, int port,
                                                   QObject *parent)
    : QThread(parent), m_cache(cache), m_progress(progress), m_port(port)
{
}

AndroidSendChangesThread::~AndroidSendChangesThread() = default;

void AndroidSendChangesThread::setChanges(const pim::Contact &contact, const QList<pim::ChangeRecord> &changes)
{
    m_mode = SendChanges;
    m_contact = contact;
    m_changes = changes;
}

void AndroidSendChangesThread::setContactsToDelete(const QList<pim::Contact> &contacts)
{
    m_mode = DeleteContacts;
    m_contacts = contacts;
}

void AndroidSendChangesThread::setContactsToRegroup(const QList<pim::Contact> &contacts)
{
    m_mode = SetGroups;
    m_contacts = contacts;
}

bool AndroidSendChangesThread::cancelled() const
{
    return m_progress.stopRequested();
}

void AndroidSendChangesThread::run()
{
    auto socket = std::make_unique<QTcpSocket>();
    try {
        m_progress.updateProgress(trKey("IDS_SYNC_START_SERVICE"), 0, QString());
        const PAndroidConnector connector = m_cache->connector();
        if (!connector)
            throw std::runtime_error("AndroidSendChangesThread::run, the cache has no connector.");
        restoresession::open(*socket, *connector, m_port);
        switch (m_mode) {
        case SendChanges:
            sendChanges(*socket);
            break;
        case DeleteContacts:
            deleteContacts(*socket);
            break;
        case SetGroups:
            setGroups(*socket);
            break;
        }
        socket->disconnectFromHost();
        m_progress.succeed(QString());
    } catch (const OperationCancelled &) {
        // The user gave up while the phone was silent; what the phone applied stays, the caller reloads it.
        qCDebug(lcAndroidSync, "Sync to Android, User canceled.");
    } catch (const std::exception &e) {
        m_progress.errorOccurred(QString::fromUtf8(e.what()));
    }
}

void AndroidSendChangesThread::sendChanges(QTcpSocket &socket)
{
    const CancelCheck cancelCheck = [this] { return cancelled(); };
    m_progress.updateProgress(trKey("IDS_SENGING_CHANGES_TO_DEVICE"), 99, QString());

    // A contact the phone does not know yet (and nothing to name it by: 0 and 0) is created first from its name row.
    qint64 p2 = 0, p3 = 0;
    if (!androidentity::parseRowId(m_contact.src_id, nullptr, &p2, &p3) && m_contact.hasRows(pim::ENTITY_NAME)) {
        const DataRow name = m_contact.firstRow(pim::ENTITY_NAME);
        restoresession::sendBatch(
            socket, {{kEnt, androidentity::encodeRow(pim::ENTITY_NAME, m_contact._id, m_contact._id, name)}});
        const QString reply = readReply(&socket, -1, cancelCheck);
        qCDebug(lcAndroidSync, "Android Sync, %s", qUtf8Printable(reply));
        // The reply must name the contact's new id; without it the rows below would have no contact on the phone.
        const QHash<qint64, QString> created =
            reply.startsWith(QLatin1String(kBatch))
                ? restoresession::applyContactRemap(*m_cache, remapItems(reply), {{m_contact._id, name._id}})
                : QHash<qint64, QString>();
        if (!created.contains(m_contact._id))
            throw std::runtime_error(
                trKey("receive $batch: command error, invalid command:%1").arg(reply).toStdString());
        m_contact.src_id = created.value(m_contact._id);
        androidentity::parseRowId(m_contact.src_id, nullptr, &p2, &p3);
    }

    QList<QPair<const char *, QString>> body;
    QSet<qint64> sentLocal;
    for (const pim::ChangeRecord &change : std::as_const(m_changes)) {
        if (change.type == pim::ENTITY_NAME && change.action == pim::ACTION_ADDED)
            continue; // the name row of a new contact went with the contact above
        if (change.action == pim::ACTION_ADDED || change.action == pim::ACTION_UPDATED) {
            body.append({kEnt, androidentity::encodeRow(change.type, p2, p3, change.row)});
            if (change.row.src_id.isEmpty())
                sentLocal.insert(change.row._id);
        } else if (change.action == pim::ACTION_DELETED) {
            body.append({kDel, androidentity::encodeDeleteId(change.type, p2, p3, change.row)});
        }
    }
    restoresession::sendBatch(socket, body);
    restoresession::applyRowRemap(*m_cache, readBatchReply(&socket, -1, cancelCheck), sentLocal);
}

void AndroidSendChangesThread::deleteContacts(QTcpSocket &socket)
{
    QList<QPair<const char *, QString>> body;
    for (const pim::Contact &contact : std::as_const(m_contacts))
        if (contact.hasRows(pim::ENTITY_NAME))
            body.append(
                {kDel, androidentity::encodeDeleteId(pim::ENTITY_NAME, 0, 0, contact.firstRow(pim::ENTITY_NAME))});
    // No reply is read to a delete batch. Before letting go, the program still waits a moment for the phone to
    // answer or hang up: through an adb forward the batch is only relayed after the local send, and a program
    // that ends (or drops the phone) at once could cut it off.
    restoresession::sendBatch(socket, body);
    constexpr int kLingerMs = 5000;
    if (socket.bytesAvailable() == 0)
        socket.waitForReadyRead(kLingerMs);
}

void AndroidSendChangesThread::setGroups(QTcpSocket &socket)
{
    QList<QPair<const char *, QString>> body;
    QSet<qint64> sentLocal;
    for (const pim::Contact &contact : std::as_const(m_contacts)) {
        qint64 p2 = 0, p3 = 0;
        if (!androidentity::parseRowId(contact.src_id, nullptr, &p2, &p3))
            continue; // not on the phone
        if (!contact.hasRows(pim::ENTITY_GROUP)) {
            body.append({kUngroup, QString::number(p2)});
            continue;
        }
        const DataRow group = contact.firstRow(pim::ENTITY_GROUP);
        body.append({kEnt, androidentity::encodeRow(pim::ENTITY_GROUP, p2, p3, group)});
        if (group.src_id.isEmpty())
            sentLocal.insert(group._id);
    }
    restoresession::sendBatch(socket, body);
    restoresession::applyRowRemap(*m_cache, readBatchReply(&socket, -1, [this] { return cancelled(); }), sentLocal);
}
