#include "devices/iphones.h"

#include "contacts/localdb.h"
#include "core/texts.h"
#include "devices/devicequestions.h"
#include "ios/ioscontactcombinerule.h"
#include "ios/iossynctopcthread.h"
#include "ios/mobiledevice.h"

#include <QTimer>

namespace devices {

IosWatch::IosWatch(QObject *parent) : QObject(parent), m_notifier(new MobiledeviceSubscribe(this))
{
    // A child, so it unsubscribes when the watch goes; its signals come from libusbmuxd's thread and are queued
    // to this one.
    m_notifier->setObjectName(QStringLiteral("iosNotifier"));
    const auto arrived = [this](const QString &udid) {
        m_leaving.remove(udid);
        Q_EMIT phoneArrived(udid);
    };
    connect(m_notifier, &MobiledeviceSubscribe::newDevice, this, arrived);
    // A phone that was not trusted when it arrived can be loaded once it trusts this computer.
    connect(m_notifier, &MobiledeviceSubscribe::devicePaired, this, arrived);
    connect(m_notifier, &MobiledeviceSubscribe::kickDevice, this, &IosWatch::onKick);
}

IosWatch::~IosWatch() = default;

bool IosWatch::start()
{
    return m_notifier->subscribe();
}

void IosWatch::onKick(const QString &udid)
{
    m_leaving.insert(udid);
    QTimer::singleShot(kLeaveGraceMs, this, [this, udid] {
        if (m_leaving.remove(udid))
            Q_EMIT phoneLeft(udid);
        // else: announced again meanwhile
    });
}

QString iphoneName(const QString &udid)
{
    return mobiledevice_get_value(udid, QString(), QStringLiteral("DeviceName")).toString();
}

namespace {

// A phone that does not trust this computer yet is asked again as long as the front end wants to wait. The last
// lockdown code.
int waitForTrust(const QString &udid, DeviceQuestions &questions)
{
    int code = mobiledevice_trust_state(udid);
    while (mobiledevice_is_trust_error(code) && questions.trustOnIphone(udid, code))
        code = mobiledevice_trust_state(udid);
    return code;
}

} // namespace

QList<DeviceEntry> listIphones(DeviceQuestions &questions, QHash<QString, int> *untrusted)
{
    QList<DeviceEntry> devices;
    for (const QString &udid : mobiledevice_usb_udids()) {
        QString name = iphoneName(udid);
        if (name.isEmpty()) {
            // Not trusted yet: the phone is listed once it trusts us.
            const int code = waitForTrust(udid, questions);
            if (code == 0)
                name = iphoneName(udid);
            if (name.isEmpty()) {
                if (untrusted)
                    untrusted->insert(udid, code);
                if (!mobiledevice_is_trust_error(code))
                    questions.warn(udid + QStringLiteral(": ") + trKey("IDS_IOS_NOT_OPENED"));
                continue;
            }
        }
        if (untrusted)
            untrusted->remove(udid);
        devices.append({kIos, udid, name, cachePath(kIos, udid)});
    }
    return devices;
}

std::optional<LoadedPhone> loadIphone(const QString &udid, const QString &name, const RunWorker &run)
{
    const QString path = cachePath(kIos, udid);
    QSharedPointer<LocalDb> cache(new LocalDb(path, PContactCombineRule(new IOSContactCombineRule)));
    cache->createFromTemplate();
    bool loaded = false;
    try {
        loaded = run([&](ProgressTarget *progress) {
            return std::unique_ptr<QThread>(new IOSSyncToPCThread(udid, cache.data(), progress));
        });
    } catch (...) {
        cache->close();
        throw;
    }
    if (!loaded) {
        cache->close(); // the partial cache stays on disk until the next load rebuilds it
        return std::nullopt;
    }
    return LoadedPhone{{kIos, udid, name.isEmpty() ? udid : name, path}, cache, PAndroidConnector()};
}

} // namespace devices
