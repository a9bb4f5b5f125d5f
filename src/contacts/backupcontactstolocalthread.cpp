#include "contacts/backupcontactstolocalthread.h"

#include "contacts/localdb.h"
#include "contacts/workertransaction.h"
#include "core/progress.h"
#include "core/texts.h"

BackupContactsToLocalThread::BackupContactsToLocalThread(QList<pim::Contact> contacts, LocalDb *target,
                                                         ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_contacts(std::move(contacts)), m_target(target), m_progress(progress)
{
}

void BackupContactsToLocalThread::run()
{
    const ProgressReporter progress(m_progress);
    const qint64 total = m_contacts.size();
    qint64 counter = 0;
    qint64 merged = 0;
    WorkerTransaction transaction(m_target, "BackupContactsToLocalThread");
    try {
        transaction.begin();
        const auto cancelled = [&progress] { return progress.stopRequested(); };
        for (const pim::Contact &contact : std::as_const(m_contacts)) {
            if (progress.stopRequested())
                break;
            ++counter;
            progress.updateProgress(trKey("IDS_IMPORTING_CONTACTS_TO_LOCALDB"),
                                    ProgressReporter::percent(counter, total),
                                    ProgressReporter::contactsText(counter, total));
            try {
                if (m_target->saveContactWithMerge(contact, cancelled).merged)
                    ++merged;
            } catch (const LocalDb::MergeCancelled &) {
                --counter; // that contact was rolled back; the ones before it stay, as on any cancel
                break;
            }
        }
        // A cancel ends the loop like the last contact does: what was saved so far is kept.
        transaction.commit();
        if (merged != 0)
            progress.succeed(trKey("IDS_SUC_IMPORT_%1_TO_LOCALDB_%2_MERGED").arg(counter - merged).arg(merged));
        else
            progress.succeed(trKey("IDS_SUC_IMPORT_%1_TO_LOCALDB").arg(counter));
    } catch (const std::exception &e) {
        transaction.rollback();
        progress.errorOccurred(QString::fromUtf8(e.what()));
    }
}
