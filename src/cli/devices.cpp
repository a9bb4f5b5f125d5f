#include "cli/devices.h"

#include "cli/workerrunner.h"
#include "core/progress.h"
#include "core/texts.h"
#include "ios/iossynctopcthread.h"
#include "ios/mobiledevice.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QTextStream>
#include <QThread>
#include <QTimer>

namespace cli {

namespace {

// How long a command waits for a phone to trust this computer: CONTACT_MOVER_TRUST_WAIT seconds, 60 by default.
qint64 trustWaitMs()
{
    bool ok = false;
    const double seconds = qEnvironmentVariable("CONTACT_MOVER_TRUST_WAIT").toDouble(&ok);
    return ok && seconds >= 0 ? qint64(seconds * 1000) : 60000;
}

constexpr int kAllowWaitMs = 30000;

// Waits until `settled` or the time is over, keeping the event loop running; true when settled.
bool waitUntil(const std::function<bool()> &settled, qint64 ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!settled()) {
        if (clock.elapsed() >= ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

} // namespace

bool StderrQuestions::allowOnAndroid(const QString &serial, const QString &, const std::function<bool()> &settled)
{
    QTextStream(stderr) << trKey("IDS_ANDROID_ALLOW_USB_DEBUGGING").arg(serial).arg(kAllowWaitMs / 1000) << Qt::endl;
    if (waitUntil(settled, kAllowWaitMs))
        return true;
    QTextStream(stderr) << trKey("IDS_ANDROID_PHONE_NOT_ALLOWED").arg(serial) << Qt::endl;
    return false;
}

bool StderrQuestions::trustOnIphone(const QString &udid, int lockdownCode)
{
    struct Waiting
    {
        QElapsedTimer clock;
        int told = 0;
    };
    static QHash<QString, Waiting> waiting;
    Waiting &w = waiting[udid];
    if (!w.clock.isValid())
        w.clock.start();
    if (lockdownCode != w.told) {
        QTextStream(stderr) << udid << ": " << mobiledevice_trust_text(lockdownCode) << '\n'
                            << trKey("IDS_IOS_TRUST_WAITING_%1").arg(udid) << Qt::endl;
        w.told = lockdownCode;
    }
    if (w.clock.elapsed() >= trustWaitMs()) {
        waiting.remove(udid); // a later command waits again
        return false;
    }
    QThread::msleep(500);
    return true;
}

void StderrQuestions::warn(const QString &text)
{
    QTextStream(stderr) << text << Qt::endl;
}

devices::DeviceQuestions &questions()
{
    static StderrQuestions answers;
    return answers;
}

devices::PhoneAccess &phones()
{
    static devices::PhoneAccess access(questions(), [](const devices::WorkerFactory &make) {
        ProgressObject progress;
        const std::unique_ptr<QThread> worker = make(&progress);
        const bool iphone = dynamic_cast<IOSSyncToPCThread *>(worker.get()) != nullptr;
        runLoader(*worker, progress, iphone ? "The iPhone could not be loaded." : "The phone could not be loaded.");
        return true;
    });
    return access;
}

devices::RunWorker writeRunner(Io io, int &code, bool printSuccess)
{
    return [io, &code, printSuccess](const devices::WorkerFactory &make) {
        ProgressObject progress;
        const std::unique_ptr<QThread> worker = make(&progress);
        QString ignored;
        QTextStream discard(&ignored);
        code = runWorker(*worker, progress, Io{printSuccess ? io.out : discard, io.err});
        return code == Success;
    };
}

} // namespace cli
