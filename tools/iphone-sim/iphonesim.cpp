// The simulator's usbmuxd face: the device list, Listen events, Connect tunnels to the device's ports, pair
// records and the host's BUID. Lockdown and mobilesync live in simlockdown.cpp and simmobilesync.cpp.

#include "iphonesim.h"

#include "simcerts.h"
#include "simchannel.h"
#include "threadgroup.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QtEndian>

#include <chrono>
#include <cstdio>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace simplist;

namespace {

constexpr quint32 kMuxVersion = 1;
constexpr quint32 kMuxPlistMessage = 8;
constexpr quint16 kLockdownPort = 62078;
constexpr char kSystemBuid[] = "3F1E6A52-8C0B-4D7E-9A61-2B5C7D9E0F14";
constexpr char kHostId[] = "7C2A9B14-5E3D-4F60-8A1B-C9D0E2F3A4B5";

// usbmuxd result numbers.
enum MuxResult : quint32 { ResultOk = 0, ResultBadCommand = 1, ResultBadDevice = 2, ResultRefused = 3 };

Plist muxResult(quint32 number)
{
    Plist r = Plist::dict();
    plist_dict_set_item(r.get(), "MessageType", plist_new_string("Result"));
    plist_dict_set_item(r.get(), "Number", unum(number));
    return r;
}

bool recvExact(int fd, char *buffer, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd, buffer + got, n - got, 0);
        if (r <= 0)
            return false;
        got += size_t(r);
    }
    return true;
}

} // namespace

// Connection threads, all joined before the simulator goes.
class IPhoneSim::Threads : public ThreadGroup
{
};

QStringList IPhoneSim::failModes()
{
    return {QStringLiteral("refuse-start"), QStringLiteral("refuse-start-silent"), QStringLiteral("drop-mid-batch"),
            QStringLiteral("stall-mid-batch"), QStringLiteral("pairing-pending")};
}

IPhoneSim::IPhoneSim(const QString &socketPath) : m_socketPath(socketPath), m_threads(std::make_unique<Threads>())
{
}

IPhoneSim::~IPhoneSim()
{
    stop();
}

bool IPhoneSim::addDevice(const SimDeviceConfig &config, QString *error)
{
    if (config.udid.isEmpty() || config.name.isEmpty()) {
        *error = QStringLiteral("a device needs a UDID and a name");
        return false;
    }
    if (config.dlVersion != 300 && config.dlVersion != 400) {
        *error = QStringLiteral("device-link version %1 (300 or 400)").arg(config.dlVersion);
        return false;
    }
    if (!config.fail.isEmpty() && !failModes().contains(config.fail)) {
        *error =
            QStringLiteral("unknown fault %1 (known: %2)").arg(config.fail, failModes().join(QStringLiteral(", ")));
        return false;
    }
    if (config.batchSize < 1) {
        *error = QStringLiteral("the batch size must be at least 1");
        return false;
    }
    std::lock_guard lock(m_mutex);
    for (const auto &d : m_devices)
        if (d->config.udid == config.udid) {
            *error = QStringLiteral("UDID %1 is given twice").arg(config.udid);
            return false;
        }
    auto device = std::make_unique<Device>();
    device->config = config;
    if (device->config.productVersion.isEmpty())
        device->config.productVersion = config.dlVersion == 300 ? QStringLiteral("13.7") : QStringLiteral("16.7.8");
    device->muxId = quint32(m_devices.size() + 1);
    device->trusted = config.fail != QLatin1String("pairing-pending") && config.trustAfterSeconds < 0;
    {
        // Lockdown's data-sync settings: the accounts the phone syncs contacts with.
        Plist contacts = Plist::dict();
        plist_t accounts = plist_new_array();
        if (config.icloud)
            plist_array_append_item(accounts, plist_new_string("iCloud"));
        plist_dict_set_item(contacts.get(), "AccountNames", accounts);
        device->domains[QStringLiteral("com.apple.mobile.data_sync")].insert(QStringLiteral("Contacts"),
                                                                             std::move(contacts));
    }
    if (!device->store.open(config.storePath, config.seedPath, error))
        return false;
    m_devices.push_back(std::move(device));
    return true;
}

bool IPhoneSim::setTranscriptFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("can not write %1: %2").arg(path, file.errorString());
        return false;
    }
    std::lock_guard lock(m_logMutex);
    m_transcriptPath = path;
    return true;
}

bool IPhoneSim::start(QString *error)
{
    if (!simtls::init(error))
        return false;
    const QByteArray path = m_socketPath.toLocal8Bit();
    sockaddr_un addr{};
    if (path.isEmpty() || size_t(path.size()) >= sizeof addr.sun_path) {
        *error = QStringLiteral("the socket path must have 1 to %1 bytes").arg(sizeof addr.sun_path - 1);
        return false;
    }
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    ::unlink(path.constData());
    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(m_listenFd, 64) != 0) {
        *error = QStringLiteral("can not listen on %1: %2").arg(m_socketPath, QString::fromLocal8Bit(strerror(errno)));
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        m_listenFd = -1;
        return false;
    }
    m_stop = false;
    m_acceptThread = std::thread([this] { acceptLoop(); });
    {
        std::lock_guard lock(m_mutex);
        for (const auto &d : m_devices)
            if (!d->trusted && d->config.trustAfterSeconds >= 0)
                trustLater(d->muxId, d->config.trustAfterSeconds);
    }
    return true;
}

void IPhoneSim::trustLater(quint32 muxId, double seconds)
{
    m_threads->start([this, muxId, seconds] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(qint64(seconds * 1000));
        while (!m_stop && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (m_stop)
            return;
        // The user tapped Trust: usbmuxd has the pair record and tells its listeners ("Paired", as usbmuxd's
        // preflight does once lockdownd_pair succeeds: client_device_paired()).
        std::lock_guard lock(m_mutex);
        Device *d = deviceById(muxId);
        if (!d || d->trusted)
            return;
        d->trusted = true;
        if (!d->attached)
            return;
        Plist event = Plist::dict();
        plist_dict_set_item(event.get(), "MessageType", plist_new_string("Paired"));
        plist_dict_set_item(event.get(), "DeviceID", unum(d->muxId));
        broadcast(event, d->config.udid);
    });
}

bool IPhoneSim::trusted(const QString &udid) const
{
    std::lock_guard lock(m_mutex);
    for (const auto &d : m_devices)
        if (d->config.udid == udid)
            return d->trusted;
    return false;
}

QString IPhoneSim::deviceAnchor(const QString &udid) const
{
    std::lock_guard lock(m_mutex);
    for (const auto &d : m_devices)
        if (d->config.udid == udid)
            return d->anchor;
    return QString();
}

void IPhoneSim::stop()
{
    if (m_listenFd < 0)
        return;
    m_stop = true;
    ::shutdown(m_listenFd, SHUT_RDWR);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    ::close(m_listenFd);
    m_listenFd = -1;
    {
        std::lock_guard lock(m_mutex);
        for (int fd : std::as_const(m_openFds))
            ::shutdown(fd, SHUT_RDWR);
    }
    m_threads->joinAll();
    ::unlink(m_socketPath.toLocal8Bit().constData());
}

void IPhoneSim::acceptLoop()
{
    while (!m_stop) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (m_stop || (errno != EINTR && errno != ECONNABORTED))
                return;
            continue;
        }
        // A host that goes silent must not hold a thread for ever; the library itself gives up after 30 s.
        timeval timeout{120, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        {
            std::lock_guard lock(m_mutex);
            m_openFds.insert(fd);
        }
        m_threads->start([this, fd] {
            serveMux(fd);
            std::lock_guard lock(m_mutex);
            m_openFds.remove(fd);
            m_listeners.remove(fd);
            for (auto &d : m_devices)
                d->fds.remove(fd);
            ::close(fd);
        });
    }
}

IPhoneSim::Device *IPhoneSim::deviceById(quint32 muxId)
{
    for (auto &d : m_devices)
        if (d->muxId == muxId)
            return d.get();
    return nullptr;
}

IPhoneSim::Device *IPhoneSim::deviceByUdid(const QString &udid)
{
    for (auto &d : m_devices)
        if (d->config.udid == udid)
            return d.get();
    return nullptr;
}

Plist IPhoneSim::deviceProperties(const Device &d) const
{
    Plist p = Plist::dict();
    plist_dict_set_item(p.get(), "DeviceID", unum(d.muxId));
    plist_dict_set_item(p.get(), "SerialNumber", str(d.config.udid));
    if (d.config.network) {
        // sockaddr_in of 127.0.0.1:62078 in the BSD layout usbmuxd reports (length byte, family byte).
        QByteArray address(16, '\0');
        address[0] = 16;
        address[1] = 2;
        qToBigEndian<quint16>(kLockdownPort, address.data() + 2);
        address[4] = 127;
        address[7] = 1;
        plist_dict_set_item(p.get(), "ConnectionType", plist_new_string("Network"));
        plist_dict_set_item(p.get(), "NetworkAddress", data(address));
        plist_dict_set_item(p.get(), "EscapedFullServiceName",
                            str(QStringLiteral("00:00:00:00:00:%1@fe80::1._apple-mobdev2._tcp.local.")
                                    .arg(d.muxId, 2, 16, QLatin1Char('0'))));
    } else {
        plist_dict_set_item(p.get(), "ConnectionType", plist_new_string("USB"));
        plist_dict_set_item(p.get(), "ConnectionSpeed", unum(480000000));
        plist_dict_set_item(p.get(), "LocationID", unum(0x14100000 + d.muxId));
        plist_dict_set_item(p.get(), "ProductID", unum(0x12a8));
        plist_dict_set_item(p.get(), "USBSerialNumber", str(QString(d.config.udid).remove(QLatin1Char('-'))));
    }
    return p;
}

Plist IPhoneSim::pairRecord() const
{
    Plist r = Plist::dict();
    const auto pem = [](const char *text) { return plist_new_data(text, quint64(strlen(text))); };
    plist_dict_set_item(r.get(), "HostID", plist_new_string(kHostId));
    plist_dict_set_item(r.get(), "SystemBUID", plist_new_string(kSystemBuid));
    plist_dict_set_item(r.get(), "RootCertificate", pem(simcerts::kRootCertificate));
    plist_dict_set_item(r.get(), "RootPrivateKey", pem(simcerts::kRootPrivateKey));
    plist_dict_set_item(r.get(), "HostCertificate", pem(simcerts::kHostCertificate));
    plist_dict_set_item(r.get(), "HostPrivateKey", pem(simcerts::kHostPrivateKey));
    plist_dict_set_item(r.get(), "DeviceCertificate", pem(simcerts::kDeviceCertificate));
    return r;
}

bool IPhoneSim::sendMux(int fd, quint32 tag, const Plist &message, const QString &udid)
{
    note(udid, "usbmuxd", "out", message.get());
    // libusbmuxd reads replies as XML only.
    const QByteArray payload = message.toXml();
    QByteArray packet(16, Qt::Uninitialized);
    qToLittleEndian<quint32>(quint32(16 + payload.size()), packet.data());
    qToLittleEndian<quint32>(kMuxVersion, packet.data() + 4);
    qToLittleEndian<quint32>(kMuxPlistMessage, packet.data() + 8);
    qToLittleEndian<quint32>(tag, packet.data() + 12);
    packet += payload;
    qsizetype sent = 0;
    while (sent < packet.size()) {
        const ssize_t w = ::send(fd, packet.constData() + sent, size_t(packet.size() - sent), MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        sent += w;
    }
    return true;
}

void IPhoneSim::broadcast(const Plist &event, const QString &udid)
{
    // Called with m_mutex held, so an event never overtakes a listener's initial device list.
    for (int fd : std::as_const(m_listeners))
        sendMux(fd, 0, event, udid);
}

bool IPhoneSim::attach(const QString &udid)
{
    std::lock_guard lock(m_mutex);
    Device *d = deviceByUdid(udid);
    if (!d || d->attached)
        return false;
    d->attached = true;
    Plist event = Plist::dict();
    plist_dict_set_item(event.get(), "MessageType", plist_new_string("Attached"));
    plist_dict_set_item(event.get(), "DeviceID", unum(d->muxId));
    plist_dict_set_item(event.get(), "Properties", deviceProperties(*d).release());
    broadcast(event, udid);
    return true;
}

bool IPhoneSim::detach(const QString &udid)
{
    std::lock_guard lock(m_mutex);
    Device *d = deviceByUdid(udid);
    if (!d || !d->attached)
        return false;
    d->attached = false;
    d->pendingServices.clear();
    for (int fd : std::as_const(d->fds))
        ::shutdown(fd, SHUT_RDWR);
    Plist event = Plist::dict();
    plist_dict_set_item(event.get(), "MessageType", plist_new_string("Detached"));
    plist_dict_set_item(event.get(), "DeviceID", unum(d->muxId));
    broadcast(event, udid);
    return true;
}

void IPhoneSim::serveMux(int fd)
{
    for (;;) {
        uchar header[16];
        if (!recvExact(fd, reinterpret_cast<char *>(header), sizeof header))
            return;
        const quint32 length = qFromLittleEndian<quint32>(header);
        const quint32 version = qFromLittleEndian<quint32>(header + 4);
        const quint32 type = qFromLittleEndian<quint32>(header + 8);
        const quint32 tag = qFromLittleEndian<quint32>(header + 12);
        if (length < 16 || length > (1u << 20)) {
            error(QString(), QStringLiteral("usbmuxd: bad packet length %1").arg(length));
            return;
        }
        QByteArray payload(qsizetype(length - 16), Qt::Uninitialized);
        if (!recvExact(fd, payload.data(), size_t(payload.size())))
            return;
        if (version != kMuxVersion || type != kMuxPlistMessage) {
            // Only the property-list protocol (version 1) is spoken, as a current usbmuxd does.
            sendMux(fd, tag, muxResult(6), QString());
            continue;
        }
        const Plist request = Plist::parse(payload);
        if (!payload.startsWith("<?xml") || request.isNull() || plist_get_node_type(request.get()) != PLIST_DICT) {
            error(QString(), QStringLiteral("usbmuxd: the request is not an XML property-list dictionary"));
            return;
        }
        const QString kind = stringItem(request.get(), "MessageType");
        note(QString(), "usbmuxd", "in", request.get());

        if (kind == QLatin1String("ListDevices")) {
            Plist reply = Plist::dict();
            plist_t list = plist_new_array();
            {
                std::lock_guard lock(m_mutex);
                for (const auto &d : m_devices) {
                    if (!d->attached)
                        continue;
                    plist_t entry = plist_new_dict();
                    plist_dict_set_item(entry, "DeviceID", unum(d->muxId));
                    plist_dict_set_item(entry, "MessageType", plist_new_string("Attached"));
                    plist_dict_set_item(entry, "Properties", deviceProperties(*d).release());
                    plist_array_append_item(list, entry);
                }
            }
            plist_dict_set_item(reply.get(), "DeviceList", list);
            if (!sendMux(fd, tag, reply, QString()))
                return;
        } else if (kind == QLatin1String("Listen")) {
            {
                std::lock_guard lock(m_mutex);
                if (!sendMux(fd, tag, muxResult(ResultOk), QString()))
                    return;
                for (const auto &d : m_devices) {
                    if (!d->attached)
                        continue;
                    Plist event = Plist::dict();
                    plist_dict_set_item(event.get(), "MessageType", plist_new_string("Attached"));
                    plist_dict_set_item(event.get(), "DeviceID", unum(d->muxId));
                    plist_dict_set_item(event.get(), "Properties", deviceProperties(*d).release());
                    sendMux(fd, 0, event, d->config.udid);
                }
                m_listeners.insert(fd);
            }
            // The host only listens from now on; the connection lives until it hangs up, however long it stays
            // silent (usbmuxd keeps no time limit on a listener; one here would drop and announce every device
            // again each time it ran out).
            timeval none{0, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
            char byte;
            while (::recv(fd, &byte, 1, 0) > 0) {
                error(QString(), QStringLiteral("usbmuxd: data on a Listen connection"));
                return;
            }
            return;
        } else if (kind == QLatin1String("Connect")) {
            bool idOk = false;
            bool portOk = false;
            const quint32 muxId = quint32(uintValue(item(request.get(), "DeviceID"), &idOk));
            const quint16 port = ntohs(quint16(uintValue(item(request.get(), "PortNumber"), &portOk)));
            Device *device = nullptr;
            quint32 result = ResultBadDevice;
            bool lockdown = false;
            {
                std::lock_guard lock(m_mutex);
                Device *d = idOk && portOk ? deviceById(muxId) : nullptr;
                if (d && d->attached) {
                    result = ResultRefused;
                    if (!d->config.network && port == kLockdownPort) {
                        result = ResultOk;
                        lockdown = true;
                    } else if (!d->config.network && d->pendingServices.contains(port)) {
                        d->pendingServices.remove(port); // a service port serves one connection
                        result = ResultOk;
                    }
                    if (result == ResultOk) {
                        device = d;
                        d->fds.insert(fd);
                    }
                }
            }
            const QString udid = device ? device->config.udid : QString();
            if (!sendMux(fd, tag, muxResult(result), udid) || result != ResultOk)
                continue;
            // From here the socket is the device's port.
            if (lockdown)
                serveLockdown(device, fd);
            else
                serveMobilesync(device, fd);
            return;
        } else if (kind == QLatin1String("ReadPairRecord")) {
            const QString udid = stringItem(request.get(), "PairRecordID");
            bool known = false;
            {
                std::lock_guard lock(m_mutex);
                const Device *d = deviceByUdid(udid);
                known = d && d->trusted;
            }
            if (!known) {
                if (!sendMux(fd, tag, muxResult(ResultBadDevice), udid))
                    return;
                continue;
            }
            Plist reply = Plist::dict();
            plist_dict_set_item(reply.get(), "PairRecordData", data(pairRecord().toXml()));
            if (!sendMux(fd, tag, reply, udid))
                return;
        } else if (kind == QLatin1String("ReadBUID")) {
            Plist reply = Plist::dict();
            plist_dict_set_item(reply.get(), "BUID", plist_new_string(kSystemBuid));
            if (!sendMux(fd, tag, reply, QString()))
                return;
        } else if (kind == QLatin1String("SavePairRecord") || kind == QLatin1String("DeletePairRecord")) {
            // Pairing never completes here; the request is answered and changes nothing.
            if (!sendMux(fd, tag, muxResult(ResultOk), QString()))
                return;
        } else {
            if (!sendMux(fd, tag, muxResult(ResultBadCommand), QString()))
                return;
        }
    }
}

void IPhoneSim::note(const QString &udid, const char *channel, const char *dir, plist_t message)
{
    const QJsonObject entry{{QStringLiteral("device"), udid},
                            {QStringLiteral("channel"), QLatin1String(channel)},
                            {QStringLiteral("dir"), QLatin1String(dir)},
                            {QStringLiteral("message"), toJson(message)}};
    std::lock_guard lock(m_logMutex);
    if (m_keepTranscript)
        m_transcript.append(entry);
    if (!m_transcriptPath.isEmpty()) {
        QFile file(m_transcriptPath);
        if (file.open(QIODevice::Append))
            file.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
    }
}

void IPhoneSim::error(const QString &udid, const QString &text)
{
    const QString line = udid.isEmpty() ? text : udid + QStringLiteral(": ") + text;
    std::fprintf(stderr, "iphone-sim: %s\n", qPrintable(line));
    std::lock_guard lock(m_logMutex);
    m_errors.append(line);
}

QList<QJsonObject> IPhoneSim::transcript() const
{
    std::lock_guard lock(m_logMutex);
    return m_transcript;
}

QStringList IPhoneSim::errors() const
{
    std::lock_guard lock(m_logMutex);
    return m_errors;
}

QJsonObject IPhoneSim::store(const QString &udid) const
{
    std::lock_guard lock(m_mutex);
    for (const auto &d : m_devices)
        if (d->config.udid == udid)
            return d->store.toJson();
    return QJsonObject();
}

QJsonValue IPhoneSim::lockdownValue(const QString &udid, const QString &domain, const QString &key) const
{
    std::lock_guard lock(m_mutex);
    for (const auto &d : m_devices)
        if (d->config.udid == udid) {
            const Plist value = d->domains.value(domain).value(key);
            return value.isNull() ? QJsonValue() : toJson(value.get());
        }
    return QJsonValue();
}
