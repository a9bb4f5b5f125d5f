#include "ios/iossendchangesthread.h"

#include "contacts/localdb.h"
#include "core/texts.h"
#include "ios/iosrecordarchive.h"
#include "ios/iosrecords.h"
#include "ios/log.h"
#include "ios/mobiledevice.h"

#include <algorithm>

IOSSendChangesThread::IOSSendChangesThread(const QString &udid, LocalDb *cache, const pim::Contact &contact,
                                           const QList<pim::ChangeRecord> &changes, const QList<pim::Contact> &toDelete,
                                           ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_udid(udid), m_cache(cache), m_contact(contact), m_changes(changes), m_toDelete(toDelete),
      m_progress(progress)
{
}

IOSSendChangesThread::~IOSSendChangesThread() = default;

void IOSSendChangesThread::run()
{
    const DeviceThreadScope deviceThread;
    PMobilesyncClient client;
    try {
        m_progress.updateProgress(trKey("IDS_SENGING_CHANGES_TO_DEVICE"), 99, QString());
        IosRecordArchive archive(*m_cache);
        mobiledevice_sync_start_throw(m_udid, MobilesyncAnchors::forContacts(m_udid), client);
        mobiledevice_sync_ready_to_send_throw(client.get());
        bool sent = false;

        // The Contact record, when a field it carries changed. A contact the device does not know yet needs it
        // before any of its other records can name it.
        const bool contactFields = std::any_of(m_changes.cbegin(), m_changes.cend(), [](const pim::ChangeRecord &c) {
            return iosrecords::travelsInContactRecord(c.type, c.row);
        });
        if (contactFields || (!m_changes.isEmpty() && m_contact.src_id.isEmpty())) {
            PlistCFType batch = PlistCFType::newDict();
            iosrecords::contactToRecord(batch, m_contact, archive.get(m_contact.src_id));
            const QString key = iosrecords::contactRecordId(m_contact);
            const PlistCFType mapping = mobiledevice_sync_send_changes_throw(client.get(), batch, false);
            archive.keepSent(batch, mapping);
            sent = true;
            if (mapping.count() > 0) {
                PlistCFType newId = mapping.item(key);
                if (newId.isNull())
                    newId = mapping.item(mapping.keys().first());
                const QString recordId = newId.toString();
                qCDebug(lcIosSync, "IOS Sync, cid:%lld => %s", m_contact._id, qUtf8Printable(recordId));
                m_cache->setContactSrcId(m_contact._id, recordId);
                m_contact.src_id = recordId;
            }
        }

        // The other records: added and updated rows, deleted rows, deleted contacts. Something never sent to the
        // device (no source id) has nothing there to delete.
        PlistCFType batch = PlistCFType::newDict();
        const auto deleteRecord = [&](const QString &id) {
            if (!id.isEmpty())
                batch.setItem(id, PlistCFType::fromString(QLatin1String(iosrecords::kEmptyParameter)));
        };
        for (const pim::ChangeRecord &change : m_changes) {
            if (iosrecords::travelsInContactRecord(change.type, change.row))
                continue;
            if (change.action == pim::ACTION_ADDED || change.action == pim::ACTION_UPDATED)
                iosrecords::rowToRecord(batch, m_contact.src_id, change.type, -change.row._id, change.row,
                                        archive.get(change.row.src_id));
            else if (change.action == pim::ACTION_DELETED)
                deleteRecord(change.row.src_id);
        }
        for (const pim::Contact &contact : m_toDelete)
            deleteRecord(contact.src_id);
        if (batch.count() > 0) {
            const PlistCFType mapping = mobiledevice_sync_send_changes_throw(client.get(), batch, false);
            archive.keepSent(batch, mapping);
            sent = true;
            archive.storeNewRowIds(mapping);
        }

        if (sent) {
            mobiledevice_sync_finish_throw(client.get());
            rememberDeviceAnchor(m_udid, client.get());
        }
        client.reset();
        m_progress.succeed(QString());
    } catch (const std::exception &e) {
        m_progress.errorOccurred(QString::fromUtf8(e.what()));
    }
}
