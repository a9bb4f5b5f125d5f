#include "adb/adbserver.h"

#include "adb/log.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace adbproto;

namespace adbserver {

namespace {

constexpr int kConnectTimeoutMs = 1000;
constexpr int kStatusTimeoutMs = 5000;
constexpr int kBannerTimeoutMs = 2000;
// What we announce in the CNXN we play for the server's device; the handle caps its WRTEs to it.
constexpr quint32 kBridgeMaxData = 256 * 1024;
constexpr qsizetype kReadChunk = 64 * 1024;
constexpr int kDrainMs = 3000;
constexpr int kTrackerRetryMs = 2000;
constexpr int kFirstListTimeoutMs = 3000;

// A server reply quoted in an error: printable ASCII as it is, everything else as \xNN.
QString quoted(const QByteArray &bytes)
{
    QString out;
    for (const char c : bytes.left(40)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f)
            out += QLatin1Char(c);
        else
            out += u"\\x%1"_s.arg(u, 2, 16, QLatin1Char('0'));
    }
    return u"\""_s + out + (bytes.size() > 40 ? u"…\""_s : u"\""_s);
}

bool isOnlineState(const QString &state)
{
    static const QStringList kinds{u"device"_s, u"recovery"_s, u"sideload"_s, u"rescue"_s, u"bootloader"_s, u"host"_s};
    return kinds.contains(state);
}

} // namespace

quint16 serverPort()
{
    bool ok = false;
    const uint port = qEnvironmentVariable("ANDROID_ADB_SERVER_PORT").toUInt(&ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : quint16(5037);
}

// ---- HostSocket ----

HostSocket::~HostSocket()
{
    if (m_fd >= 0)
        adbsocket::closeFd(m_fd);
}

bool HostSocket::connect(int timeoutMs, QString *error)
{
    m_fd = adbsocket::connectTcp(u"127.0.0.1"_s, m_port, timeoutMs, error);
    return m_fd >= 0;
}

int HostSocket::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

bool HostSocket::readExact(char *data, qsizetype len, int timeoutMs, QString *error)
{
    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeoutMs));
    while (len > 0) {
        pollfd p{m_fd, POLLIN, 0};
        const qint64 left = deadline.remainingTime();
        const int n = ::poll(&p, 1, left < 0 ? -1 : int(qMin<qint64>(left, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            *error = u"the adb server on port %1 did not answer within %2 ms"_s.arg(m_port).arg(timeoutMs);
            return false;
        }
        const qsizetype got = n < 0 ? -1 : adbsocket::receive(m_fd, data, len);
        if (got <= 0) {
            *error = u"the adb server on port %1 closed the connection"_s.arg(m_port);
            return false;
        }
        data += got;
        len -= got;
    }
    return true;
}

bool HostSocket::readBlock(QByteArray *out, int timeoutMs, QString *error)
{
    char hex[4];
    if (!readExact(hex, 4, timeoutMs, error))
        return false;
    bool ok = false;
    const QByteArray lengthText(hex, 4);
    const int length = lengthText.toInt(&ok, 16);
    if (!ok || length < 0) {
        *error = u"the adb server on port %1 sent %2 where a length was expected"_s.arg(m_port).arg(quoted(lengthText));
        return false;
    }
    out->resize(length);
    return readExact(out->data(), length, timeoutMs, error);
}

bool HostSocket::request(const QString &service, int timeoutMs, QString *error)
{
    const QByteArray name = service.toUtf8();
    if (name.size() > 0xffff) {
        *error = u"adb server request too long"_s;
        return false;
    }
    const QByteArray message = QByteArray::number(name.size(), 16).rightJustified(4, '0') + name;
    if (!adbsocket::sendAll(m_fd, message.constData(), message.size())) {
        *error = u"the adb server on port %1 closed the connection"_s.arg(m_port);
        return false;
    }
    char status[4];
    if (!readExact(status, 4, timeoutMs, error))
        return false;
    const QByteArray word(status, 4);
    if (word == "OKAY")
        return true;
    if (word == "FAIL") {
        QByteArray reason;
        QString detail;
        if (!readBlock(&reason, timeoutMs, &detail))
            reason = "(no reason given)";
        *error = u"the adb server on port %1 refused \"%2\": %3"_s.arg(m_port).arg(service, QString::fromUtf8(reason));
        return false;
    }
    *error = u"the adb server on port %1 answered \"%2\" with %3, which is not the adb host protocol"_s.arg(m_port).arg(
        service, quoted(word));
    return false;
}

// ---- one-shot requests ----

Probe probe(quint16 port, int timeoutMs)
{
    Probe result;
    HostSocket socket(port);
    if (!socket.connect(qMin(timeoutMs, kConnectTimeoutMs), &result.error))
        return result;
    result.listening = true;
    QByteArray version;
    if (!socket.request(u"host:version"_s, timeoutMs, &result.error) ||
        !socket.readBlock(&version, timeoutMs, &result.error))
        return result;
    bool ok = false;
    result.version = version.toInt(&ok, 16);
    if (!ok || version.size() != 4) {
        result.error = u"the listener on port %1 gave %2 as its version"_s.arg(port).arg(quoted(version));
        result.version = 0;
        return result;
    }
    result.isAdbServer = true;
    return result;
}

std::optional<QByteArray> query(quint16 port, const QString &service, int timeoutMs, QString *error)
{
    HostSocket socket(port);
    QByteArray reply;
    if (!socket.connect(qMin(timeoutMs, kConnectTimeoutMs), error) || !socket.request(service, timeoutMs, error) ||
        !socket.readBlock(&reply, timeoutMs, error))
        return std::nullopt;
    return reply;
}

bool killServer(quint16 port, int timeoutMs, QString *error)
{
    {
        HostSocket socket(port);
        if (!socket.connect(qMin(timeoutMs, kConnectTimeoutMs), error))
            return true; // nothing listens any more
        if (!socket.request(u"host:kill"_s, timeoutMs, error))
            return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        HostSocket socket(port);
        QString ignored;
        if (!socket.connect(200, &ignored))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    *error = u"the adb server on port %1 is still running after it was asked to exit"_s.arg(port);
    return false;
}

QList<DeviceEntry> parseDevices(const QByteArray &text)
{
    QList<DeviceEntry> devices;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        // "SERIAL\tSTATE" (short form) or "SERIAL   STATE product:x model:y device:z transport_id:n" (long).
        const qsizetype gap = line.indexOf(QRegularExpression(u"\\s"_s));
        if (gap <= 0)
            continue;
        DeviceEntry entry;
        entry.serial = line.left(gap);
        const QString rest = line.mid(gap).trimmed();
        if (rest.isEmpty())
            continue;
        // The state may hold blanks ("no permissions (…)"); the long form's extra words are key:value.
        QStringList words = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        while (words.size() > 1) {
            const QString &last = words.last();
            const qsizetype colon = last.indexOf(QLatin1Char(':'));
            static const QStringList kKeys{u"product"_s, u"model"_s, u"device"_s, u"transport_id"_s, u"usb"_s};
            if (colon <= 0 || !kKeys.contains(last.left(colon)))
                break;
            entry.props.insert(last.left(colon), last.mid(colon + 1));
            words.removeLast();
        }
        entry.state = words.join(QLatin1Char(' '));
        devices.append(entry);
    }
    return devices;
}

QByteArray bannerFor(quint16 port, const QString &serial, const QString &state, int timeoutMs)
{
    QString error;
    QMap<QString, QString> props;
    if (const auto listing = query(port, u"host:devices-l"_s, timeoutMs, &error)) {
        for (const DeviceEntry &e : parseDevices(*listing)) {
            if (e.serial != serial)
                continue;
            static const QList<QPair<QString, QString>> kNames{{u"product"_s, u"ro.product.name"_s},
                                                               {u"model"_s, u"ro.product.model"_s},
                                                               {u"device"_s, u"ro.product.device"_s}};
            for (const auto &[word, prop] : kNames)
                if (e.props.contains(word))
                    props.insert(prop, e.props.value(word));
        }
    }
    // The features both the server and the device support; none (legacy shell) when the server cannot say.
    QStringList features;
    if (const auto list = query(port, u"host-serial:%1:features"_s.arg(serial), timeoutMs, &error))
        features = QString::fromUtf8(*list).trimmed().split(QLatin1Char(','), Qt::SkipEmptyParts);
    QString text = (isOnlineState(state) ? state : u"device"_s) + u"::"_s;
    for (auto it = props.cbegin(); it != props.cend(); ++it)
        text += it.key() + QLatin1Char('=') + it.value() + QLatin1Char(';');
    text += u"features="_s + features.join(QLatin1Char(','));
    return text.toUtf8();
}

// ---- Tracker ----

struct Tracker::Private
{
    quint16 port;
    std::function<void()> changed;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable cond;
    QList<DeviceEntry> devices;
    QString error;
    bool listed = false;
    int fd = -1;

    void publish(const QList<DeviceEntry> &list, const QString &why)
    {
        {
            std::lock_guard lock(mutex);
            devices = list;
            error = why;
            if (why.isEmpty())
                listed = true;
        }
        if (changed)
            changed();
    }

    // Reads exactly len bytes, a quarter second at a time so that stop is noticed; silence is not an error.
    bool readPatiently(HostSocket &socket, char *data, qsizetype len, QString *why)
    {
        while (!stop) {
            pollfd p{socket.fd(), POLLIN, 0};
            const int n = ::poll(&p, 1, 250);
            if (n == 0 || (n < 0 && errno == EINTR))
                continue;
            return socket.readExact(data, len, kStatusTimeoutMs, why);
        }
        return false;
    }

    void run()
    {
        while (!stop) {
            HostSocket socket(port);
            QString why;
            if (socket.connect(kConnectTimeoutMs, &why) &&
                socket.request(u"host:track-devices"_s, kStatusTimeoutMs, &why)) {
                {
                    std::lock_guard lock(mutex);
                    fd = socket.fd();
                }
                // The first list follows at once; after it the server writes only when something changes.
                QByteArray block;
                bool first = true;
                while (!stop) {
                    char hex[4];
                    const bool ok = first ? socket.readExact(hex, 4, kFirstListTimeoutMs, &why)
                                          : readPatiently(socket, hex, 4, &why);
                    if (!ok)
                        break;
                    bool isHex = false;
                    const int length = QByteArray(hex, 4).toInt(&isHex, 16);
                    if (!isHex || length < 0) {
                        why = u"the adb server on port %1 sent %2 where a device list was expected"_s.arg(port).arg(
                            quoted(QByteArray(hex, 4)));
                        break;
                    }
                    block.resize(length);
                    if (!socket.readExact(block.data(), length, kStatusTimeoutMs, &why))
                        break;
                    first = false;
                    publish(parseDevices(block), QString());
                }
                std::lock_guard lock(mutex);
                fd = -1;
            }
            if (stop)
                break;
            publish({}, why);
            std::unique_lock lock(mutex);
            cond.wait_for(lock, std::chrono::milliseconds(kTrackerRetryMs), [this] { return stop.load(); });
        }
    }
};

Tracker::Tracker(quint16 port, std::function<void()> changed) : d(std::make_shared<Private>())
{
    d->port = port;
    d->changed = std::move(changed);
    d->thread = std::thread([p = d.get()] { p->run(); });
}

Tracker::~Tracker()
{
    {
        std::lock_guard lock(d->mutex);
        d->stop = true;
        if (d->fd >= 0)
            ::shutdown(d->fd, SHUT_RDWR);
        d->cond.notify_all();
    }
    d->thread.join();
}

QList<DeviceEntry> Tracker::devices() const
{
    std::lock_guard lock(d->mutex);
    return d->devices;
}

QString Tracker::error() const
{
    std::lock_guard lock(d->mutex);
    return d->error;
}

bool Tracker::hasListed() const
{
    std::lock_guard lock(d->mutex);
    return d->listed;
}

// ---- ServerTransport ----

namespace {

// One service stream: our end is a server connection, the handle's end its stream id.
struct BridgeStream
{
    quint32 id = 0;     // ours, as the "device"
    quint32 peerId = 0; // the handle's
    std::mutex mutex;
    std::condition_variable cond;
    int fd = -1;
    bool canSend = true;      // the handle acknowledged our last WRTE
    bool localClosed = false; // the handle sent CLSE
};

} // namespace

class ServerLink : public std::enable_shared_from_this<ServerLink>
{
public:
    ServerLink(quint16 p, const QString &s, const QString &st) : port(p), serial(s), state(st) {}

    void push(quint32 command, quint32 arg0, quint32 arg1, const QByteArray &payload = {})
    {
        std::lock_guard lock(mutex);
        if (shut)
            return;
        out += encode({command, arg0, arg1, payload});
        cond.notify_all();
    }

    // At most one token more than the first: enough for the handle to try its key and then offer it, and no
    // endless token-signature round when the server will not let us in.
    void sendToken()
    {
        {
            std::lock_guard lock(mutex);
            if (tokensSent >= 2)
                return;
            ++tokensSent;
        }
        QByteArray token(kTokenSize, '\0');
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(token.data()), kTokenSize / 4);
        push(A_AUTH, kAuthToken, 0, token);
    }

    // Runs work on its own thread; the destructor of the transport waits for every one of them.
    void spawn(std::function<void()> work)
    {
        {
            std::lock_guard lock(mutex);
            ++running;
        }
        std::thread([self = shared_from_this(), work = std::move(work)] {
            work();
            std::lock_guard lock(self->mutex);
            --self->running;
            self->cond.notify_all();
        }).detach();
    }

    void answerHandshake()
    {
        const QString type = [this] {
            std::lock_guard lock(mutex);
            return state;
        }();
        const QByteArray banner = bannerFor(port, serial, type, kBannerTimeoutMs);
        {
            std::lock_guard lock(mutex);
            if (online)
                return;
            online = true;
        }
        push(A_CNXN, kVersionSkipChecksum, kBridgeMaxData, banner);
    }

    void open(quint32 peerId, const QString &service)
    {
        auto stream = std::make_shared<BridgeStream>();
        stream->peerId = peerId;
        {
            std::lock_guard lock(mutex);
            stream->id = nextId++;
            streams[stream->id] = stream;
        }
        spawn([self = shared_from_this(), stream, service] { self->pump(stream, service); });
    }

    void pump(const std::shared_ptr<BridgeStream> &stream, const QString &service)
    {
        HostSocket socket(port);
        QString why;
        bool opened = socket.connect(kConnectTimeoutMs, &why);
        if (opened) {
            // Known from here on, so that closing the link cuts a server that does not answer short.
            std::lock_guard lock(stream->mutex);
            stream->fd = socket.fd();
        }
        opened = opened && !isShut() && socket.request(u"host:transport:%1"_s.arg(serial), kStatusTimeoutMs, &why) &&
                 socket.request(service, kStatusTimeoutMs * 2, &why);
        if (!opened) {
            {
                std::lock_guard lock(stream->mutex);
                stream->fd = -1;
            }
            // A refused OPEN: CLSE with no local id, as adbd answers an unknown service. The packet has no room
            // for the server's reason, so it goes to the log.
            qCWarning(lcAdb).noquote() << "adb server:" << why;
            push(A_CLSE, 0, stream->peerId);
            forget(stream->id);
            return;
        }
        push(A_OKAY, stream->id, stream->peerId);
        QByteArray buffer(kReadChunk, Qt::Uninitialized);
        QDeadlineTimer drain(QDeadlineTimer::Forever);
        for (;;) {
            bool closedHere;
            {
                std::unique_lock lock(stream->mutex);
                stream->cond.wait(lock, [&] { return stream->canSend || stream->localClosed || isShut(); });
                closedHere = stream->localClosed;
            }
            if (isShut())
                break;
            if (closedHere && drain.isForever())
                drain.setRemainingTime(kDrainMs);
            pollfd p{socket.fd(), POLLIN, 0};
            const int ready = ::poll(&p, 1, closedHere ? int(qMax<qint64>(0, drain.remainingTime())) : 250);
            if (ready == 0 && closedHere)
                break;
            if (ready <= 0)
                continue;
            const qsizetype n = adbsocket::receive(socket.fd(), buffer.data(), buffer.size());
            if (n <= 0) {
                if (!closedHere)
                    push(A_CLSE, stream->id, stream->peerId);
                break;
            }
            if (closedHere)
                continue; // the handle is gone: read on until the server closes, so nothing we sent is reset
            {
                std::lock_guard lock(stream->mutex);
                stream->canSend = false;
            }
            push(A_WRTE, stream->id, stream->peerId, buffer.left(n));
        }
        {
            std::lock_guard lock(stream->mutex);
            stream->fd = -1;
        }
        forget(stream->id);
    }

    std::shared_ptr<BridgeStream> find(quint32 id)
    {
        std::lock_guard lock(mutex);
        auto it = streams.find(id);
        return it == streams.end() ? nullptr : it->second;
    }

    void forget(quint32 id)
    {
        std::lock_guard lock(mutex);
        streams.erase(id);
    }

    bool isShut()
    {
        std::lock_guard lock(mutex);
        return shut;
    }

    void close(const QString &reason)
    {
        std::map<quint32, std::shared_ptr<BridgeStream>> all;
        {
            std::lock_guard lock(mutex);
            if (!shut) {
                shut = true;
                shutReason = reason;
            }
            all = streams;
            cond.notify_all();
        }
        for (auto &[id, stream] : all) {
            std::lock_guard lock(stream->mutex);
            if (stream->fd >= 0)
                ::shutdown(stream->fd, SHUT_RDWR);
            stream->cond.notify_all();
        }
    }

    const quint16 port;
    const QString serial;
    std::mutex mutex;
    std::condition_variable cond;
    QString state;
    QByteArray out; // packets for the handle, not read yet
    bool shut = false;
    QString shutReason;
    bool cnxnPending = false; // the handle sent CNXN and waits for the user to allow the computer
    bool online = false;
    int tokensSent = 0;
    std::map<quint32, std::shared_ptr<BridgeStream>> streams;
    quint32 nextId = 1;
    int running = 0;
};

void setDeviceState(const std::shared_ptr<ServerLink> &link, const QString &state)
{
    bool answer = false;
    {
        std::lock_guard lock(link->mutex);
        if (link->state == state)
            return;
        link->state = state;
        answer = link->cnxnPending && !link->online && isOnlineState(state);
        if (answer)
            link->cnxnPending = false;
    }
    if (answer)
        link->spawn([link] { link->answerHandshake(); });
}

ServerTransport::ServerTransport(quint16 port, const QString &serial, const QString &state)
    : m_link(std::make_shared<ServerLink>(port, serial, state))
{
}

ServerTransport::~ServerTransport()
{
    m_link->close(u"device handle released"_s);
    // Stream threads end within a poll slice once their sockets are shut; they hold the link, not us.
    std::unique_lock lock(m_link->mutex);
    m_link->cond.wait_for(lock, std::chrono::seconds(10), [this] { return m_link->running == 0; });
}

QString ServerTransport::describe() const
{
    return u"%1 through the adb server on port %2"_s.arg(m_link->serial).arg(m_link->port);
}

void ServerTransport::shutdown()
{
    m_link->close(u"connection closed"_s);
}

bool ServerTransport::readExact(char *data, qsizetype len, QString *error)
{
    std::unique_lock lock(m_link->mutex);
    m_link->cond.wait(lock, [&] { return m_link->out.size() >= len || m_link->shut; });
    if (m_link->out.size() < len) {
        *error = m_link->shutReason;
        return false;
    }
    memcpy(data, m_link->out.constData(), size_t(len));
    m_link->out.remove(0, len);
    return true;
}

bool ServerTransport::writeMessage(const Message &msg, QString *error)
{
    const std::shared_ptr<ServerLink> &link = m_link;
    if (link->isShut()) {
        *error = link->shutReason;
        return false;
    }
    switch (msg.command) {
    case A_CNXN: {
        QString state;
        {
            std::lock_guard lock(link->mutex);
            state = link->state;
            link->online = false;
            link->tokensSent = 0;
        }
        if (isOnlineState(state)) {
            link->answerHandshake();
        } else if (state == QLatin1String("unauthorized")) {
            {
                std::lock_guard lock(link->mutex);
                link->cnxnPending = true;
            }
            link->sendToken();
        } else {
            link->close(u"the adb server reports the device as \"%1\""_s.arg(state));
        }
        return true;
    }
    case A_AUTH:
        // A signature can not be checked here (the server holds the phone's trust): ask again, which makes the
        // handle offer its public key, and wait for the phone's owner to allow the server's key.
        if (msg.arg0 == kAuthSignature)
            link->sendToken();
        return true;
    case A_OPEN: {
        QByteArray service = msg.payload;
        while (service.endsWith('\0'))
            service.chop(1);
        link->open(msg.arg0, QString::fromUtf8(service));
        return true;
    }
    case A_WRTE: {
        const auto stream = link->find(msg.arg1);
        int fd = -1;
        if (stream) {
            std::lock_guard lock(stream->mutex);
            fd = stream->localClosed ? -1 : stream->fd;
        }
        if (fd < 0 || !adbsocket::sendAll(fd, msg.payload.constData(), msg.payload.size())) {
            link->push(A_CLSE, stream ? stream->id : 0, msg.arg0);
            return true;
        }
        link->push(A_OKAY, stream->id, msg.arg0);
        return true;
    }
    case A_OKAY:
        if (const auto stream = link->find(msg.arg1)) {
            std::lock_guard lock(stream->mutex);
            stream->canSend = true;
            stream->cond.notify_all();
        }
        return true;
    case A_CLSE:
        if (const auto stream = link->find(msg.arg1)) {
            std::lock_guard lock(stream->mutex);
            stream->localClosed = true;
            // Our bytes are all handed to the server; its end then closes the device stream in order.
            if (stream->fd >= 0)
                ::shutdown(stream->fd, SHUT_WR);
            stream->cond.notify_all();
        }
        return true;
    default:
        return true;
    }
}

} // namespace adbserver
