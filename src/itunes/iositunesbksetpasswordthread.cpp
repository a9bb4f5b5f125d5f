#include "iositunesbksetpasswordthread.h"

#include "progress.h"
#include "texts.h"

IOSiTunesBKSetPasswordThread::IOSiTunesBKSetPasswordThread(const PBackupManifest &manifest, const QString &password,
                                                           ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_manifest(manifest), m_password(password), m_progress(progress)
{
}

void IOSiTunesBKSetPasswordThread::run()
{
    const ProgressReporter progress(m_progress);
    m_result.store(false);
    try {
        progress.updateProgress(trKey("Verifying. Please wait..."), 99, QString());
        m_result.store(m_manifest->setPassword(m_password));
        progress.succeed(QString());
    } catch (const std::exception &e) {
        progress.errorOccurred(trKey("IOSiTunesBKSetPasswordThread: %1").arg(QString::fromUtf8(e.what())));
    }
}
