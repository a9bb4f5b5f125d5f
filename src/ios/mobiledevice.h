#pragma once

// The program's thin layer over libimobiledevice: device notifications, lockdown values and the mobilesync session
// of the "com.apple.Contacts" data class. Library failures in the session become std::runtime_error whose UTF-8
// message names the call and its return code; the lockdown helpers never throw.

#include "mobilesyncclient.h"
#include "plistcftype.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>

// Every lockdown client and the mobilesync service are opened with this label.
inline constexpr char kMobiledeviceLabel[] = "TALLOWBROOK";
// The computer's data class version, sent with every session start.
inline constexpr quint64 kComputerDataClassVersion = 106;

// Receives the library's device events and hands on those of devices behind the USB multiplexer. The callback
// runs on libusbmuxd's thread; the signals reach receivers in other threads queued.
class MobiledeviceSubscribe : public QObject
{
    Q_OBJECT
public:
    explicit MobiledeviceSubscribe(QObject *parent = nullptr);
    // Unsubscribes when this object is the current subscriber.
    ~MobiledeviceSubscribe() override;

    // Registers with idevice_event_subscribe; true when the library accepted it. The library keeps one
    // subscriber: a later subscribe() (of any object) replaces this one.
    bool subscribe();

    // The library's callback (user data: the MobiledeviceSubscribe). Public so that tests can feed it events.
    static void deviceEvent(const idevice_event_t *event, void *userData);

Q_SIGNALS:
    void newDevice(const QString &devid);
    void kickDevice(const QString &devid);
};

// A short-lived lockdown connection to one device: handles empty at creation, released by close() (lockdown client
// first, then the device handle) and by the destructor.
struct MobiledeviceConnection
{
    explicit MobiledeviceConnection(const QString &udid) : udid(udid) {}
    ~MobiledeviceConnection() { close(); }
    MobiledeviceConnection(const MobiledeviceConnection &) = delete;
    MobiledeviceConnection &operator=(const MobiledeviceConnection &) = delete;
    void close();

    QString udid;
    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
};

// The anchors of one session: data class "com.apple.Contacts", device anchor "---" and, as computer anchor, the
// current local date-time to the second in ISO 8601 form (2011-03-05T14:07:09).
struct MobilesyncAnchors
{
    QString dataClass;
    QString deviceAnchor;
    QString computerAnchor;

    static MobilesyncAnchors forContacts();
};

// The caller's session client; an empty pointer is an empty handle. Dropping it frees the client, so it is freed
// on every path out of the owning thread.
using PMobilesyncClient = std::unique_ptr<MobilesyncClient>;

// Opens the device (USB multiplexer only) and a lockdown client with a session; true when both succeeded.
bool mobiledevice_open(MobiledeviceConnection &connection);
// A lockdown value (an empty domain or key is left out); the null value when the device cannot be opened or the
// call fails. Empty domain and key give the dictionary of all values.
PlistCFType mobiledevice_get_value(const QString &udid, const QString &domain, const QString &key);
// Sets a lockdown value (a copy of value's node goes to the device); true when the call returned 0.
bool mobiledevice_set_value(const QString &udid, const QString &domain, const QString &key, const PlistCFType &value);
// { "DisableTethered": disabled } under key in the domain "com.apple.mobile.tethered_sync".
bool mobiledevice_set_disable_tethered(const QString &udid, const QString &key, bool disabled);

// The user cancelled while the session waited for the device. Not a failure: the thread ends as a cancel does.
class MobilesyncCancelled : public std::runtime_error
{
public:
    MobilesyncCancelled() : std::runtime_error("IOS Sync, cancelled while waiting for the device.") {}
};

// The session. Every operation but the start does nothing when the client is empty (receive then returns false,
// send the null value). With a cancel check, every wait for the device from the session start on (the finish's
// answer excepted) looks at it a few times a second and throws MobilesyncCancelled once it returns true; without
// one a wait ends only with the device's message or the library's 30-second time-out.
void mobiledevice_sync_start_throw(const QString &udid, const MobilesyncAnchors &anchors, PMobilesyncClient &client,
                                   const std::function<bool()> &cancelled = {});
void mobiledevice_sync_get_all_records_throw(MobilesyncClient *client);
// One batch: its records by identifier into entities (and the device's actions, when asked for), acknowledged;
// true when more batches follow.
bool mobiledevice_sync_receive_changes_throw(MobilesyncClient *client, PlistCFType &entities,
                                             PlistCFType *actions = nullptr);
void mobiledevice_sync_ready_to_send_throw(MobilesyncClient *client);
// Sends one batch and returns the device's identifier mapping (temporary identifier → device identifier).
PlistCFType mobiledevice_sync_send_changes_throw(MobilesyncClient *client, const PlistCFType &entities, bool last,
                                                 const PlistCFType &actions = PlistCFType());
void mobiledevice_sync_finish_throw(MobilesyncClient *client);

// First thing in the run() of a worker that talks to devices: at its end frees what the TLS library keeps for the
// thread. The library frees it itself when the thread exits, but QThread::wait() returns before that, and a
// program that ends right after its worker would leave it behind.
class DeviceThreadScope
{
public:
    DeviceThreadScope() = default;
    ~DeviceThreadScope();
    DeviceThreadScope(const DeviceThreadScope &) = delete;
    DeviceThreadScope &operator=(const DeviceThreadScope &) = delete;
};
