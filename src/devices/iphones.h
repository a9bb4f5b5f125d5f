#pragma once

#include "devices/androidphones.h"
#include "devices/deviceentry.h"

#include <QObject>
#include <QSet>

#include <optional>

class MobiledeviceSubscribe;

namespace devices {

class DeviceQuestions;

// The window's watch on iPhones behind the USB multiplexer: reports an arrival (and a phone that came to trust
// this computer) and a removal. A removal is held back a moment: when the multiplexer's connection is renewed it
// reports every phone gone and then present again, which must not drop (and reload) a loaded phone.
class IosWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLeaveGraceMs = 3000;

    explicit IosWatch(QObject *parent = nullptr);
    ~IosWatch() override;

    // Subscribes to the multiplexer's device events; false when no multiplexer answers.
    bool start();
    // The notifier (object name "iosNotifier"), for tests that feed it events.
    MobiledeviceSubscribe *notifier() const { return m_notifier; }
    LoadQueue &loads() { return m_loads; }

Q_SIGNALS:
    // A phone arrived, or now trusts this computer.
    void phoneArrived(const QString &udid);
    // A phone was gone for longer than kLeaveGraceMs.
    void phoneLeft(const QString &udid);

private:
    void onKick(const QString &udid);

    MobiledeviceSubscribe *m_notifier;
    QSet<QString> m_leaving;
    LoadQueue m_loads;
};

// The name the iPhone gives (lockdown "DeviceName"); empty when it cannot be opened (not trusted yet).
QString iphoneName(const QString &udid);

// The iPhones behind the USB multiplexer (usbmuxd, or the socket of USBMUXD_SOCKET_ADDRESS), as unloaded entries
// whose dbPath is their cache. A phone that does not trust this computer is asked for through `questions` until
// it does or the user gives up; one that still does not, or cannot be opened, is left out (and reported through
// questions.warn when it is not a matter of trust). `untrusted` receives the UDIDs left out for want of trust,
// with their last lockdown code.
QList<DeviceEntry> listIphones(DeviceQuestions &questions, QHash<QString, int> *untrusted = nullptr);

// Rebuilds the iPhone's cache and reads the phone into it through `run`; nothing when the worker did not succeed
// (see loadAndroidPhone). An empty name is replaced by the UDID. Throws when the cache cannot be made.
std::optional<LoadedPhone> loadIphone(const QString &udid, const QString &name, const RunWorker &run);

} // namespace devices
