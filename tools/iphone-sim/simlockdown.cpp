// The simulator's lockdownd (port 62078): QueryType, GetValue, SetValue, StartSession with a TLS session on the
// same stream, StopSession, StartService for "com.apple.mobilesync", and Pair answered as a phone that still waits
// for the user to tap "Trust".

#include "iphonesim.h"

#include "simcerts.h"
#include "simchannel.h"

#include <QUuid>

using namespace simplist;

namespace {

constexpr char kHostIdKey[] = "HostID";
constexpr char kExpectedHostId[] = "7C2A9B14-5E3D-4F60-8A1B-C9D0E2F3A4B5";
constexpr char kMobilesyncService[] = "com.apple.mobilesync";
constexpr char kTetheredSyncDomain[] = "com.apple.mobile.tethered_sync";

// Keys a phone gives out before a session, as lockdownd does to a host it does not know yet.
const QStringList &openKeys()
{
    static const QStringList keys = {
        QStringLiteral("ProductVersion"),  QStringLiteral("BuildVersion"),    QStringLiteral("ProductType"),
        QStringLiteral("DeviceClass"),     QStringLiteral("UniqueDeviceID"),  QStringLiteral("SerialNumber"),
        QStringLiteral("DeviceName"),      QStringLiteral("DevicePublicKey"), QStringLiteral("WiFiAddress"),
        QStringLiteral("ProtocolVersion"), QStringLiteral("ActivationState"), QStringLiteral("HardwareModel"),
        QStringLiteral("CPUArchitecture")};
    return keys;
}

Plist reply(const QString &request)
{
    Plist r = Plist::dict();
    plist_dict_set_item(r.get(), "Request", str(request));
    return r;
}

Plist errorReply(const QString &request, const char *error)
{
    Plist r = reply(request);
    plist_dict_set_item(r.get(), "Error", plist_new_string(error));
    return r;
}

} // namespace

Plist IPhoneSim::lockdownValues(const Device &d, bool session) const
{
    Plist v = Plist::dict();
    const auto set = [&](const char *key, plist_t value) {
        if (session || openKeys().contains(QLatin1String(key)))
            plist_dict_set_item(v.get(), key, value);
        else
            plist_free(value);
    };
    const bool old = d.config.dlVersion == 300;
    set("DeviceName", str(d.config.name));
    set("UniqueDeviceID", str(d.config.udid));
    set("SerialNumber", str(QStringLiteral("F2LSIM%1").arg(d.muxId, 6, 10, QLatin1Char('0'))));
    set("ProductVersion", str(d.config.productVersion));
    set("BuildVersion", plist_new_string(old ? "17H35" : "20H343"));
    set("ProductType", plist_new_string(old ? "iPhone12,1" : "iPhone13,2"));
    set("HardwareModel", plist_new_string(old ? "N104AP" : "D53gAP"));
    set("DeviceClass", plist_new_string("iPhone"));
    set("CPUArchitecture", plist_new_string("arm64e"));
    set("ProtocolVersion", plist_new_string("2"));
    set("ActivationState", plist_new_string("Activated"));
    set("WiFiAddress", str(QStringLiteral("a4:d1:8c:00:00:%1").arg(d.muxId, 2, 16, QLatin1Char('0'))));
    set("BluetoothAddress", str(QStringLiteral("a4:d1:8c:00:01:%1").arg(d.muxId, 2, 16, QLatin1Char('0'))));
    set("DevicePublicKey", plist_new_data(simcerts::kDevicePublicKey, quint64(strlen(simcerts::kDevicePublicKey))));
    set("PasswordProtected", plist_new_bool(0));
    set("TimeZone", plist_new_string("Europe/Oslo"));
    set("UniqueChipID", unum(0x1A2B3C4D5E00ull + d.muxId));
    return v;
}

void IPhoneSim::serveLockdown(Device *device, int fd)
{
    const QString udid = device->config.udid;
    bool trusted = false;
    {
        std::lock_guard lock(m_mutex);
        trusted = device->trusted;
    }
    SimChannel channel(fd);
    QString sessionId;

    const auto send = [&](const Plist &message) {
        note(udid, "lockdown", "out", message.get());
        return channel.writeFrame(message.toXml());
    };

    for (;;) {
        QByteArray frame;
        if (!channel.readFrame(&frame)) {
            if (channel.tls() && channel.tlsClosedByPeer()) {
                // The host ended the TLS session (after StopSession); the stream goes on in plain text.
                channel.endTls();
                continue;
            }
            return;
        }
        const Plist request = Plist::parse(frame);
        const QString kind = stringItem(request.get(), "Request");
        if (request.isNull() || kind.isEmpty()) {
            error(udid, QStringLiteral("lockdown: a message without Request"));
            return;
        }
        note(udid, "lockdown", "in", request.get());

        if (kind == QLatin1String("QueryType")) {
            Plist r = reply(kind);
            plist_dict_set_item(r.get(), "Type", plist_new_string("com.apple.mobile.lockdown"));
            if (!send(r))
                return;
        } else if (kind == QLatin1String("GetValue")) {
            const QString domain = stringItem(request.get(), "Domain");
            const QString key = stringItem(request.get(), "Key");
            Plist value;
            {
                std::lock_guard lock(m_mutex);
                if (domain.isEmpty()) {
                    Plist all = lockdownValues(*device, !sessionId.isEmpty());
                    value = key.isEmpty() ? all : Plist(plist_copy(item(all.get(), key.toUtf8().constData())));
                    if (!key.isEmpty() && !item(all.get(), key.toUtf8().constData()))
                        value = Plist();
                } else if (!sessionId.isEmpty()) {
                    const QMap<QString, Plist> values = device->domains.value(domain);
                    if (key.isEmpty()) {
                        value = Plist::dict();
                        for (auto it = values.begin(); it != values.end(); ++it)
                            plist_dict_set_item(value.get(), it.key().toUtf8().constData(),
                                                plist_copy(it.value().get()));
                    } else if (values.contains(key)) {
                        value = values.value(key);
                    }
                }
            }
            Plist r = value.isNull() ? errorReply(kind, sessionId.isEmpty() && !domain.isEmpty() ? "GetProhibited"
                                                                                                 : "MissingValue")
                                     : reply(kind);
            if (!domain.isEmpty())
                plist_dict_set_item(r.get(), "Domain", str(domain));
            if (!key.isEmpty())
                plist_dict_set_item(r.get(), "Key", str(key));
            if (!value.isNull())
                plist_dict_set_item(r.get(), "Value", value.release());
            if (!send(r))
                return;
        } else if (kind == QLatin1String("SetValue")) {
            const QString domain = stringItem(request.get(), "Domain");
            const QString key = stringItem(request.get(), "Key");
            plist_t value = item(request.get(), "Value");
            Plist r;
            if (sessionId.isEmpty())
                r = errorReply(kind, "SessionInactive");
            else if (domain != QLatin1String(kTetheredSyncDomain) || key.isEmpty() || !value)
                r = errorReply(kind, "SetProhibited");
            else {
                std::lock_guard lock(m_mutex);
                device->domains[domain].insert(key, Plist(plist_copy(value)));
                r = reply(kind);
            }
            if (!send(r))
                return;
        } else if (kind == QLatin1String("StartSession")) {
            const QString hostId = stringItem(request.get(), kHostIdKey);
            if (!sessionId.isEmpty()) {
                if (!send(errorReply(kind, "SessionActive")))
                    return;
                continue;
            }
            if (!trusted || hostId != QLatin1String(kExpectedHostId)) {
                if (!send(errorReply(kind, "InvalidHostID")))
                    return;
                continue;
            }
            sessionId = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
            Plist r = reply(kind);
            plist_dict_set_item(r.get(), "SessionID", str(sessionId));
            plist_dict_set_item(r.get(), "EnableSessionSSL", plist_new_bool(1));
            if (!send(r))
                return;
            QString why;
            if (!channel.startTls(&why)) {
                error(udid, QStringLiteral("lockdown: %1").arg(why));
                return;
            }
        } else if (kind == QLatin1String("StopSession")) {
            if (sessionId.isEmpty() || stringItem(request.get(), "SessionID") != sessionId) {
                if (!send(errorReply(kind, "InvalidSessionID")))
                    return;
                continue;
            }
            sessionId.clear();
            if (!send(reply(kind)))
                return;
            // The host's close_notify follows; the read above takes the stream back to plain text.
        } else if (kind == QLatin1String("StartService")) {
            const QString service = stringItem(request.get(), "Service");
            if (sessionId.isEmpty()) {
                if (!send(errorReply(kind, "SessionInactive")))
                    return;
                continue;
            }
            if (service != QLatin1String(kMobilesyncService)) {
                if (!send(errorReply(kind, "InvalidService")))
                    return;
                continue;
            }
            quint16 port = 0;
            {
                std::lock_guard lock(m_mutex);
                port = device->nextPort++;
                if (device->nextPort < 49152)
                    device->nextPort = 49152;
                device->pendingServices.insert(port, service);
            }
            Plist r = reply(kind);
            plist_dict_set_item(r.get(), "Service", str(service));
            plist_dict_set_item(r.get(), "Port", unum(port));
            plist_dict_set_item(r.get(), "EnableServiceSSL", plist_new_bool(0));
            if (!send(r))
                return;
        } else if (kind == QLatin1String("Pair")) {
            // The phone shows "Trust This Computer?" and nobody has answered yet.
            if (!send(
                    errorReply(kind, trusted ? "PairingProhibitedOverThisConnection" : "PairingDialogResponsePending")))
                return;
        } else if (kind == QLatin1String("ValidatePair")) {
            plist_t record = item(request.get(), "PairRecord");
            const bool ok = trusted && stringItem(record, kHostIdKey) == QLatin1String(kExpectedHostId);
            if (!send(ok ? reply(kind) : errorReply(kind, "InvalidHostID")))
                return;
        } else if (kind == QLatin1String("Goodbye")) {
            send(reply(kind));
            return;
        } else {
            if (!send(errorReply(kind, "InvalidRequest")))
                return;
        }
    }
}
