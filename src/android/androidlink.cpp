#include "android/androidlink.h"

#include "core/datafolder.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>

namespace AndroidLink {

namespace {
std::atomic<int> pauseOverride{-1};

int configuredPause(int defaultMs)
{
    const int forced = pauseOverride.load();
    if (forced >= 0)
        return forced;
    bool ok = false;
    const int fromEnv = qEnvironmentVariableIntValue("CONTACT_MOVER_ANDROID_PAUSE_MS", &ok);
    return ok && fromEnv >= 0 ? fromEnv : defaultMs;
}
} // namespace

int wifiListenerPort()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("CONTACT_MOVER_WIFI_PORT", &ok);
    return ok && port > 0 && port < 65536 ? port : kDefaultWifiPort;
}

int pauseAfterInstallMs()
{
    return configuredPause(5000);
}

int pauseAfterSessionStartMs()
{
    return configuredPause(3000);
}

void setPauseOverrideMs(int ms)
{
    pauseOverride.store(ms);
}

void pause(int ms)
{
    if (ms > 0)
        QThread::msleep(ulong(ms));
}

bool waitUntilReady(int limitMs, int fallbackMs, const std::function<Readiness()> &probe)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        switch (probe()) {
        case Readiness::Ready:
            return true;
        case Readiness::Unknown:
            pause(int(fallbackMs - clock.elapsed()));
            return false;
        case Readiness::NotYet:
            break;
        }
        const qint64 left = limitMs - clock.elapsed();
        if (left <= 0)
            return false;
        pause(int(qMin<qint64>(kReadyPollMs, left)));
    }
}

QString cacheFileName(const QString &deviceId)
{
    return DataFolder::cacheFileName(deviceId);
}

QString cachePath(const QString &deviceId)
{
    return DataFolder::androidCacheDir() + QLatin1Char('/') + cacheFileName(deviceId);
}

} // namespace AndroidLink
