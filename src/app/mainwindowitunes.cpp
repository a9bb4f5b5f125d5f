// The window's "Import from iTunes": choose a backup (and give its password when it is encrypted), choose or
// name a local database, and import the backup's address book into it.

#include "app/mainwindow.h"

#include "app/itemmodelmaintree.h"
#include "app/loaditunesbackupdlg.h"
#include "app/log.h"
#include "app/messagebox.h"
#include "app/passcodedlg.h"
#include "app/progressform.h"
#include "app/transfercontroller.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "itunes/backupmanifest.h"
#include "itunes/importcontactsfromitunesthread.h"
#include "itunes/loadbackupmanifestthread.h"

void MainWindow::miFromiTunes()
{
    PBackupManifest manifest;
    {
        LoadItunesBackupDlg dlg(this);
        if (dlg.exec() != QDialog::Accepted)
            return;
        manifest = dlg.selectedManifest();
    }
    if (!manifest)
        return;
    if (manifest->isEncrypted()) {
        PasscodeDlg passcode(manifest, this);
        if (passcode.exec() != QDialog::Accepted)
            return;
    }
    // The file table is read before a database is chosen, so an unreadable backup leaves no empty database.
    // It is read behind the progress dialog: a table of millions of rows takes seconds.
    {
        ProgressForm form(trKey("IDS_READING_CONTACTS_FROM_ITUNES"), this);
        LoadBackupManifestThread loader(manifest, &form);
        if (!form.runWorker(&loader))
            return; // the dialog showed the error, or the user cancelled
    }

    const QString device = manifest->deviceName().isEmpty() ? QStringLiteral("Unknown Device") : manifest->deviceName();
    const QStringList filesBefore = LocalDbFiles::list();
    _DBItemNode *target = m_transfers->selectOrCreateLocalDb(device + QStringLiteral("-backup.db"),
                                                             trKey("Choose a Database for the Imported Contacts"));
    if (!target)
        return;
    // Only a database made for this import is removed when it fails; one the user chose to merge into keeps
    // its contacts (the import's own changes are rolled back).
    const bool created = !filesBefore.contains(target->name);
    const auto makeWorker = [&](LocalDb &db, ProgressTarget *progress) -> std::unique_ptr<QThread> {
        return std::make_unique<ImportContactsFromiTunesThread>(manifest, &db, progress);
    };
    m_transfers->importIntoDatabase(target, created, makeWorker, trKey("IDS_READING_CONTACTS_FROM_ITUNES"),
                                    QStringLiteral("itunes-import"));
}
