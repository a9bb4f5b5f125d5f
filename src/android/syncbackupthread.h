#pragma once

#include "contacts/pim.h"
#include "core/progress.h"

#include <QList>
#include <QThread>

class AndroidContactsDb;

// Transfers contacts to an Android phone (from another phone, an iPhone or a local database): merges them into
// the phone's cache database first, then sends what the merge wrote through one restore session — new contacts'
// name rows in batches of 20, then the other written rows in batches of 20 contacts — and stores the ids the phone
// gives them. A contact the cache does not have by name is merged in memory and stored only once the phone has
// named its rows, each row written once with its phone id; contacts the cache has are merge-saved at once and
// their new rows given their phone ids afterwards. All of it in one transaction on the cache, rolled back on
// failure or cancel.
class SyncBackupThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kBatchContacts = 20;

    SyncBackupThread(const QList<pim::Contact> &contacts, AndroidContactsDb *cache, int port, ProgressTarget *progress,
                     QObject *parent = nullptr);
    ~SyncBackupThread() override;

    // After the run: contacts processed and, of those, merged into a contact the phone already had.
    int processedCount() const { return m_processed; }
    int mergedCount() const { return m_merged; }

protected:
    void run() override;

private:
    struct Pending;
    bool cancelled() const;
    // Merges an incoming contact into a contact not stored yet, as LocalDb::saveContactWithMerge merges it into
    // a stored one; rows get ids from the provisional range.
    void mergePending(Pending &pending, const pim::Contact &incoming);
    // Stores a pending contact and its rows with the phone ids they have by now (groups are already stored).
    void storePending(Pending &pending, bool nameRowOnly);

    const QList<pim::Contact> m_contacts;
    AndroidContactsDb *m_cache;
    const int m_port;
    ProgressReporter m_progress;
    int m_processed = 0;
    int m_merged = 0;
    qint64 m_nextProvisional = 0;
};
