#include "syncbackupthread.h"

#include "androidentity.h"
#include "iandroidconnector.h"
#include "localdb.h"
#include "restoresession.h"
#include "syncprotocol.h"
#include "texts.h"
#include "workertransaction.h"

#include <QHash>
#include <QMap>
#include <QTcpSocket>

#include <memory>

using namespace simpleprotocol;
using pim::Contact;
using pim::DataRow;

namespace {

using Written = QMap<int, QList<DataRow>>;

// Adds the rows of a later merge into the same stored contact to what was recorded for it: a row written
// again replaces its earlier state, a new one is appended.
void mergeWritten(Written &into, const Written &more)
{
    for (auto it = more.cbegin(); it != more.cend(); ++it) {
        QList<DataRow> &rows = into[it.key()];
        for (const DataRow &row : it.value()) {
            const auto same = std::find_if(rows.begin(), rows.end(), [&row](const DataRow &r) { return r._id == row._id; });
            if (same != rows.end())
                *same = row;
            else
                rows.append(row);
        }
    }
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

void SyncBackupThread::run()
{
    auto socket = std::make_unique<QTcpSocket>();
    const CancelCheck cancelCheck = [this] { return cancelled(); };
    WorkerTransaction transaction(m_cache, "Sync to Android");
    try {
        m_processed = 0;
        m_merged = 0;
        transaction.begin();

        // Merge into the cache; what the merge wrote is what the phone gets.
        const int total = int(m_contacts.size());
        QMap<qint64, QString> phoneIds; // contact _id → its phone id (empty while not on the phone)
        QMap<qint64, Written> added;    // contact _id → rows written, in _id order
        QList<Contact> newContacts;
        QHash<qint64, qsizetype> newIndex; // contact _id → its place in newContacts
        for (const Contact &contact : m_contacts) {
            if (cancelled())
                throw OperationCancelled();
            ++m_processed;
            m_progress.updateProgress(trKey("IDS_MERGING_CONTACTS"), m_processed * 33 / total,
                                      ProgressReporter::contactsText(m_processed, total));
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
            mergeWritten(added[id], saved.written);
            if (saved.written.contains(pim::ENTITY_NAME)) {
                const auto same = newIndex.constFind(id);
                if (same != newIndex.cend()) {
                    newContacts[*same] = saved.stored;
                } else {
                    newIndex.insert(id, newContacts.size());
                    newContacts.append(saved.stored);
                }
            }
        }

        if (!newContacts.isEmpty() || !added.isEmpty()) {
            if (cancelled())
                throw OperationCancelled();
            m_progress.updateProgress(trKey("IDS_SYNC_START_SERVICE"), 0, QString());
            const PAndroidConnector connector = m_cache->connector();
            if (!connector)
                throw std::runtime_error("SyncBackupThread::run, the cache has no connector.");
            restoresession::open(*socket, *connector, m_port);

            // New contacts: their name rows, in the local form with the contact _id as parts 2 and 3.
            const int newCount = int(newContacts.size());
            for (int first = 0; first < newCount; first += kBatchContacts) {
                if (cancelled())
                    throw OperationCancelled();
                QList<QPair<const char *, QString>> body;
                QHash<qint64, qint64> sent; // contact _id → name row _id
                const int end = qMin(newCount, first + kBatchContacts);
                for (int k = first; k < end; ++k) {
                    const Contact &c = newContacts.at(k);
                    const DataRow name = c.firstRow(pim::ENTITY_NAME);
                    body.append({kEnt, androidentity::encodeRow(pim::ENTITY_NAME, c._id, c._id, name)});
                    if (name.src_id.isEmpty())
                        sent.insert(c._id, name._id);
                }
                restoresession::sendBatch(*socket, body);
                const QHash<qint64, QString> created =
                    restoresession::applyContactRemap(*m_cache, readBatchReply(socket.get(), -1, cancelCheck), sent);
                for (auto it = created.cbegin(); it != created.cend(); ++it)
                    phoneIds.insert(it.key(), it.value());
                for (auto it = sent.cbegin(); it != sent.cend(); ++it)
                    if (!created.contains(it.key()))
                        qCDebug(lcAndroidSync, "Android Sync, the phone gave no id to contact %lld.", it.key());
                m_progress.updateProgress(trKey("IDS_SEND_CHANGES_TO_ANDROID"), end * 33 / newCount + 33, QString());
            }

            // The other written rows, under each contact's phone id.
            const QList<qint64> ids = added.keys();
            const int addedCount = int(ids.size());
            for (int first = 0; first < addedCount; first += kBatchContacts) {
                if (cancelled())
                    throw OperationCancelled();
                QList<QPair<const char *, QString>> body;
                QSet<qint64> sentLocal;
                const int end = qMin(addedCount, first + kBatchContacts);
                for (int k = first; k < end; ++k) {
                    qint64 p2 = 0, p3 = 0;
                    if (!androidentity::parseRowId(phoneIds.value(ids.at(k)), nullptr, &p2, &p3))
                        continue; // not on the phone: nothing to hang its rows on
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
                restoresession::applyRowRemap(*m_cache, readBatchReply(socket.get(), -1, cancelCheck), sentLocal);
                m_progress.updateProgress(trKey("IDS_SEND_CHANGES_TO_ANDROID"), end * 33 / addedCount + 67, QString());
            }
            socket->disconnectFromHost();
        }

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
