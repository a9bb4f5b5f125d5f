#pragma once

#include "ios/plistcftype.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/mobilesync.h>
#include <libimobiledevice/property_list_service.h>

#include <QString>

#include <functional>
#include <memory>

// The mobilesync conversation (device link plus the sync messages of one data class), built on libimobiledevice's
// public property-list service. Debian's libimobiledevice 1.3.0 ships a mobilesync client that accepts only
// device-link version 300 (iPhones since iOS 14 announce 400) and that cannot announce "ready to receive changes"
// right after a start; this client speaks the same messages in the same order for either version, without the
// library's direction bookkeeping. Every operation returns a mobilesync_error_t code, the same codes the library
// returns for the same failures, so that messages naming a call and its return code read as they would with it.
class MobilesyncClient
{
public:
    // Highest device-link major version this client speaks; a device announcing more is refused (BAD_VERSION).
    static constexpr quint64 kMaxDeviceLinkVersion = 400;

    // Starts "com.apple.mobilesync" through a lockdown session opened with the label, connects to it and exchanges
    // device-link versions. On success *client holds the new client. With lockdownError, the lockdown handshake's
    // code goes there (0 when it succeeded; -19, for example, while the phone asks its user to trust this computer).
    static mobilesync_error_t startService(idevice_t device, const char *label,
                                           std::unique_ptr<MobilesyncClient> *client, int *lockdownError = nullptr);

    // Sends the device-link disconnect message and closes the service connection.
    ~MobilesyncClient();
    MobilesyncClient(const MobilesyncClient &) = delete;
    MobilesyncClient &operator=(const MobilesyncClient &) = delete;

    // The device-link major version the device announced (300 or 400 on the phones we know).
    quint64 deviceLinkVersion() const { return m_deviceLinkVersion; }
    // The anchor the phone gave for this session (its answer to the start), and the kind of sync it chose
    // (SDSyncTypeFast, SDSyncTypeSlow, SDSyncTypeReset); empty before a start.
    QString deviceAnchor() const { return m_deviceAnchor; }
    QString syncType() const { return m_syncType; }

    // Asked while a receive waits for the device: once it returns true the receive gives up with
    // MOBILESYNC_E_CANCELLED and cancelledByUser() turns true. Without a check a receive waits as the library does.
    void setCancelCheck(std::function<bool()> check) { m_cancelCheck = std::move(check); }
    bool cancelledByUser() const { return m_cancelledByUser; }

    // Asks the device to sync the data class. The device may refuse (SYNC_REFUSED) or cancel (CANCELLED), giving
    // a description in *errorDescription (empty when it gave none).
    mobilesync_error_t start(const QString &dataClass, const QString &deviceAnchor, const QString &computerAnchor,
                             quint64 computerDataClassVersion, QString *syncType, quint64 *deviceDataClassVersion,
                             QString *errorDescription);
    // Requests every record of the data class; the batches follow through receiveChanges().
    mobilesync_error_t getAllRecordsFromDevice();
    // One batch from the device: the records by identifier, whether it is the last one, and the device's actions
    // (the null value when it sent none). A phone with nothing of a kind sends "___EmptyParameterString___" (or
    // nothing) in place of the records: an empty batch.
    mobilesync_error_t receiveChanges(PlistCFType *entities, bool *isLastRecord, PlistCFType *actions);
    mobilesync_error_t acknowledgeChangesFromDevice();
    // Waits until the device is ready to receive changes and announces that the computer starts sending. Right
    // after a start (nothing received) the device is prompted with an acknowledgement first; batches it reports
    // meanwhile are acknowledged and dropped. NOT_READY when it answers anything else.
    mobilesync_error_t readyToSendChangesFromComputer();
    // One batch to the device; isLastRecord false tells it that more may follow. actions may be the null value.
    mobilesync_error_t sendChanges(const PlistCFType &entities, bool isLastRecord, const PlistCFType &actions);
    // The device's answer to a batch: the identifiers it gave to records sent under temporary ones (the null value
    // when it gave none).
    mobilesync_error_t remapIdentifiers(PlistCFType *mapping);
    // Ends the session; the device commits what it received.
    mobilesync_error_t finish();
    mobilesync_error_t cancel(const QString &reason);

private:
    explicit MobilesyncClient(property_list_service_client_t service) : m_service(service) {}

    mobilesync_error_t exchangeVersions();
    // Sends a message array (owned by the caller) as a binary property list.
    mobilesync_error_t send(void *message);
    // Receives one message; it must be an array whose first element is a string (its name).
    mobilesync_error_t receive(PlistCFType *message, QString *name);
    mobilesync_error_t sendSimple(const char *name);
    // Receives the next message of a started session, which must be named `expected`: a cancel from the device
    // gives MOBILESYNC_E_CANCELLED (its reason goes to the log), any other message MOBILESYNC_E_PLIST_ERROR.
    mobilesync_error_t receiveInSession(const char *expected, PlistCFType *message);

    property_list_service_client_t m_service;
    quint64 m_deviceLinkVersion = 0;
    QString m_dataClass; // set by a successful start, cleared by finish and cancel
    QString m_deviceAnchor;
    QString m_syncType;
    bool m_lastBatchReceived = false; // the device flagged the batch received last as its last one
    bool m_deviceDone = false;        // and it was acknowledged: the device's ready message follows
    std::function<bool()> m_cancelCheck;
    bool m_cancelledByUser = false;
};
