#include "ios/mobiledevice.h"

#include "core/datafolder.h"
#include "core/texts.h"
#include "ios/log.h"

#include <openssl/crypto.h>
#include <usbmuxd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <atomic>
#include <stdexcept>

namespace {

// The object whose subscription is the library's current one (it keeps a single callback).
std::atomic<MobiledeviceSubscribe *> g_subscriber{nullptr};

[[noreturn]] void fail(const char *key, int code)
{
    throw std::runtime_error(trKey(key).arg(code).toUtf8().toStdString());
}

// A session call that failed: a cancel by the user ends the session as such, anything else as the call's error.
[[noreturn]] void fail(const MobilesyncClient *client, const char *key, int code)
{
    if (client->cancelledByUser())
        throw MobilesyncCancelled();
    fail(key, code);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Device notifications

MobiledeviceSubscribe::MobiledeviceSubscribe(QObject *parent) : QObject(parent)
{
}

MobiledeviceSubscribe::~MobiledeviceSubscribe()
{
    MobiledeviceSubscribe *self = this;
    if (g_subscriber.compare_exchange_strong(self, nullptr))
        idevice_event_unsubscribe(); // waits for the event thread, so no callback reaches a dead object
}

bool MobiledeviceSubscribe::subscribe()
{
    // Without this libusbmuxd waits by inotify for the system's socket file and never tries an address given in
    // USBMUXD_SOCKET_ADDRESS, nor a daemon started later; polling once a second finds both.
    libusbmuxd_set_use_inotify(0);
    g_subscriber = this;
    if (idevice_event_subscribe(&MobiledeviceSubscribe::deviceEvent, this) != IDEVICE_E_SUCCESS) {
        MobiledeviceSubscribe *self = this;
        g_subscriber.compare_exchange_strong(self, nullptr);
        return false;
    }
    return true;
}

void MobiledeviceSubscribe::deviceEvent(const idevice_event_t *event, void *userData)
{
    auto *self = static_cast<MobiledeviceSubscribe *>(userData);
    // Devices reached over the network are not ours to sync; the UDID is only valid during the callback.
    if (!self || !event || !event->udid || event->conn_type != CONNECTION_USBMUXD)
        return;
    const QString udid = QString::fromLatin1(event->udid);
    if (event->event == IDEVICE_DEVICE_ADD)
        Q_EMIT self->newDevice(udid);
    else if (event->event == IDEVICE_DEVICE_REMOVE)
        Q_EMIT self->kickDevice(udid);
    else if (event->event == IDEVICE_DEVICE_PAIRED)
        Q_EMIT self->devicePaired(udid);
}

// ---------------------------------------------------------------------------------------------------------------
// Lockdown values

void MobiledeviceConnection::close()
{
    if (lockdown) {
        lockdownd_client_free(lockdown);
        lockdown = nullptr;
    }
    if (device) {
        idevice_free(device);
        device = nullptr;
    }
}

MobilesyncAnchors MobilesyncAnchors::forContacts(const QString &udid)
{
    QString deviceAnchor = QStringLiteral("---");
    if (!udid.isEmpty()) {
        QFile file(deviceAnchorPath(udid));
        if (file.open(QIODevice::ReadOnly)) {
            const QString kept = QString::fromUtf8(file.read(4096)).trimmed();
            if (!kept.isEmpty() && !kept.contains(QLatin1Char('\n')))
                deviceAnchor = kept;
        }
    }
    return {QStringLiteral("com.apple.Contacts"), deviceAnchor,
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"))};
}

QString deviceAnchorPath(const QString &udid)
{
    return DataFolder::iosCacheDir() + QLatin1Char('/') + DataFolder::cacheFileName(udid) + QStringLiteral(".anchor");
}

void rememberDeviceAnchor(const QString &udid, const MobilesyncClient *client)
{
    if (!client || client->deviceAnchor().isEmpty() || udid.isEmpty())
        return;
    QDir().mkpath(DataFolder::iosCacheDir());
    QSaveFile file(deviceAnchorPath(udid));
    if (!file.open(QIODevice::WriteOnly) || file.write(client->deviceAnchor().toUtf8()) < 0 || !file.commit())
        qCWarning(lcIos, "IOS Sync, the phone's anchor could not be kept: %s", qUtf8Printable(file.errorString()));
}

bool mobiledevice_open(MobiledeviceConnection &connection, int *lockdownError)
{
    if (lockdownError)
        *lockdownError = LOCKDOWN_E_UNKNOWN_ERROR;
    const QByteArray udid = connection.udid.toUtf8();
    if (idevice_new_with_options(&connection.device, udid.constData(), IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS)
        return false;
    const lockdownd_error_t e =
        lockdownd_client_new_with_handshake(connection.device, &connection.lockdown, kMobiledeviceLabel);
    if (lockdownError)
        *lockdownError = e;
    return e == LOCKDOWN_E_SUCCESS;
}

int mobiledevice_trust_state(const QString &udid)
{
    MobiledeviceConnection connection(udid);
    int e = LOCKDOWN_E_UNKNOWN_ERROR;
    mobiledevice_open(connection, &e);
    return e;
}

bool mobiledevice_is_trust_error(int lockdownError)
{
    switch (lockdownError) {
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
    case LOCKDOWN_E_PASSWORD_PROTECTED:
    case LOCKDOWN_E_USER_DENIED_PAIRING:
    case LOCKDOWN_E_INVALID_HOST_ID:
        return true;
    default:
        return false;
    }
}

QString mobiledevice_trust_text(int lockdownError)
{
    switch (lockdownError) {
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
        return trKey("IDS_IOS_TRUST_PENDING");
    case LOCKDOWN_E_PASSWORD_PROTECTED:
        return trKey("IDS_IOS_TRUST_LOCKED");
    case LOCKDOWN_E_USER_DENIED_PAIRING:
        return trKey("IDS_IOS_TRUST_DENIED");
    case LOCKDOWN_E_INVALID_HOST_ID:
        return trKey("IDS_IOS_TRUST_FORGOTTEN");
    default:
        return QString();
    }
}

bool mobiledevice_contacts_in_icloud(const QString &udid, int *lockdownError)
{
    MobiledeviceConnection connection(udid);
    if (!mobiledevice_open(connection, lockdownError))
        return false;
    // The value names the accounts the phone syncs contacts with, e.g. {AccountNames: ["iCloud"]}; its text
    // rendering is searched so that the shape of the value does not matter.
    plist_t value = nullptr;
    if (lockdownd_get_value(connection.lockdown, "com.apple.mobile.data_sync", "Contacts", &value) !=
        LOCKDOWN_E_SUCCESS) {
        plist_free(value);
        return false;
    }
    return PlistCFType(value, true).toText().contains(QLatin1String("icloud"), Qt::CaseInsensitive);
}

QString mobiledevice_icloud_warning()
{
    return trKey("IDS_IOS_ICLOUD_CONTACTS");
}

QString mobiledevice_check_before_sync(const QString &udid)
{
    int lockdownError = 0;
    const bool icloud = mobiledevice_contacts_in_icloud(udid, &lockdownError);
    if (mobiledevice_is_trust_error(lockdownError))
        throw std::runtime_error(mobiledevice_trust_text(lockdownError).toUtf8().toStdString());
    return icloud ? mobiledevice_icloud_warning() : QString();
}

QStringList mobiledevice_usb_udids()
{
    QStringList udids;
    idevice_info_t *list = nullptr;
    int count = 0;
    if (idevice_get_device_list_extended(&list, &count) != IDEVICE_E_SUCCESS)
        return udids; // no multiplexer running: no iPhones
    for (int i = 0; i < count; ++i)
        if (list[i]->conn_type == CONNECTION_USBMUXD)
            udids << QString::fromLatin1(list[i]->udid);
    idevice_device_list_extended_free(list);
    return udids;
}

PlistCFType mobiledevice_get_value(const QString &udid, const QString &domain, const QString &key)
{
    MobiledeviceConnection connection(udid);
    if (!mobiledevice_open(connection))
        return PlistCFType();
    const QByteArray d = domain.toUtf8();
    const QByteArray k = key.toUtf8();
    plist_t value = nullptr;
    const lockdownd_error_t e = lockdownd_get_value(connection.lockdown, domain.isEmpty() ? nullptr : d.constData(),
                                                    key.isEmpty() ? nullptr : k.constData(), &value);
    if (e != LOCKDOWN_E_SUCCESS) {
        plist_free(value);
        return PlistCFType();
    }
    return PlistCFType(value, true);
}

bool mobiledevice_set_value(const QString &udid, const QString &domain, const QString &key, const PlistCFType &value)
{
    if (value.isNull())
        return false;
    MobiledeviceConnection connection(udid);
    if (!mobiledevice_open(connection))
        return false;
    const QByteArray d = domain.toUtf8();
    const QByteArray k = key.toUtf8();
    // The library takes the node into its request and frees it there.
    return lockdownd_set_value(connection.lockdown, domain.isEmpty() ? nullptr : d.constData(),
                               key.isEmpty() ? nullptr : k.constData(),
                               plist_copy(static_cast<plist_t>(value.node()))) == LOCKDOWN_E_SUCCESS;
}

bool mobiledevice_set_disable_tethered(const QString &udid, const QString &key, bool disabled)
{
    PlistCFType settings = PlistCFType::newDict();
    settings.setItem(QStringLiteral("DisableTethered"), PlistCFType::fromBool(disabled));
    return mobiledevice_set_value(udid, QStringLiteral("com.apple.mobile.tethered_sync"), key, settings);
}

// ---------------------------------------------------------------------------------------------------------------
// The session

void mobiledevice_sync_start_throw(const QString &udid, const MobilesyncAnchors &anchors, PMobilesyncClient &client,
                                   const std::function<bool()> &cancelled)
{
    MobiledeviceConnection connection(udid); // only its device handle; released on every way out
    const QByteArray id = udid.toUtf8();
    const idevice_error_t opened = idevice_new_with_options(&connection.device, id.constData(), IDEVICE_LOOKUP_USBMUX);
    if (opened != IDEVICE_E_SUCCESS)
        fail("mobiledevice_sync_start_throw: open device failed. return %1.", opened);

    int lockdownError = 0;
    const mobilesync_error_t started =
        MobilesyncClient::startService(connection.device, kMobiledeviceLabel, &client, &lockdownError);
    // A phone that does not trust this computer yet says what the user has to do, not a return code.
    if (started != MOBILESYNC_E_SUCCESS && mobiledevice_is_trust_error(lockdownError))
        throw std::runtime_error(mobiledevice_trust_text(lockdownError).toUtf8().toStdString());
    if (started != MOBILESYNC_E_SUCCESS)
        fail("mobiledevice_sync_start_throw: start service failed. return %1.", started);
    client->setCancelCheck(cancelled);

    QString description;
    const mobilesync_error_t e = client->start(anchors.dataClass, anchors.deviceAnchor, anchors.computerAnchor,
                                               kComputerDataClassVersion, nullptr, nullptr, &description);
    if (e != MOBILESYNC_E_SUCCESS) {
        // The client stays with the caller, who frees it.
        if (client->cancelledByUser())
            throw MobilesyncCancelled();
        throw std::runtime_error(trKey("mobiledevice_sync_start_throw: start failed. return %1. %2")
                                     .arg(QString::number(e), description)
                                     .toUtf8()
                                     .toStdString());
    }
}

void mobiledevice_sync_get_all_records_throw(MobilesyncClient *client)
{
    if (!client)
        return;
    const mobilesync_error_t e = client->getAllRecordsFromDevice();
    if (e != MOBILESYNC_E_SUCCESS)
        fail(client, "mobilesync_get_all_records_from_device failed. return %1.", e);
}

bool mobiledevice_sync_receive_changes_throw(MobilesyncClient *client, PlistCFType &entities, PlistCFType *actions)
{
    if (!client)
        return false;
    bool last = true;
    PlistCFType received;
    mobilesync_error_t e = client->receiveChanges(&entities, &last, actions ? actions : &received);
    if (e != MOBILESYNC_E_SUCCESS)
        fail(client, "mobilesync_receive_changes failed. return %1.", e);
    e = client->acknowledgeChangesFromDevice();
    if (e != MOBILESYNC_E_SUCCESS)
        fail(client, "mobilesync_acknowledge_changes_from_device failed. return %1.", e);
    return !last;
}

void mobiledevice_sync_ready_to_send_throw(MobilesyncClient *client)
{
    if (!client)
        return;
    const mobilesync_error_t e = client->readyToSendChangesFromComputer();
    if (e != MOBILESYNC_E_SUCCESS)
        fail(client, "mobilesync_ready_to_send_changes_from_computer failed. return %1.", e);
}

PlistCFType mobiledevice_sync_send_changes_throw(MobilesyncClient *client, const PlistCFType &entities, bool last,
                                                 const PlistCFType &actions)
{
    if (!client)
        return PlistCFType();
    mobilesync_error_t e = client->sendChanges(entities, last, actions);
    if (e != MOBILESYNC_E_SUCCESS)
        fail(client, "mobilesync_send_changes failed. return %1.", e);
    PlistCFType mapping;
    e = client->remapIdentifiers(&mapping);
    if (e != MOBILESYNC_E_SUCCESS)
        fail(client, "mobilesync_remap_identifiers failed. return %1.", e);
    return mapping;
}

void mobiledevice_sync_finish_throw(MobilesyncClient *client)
{
    if (!client)
        return;
    const mobilesync_error_t e = client->finish();
    if (e != MOBILESYNC_E_SUCCESS)
        fail(client, "mobilesync_finish failed. return %1.", e);
}

DeviceThreadScope::~DeviceThreadScope()
{
    OPENSSL_thread_stop();
}
