#pragma once

#include "contacts/pim.h"
#include "core/progress.h"

#include <QList>
#include <QString>
#include <QThread>

class LocalDb;

// Sends to an iOS device what the caller already applied to the device's cache database: the edits of one contact
// (its Contact record when a field it carries changed, then the records of its other rows) and the deletion of
// contacts, in one mobilesync session. With an empty contact and no changes it only deletes. Opens no transaction;
// the identifiers the device gives to new records are stored in the cache.
class IOSSendChangesThread : public QThread
{
    Q_OBJECT
public:
    // contact: as stored, with every row (its Contact record is rebuilt from them); changes: its change records,
    // whose rows carry their stored _id and src_id; toDelete: contacts already deleted from the cache, as they were.
    IOSSendChangesThread(const QString &udid, LocalDb *cache, const pim::Contact &contact,
                         const QList<pim::ChangeRecord> &changes, const QList<pim::Contact> &toDelete,
                         ProgressTarget *progress, QObject *parent = nullptr);
    ~IOSSendChangesThread() override;

    // The edited contact after the run; a contact new to the device has the identifier it was given as src_id.
    const pim::Contact &contact() const { return m_contact; }

protected:
    void run() override;

private:
    const QString m_udid;
    LocalDb *m_cache;
    pim::Contact m_contact;
    const QList<pim::ChangeRecord> m_changes;
    const QList<pim::Contact> m_toDelete;
    ProgressReporter m_progress;
};
