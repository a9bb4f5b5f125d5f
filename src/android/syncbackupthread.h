#pragma once

#include "pim.h"
#include "progress.h"

#include <QList>
#include <QThread>

class AndroidContactsDb;

// Transfers contacts to an Android phone (from another phone, an iPhone or a local database): merges them into
// the phone's cache database first, then sends what the merge wrote through one restore session — new contacts'
// name rows in batches of 20, then the other written rows in batches of 20 contacts — and stores the ids the phone
// gives them. All of it in one transaction on the cache, rolled back on failure or cancel.
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
    bool cancelled() const;

    const QList<pim::Contact> m_contacts;
    AndroidContactsDb *m_cache;
    const int m_port;
    ProgressReporter m_progress;
    int m_processed = 0;
    int m_merged = 0;
};
