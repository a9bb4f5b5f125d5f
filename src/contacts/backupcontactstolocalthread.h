#pragma once

#include "contacts/pim.h"

#include <QThread>

class LocalDb;
class ProgressTarget;

// Copies a list of contacts into a local database, merging each into a stored namesake, in one transaction.
// A cancel ends the loop and commits what was saved; a failure rolls everything back and reports the error.
class BackupContactsToLocalThread : public QThread
{
    Q_OBJECT
public:
    // The database and the progress target are borrowed and must outlive the thread.
    BackupContactsToLocalThread(QList<pim::Contact> contacts, LocalDb *target, ProgressTarget *progress,
                                QObject *parent = nullptr);

protected:
    void run() override;

private:
    QList<pim::Contact> m_contacts;
    LocalDb *m_target;
    ProgressTarget *m_progress;
};
