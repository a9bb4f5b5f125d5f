#pragma once

#include "contacts/pim.h"
#include "itunes/backupmanifest.h"
#include "sqlite_qt/sqlite_qt.h"

#include <QList>
#include <QThread>

class LocalDb;
class ProgressReporter;
class ProgressTarget;

// Imports the address book of a loaded iTunes backup into a local database. The two address-book databases are
// copied out of the backup (deciphered when it is encrypted) into a private temporary folder, every person is
// read as a contact (first half of the progress), and all contacts are then merge-saved into the target in one
// transaction (second half). The temporary folder is removed on every path; a failure or a cancel while writing
// rolls the whole import back. A missing or damaged images database costs the photos only; the success text
// says so.
class ImportContactsFromiTunesThread : public QThread
{
    Q_OBJECT
public:
    // The manifest must be loaded; the database and the progress target are borrowed and outlive the thread.
    ImportContactsFromiTunesThread(const PBackupManifest &manifest, LocalDb *target, ProgressTarget *progress,
                                   QObject *parent = nullptr);
    ~ImportContactsFromiTunesThread() override;

protected:
    void run() override;

private:
    // Copies the databases out and reads every person. False when cancelled. Throws on failure; the temporary
    // folder is gone when it returns or throws. photoNote says which photos were left out and why, if any.
    bool readContacts(const ProgressReporter &progress, QList<pim::Contact> &contacts, QString &photoNote);
    void writeContacts(const ProgressReporter &progress, const QList<pim::Contact> &contacts, const QString &photoNote);

    PBackupManifest m_manifest;
    LocalDb *m_target;
    ProgressTarget *m_progress;
    Sqlite3DB m_addressBook;
    Sqlite3DB m_images; // stays closed when the backup has no images database
};
