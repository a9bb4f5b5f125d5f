#include "android/syncrestorethread.h"

#include "android/androidcontactsdb.h"
#include "android/androidentity.h"
#include "android/iandroidconnector.h"
#include "android/log.h"
#include "android/syncprotocol.h"
#include "contacts/contactname.h"
#include "contacts/localdb.h"
#include "contacts/workertransaction.h"
#include "core/texts.h"

#include <QTcpSocket>

#include <memory>

using namespace Qt::StringLiterals;
using namespace simpleprotocol;

SyncRestoreThread::SyncRestoreThread(AndroidContactsDb *cache, int port, ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_cache(cache), m_port(port), m_progress(progress)
{
}

SyncRestoreThread::~SyncRestoreThread() = default;

bool SyncRestoreThread::cancelled() const
{
    return m_progress.stopRequested();
}

void SyncRestoreThread::run()
{
    // The socket lives and dies on this thread.
    auto socket = std::make_unique<QTcpSocket>();
    WorkerTransaction transaction(m_cache, "Sync from Android");
    try {
        const PAndroidConnector connector = m_cache->connector();
        if (!connector)
            throw std::runtime_error("SyncRestoreThread::run, the cache has no connector.");
        m_progress.updateProgress(trKey("IDS_SYNC_CHECK_APK"), 0, QString());
        connector->prepare();
        if (cancelled())
            return;

        m_progress.updateProgress(trKey("IDS_SYNC_START_SERVICE"), 0, QString());
        int port = m_port;
        const QString host = connector->startBackup(port);
        connectThrow(*socket, host, port);
        if (cancelled())
            return;

        m_progress.updateProgress(trKey("IDS_SYNC_BACKING"), 0, QString());
        transaction.begin();
        m_totalCount = 0;
        m_receivedCount = 0;
        m_reportedPercent = -1;
        m_orphanRows = 0;
        m_contactIds.clear();
        for (;;) {
            if (cancelled())
                throw OperationCancelled();
            const QString line = readReply(socket.get(), -1, [this] { return cancelled(); });
            if (handleLine(*socket, line) == Step::Done)
                break;
        }
        transaction.commit();
        socket->disconnectFromHost();
        if (m_orphanRows > 0)
            qCDebug(lcAndroidSync, "Android Sync, %d rows without a name row were not stored.", m_orphanRows);
        m_progress.succeed(QString());
    } catch (const OperationCancelled &) {
        qCDebug(lcAndroidSync, "Sync from Android, User canceled.");
        transaction.rollback();
    } catch (const std::exception &e) {
        transaction.rollback();
        m_progress.errorOccurred(QString::fromUtf8(e.what()));
    }
}

SyncRestoreThread::Step SyncRestoreThread::handleLine(QTcpSocket &socket, const QString &line)
{
    const auto rest = [&line](const char *command) { return line.mid(int(qstrlen(command))); };
    if (line.startsWith(QLatin1String(kDevice))) {
        m_deviceName = androidentity::decodeText(rest(kDevice));
    } else if (line.startsWith(QLatin1String(kVersion))) {
        // Text that is no number counts as version 0.
        if (rest(kVersion).toInt() < kMinVersion)
            throw std::runtime_error(
                trKey("IDS_DAEMON_APK_OLDER_THAN_%1").arg(QLatin1String(kRequiredAppVersion)).toStdString());
    } else if (line.startsWith(QLatin1String(kCount))) {
        m_totalCount = rest(kCount).toInt();
    } else if (line.startsWith(QLatin1String(kBatch))) {
        receiveBatch(socket);
    } else if (line.startsWith(QLatin1String(kBye))) {
        return Step::Done;
    }
    return Step::Continue;
}

void SyncRestoreThread::receiveBatch(QTcpSocket &socket)
{
    for (;;) {
        if (cancelled())
            throw OperationCancelled();
        const QString line = readReply(&socket, -1, [this] { return cancelled(); });
        if (line.startsWith(QLatin1String(kEnt))) {
            storeRow(line);
        } else if (line.startsWith(QLatin1String(kEnd))) {
            writeCommand(&socket, QLatin1String(kBatch), QString(), true, -1);
            return;
        }
    }
}

void SyncRestoreThread::storeRow(const QString &line)
{
    const QStringList fields = line.mid(int(qstrlen(kEnt))).split(u',', Qt::KeepEmptyParts);
    int type = 0;
    qint64 phoneContactId = 0;
    if (!androidentity::parseRowId(fields.first(), &type, &phoneContactId))
        throw std::runtime_error(trKey("Invalid:%1").arg(line).toStdString());
    if (!pim::isEntityType(type)) {
        // A kind of row this program does not know (a newer app): nothing to store it as.
        qCDebug(lcAndroidSync, "Android Sync, row of unknown type skipped: %s", qUtf8Printable(fields.first()));
        return;
    }

    pim::DataRow row;
    row.src_id = fields.first();
    androidentity::decodeRow(fields, type, row);

    if (type == pim::ENTITY_NAME) {
        pim::Contact contact;
        contact.src_id = fields.first();
        contact.full_name = pim::displayName(row);
        m_cache->insertContact(contact);
        m_contactIds.insert(phoneContactId, contact._id);
        if (contact.full_name.isEmpty())
            m_unnamed.insert(contact._id, {contact, row});
        ++m_receivedCount;
        // A report per contact costs more than storing it: one per percent and every 250 contacts, and each
        // from the count the phone announced on (the last one, or more than it said).
        const int percent = ProgressReporter::percent(m_receivedCount, m_totalCount);
        if (percent != m_reportedPercent || m_receivedCount >= m_totalCount || m_receivedCount % 250 == 0) {
            m_reportedPercent = percent;
            m_progress.updateProgress(trKey("IDS_RECEIVING_CONTACTS_FROM_ANDROID"), percent,
                                      trKey("Contacts: %1/%2").arg(m_receivedCount).arg(m_totalCount));
        }
    }
    const auto local = m_contactIds.constFind(phoneContactId);
    if (local == m_contactIds.constEnd()) {
        // The phone sends a contact's name row first; a row whose contact never came would belong to no one.
        ++m_orphanRows;
        return;
    }
    // The phone names a contact without a person's name by its organization; so does the list.
    if (type == pim::ENTITY_ORGANIZATION) {
        const auto unnamed = m_unnamed.find(*local);
        if (unnamed != m_unnamed.end()) {
            unnamed->first.full_name = pim::shownName(unnamed->second, row);
            if (!unnamed->first.full_name.isEmpty())
                m_cache->updateContact(unnamed->first);
            m_unnamed.erase(unnamed);
        }
    }
    if (type == pim::ENTITY_GROUP) {
        const QString group = row.text(u"data2"_s);
        if (!group.isEmpty())
            row.setValue(u"data1"_s, QString::number(m_cache->findOrCreateGroup(group)));
    }
    m_cache->insertRow(*local, type, row);
}
