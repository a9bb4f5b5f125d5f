#pragma once

#include "contacts/pim.h"
#include "core/progress.h"

#include <QList>
#include <QString>
#include <QThread>

class LocalDb;

// Transfers contacts to an iOS device: in groups of 10, each with its own transaction on the device's cache
// database and its own mobilesync session, merges the contacts into the cache and sends what the merge wrote —
// Contact records first, then the other records, at most 20 contacts per batch — storing the identifiers the
// device gives to new records as source ids. Groups already sent stay committed when a later one fails; the group
// in hand is rolled back on failure or cancel.
class IOSSyncToDeviceThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kGroupContacts = 10;
    static constexpr int kBatchContacts = 20;

    IOSSyncToDeviceThread(const QString &udid, LocalDb *cache, const QList<pim::Contact> &contacts,
                          ProgressTarget *progress, QObject *parent = nullptr);
    ~IOSSyncToDeviceThread() override;

    // After the run: contacts processed and, of those, merged into a contact the device already had.
    int processedCount() const { return m_processed; }
    int mergedCount() const { return m_merged; }

protected:
    void run() override;

private:
    struct Group;

    void sendGroup(int first, int count);
    void sendToDevice(Group &group);
    bool cancelled() const;

    const QString m_udid;
    LocalDb *m_cache;
    const QList<pim::Contact> m_contacts;
    ProgressReporter m_progress;
    int m_total = 0;
    int m_processed = 0;
    int m_merged = 0;
};
