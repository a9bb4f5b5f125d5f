#pragma once

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

class SimPhone;

// The companion app inside the simulated phone replaced by the real app's session code running as another
// process on this computer (companion/'s HostLauncher on the JVM). A broadcast to the app's receiver asks that
// process, through its Wi-Fi listener, for a session on a free port of this computer; the session port inside
// the phone then relays the program's connection to it byte for byte. The app counts as installed once the
// package manager installed com.tallowbrook.contactssync, as on a phone.
class SimRelay
{
public:
    SimRelay(SimPhone *phone, quint16 companionWifiPort);
    ~SimRelay();

private:
    void onBroadcast(const QString &url, const QString &component);
    void relay(int phoneFd, quint16 hostPort);

    SimPhone *m_phone;
    const quint16 m_wifiPort;
    std::atomic<bool> m_stop{false};
    // Broadcasts arrive on the phone's threads; they check this before they touch the relay.
    struct Life
    {
        std::mutex mutex;
        bool alive = true;
    };
    std::shared_ptr<Life> m_life = std::make_shared<Life>();
    std::atomic<int> m_active{0};
};
