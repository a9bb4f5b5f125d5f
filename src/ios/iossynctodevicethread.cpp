#include "ios/iossynctodevicethread.h"

#include "contacts/localdb.h"
#include "contacts/workertransaction.h"
#include "core/texts.h"
#include "ios/iosrecordarchive.h"
#include "ios/iosrecords.h"
#include "ios/log.h"
#include "ios/mobiledevice.h"

#include <QMap>

#include <algorithm>

using pim::Contact;
using pim::DataRow;

namespace {

struct Cancelled
{
};

using Written = pim::RowsByType;

bool carriesContactRecordRows(const Written &written)
{
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        for (const DataRow &row : it.value())
            if (iosrecords::travelsInContactRecord(it.key(), row))
                return true;
    return false;
}

} // namespace

// What one group wrote into the cache and still has to send.
struct IOSSyncToDeviceThread::Group
{
    QMap<qint64, QString> recordIds;  // contact _id → its Contact record identifier (empty while new to the device)
    QMap<qint64, Written> rowsToSend; // contact _id → rows the merge wrote, by type
    QList<Contact> needContactRecord; // stored contacts whose Contact record is to be sent, as they now are
};

IOSSyncToDeviceThread::IOSSyncToDeviceThread(const QString &udid, LocalDb *cache, const QList<Contact> &contacts,
                                             ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_udid(udid), m_cache(cache), m_contacts(contacts), m_progress(progress)
{
}

IOSSyncToDeviceThread::~IOSSyncToDeviceThread() = default;

bool IOSSyncToDeviceThread::cancelled() const
{
    return m_progress.stopRequested();
}

void IOSSyncToDeviceThread::run()
{
    const DeviceThreadScope deviceThread;
    try {
        // What goes to a phone that keeps its contacts in iCloud lands in its local store: the user hears so first.
        const QString icloud = mobiledevice_check_before_sync(m_udid);
        if (!icloud.isEmpty())
            m_progress.updateProgress(icloud, 0, QString());
        m_progress.updateProgress(trKey("IDS_MERGING_CONTACTS"), 0, QString());
        m_total = int(m_contacts.size());
        m_processed = 0;
        m_merged = 0;
        while (m_processed < m_total)
            sendGroup(m_processed, std::min(kGroupContacts, m_total - m_processed));

        const QString text =
            m_merged == 0
                ? trKey("IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS").arg(m_processed)
                : trKey("IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS_MERGED_%2").arg(m_processed - m_merged).arg(m_merged);
        m_progress.succeed(icloud.isEmpty() ? text : text + QLatin1Char('\n') + icloud);
    } catch (const Cancelled &) {
        qCDebug(lcIosSync, "IOS Sync, transfer cancelled.");
    } catch (const MobilesyncCancelled &) {
        qCDebug(lcIosSync, "IOS Sync, transfer cancelled while the device was silent.");
    } catch (const std::exception &e) {
        m_progress.errorOccurred(QString::fromUtf8(e.what()));
    }
}

void IOSSyncToDeviceThread::sendGroup(int first, int count)
{
    // The group's own transaction: an exception leaving this function rolls the group back.
    WorkerTransaction transaction(m_cache, "Sync to iPhone");
    transaction.begin();

    Group group;
    for (int i = first; i < first + count; ++i) {
        if (cancelled())
            throw Cancelled();
        ++m_processed;
        m_progress.updateProgress(trKey("IDS_MERGING_CONTACTS"), ProgressReporter::percent(m_processed, m_total),
                                  ProgressReporter::contactsText(m_processed, m_total));
        const LocalDb::SaveResult saved = m_cache->saveContactWithMerge(m_contacts.at(i));
        if (saved.merged)
            ++m_merged;
        if (saved.written.isEmpty())
            continue;
        const Contact &stored = saved.stored;
        group.recordIds.insert(stored._id, stored.src_id);
        pim::addRowsById(group.rowsToSend[stored._id], saved.written);
        // A contact new to the device needs its Contact record before any of its rows can name it, even when
        // the merge wrote no field that the Contact record carries (a contact without a name row).
        if (carriesContactRecordRows(saved.written) || stored.src_id.isEmpty()) {
            const auto same = std::find_if(group.needContactRecord.begin(), group.needContactRecord.end(),
                                           [&stored](const Contact &c) { return c._id == stored._id; });
            if (same != group.needContactRecord.end())
                *same = stored;
            else
                group.needContactRecord.append(stored);
        }
    }

    if (!group.needContactRecord.isEmpty() || !group.rowsToSend.isEmpty())
        sendToDevice(group);

    transaction.commit();
}

void IOSSyncToDeviceThread::sendToDevice(Group &group)
{
    PMobilesyncClient client;
    IosRecordArchive archive(*m_cache);
    mobiledevice_sync_start_throw(m_udid, MobilesyncAnchors::forContacts(m_udid), client,
                                  [this] { return cancelled(); });
    mobiledevice_sync_ready_to_send_throw(client.get());

    // Contact records; the device answers new ones ("-" and the local _id) with its identifiers.
    const int contactCount = int(group.needContactRecord.size());
    for (int first = 0; first < contactCount; first += kBatchContacts) {
        if (cancelled())
            throw Cancelled();
        PlistCFType batch = PlistCFType::newDict();
        for (int k = first; k < std::min(contactCount, first + kBatchContacts); ++k)
            iosrecords::contactToRecord(batch, group.needContactRecord.at(k),
                                        archive.get(group.needContactRecord.at(k).src_id));
        const PlistCFType mapping = mobiledevice_sync_send_changes_throw(client.get(), batch, false);
        archive.keepSent(batch, mapping);
        for (const PlistCFType &key : mapping.keys()) {
            const qint64 contactId = iosrecords::contactIdOfRemapKey(key.toString());
            if (contactId <= 0)
                continue;
            const QString recordId = mapping.item(key).toString();
            qCDebug(lcIosSync, "IOS Sync, cid:%lld => %s", contactId, qUtf8Printable(recordId));
            m_cache->setContactSrcId(contactId, recordId);
            group.recordIds.insert(contactId, recordId);
        }
    }

    // The other records, under their contacts' record identifiers.
    const QList<qint64> ids = group.rowsToSend.keys();
    const int rowContacts = int(ids.size());
    for (int first = 0; first < rowContacts; first += kBatchContacts) {
        if (cancelled())
            throw Cancelled();
        PlistCFType batch = PlistCFType::newDict();
        for (int k = first; k < std::min(rowContacts, first + kBatchContacts); ++k) {
            const QString recordId = group.recordIds.value(ids.at(k));
            if (recordId.isEmpty()) {
                qCDebug(lcIosSync, "IOS Sync, the device gave no identifier to contact %lld; its rows stay here.",
                        ids.at(k));
                continue;
            }
            const Written &rows = group.rowsToSend.value(ids.at(k));
            for (auto it = rows.cbegin(); it != rows.cend(); ++it)
                for (const DataRow &row : it.value())
                    iosrecords::rowToRecord(batch, recordId, it.key(), -row._id, row, archive.get(row.src_id));
        }
        if (batch.count() == 0)
            continue;
        const PlistCFType mapping = mobiledevice_sync_send_changes_throw(client.get(), batch, false);
        archive.keepSent(batch, mapping);
        archive.storeNewRowIds(mapping);
    }

    mobiledevice_sync_finish_throw(client.get());
    rememberDeviceAnchor(m_udid, client.get());
}
