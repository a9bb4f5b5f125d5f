#include "itunes/iositunesbksetpasswordthread.h"

#include "core/progress.h"
#include "core/texts.h"

IOSiTunesBKSetPasswordThread::IOSiTunesBKSetPasswordThread(const PBackupManifest &manifest, const QString &password,
                                                           ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_manifest(manifest), m_password(password), m_progress(progress)
{
}

void IOSiTunesBKSetPasswordThread::run()
{
    const ProgressReporter progress(m_progress);
    m_outcome.store(Outcome::Running);
    try {
        progress.updateProgress(trKey("Verifying. Please wait..."), 99, QString());
        const bool accepted = m_manifest->setPassword(m_password, [progress] { return progress.stopRequested(); });
        m_outcome.store(accepted ? Outcome::Accepted : Outcome::Refused);
        progress.succeed(QString());
    } catch (const StepCancelled &) {
        m_outcome.store(Outcome::Cancelled);
    } catch (const std::exception &e) {
        m_outcome.store(Outcome::Failed);
        progress.errorOccurred(trKey("IOSiTunesBKSetPasswordThread: %1").arg(QString::fromUtf8(e.what())));
    }
}
