#include "android/syncbackupthread.h"

#include "android/androidcontactsdb.h"
#include "android/androidentity.h"
#include "android/iandroidconnector.h"
#include "android/log.h"
#include "android/restoresession.h"
#include "android/syncprotocol.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "contacts/workertransaction.h"
#include "core/texts.h"

#include <QHash>
#include <QMap>
#include <QTcpSocket>

#include <algorithm>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using namespace simpleprotocol;
using pim::Contact;
using pim::DataRow;

using Written = pim::RowsByType;

// A contact the cache has no contact of that name for: merged in memory, stored when the phone has named it.
struct SyncBackupThread::Pending
{
    Contact contact;          // _id 0 until stored; rows with provisional _ids until stored
    qint64 provisionalId = 0; // the contact's _id on the wire until the phone names it
    QString phoneId;          // the name row's phone id, once the phone gave it
    bool stored = false;
};

namespace {

// Ids the cache never gives out (SQLite counts rowids up from the largest one used): rows and contacts not
// stored yet go to the phone under these in the local form, and the phone's answer is matched by them.
constexpr qint64 kProvisionalBase = qint64(1) << 52;

bool isProvisional(qint64 id)
{
    return id >= kProvisionalBase;
}

// Names equal as the cache's name lookup compares them: ASCII letters without case, everything else exact.
QString nameKey(const QString &name)
{
    QString key = name;
    for (QChar &c : key)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    return key;
}

} // namespace

SyncBackupThread::SyncBackupThread(const QList<Contact> &contacts, AndroidContactsDb *cache, int port,
                                   ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_contacts(contacts), m_cache(cache), m_port(port), m_progress(progress)
{
}

SyncBackupThread::~SyncBackupThread() = default;

bool SyncBackupThread::cancelled() const
{
    return m_progress.stopRequested();
}

void SyncBackupThread::mergePending(Pending &pending, const Contact &incoming)
{
    Contact &c = pending.contact;
    if (pending.provisionalId == 0) {
        pending.provisionalId = m_nextProvisional++;
        c.full_name = incoming.full_name;
        DataRow name = incoming.firstRow(pim::ENTITY_NAME);
        name.src_id.clear();
        name._id = m_nextProvisional++;
        c.addRow(pim::ENTITY_NAME, name);
    }
    const PContactCombineRule &rule = m_cache->rule();
    for (auto it = incoming.entities.cbegin(); it != incoming.entities.cend(); ++it) {
        const int type = it.key();
        QList<DataRow> stored = c.entities.value(type);
        RowMerger merger(*rule, type, stored);
        for (const DataRow &row : it.value()) {
            MergeDecision decision = merger.merge(row);
            if (!decision.write)
                continue;
            if (type == pim::ENTITY_GROUP)
                decision.row.setValue(u"data1"_s,
                                      QString::number(m_cache->findOrCreateGroup(decision.row.text(u"data2"_s))));
            if (decision.row._id == 0)
                decision.row._id = m_nextProvisional++;
            stored[decision.storedIndex] = decision.row;
        }
        if (!stored.isEmpty())
            c.entities[type] = stored;
    }
}

void SyncBackupThread::storePending(Pending &pending, bool nameRowOnly)
{
    Contact &c = pending.contact;
    if (!pending.stored) {
        c.src_id = pending.phoneId;
        m_cache->insertContact(c);
        DataRow &name = c.entities[pim::ENTITY_NAME].first();
        name.src_id = pending.phoneId;
        m_cache->insertRow(c._id, pim::ENTITY_NAME, name);
        pending.stored = true;
    }
    if (nameRowOnly)
        return;
    for (auto it = c.entities.begin(); it != c.entities.end(); ++it) {
        if (it.key() == pim::ENTITY_NAME)
            continue;
        for (DataRow &row : it.value())
            if (isProvisional(row._id))
                m_cache->insertRow(c._id, it.key(), row);
    }
}

void SyncBackupThread::run()
{
    auto socket = std::make_unique<QTcpSocket>();
    const CancelCheck cancelCheck = [this] { return cancelled(); };
    WorkerTransaction transaction(m_cache, "Sync to Android");
    try {
        m_processed = 0;
        m_merged = 0;
        m_nextProvisional = kProvisionalBase;
        transaction.begin();

        // Merge into the cache (or, for contacts it lacks, in memory); what the merge wrote is what the phone gets.
        const int total = int(m_contacts.size());
        QMap<qint64, QString> phoneIds; // stored contact _id → its phone id (empty while not on the phone)
        QMap<qint64, Written> added;    // stored contact _id → rows written, in _id order
        std::vector<Pending> pending;
        QHash<QString, qsizetype> pendingByName; // name key → place in pending
        // Contacts whose name row goes to the phone, in the order of the merge: a stored contact's _id, or a
        // pending contact's place as -(place + 1).
        QList<qint64> nameOrder;
        QHash<qint64, Contact> nameSends; // stored contact _id → the contact as the merge left it
        for (const Contact &contact : m_contacts) {
            if (cancelled())
                throw OperationCancelled();
            ++m_processed;
            // One report per percent of the merge, and the last one.
            if (m_processed * 100 / total != (m_processed - 1) * 100 / total || m_processed == total)
                m_progress.updateProgress(trKey("IDS_MERGING_CONTACTS"), m_processed * 33 / total,
                                          ProgressReporter::contactsText(m_processed, total));
            if (!contact.full_name.isEmpty() && contact.hasRows(pim::ENTITY_NAME)) {
                const QString key = nameKey(contact.full_name);
                const auto known = pendingByName.constFind(key);
                if (known != pendingByName.cend()) {
                    mergePending(pending[size_t(*known)], contact);
                    ++m_merged;
                    continue;
                }
                if (m_cache->findContactByName(contact.full_name) == 0) {
                    pendingByName.insert(key, qsizetype(pending.size()));
                    pending.emplace_back();
                    mergePending(pending.back(), contact);
                    nameOrder.append(-qint64(pending.size()));
                    continue;
                }
            }
            const LocalDb::SaveResult saved = m_cache->saveContactWithMerge(contact);
            if (saved.merged)
                ++m_merged;
            // A contact without a name row has no contact on the phone to carry its rows.
            if (saved.written.isEmpty() || !saved.stored.hasRows(pim::ENTITY_NAME))
                continue;
            const qint64 id = saved.stored._id;
            phoneIds.insert(id, saved.stored.firstRow(pim::ENTITY_NAME).src_id);
            // Two incoming contacts of one name land in the same stored contact: keep the rows of both, and send
            // the contact once, with its name row as it is now.
            pim::addRowsById(added[id], saved.written);
            if (saved.written.contains(pim::ENTITY_NAME)) {
                if (!nameSends.contains(id))
                    nameOrder.append(id);
                nameSends.insert(id, saved.stored);
            }
        }

        if (!nameOrder.isEmpty() || !added.isEmpty()) {
            if (cancelled())
                throw OperationCancelled();
            m_progress.updateProgress(trKey("IDS_SYNC_START_SERVICE"), 0, QString());
            const PAndroidConnector connector = m_cache->connector();
            if (!connector)
                throw std::runtime_error("SyncBackupThread::run, the cache has no connector.");
            restoresession::open(*socket, *connector, m_port);

            // New contacts: their name rows, in the local form with the contact _id as parts 2 and 3. A pending
            // contact is stored once the phone has named it, with that id.
            const int newCount = int(nameOrder.size());
            for (int first = 0; first < newCount; first += kBatchContacts) {
                if (cancelled())
                    throw OperationCancelled();
                QList<QPair<const char *, QString>> body;
                QHash<qint64, qint64> sent;           // stored contact _id → name row _id
                QHash<qint64, qsizetype> sentPending; // provisional contact id → place in pending
                const int end = qMin(newCount, first + kBatchContacts);
                for (int k = first; k < end; ++k) {
                    const qint64 entry = nameOrder.at(k);
                    const bool isPending = entry < 0;
                    const Contact &c = isPending ? pending[size_t(-entry - 1)].contact : nameSends[entry];
                    const qint64 wireId = isPending ? pending[size_t(-entry - 1)].provisionalId : c._id;
                    const DataRow name = c.firstRow(pim::ENTITY_NAME);
                    body.append({kEnt, androidentity::encodeRow(pim::ENTITY_NAME, wireId, wireId, name)});
                    if (isPending)
                        sentPending.insert(wireId, -entry - 1);
                    else if (name.src_id.isEmpty())
                        sent.insert(c._id, name._id);
                }
                restoresession::sendBatch(*socket, body);
                const QList<RemapItem> items = readBatchReply(socket.get(), -1, cancelCheck);
                QList<RemapItem> storedItems;
                for (const RemapItem &item : items) {
                    const auto p = isProvisional(item.part2) ? sentPending.constFind(item.part2) : sentPending.cend();
                    if (p == sentPending.cend()) {
                        storedItems.append(item);
                        continue;
                    }
                    Pending &named = pending[size_t(*p)];
                    if (item.part4 == named.contact.firstRow(pim::ENTITY_NAME)._id && named.phoneId.isEmpty())
                        named.phoneId = item.newId;
                }
                const QHash<qint64, QString> created = restoresession::applyContactRemap(*m_cache, storedItems, sent);
                for (auto it = created.cbegin(); it != created.cend(); ++it)
                    phoneIds.insert(it.key(), it.value());
                for (auto it = sent.cbegin(); it != sent.cend(); ++it)
                    if (!created.contains(it.key()))
                        qCDebug(lcAndroidSync, "Android Sync, the phone gave no id to contact %lld.", it.key());
                for (auto it = sentPending.cbegin(); it != sentPending.cend(); ++it) {
                    Pending &p = pending[size_t(it.value())];
                    // Without a phone id its rows have no contact on the phone: it is stored as it is, not sent.
                    storePending(p, !p.phoneId.isEmpty());
                    if (p.phoneId.isEmpty())
                        qCDebug(lcAndroidSync, "Android Sync, the phone gave no id to contact %s.",
                                qUtf8Printable(p.contact.full_name));
                    else
                        phoneIds.insert(p.contact._id, p.phoneId);
                }
                m_progress.updateProgress(trKey("IDS_SEND_CHANGES_TO_ANDROID"), end * 33 / newCount + 33, QString());
            }

            // The other written rows, under each contact's phone id; pending contacts' rows are stored with the
            // ids the phone gives them.
            QHash<qint64, qsizetype> pendingById; // stored contact _id → place in pending
            for (size_t k = 0; k < pending.size(); ++k)
                if (!pending[k].phoneId.isEmpty())
                    pendingById.insert(pending[k].contact._id, qsizetype(k));
            QList<qint64> ids = added.keys();
            ids.append(pendingById.keys());
            std::sort(ids.begin(), ids.end());
            const int addedCount = int(ids.size());
            for (int first = 0; first < addedCount; first += kBatchContacts) {
                if (cancelled())
                    throw OperationCancelled();
                QList<QPair<const char *, QString>> body;
                QSet<qint64> sentLocal;
                QHash<qint64, DataRow *> sentPendingRows; // provisional row id → the row
                QList<Pending *> batchPending;
                const int end = qMin(addedCount, first + kBatchContacts);
                for (int k = first; k < end; ++k) {
                    qint64 p2 = 0, p3 = 0;
                    if (!androidentity::parseRowId(phoneIds.value(ids.at(k)), nullptr, &p2, &p3))
                        continue; // not on the phone: nothing to hang its rows on
                    const auto p = pendingById.constFind(ids.at(k));
                    if (p != pendingById.cend()) {
                        Pending &named = pending[size_t(*p)];
                        batchPending.append(&named);
                        for (auto it = named.contact.entities.begin(); it != named.contact.entities.end(); ++it) {
                            if (it.key() == pim::ENTITY_NAME)
                                continue;
                            for (DataRow &row : it.value()) {
                                body.append({kEnt, androidentity::encodeRow(it.key(), p2, p3, row)});
                                sentPendingRows.insert(row._id, &row);
                            }
                        }
                        continue;
                    }
                    const Written &rows = added.value(ids.at(k));
                    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
                        if (it.key() == pim::ENTITY_NAME)
                            continue;
                        for (const DataRow &row : it.value()) {
                            body.append({kEnt, androidentity::encodeRow(it.key(), p2, p3, row)});
                            if (row.src_id.isEmpty())
                                sentLocal.insert(row._id);
                        }
                    }
                }
                restoresession::sendBatch(*socket, body);
                const QList<RemapItem> items = readBatchReply(socket.get(), -1, cancelCheck);
                QList<RemapItem> storedItems;
                for (const RemapItem &item : items) {
                    DataRow *row = isProvisional(item.part4) ? sentPendingRows.value(item.part4) : nullptr;
                    if (!row) {
                        storedItems.append(item);
                    } else if (row->src_id.isEmpty()) {
                        row->src_id = item.newId;
                    }
                }
                restoresession::applyRowRemap(*m_cache, storedItems, sentLocal);
                for (Pending *named : std::as_const(batchPending))
                    storePending(*named, false);
                m_progress.updateProgress(trKey("IDS_SEND_CHANGES_TO_ANDROID"), end * 33 / addedCount + 67, QString());
            }
            socket->disconnectFromHost();
        }
        // Pending contacts the phone never named rows of (no session needed, or no id for the contact) are
        // stored as they are.
        for (Pending &p : pending)
            storePending(p, false);

        transaction.commit();
        const QString text =
            m_merged == 0
                ? trKey("IDS_SUC_TRANSFER_%1_CONTACTS_TO_ANDROID").arg(m_processed)
                : trKey("IDS_SUC_TRANSFER_%1_CONTACTS_TO_ANDROID_%2_MERGED").arg(m_processed - m_merged).arg(m_merged);
        m_progress.succeed(text);
    } catch (const OperationCancelled &) {
        qCDebug(lcAndroidSync, "Sync to Android, User canceled.");
        transaction.rollback();
    } catch (const std::exception &e) {
        transaction.rollback();
        m_progress.errorOccurred(QString::fromUtf8(e.what()));
    }
}
