#include "fileio/importcontactstolocalthread.h"

#include "contacts/localdb.h"
#include "contacts/workertransaction.h"
#include "core/progress.h"
#include "core/texts.h"
#include "fileio/absimport.h"
#include "fileio/fileformats.h"

#include <QElapsedTimer>

ImportContactsToLocalThread::ImportContactsToLocalThread(const QString &path, int kind, LocalDb *target,
                                                         ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_path(path), m_kind(kind), m_target(target), m_progress(progress)
{
}

void ImportContactsToLocalThread::run()
{
    const ProgressReporter progress(m_progress);
    const std::unique_ptr<AbsImport> importer = fileio::createImporter(m_kind);
    if (!importer) {
        progress.errorOccurred(QString());
        return;
    }
    try {
        importer->open(m_path);
    } catch (const std::exception &e) {
        progress.errorOccurred(QString::fromUtf8(e.what()));
        return;
    }

    WorkerTransaction transaction(m_target, "ImportContactsToLocalThread");
    try {
        transaction.begin();
        const qint64 total = importer->count();
        qint64 saved = 0;
        qint64 merged = 0;
        qint64 nameless = 0;
        qint64 i = 0;
        const auto cancelled = [&progress] { return progress.stopRequested(); };
        // Each report is an event queued to the window's thread: a million contacts must not make a million of
        // them. Reported are the first contact, the last, each new whole percent (at most a hundred reports) and
        // the count as it stands every 50 ms between.
        const QString status = trKey("IDS_IMPORTING_CONTACTS_TO_DB");
        QElapsedTimer sinceReport;
        int reportedPercent = -1;
        while (importer->hasNext()) {
            if (progress.stopRequested()) {
                importer->close();
                transaction.rollback();
                return;
            }
            ++i;
            const int percent = ProgressReporter::percent(double(i), double(total));
            if (i == 1 || i >= total || percent != reportedPercent || sinceReport.hasExpired(50)) {
                progress.updateProgress(status, percent, ProgressReporter::contactsText(i, total));
                reportedPercent = percent;
                sinceReport.start();
            }
            pim::Contact contact;
            importer->next(contact);
            // A record without a name (nor anything to name it by) is not stored; it counts as skipped.
            if (contact.full_name.isEmpty()) {
                ++nameless;
                continue;
            }
            if (m_target->saveContactWithMerge(contact, cancelled).merged)
                ++merged;
            else
                ++saved;
        }
        importer->close();
        const qint64 skipped = importer->skippedLines() + nameless;
        // A file of which nothing could be read is no successful import.
        if (saved + merged == 0) {
            transaction.rollback();
            QString text = trKey("IDS_IMPORT_NO_CONTACTS_%1_SKIPPED").arg(skipped);
            if (!importer->warning().isEmpty())
                text += u'\n' + importer->warning();
            progress.errorOccurred(text);
            return;
        }
        transaction.commit();
        QString text;
        if (skipped > 0)
            text = trKey("IDS_SUC_IMPORT_%1_CONTACTS_TO_DB_%2_MERGED_%3_SKIPPED")
                       .arg(saved + merged)
                       .arg(merged)
                       .arg(skipped);
        else if (merged > 0)
            text = trKey("IDS_SUC_IMPORT_%1_CONTACTS_TO_DB_%2_MERGED").arg(saved).arg(merged);
        else
            text = trKey("IDS_SUC_IMPORT_%1_CONTACTS_TO_DB").arg(saved);
        // The part of a damaged file that was left out is said with the success, never silently dropped.
        if (!importer->warning().isEmpty())
            text += u'\n' + importer->warning();
        progress.succeed(text);
    } catch (const LocalDb::MergeCancelled &) {
        importer->close();
        transaction.rollback();
    } catch (const std::exception &e) {
        transaction.rollback();
        progress.errorOccurred(QString::fromUtf8(e.what()));
    }
}
