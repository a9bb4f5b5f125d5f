#include "itunes/loadbackupmanifestthread.h"

#include "core/progress.h"
#include "core/texts.h"

LoadBackupManifestThread::LoadBackupManifestThread(const PBackupManifest &manifest, ProgressTarget *progress,
                                                   QObject *parent)
    : QThread(parent), m_manifest(manifest), m_progress(progress)
{
}

void LoadBackupManifestThread::run()
{
    const ProgressReporter progress(m_progress);
    int shown = -1;
    try {
        m_manifest->load([&progress] { return progress.stopRequested(); },
                         [&progress, &shown](qint64 done, qint64 total) {
                             const int percent = ProgressReporter::percent(double(done), double(total));
                             if (percent == shown)
                                 return;
                             shown = percent;
                             progress.updateProgress(trKey("IDS_READING_BACKUP_FILE_TABLE_%1").arg(percent), percent,
                                                     QString());
                         });
    } catch (const StepCancelled &) {
        return; // the dialog already ended without success
    } catch (const std::exception &e) {
        progress.errorOccurred(QString::fromUtf8(e.what()));
        return;
    }
    progress.succeed(QString());
}
