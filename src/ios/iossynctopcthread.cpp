#include "ios/iossynctopcthread.h"

#include "contacts/localdb.h"
#include "contacts/workertransaction.h"
#include "core/texts.h"
#include "ios/iosrecordarchive.h"
#include "ios/iosrecords.h"
#include "ios/log.h"
#include "ios/mobiledevice.h"

#include <QHash>

using pim::DataRow;

namespace {

struct Cancelled
{
};

// Stores the records of one read as they arrive: a Contact record becomes a contact with the rows it carries,
// any other record a row under each Contact it names. A row naming a Contact not seen yet waits for it.
class RecordStore
{
public:
    explicit RecordStore(LocalDb &cache) : m_cache(cache), m_archive(cache) {}

    void store(const QString &id, const PlistCFType &record)
    {
        const QString kind = iosrecords::kindOf(record);
        if (kind == QLatin1String(iosrecords::kContactKind)) {
            m_archive.put(id, record);
            storeContact(id, record);
            return;
        }
        if (kind == QLatin1String(iosrecords::kGroupKind)) {
            // Members may come before or after their group: memberships are stored at the end of the read.
            const QString name = iosrecords::groupName(record);
            if (!name.isEmpty())
                m_groups.append({name, iosrecords::groupMembers(record)});
            return;
        }
        int type = 0;
        DataRow row;
        if (!iosrecords::recordToRow(record, id, &type, &row))
            return; // a kind this program does not sync
        m_archive.put(id, record);
        for (const QString &contactId : iosrecords::contactRefs(record)) {
            const qint64 local = m_contactIds.value(contactId, 0);
            if (local > 0) {
                DataRow copy = row;
                m_cache.insertRow(local, type, copy);
            } else {
                m_pending[contactId].append({type, row});
            }
        }
    }

    // Each group of the phone becomes a group of the cache, with a membership row for every member that came.
    void storeGroups()
    {
        for (const auto &[name, members] : std::as_const(m_groups)) {
            const qint64 groupId = m_cache.findOrCreateGroup(name);
            for (const QString &member : members) {
                const qint64 local = m_contactIds.value(member, 0);
                if (local <= 0)
                    continue;
                DataRow row;
                row.setValue(QStringLiteral("data1"), QString::number(groupId));
                row.setValue(QStringLiteral("data2"), name);
                m_cache.insertRow(local, pim::ENTITY_GROUP, row);
            }
        }
    }

    int contacts() const { return m_contactCount; }
    // Rows still waiting: their Contact record never came.
    int pendingRows() const
    {
        int n = 0;
        for (const auto &rows : m_pending)
            n += int(rows.size());
        return n;
    }

private:
    void storeContact(const QString &id, const PlistCFType &record)
    {
        pim::Contact contact = iosrecords::contactRecordToContact(record, id);
        m_cache.insertContact(contact);
        m_contactIds.insert(id, contact._id);
        ++m_contactCount;
        // The name row first, then what else the record carries.
        for (int type : {pim::ENTITY_NAME, pim::ENTITY_NICKNAME, pim::ENTITY_ORGANIZATION, pim::ENTITY_EVENT,
                         pim::ENTITY_PHOTO, pim::ENTITY_NOTE})
            for (DataRow &row : contact.entities[type])
                m_cache.insertRow(contact._id, type, row);
        const QList<std::pair<int, DataRow>> waiting = m_pending.take(id);
        for (auto [type, row] : waiting)
            m_cache.insertRow(contact._id, type, row);
    }

    LocalDb &m_cache;
    IosRecordArchive m_archive;
    QList<std::pair<QString, QStringList>> m_groups;          // the phone's groups: name, member identifiers
    QHash<QString, qint64> m_contactIds;                      // Contact record identifier → local contact _id
    QHash<QString, QList<std::pair<int, DataRow>>> m_pending; // rows waiting for their Contact record
    int m_contactCount = 0;
};

} // namespace

IOSSyncToPCThread::IOSSyncToPCThread(const QString &udid, LocalDb *cache, ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_udid(udid), m_cache(cache), m_progress(progress)
{
}

IOSSyncToPCThread::~IOSSyncToPCThread() = default;

void IOSSyncToPCThread::run()
{
    const DeviceThreadScope deviceThread;
    PMobilesyncClient client;
    WorkerTransaction transaction(m_cache, "Sync from iPhone");
    try {
        // A phone that keeps its contacts in iCloud serves only its local store: the user hears so first.
        const QString icloud = mobiledevice_check_before_sync(m_udid);
        if (!icloud.isEmpty())
            m_progress.updateProgress(icloud, 99, QString());
        m_progress.updateProgress(trKey("IDS_RECEIVING_CONTACTS_FROM_IOS"), 99, icloud);
        const MobilesyncAnchors anchors = MobilesyncAnchors::forContacts(m_udid);
        mobiledevice_set_disable_tethered(m_udid, QStringLiteral("Contacts"), false);
        mobiledevice_sync_start_throw(m_udid, anchors, client, [this] { return m_progress.stopRequested(); });
        mobiledevice_sync_get_all_records_throw(client.get());

        transaction.begin();
        RecordStore store(*m_cache);
        bool more = true;
        while (more) {
            if (m_progress.stopRequested())
                throw Cancelled();
            PlistCFType entities;
            more = mobiledevice_sync_receive_changes_throw(client.get(), entities);
            entities.forEachItem([&store](const QString &id, const PlistCFType &record) { store.store(id, record); });
        }
        store.storeGroups();
        m_contacts = store.contacts();
        m_orphanRows = store.pendingRows();
        if (m_orphanRows > 0)
            qCDebug(lcIosSync, "IOS Sync, %d rows name a contact that never came; not stored.", m_orphanRows);

        transaction.commit();
        m_progress.succeed(icloud);
    } catch (const Cancelled &) {
        qCDebug(lcIosSync, "IOS Sync, reading cancelled.");
        transaction.rollback();
    } catch (const MobilesyncCancelled &) {
        qCDebug(lcIosSync, "IOS Sync, reading cancelled while the device was silent.");
        transaction.rollback();
    } catch (const std::exception &e) {
        transaction.rollback();
        m_progress.errorOccurred(QString::fromUtf8(e.what()));
    }
}
