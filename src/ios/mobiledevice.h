#pragma once

// The program's thin layer over libimobiledevice: device notifications, lockdown values and the mobilesync session
// of the "com.apple.Contacts" data class. Library failures in the session become std::runtime_error whose UTF-8
// message names the call and its return code; the lockdown helpers never throw.

#include "ios/mobilesyncclient.h"
#include "ios/plistcftype.h"

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
    // The phone now trusts this computer (usbmuxd's "Paired"): what failed for want of trust can be tried again.
    void devicePaired(const QString &devid);
};

// A short-lived lockdown connection to one device: handles empty at creation, released by close() (lockdown client
// first, then the device handle) and by the destructor.
struct MobiledeviceConnection
{
    explicit MobiledeviceConnection(const QString &deviceUdid) : udid(deviceUdid) {}
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

    // With a UDID, the device anchor is the one that phone gave at the end of the last session this computer
    // finished with it ("---" when there is none): a phone told an anchor it does not know starts over with a slow
    // sync, on this computer and on the next desktop that syncs it.
    static MobilesyncAnchors forContacts(const QString &udid = QString());
};

// Keeps the device anchor the phone gave in the session just finished, for the next session (nothing when the
// client is empty or the phone gave none).
void rememberDeviceAnchor(const QString &udid, const MobilesyncClient *client);
// The file that keeps a phone's anchor.
QString deviceAnchorPath(const QString &udid);

// The caller's session client; an empty pointer is an empty handle. Dropping it frees the client, so it is freed
// on every path out of the owning thread.
using PMobilesyncClient = std::unique_ptr<MobilesyncClient>;

// Opens the device (USB multiplexer only) and a lockdown client with a session; true when both succeeded. With
// lockdownError, the handshake's code goes there (LOCKDOWN_E_UNKNOWN_ERROR when the device could not be opened).
bool mobiledevice_open(MobiledeviceConnection &connection, int *lockdownError = nullptr);
// Whether this computer may talk to the phone: LOCKDOWN_E_SUCCESS (0) when a lockdown session opens, otherwise
// the handshake's error (-19 while the phone shows its "Trust This Computer?" question, -17 while it is locked with
// its passcode, -18 after the user tapped "Don't Trust", -21 when it no longer knows this computer).
int mobiledevice_trust_state(const QString &udid);
// True for the codes of a phone that does not (yet) trust this computer, as opposed to one that is gone.
bool mobiledevice_is_trust_error(int lockdownError);
// What the user should do about a trust error, in the user's language; empty for other codes.
QString mobiledevice_trust_text(int lockdownError);
// Whether the phone keeps its contacts in iCloud (lockdown domain "com.apple.mobile.data_sync", key "Contacts",
// naming an iCloud account). A phone in that state still syncs, but only its local store ("On My iPhone"). With
// lockdownError, the code of opening the phone goes there (a trust error, for example).
bool mobiledevice_contacts_in_icloud(const QString &udid, int *lockdownError = nullptr);
// The warning shown before a phone that keeps its contacts in iCloud is read or written.
QString mobiledevice_icloud_warning();
// Before a session: throws (std::runtime_error with mobiledevice_trust_text) when the phone does not trust this
// computer yet, without further attempts (each costs the phone's question a new pairing); else the iCloud warning
// to show first, or an empty text.
QString mobiledevice_check_before_sync(const QString &udid);
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
