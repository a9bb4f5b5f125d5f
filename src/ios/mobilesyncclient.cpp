#include "ios/mobilesyncclient.h"

#include "ios/log.h"

#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>

#include <QElapsedTimer>

#include <utility>

namespace {

constexpr char kEmptyParameter[] = "___EmptyParameterString___";
// The library gives a device this long to begin a message (property_list_service_receive_plist); a cancellable wait
// keeps that limit but looks at the cancel check every slice.
constexpr int kReceiveTimeoutMs = 30000;
constexpr unsigned kCancelSliceMs = 200;

mobilesync_error_t fromService(property_list_service_error_t e)
{
    switch (e) {
    case PROPERTY_LIST_SERVICE_E_SUCCESS:
        return MOBILESYNC_E_SUCCESS;
    case PROPERTY_LIST_SERVICE_E_INVALID_ARG:
        return MOBILESYNC_E_INVALID_ARG;
    case PROPERTY_LIST_SERVICE_E_PLIST_ERROR:
        return MOBILESYNC_E_PLIST_ERROR;
    case PROPERTY_LIST_SERVICE_E_MUX_ERROR:
        return MOBILESYNC_E_MUX_ERROR;
    case PROPERTY_LIST_SERVICE_E_SSL_ERROR:
        return MOBILESYNC_E_SSL_ERROR;
    case PROPERTY_LIST_SERVICE_E_RECEIVE_TIMEOUT:
        return MOBILESYNC_E_RECEIVE_TIMEOUT;
    default:
        return MOBILESYNC_E_UNKNOWN_ERROR;
    }
}

// A message array under construction; freed unless handed on.
struct Message
{
    explicit Message(const char *name) : node(plist_new_array()) { add(name); }
    ~Message() { plist_free(node); }
    Message(const Message &) = delete;
    Message &operator=(const Message &) = delete;
    Message &add(const char *text)
    {
        plist_array_append_item(node, plist_new_string(text));
        return *this;
    }
    Message &add(const QString &text) { return add(text.toUtf8().constData()); }
    Message &addUInt(quint64 value)
    {
        plist_array_append_item(node, plist_new_uint(value));
        return *this;
    }
    Message &addBool(bool value)
    {
        plist_array_append_item(node, plist_new_bool(value ? 1 : 0));
        return *this;
    }
    // A copy of the caller's value, which stays the caller's.
    Message &addCopy(const PlistCFType &value)
    {
        plist_array_append_item(node, plist_copy(static_cast<plist_t>(value.node())));
        return *this;
    }
    plist_t node;
};

// Element i of a received message as an owning copy, so that it outlives the message.
PlistCFType copyOf(const PlistCFType &message, int i)
{
    const PlistCFType item = message.item(i);
    return item.isNull() ? PlistCFType() : PlistCFType(plist_copy(static_cast<plist_t>(item.node())), true);
}

} // namespace

mobilesync_error_t MobilesyncClient::startService(idevice_t device, const char *label,
                                                  std::unique_ptr<MobilesyncClient> *client, int *lockdownError)
{
    if (lockdownError)
        *lockdownError = 0;
    if (!device || !client)
        return MOBILESYNC_E_INVALID_ARG;
    client->reset();
    // As the library's own service start does: a failing lockdown step is an unknown error to the caller; the
    // lockdown code goes to the debug output (-19, for example, is a phone that has not trusted this computer).
    lockdownd_client_t lockdown = nullptr;
    const lockdownd_error_t handshake = lockdownd_client_new_with_handshake(device, &lockdown, label);
    if (lockdownError)
        *lockdownError = handshake;
    if (handshake != LOCKDOWN_E_SUCCESS) {
        qCWarning(lcMobilesync, "lockdown handshake failed: %d", int(handshake));
        return MOBILESYNC_E_UNKNOWN_ERROR;
    }
    lockdownd_service_descriptor_t descriptor = nullptr;
    const lockdownd_error_t started = lockdownd_start_service(lockdown, MOBILESYNC_SERVICE_NAME, &descriptor);
    lockdownd_client_free(lockdown);
    if (started != LOCKDOWN_E_SUCCESS) {
        qCWarning(lcMobilesync, "lockdown StartService %s failed: %d", MOBILESYNC_SERVICE_NAME, int(started));
        lockdownd_service_descriptor_free(descriptor);
        return MOBILESYNC_E_UNKNOWN_ERROR;
    }
    property_list_service_client_t service = nullptr;
    const property_list_service_error_t connected = property_list_service_client_new(device, descriptor, &service);
    lockdownd_service_descriptor_free(descriptor);
    if (connected != PROPERTY_LIST_SERVICE_E_SUCCESS)
        return fromService(connected);

    std::unique_ptr<MobilesyncClient> made(new MobilesyncClient(service));
    const mobilesync_error_t exchanged = made->exchangeVersions();
    if (exchanged != MOBILESYNC_E_SUCCESS)
        return exchanged;
    *client = std::move(made);
    return MOBILESYNC_E_SUCCESS;
}

MobilesyncClient::~MobilesyncClient()
{
    Message bye("DLMessageDisconnect");
    bye.add("All done, thanks for the memories");
    send(bye.node);
    property_list_service_client_free(m_service);
}

mobilesync_error_t MobilesyncClient::exchangeVersions()
{
    // The device announces ["DLMessageVersionExchange", major, minor]; the computer accepts with the device's own
    // major (the version both then speak) and waits for ["DLMessageDeviceReady"].
    PlistCFType message;
    QString name;
    mobilesync_error_t e = receive(&message, &name);
    if (e != MOBILESYNC_E_SUCCESS)
        return e;
    if (name != QLatin1String("DLMessageVersionExchange") || message.count() < 3 || message.item(1).toUInt64(0) == 0)
        return MOBILESYNC_E_PLIST_ERROR;
    const quint64 major = message.item(1).toUInt64(0);
    if (major > kMaxDeviceLinkVersion) {
        qCWarning(lcMobilesync, "device-link version %llu is newer than %llu", major, kMaxDeviceLinkVersion);
        return MOBILESYNC_E_BAD_VERSION;
    }
    m_deviceLinkVersion = major;

    Message ok("DLMessageVersionExchange");
    ok.add("DLVersionsOk").addUInt(major);
    e = send(ok.node);
    if (e != MOBILESYNC_E_SUCCESS)
        return e;
    e = receive(&message, &name);
    if (e != MOBILESYNC_E_SUCCESS)
        return e;
    return name == QLatin1String("DLMessageDeviceReady") ? MOBILESYNC_E_SUCCESS : MOBILESYNC_E_PLIST_ERROR;
}

mobilesync_error_t MobilesyncClient::send(void *message)
{
    return fromService(property_list_service_send_binary_plist(m_service, static_cast<plist_t>(message)));
}

mobilesync_error_t MobilesyncClient::receive(PlistCFType *message, QString *name)
{
    plist_t received = nullptr;
    property_list_service_error_t pe = PROPERTY_LIST_SERVICE_E_UNKNOWN_ERROR;
    if (!m_cancelCheck) {
        pe = property_list_service_receive_plist(m_service, &received);
    } else {
        // A timed-out slice has read nothing of the message (the library's timeout covers only the wait for its
        // length), so the next slice starts cleanly.
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            pe = property_list_service_receive_plist_with_timeout(m_service, &received, kCancelSliceMs);
            if (pe != PROPERTY_LIST_SERVICE_E_RECEIVE_TIMEOUT || waited.elapsed() >= kReceiveTimeoutMs)
                break;
            if (m_cancelCheck()) {
                m_cancelledByUser = true;
                *message = PlistCFType();
                name->clear();
                return MOBILESYNC_E_CANCELLED;
            }
        }
    }
    const mobilesync_error_t e = fromService(pe);
    *message = PlistCFType(received, true);
    name->clear();
    if (e != MOBILESYNC_E_SUCCESS)
        return e;
    if (message->type() != PlistCFType::TypeArray || message->item(0).type() != PlistCFType::TypeString)
        return MOBILESYNC_E_PLIST_ERROR;
    *name = message->item(0).toString();
    qCDebug(lcMobilesync) << "device:" << *name;
    return MOBILESYNC_E_SUCCESS;
}

mobilesync_error_t MobilesyncClient::sendSimple(const char *name)
{
    if (m_dataClass.isEmpty())
        return MOBILESYNC_E_INVALID_ARG;
    Message message(name);
    message.add(m_dataClass);
    return send(message.node);
}

mobilesync_error_t MobilesyncClient::start(const QString &dataClass, const QString &deviceAnchor,
                                           const QString &computerAnchor, quint64 computerDataClassVersion,
                                           QString *syncType, quint64 *deviceDataClassVersion,
                                           QString *errorDescription)
{
    if (errorDescription)
        errorDescription->clear();
    if (!m_dataClass.isEmpty() || dataClass.isEmpty() || computerAnchor.isEmpty())
        return MOBILESYNC_E_INVALID_ARG;

    Message request("SDMessageSyncDataClassWithDevice");
    request.add(dataClass)
        .add(deviceAnchor.isEmpty() ? QStringLiteral("---") : deviceAnchor)
        .add(computerAnchor)
        .addUInt(computerDataClassVersion)
        .add(kEmptyParameter);
    mobilesync_error_t e = send(request.node);
    if (e != MOBILESYNC_E_SUCCESS)
        return e;

    PlistCFType answer;
    QString name;
    e = receive(&answer, &name);
    if (e != MOBILESYNC_E_SUCCESS)
        return e;
    if (name == QLatin1String("SDMessageRefuseToSyncDataClassWithComputer") ||
        name == QLatin1String("SDMessageCancelSession")) {
        if (errorDescription)
            *errorDescription = answer.item(2).toString();
        return name.startsWith(QLatin1String("SDMessageRefuse")) ? MOBILESYNC_E_SYNC_REFUSED : MOBILESYNC_E_CANCELLED;
    }
    if (name != QLatin1String("SDMessageSyncDataClassWithComputer"))
        return MOBILESYNC_E_PLIST_ERROR;
    const QString type = answer.item(4).toString();
    if (type != QLatin1String("SDSyncTypeFast") && type != QLatin1String("SDSyncTypeSlow") &&
        type != QLatin1String("SDSyncTypeReset"))
        return MOBILESYNC_E_PLIST_ERROR;
    if (answer.item(5).type() != PlistCFType::TypeNumber)
        return MOBILESYNC_E_PLIST_ERROR;
    if (syncType)
        *syncType = type;
    // ["SDMessageSyncDataClassWithComputer", class, the computer's idea of the device anchor, the new device
    // anchor, sync type, version]
    m_deviceAnchor = answer.item(3).toString();
    m_syncType = type;
    if (deviceDataClassVersion)
        *deviceDataClassVersion = answer.item(5).toUInt64(0);
    m_dataClass = dataClass;
    m_lastBatchReceived = false;
    m_deviceDone = false;
    return MOBILESYNC_E_SUCCESS;
}

mobilesync_error_t MobilesyncClient::getAllRecordsFromDevice()
{
    return sendSimple("SDMessageGetAllRecordsFromDevice");
}

mobilesync_error_t MobilesyncClient::receiveInSession(const char *expected, PlistCFType *message)
{
    if (m_dataClass.isEmpty())
        return MOBILESYNC_E_INVALID_ARG;
    QString name;
    const mobilesync_error_t e = receive(message, &name);
    if (e != MOBILESYNC_E_SUCCESS)
        return e;
    if (name == QLatin1String("SDMessageCancelSession")) {
        qCWarning(lcMobilesync) << "device cancelled:" << message->item(2).toString();
        return MOBILESYNC_E_CANCELLED;
    }
    return name == QLatin1String(expected) ? MOBILESYNC_E_SUCCESS : MOBILESYNC_E_PLIST_ERROR;
}

mobilesync_error_t MobilesyncClient::receiveChanges(PlistCFType *entities, bool *isLastRecord, PlistCFType *actions)
{
    PlistCFType message;
    const mobilesync_error_t e = receiveInSession("SDMessageProcessChanges", &message);
    if (e != MOBILESYNC_E_SUCCESS)
        return e;
    const PlistCFType records = message.item(2);
    const bool empty = records.isNull() || (records.type() == PlistCFType::TypeString &&
                                            records.toString() == QLatin1String(kEmptyParameter));
    if (!records.isDict() && !empty)
        return MOBILESYNC_E_PLIST_ERROR;
    const bool last = !message.item(3).toBool(false);
    if (entities)
        *entities = empty ? PlistCFType::newDict() : copyOf(message, 2);
    if (isLastRecord)
        *isLastRecord = last;
    if (actions)
        *actions = message.item(4).isDict() ? copyOf(message, 4) : PlistCFType();
    m_lastBatchReceived = last;
    return MOBILESYNC_E_SUCCESS;
}

mobilesync_error_t MobilesyncClient::acknowledgeChangesFromDevice()
{
    const mobilesync_error_t e = sendSimple("SDMessageAcknowledgeChangesFromDevice");
    if (e == MOBILESYNC_E_SUCCESS && m_lastBatchReceived)
        m_deviceDone = true;
    return e;
}

mobilesync_error_t MobilesyncClient::readyToSendChangesFromComputer()
{
    if (m_dataClass.isEmpty())
        return MOBILESYNC_E_INVALID_ARG;
    // Nothing prompts the device right after a start; an acknowledgement (of no changes) does. After the device's
    // last batch was acknowledged its ready message is already on the way.
    if (!m_deviceDone) {
        const mobilesync_error_t e = acknowledgeChangesFromDevice();
        if (e != MOBILESYNC_E_SUCCESS)
            return e;
    }
    for (;;) {
        PlistCFType message;
        QString name;
        mobilesync_error_t e = receive(&message, &name);
        if (e != MOBILESYNC_E_SUCCESS)
            return e;
        if (name == QLatin1String("SDMessageCancelSession")) {
            qCWarning(lcMobilesync) << "device cancelled:" << message.item(2).toString();
            return MOBILESYNC_E_CANCELLED;
        }
        if (name == QLatin1String("SDMessageProcessChanges")) {
            e = acknowledgeChangesFromDevice();
            if (e != MOBILESYNC_E_SUCCESS)
                return e;
            continue;
        }
        if (name != QLatin1String("SDMessageDeviceReadyToReceiveChanges"))
            return MOBILESYNC_E_NOT_READY;
        Message ping("DLMessagePing");
        ping.add("Preparing to get changes for device");
        return send(ping.node);
    }
}

mobilesync_error_t MobilesyncClient::sendChanges(const PlistCFType &entities, bool isLastRecord,
                                                 const PlistCFType &actions)
{
    if (m_dataClass.isEmpty() || !entities.isDict())
        return MOBILESYNC_E_INVALID_ARG;
    Message message("SDMessageProcessChanges");
    message.add(m_dataClass).addCopy(entities).addBool(!isLastRecord);
    if (actions.isNull())
        message.add(kEmptyParameter);
    else
        message.addCopy(actions);
    return send(message.node);
}

mobilesync_error_t MobilesyncClient::remapIdentifiers(PlistCFType *mapping)
{
    PlistCFType message;
    const mobilesync_error_t e = receiveInSession("SDMessageRemapRecordIdentifiers", &message);
    if (e != MOBILESYNC_E_SUCCESS)
        return e;
    if (mapping)
        *mapping = message.item(2).isDict() ? copyOf(message, 2) : PlistCFType();
    return MOBILESYNC_E_SUCCESS;
}

mobilesync_error_t MobilesyncClient::finish()
{
    mobilesync_error_t e = sendSimple("SDMessageFinishSessionOnDevice");
    if (e != MOBILESYNC_E_SUCCESS)
        return e;
    m_dataClass.clear();
    PlistCFType message;
    QString name;
    // The device is committing what it was sent: a cancel now could not undo that, so its answer is awaited.
    const std::function<bool()> check = std::exchange(m_cancelCheck, {});
    e = receive(&message, &name);
    m_cancelCheck = check;
    if (e != MOBILESYNC_E_SUCCESS)
        return e;
    if (name == QLatin1String("SDMessageCancelSession"))
        return MOBILESYNC_E_CANCELLED;
    // Unlike the library, which takes any answer for a finished session, anything but the device's confirmation
    // is a failure: the device may not have committed what it was sent.
    return name == QLatin1String("SDMessageDeviceFinishedSession") ? MOBILESYNC_E_SUCCESS : MOBILESYNC_E_PLIST_ERROR;
}

mobilesync_error_t MobilesyncClient::cancel(const QString &reason)
{
    if (m_dataClass.isEmpty() || reason.isEmpty())
        return MOBILESYNC_E_INVALID_ARG;
    Message message("SDMessageCancelSession");
    message.add(m_dataClass).add(reason);
    m_dataClass.clear();
    return send(message.node);
}
