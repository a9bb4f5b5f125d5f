#include "simadbd.h"

#include "simadbsocket.h"
#include "simauth.h"
#include "simphone.h"
#include "simwire.h"

#include <QDateTime>
#include <QDebug>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>

#include <map>

#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace simwire;

namespace {
constexpr int kIoTimeoutMs = 30000;
constexpr int kMaxSyncData = 64 * 1024;
constexpr qsizetype kMaxFileSize = 512 * 1024 * 1024;
constexpr qsizetype kShellFrame = 32 * 1024;

// One end of a socket pair shared by the two bridge threads; closed when both are done with it.
struct SharedFd
{
    explicit SharedFd(int f) : fd(f) {}
    ~SharedFd() { ::close(fd); }
    const int fd;
};
using PSharedFd = std::shared_ptr<SharedFd>;

QByteArray statV2(quint32 error, quint32 mode, quint64 size)
{
    QByteArray out("STA2");
    put32(&out, error);
    put64(&out, 0); // dev
    put64(&out, 0); // ino
    put32(&out, mode);
    put32(&out, 1);    // nlink
    put32(&out, 2000); // uid: shell
    put32(&out, 2000); // gid
    put64(&out, size);
    const quint64 now = quint64(QDateTime::currentSecsSinceEpoch());
    put64(&out, now); // atime
    put64(&out, now); // mtime
    put64(&out, now); // ctime
    return out;
}
} // namespace

SimAdbdConfig SimAdbdConfig::forGeneration(SimAdbdGeneration generation)
{
    SimAdbdConfig c;
    c.generation = generation;
    switch (generation) {
    case SimAdbdGeneration::Legacy:
        c.version = A_VERSION_MIN;
        c.maxData = MAX_PAYLOAD_V1;
        c.features = {u"shell_v2"_s, u"stat_v2"_s};
        break;
    case SimAdbdGeneration::Pie:
        c.version = A_VERSION_SKIP_CHECKSUM;
        c.maxData = 256 * 1024;
        c.features = {u"shell_v2"_s, u"stat_v2"_s, u"fixed_push_mkdir"_s};
        c.lateFrameworkMs = 300;
        break;
    case SimAdbdGeneration::Current:
        break;
    }
    return c;
}

bool SimAdbdConfig::parseGeneration(const QString &text, SimAdbdGeneration *out)
{
    if (text == u"legacy"_s)
        *out = SimAdbdGeneration::Legacy;
    else if (text == u"pie"_s)
        *out = SimAdbdGeneration::Pie;
    else if (text == u"current"_s)
        *out = SimAdbdGeneration::Current;
    else
        return false;
    return true;
}

// One host connection: adbd's atransport with its reader (handle_packet) and its sockets.
class SimAdbd::Connection : public SimAdbLink, public std::enable_shared_from_this<Connection>
{
public:
    Connection(SimAdbd *o, int f) : owner(o), fd(f)
    {
        timeval tv{20, 0}; // a host that stops reading must not hold our writers forever
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }
    ~Connection() override { ::close(fd); }

    // send_packet: the magic always, the sum only below A_VERSION_SKIP_CHECKSUM. The version is updated from
    // the host's CNXN before anything else is sent, so on 0x01000001 even AUTH and CNXN carry 0.
    bool sendPacket(quint32 command, quint32 arg0, quint32 arg1, const QByteArray &payload) override
    {
        apacket p;
        p.msg = {command, arg0, arg1, quint32(payload.size()), 0, command ^ 0xffffffffu};
        {
            std::lock_guard lock(mutex);
            if (version < A_VERSION_SKIP_CHECKSUM)
                p.msg.data_check = calculate_checksum(payload);
        }
        p.payload = payload;
        const QByteArray bytes = serialize(p);
        std::lock_guard lock(writeMutex);
        if (simnet::sendAll(fd, bytes.constData(), bytes.size()))
            return true;
        ::shutdown(fd, SHUT_RDWR);
        return false;
    }
    quint32 maxPayload() const override
    {
        std::lock_guard lock(mutex);
        return maxData;
    }
    void forgetSocket(quint32 localId) override
    {
        std::lock_guard lock(mutex);
        sockets.erase(localId);
    }

    void run();
    bool readPacket(apacket *p, QString *error);
    bool handle_packet(const apacket &p, QString *error);
    void handle_new_connection(const apacket &p);
    void send_auth_request();
    void send_connect();
    void adbd_auth_confirm_key(const QByteArray &key);
    void sendStalePackets();
    void drop(const QString &reason)
    {
        {
            std::lock_guard lock(mutex);
            if (dropReason.isEmpty())
                dropReason = reason;
        }
        ::shutdown(fd, SHUT_RDWR);
    }
    void closeSockets(const QString &reason);
    void openService(quint32 hostId, quint32 hostWindow, const QString &service);
    void serveShell(std::shared_ptr<SimAdbSocket> s, bool v2, QString command);
    void serveSync(std::shared_ptr<SimAdbSocket> s);
    void bridgeDown(std::shared_ptr<SimAdbSocket> s, PSharedFd fd);
    void bridgeUp(std::shared_ptr<SimAdbSocket> s, PSharedFd fd);
    bool isClosed() const
    {
        std::lock_guard lock(mutex);
        return state == State::Closed;
    }

    enum class State { Offline, Authorizing, Online, Closed };
    SimAdbd *owner;
    const int fd;
    std::mutex writeMutex;
    mutable std::mutex mutex;
    State state = State::Offline;
    QString dropReason;
    // A transport starts at A_VERSION_MIN and the old maximum; CNXN updates both (update_version).
    quint32 version = A_VERSION_MIN;
    quint32 maxData = MAX_PAYLOAD;
    bool delayedAck = false;
    QByteArray token;
    bool keyPrompted = false; // the user is being asked about the key this connection offered
    bool needsRetry = false;  // a key came while the framework was away
    std::map<quint32, std::shared_ptr<SimAdbSocket>> sockets;
    quint32 nextId = 1;
    ThreadGroup services;
};

bool SimAdbd::Connection::readPacket(apacket *p, QString *error)
{
    auto readExact = [this, error](char *data, qsizetype len) {
        while (len > 0) {
            const qsizetype n = simnet::receive(fd, data, len);
            if (n <= 0) {
                *error = n == 0 ? u"host closed the connection"_s : u"read failed"_s;
                return false;
            }
            data += n;
            len -= n;
        }
        return true;
    };
    char header[kHeaderSize];
    if (!readExact(header, kHeaderSize))
        return false;
    p->msg = parseHeader(header);
    if (!check_header(p->msg, maxPayload(), error)) {
        *error = u"protocol error: "_s + *error;
        return false;
    }
    p->payload.resize(p->msg.data_length);
    if (p->msg.data_length && !readExact(p->payload.data(), p->msg.data_length))
        return false;
    // adbd before the skip-checksum version checks every packet's sum (check_data) and drops the transport.
    if (owner->m_config.version < A_VERSION_SKIP_CHECKSUM && calculate_checksum(p->payload) != p->msg.data_check) {
        *error = u"protocol error: check_data failed on %1 (sum 0x%2, header 0x%3)"_s.arg(commandName(p->msg.command))
                     .arg(calculate_checksum(p->payload), 0, 16)
                     .arg(p->msg.data_check, 0, 16);
        return false;
    }
    return true;
}

void SimAdbd::Connection::run()
{
    if (owner->m_config.stalePackets)
        sendStalePackets();
    QString error;
    for (;;) {
        apacket p;
        if (!readPacket(&p, &error))
            break;
        if (!handle_packet(p, &error)) {
            error = u"protocol error: "_s + error;
            break;
        }
    }
    if (error.startsWith(u"protocol error"_s))
        owner->noteError(error);
    {
        std::lock_guard lock(mutex);
        state = State::Closed;
        if (!dropReason.isEmpty())
            error = dropReason;
    }
    ::shutdown(fd, SHUT_RDWR);
    closeSockets(u"connection closed: "_s + error);
    services.joinAll();
}

// What an earlier host's session left in the phone's USB queue: output and the close of a stream long gone.
void SimAdbd::Connection::sendStalePackets()
{
    sendPacket(A_WRTE, 0x51, 0x7, "output of a shell the previous host had open\n");
    sendPacket(A_OKAY, 0x51, 0x7, {});
    sendPacket(A_CLSE, 0x51, 0x7, {});
}

void SimAdbd::Connection::closeSockets(const QString &reason)
{
    std::map<quint32, std::shared_ptr<SimAdbSocket>> dropped;
    {
        std::lock_guard lock(mutex);
        dropped.swap(sockets);
    }
    for (auto &[id, s] : dropped)
        s->fail(reason);
}

// send_auth_request: a fresh random token for the host to sign.
void SimAdbd::Connection::send_auth_request()
{
    QByteArray t(TOKEN_SIZE, Qt::Uninitialized);
    for (char &c : t)
        c = char(QRandomGenerator::system()->bounded(256));
    {
        std::lock_guard lock(mutex);
        if (state == State::Closed || state == State::Online)
            return;
        token = t;
        state = State::Authorizing;
    }
    ++owner->m_tokensSent;
    sendPacket(A_AUTH, ADB_AUTH_TOKEN, 0, t);
}

// send_connect, with get_connection_string's banner: "TYPE::ro.product.name=…;ro.product.model=…;
// ro.product.device=…;features=…". arg1 is the maxdata agreed with the host.
void SimAdbd::Connection::send_connect()
{
    QString model = owner->m_phone->name();
    model.replace(QRegularExpression(u"[;:=]"_s), u"_"_s);
    const QString banner =
        u"%1::ro.product.name=phone_sim;ro.product.model=%2;ro.product.device=phonesim;features=%3"_s.arg(
            owner->m_config.bannerType, model, owner->m_config.features.join(QLatin1Char(',')));
    quint32 agreedMax;
    {
        std::lock_guard lock(mutex);
        if (state == State::Online || state == State::Closed)
            return;
        state = State::Online;
        agreedMax = maxData;
    }
    sendPacket(A_CNXN, owner->m_config.version, agreedMax, banner.toUtf8());
}

// handle_new_connection: a CNXN (also a second one) drops the sockets, takes the host's version, maxdata and
// features (update_version, parse_banner), then asks for AUTH or connects.
void SimAdbd::Connection::handle_new_connection(const apacket &p)
{
    closeSockets(u"new CNXN"_s);
    QString banner = QString::fromUtf8(p.payload);
    while (banner.endsWith(QChar(0)))
        banner.chop(1);
    QStringList hostFeatures;
    for (const QString &prop : banner.section(QLatin1Char(':'), 2).split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (prop.startsWith(u"features="_s))
            hostFeatures = prop.mid(9).split(QLatin1Char(','), Qt::SkipEmptyParts);
    const SimAdbdConfig &cfg = owner->m_config;
    {
        std::lock_guard lock(mutex);
        version = qMin(cfg.version, p.msg.arg0);
        maxData = qMin(cfg.maxData, p.msg.arg1);
        delayedAck = cfg.features.contains(u"delayed_ack"_s) && hostFeatures.contains(u"delayed_ack"_s);
        state = State::Offline;
        keyPrompted = false;
        needsRetry = false;
    }
    if (cfg.requireAuth)
        send_auth_request();
    else
        send_connect();
}

// adbd_auth_confirm_key: the public key goes to the framework, which asks the user. Without the framework
// ("Client not connected") nothing happens until it connects; adbd then sends a new token (needs_retry).
void SimAdbd::Connection::adbd_auth_confirm_key(const QByteArray &key)
{
    if (key.isEmpty() || !key.endsWith('\0')) {
        owner->noteError(u"Key must be a null-terminated string"_s);
        return;
    }
    simauth::PublicKey decoded;
    QString keyError;
    if (!simauth::decodePublicKey(key, &decoded, &keyError)) {
        owner->noteError(u"bad public key offered: "_s + keyError);
        return; // the framework shows nothing; the host waits for a prompt that never comes
    }
    if (!owner->frameworkConnected(weak_from_this())) {
        std::lock_guard lock(mutex);
        needsRetry = true;
        return;
    }
    {
        std::lock_guard lock(owner->m_mutex);
        owner->m_offered.append(decoded.base64);
    }
    {
        std::lock_guard lock(mutex);
        keyPrompted = true;
    }
    const SimAdbdConfig &cfg = owner->m_config;
    if (cfg.acceptKeyAfterMs < 0)
        return;
    std::weak_ptr<Connection> weak = weak_from_this();
    const QByteArray keyText = decoded.base64;
    const int delay = cfg.acceptKeyAfterMs;
    services.start([weak, keyText, delay] {
        for (int waited = 0; waited < delay; waited += 10) {
            auto c = weak.lock();
            if (!c || c->isClosed())
                return;
            c.reset();
            QThread::msleep(10);
        }
        if (auto c = weak.lock()) {
            c->owner->trustKey(keyText);
            c->send_connect(); // adbd_auth_verified
        }
    });
}

bool SimAdbd::Connection::handle_packet(const apacket &p, QString *error)
{
    State current;
    {
        std::lock_guard lock(mutex);
        current = state;
    }
    const bool online = current == State::Online;
    const amessage &m = p.msg;
    switch (m.command) {
    case A_CNXN:
        if (m.arg1 < 256) {
            *error = u"CNXN with maxdata %1"_s.arg(m.arg1);
            return false;
        }
        handle_new_connection(p);
        return true;
    case A_STLS: // only an answer to our own STLS, which a USB or adb-tcp adbd never sends
        return true;
    case A_AUTH:
        if (current != State::Authorizing)
            return true;
        if (m.arg0 == ADB_AUTH_SIGNATURE) {
            QList<QByteArray> trusted;
            QByteArray tok;
            {
                std::lock_guard lock(owner->m_mutex);
                trusted = owner->m_trusted;
            }
            {
                std::lock_guard lock(mutex);
                tok = token;
            }
            for (const QByteArray &line : trusted) {
                simauth::PublicKey key;
                QString keyError;
                if (simauth::decodePublicKey(line, &key, &keyError) && simauth::verifyToken(key, tok, p.payload)) {
                    ++owner->m_goodSignatures; // adbd_auth_verify
                    send_connect();
                    return true;
                }
            }
            send_auth_request(); // a fresh token after every refused signature
            return true;
        }
        if (m.arg0 == ADB_AUTH_RSAPUBLICKEY) {
            adbd_auth_confirm_key(p.payload);
            return true;
        }
        *error = u"AUTH of type %1 from the host"_s.arg(m.arg0); // handle_offline
        return false;
    case A_OPEN: {
        if (!online || m.arg0 == 0)
            return true;
        bool agreed;
        {
            std::lock_guard lock(mutex);
            agreed = delayedAck;
        }
        // arg1 is the host's window with delayed acks and must be 0 without them; a mismatch is refused.
        if (agreed != (m.arg1 != 0)) {
            sendPacket(A_CLSE, 0, m.arg0, {});
            return true;
        }
        QString service = QString::fromUtf8(p.payload);
        while (service.endsWith(QChar(0)))
            service.chop(1);
        openService(m.arg0, m.arg1, service);
        return true;
    }
    case A_OKAY:
    case A_WRTE:
    case A_CLSE: {
        if (!online || m.arg1 == 0 || (m.command != A_CLSE && m.arg0 == 0))
            return true;
        std::shared_ptr<SimAdbSocket> s;
        {
            std::lock_guard lock(mutex);
            auto it = sockets.find(m.arg1);
            if (it != sockets.end())
                s = it->second;
        }
        // Packets for sockets that do not exist (closed, or never opened) are dropped, as adbd does.
        if (!s || (m.arg0 != 0 && m.arg0 != s->hostId()))
            return true;
        if (m.command == A_OKAY)
            return s->handleOkay(p.payload, error);
        if (m.command == A_WRTE)
            return s->handleWrite(p.payload, error);
        if (s->handleClose())
            sendPacket(A_CLSE, m.arg1, s->hostId(), {});
        forgetSocket(m.arg1);
        return true;
    }
    default:
        // "handle_packet: what is %08x?!": logged and ignored.
        qDebug().noquote() << "phone-sim adbd: ignoring unknown command" << commandName(m.command);
        return true;
    }
}

void SimAdbd::Connection::openService(quint32 hostId, quint32 hostWindow, const QString &service)
{
    enum { Shell, Sync, Tcp } kind;
    bool v2 = false;
    QString command;
    int serviceFd = -1;
    if (service.startsWith(u"shell"_s) && service.indexOf(QLatin1Char(':')) >= 5 &&
        (service.at(5) == QLatin1Char(':') || service.at(5) == QLatin1Char(','))) {
        const qsizetype colon = service.indexOf(QLatin1Char(':'));
        v2 = service.left(colon).split(QLatin1Char(',')).contains(u"v2"_s);
        command = service.mid(colon + 1);
        kind = Shell;
    } else if (service.startsWith(u"exec:"_s)) {
        command = service.mid(5);
        kind = Shell;
    } else if (service == u"sync:"_s) {
        kind = Sync;
    } else if (service.startsWith(u"tcp:"_s)) {
        const QStringList parts = service.split(QLatin1Char(':'));
        bool ok = false;
        const quint16 port = parts.value(1).toUShort(&ok);
        const QString host = parts.value(2, u"localhost"_s);
        if (ok && (host == u"localhost"_s || host == u"127.0.0.1"_s))
            serviceFd = owner->m_phone->connectService(port);
        if (serviceFd < 0) { // nothing listens there: refused
            sendPacket(A_CLSE, 0, hostId, {});
            return;
        }
        kind = Tcp;
    } else {
        sendPacket(A_CLSE, 0, hostId, {});
        return;
    }
    std::shared_ptr<SimAdbSocket> s;
    QByteArray window; // send_ready: with delayed acks the first OKAY carries our receive window
    {
        std::lock_guard lock(mutex);
        const quint32 id = nextId++;
        s = std::make_shared<SimAdbSocket>(weak_from_this(), id, hostId, delayedAck, hostWindow);
        sockets.emplace(id, s);
        if (delayedAck)
            put32(&window, quint32(SimAdbSocket::kReceiveWindow));
    }
    sendPacket(A_OKAY, s->localId(), hostId, window);
    auto self = shared_from_this();
    switch (kind) {
    case Shell:
        services.start([self, s, v2, command] { self->serveShell(s, v2, command); });
        break;
    case Sync:
        services.start([self, s] { self->serveSync(s); });
        break;
    case Tcp: {
        auto shared = std::make_shared<SharedFd>(serviceFd);
        services.start([self, s, shared] { self->bridgeUp(s, shared); });
        services.start([self, s, shared] { self->bridgeDown(s, shared); });
        break;
    }
    }
}

void SimAdbd::Connection::serveShell(std::shared_ptr<SimAdbSocket> s, bool v2, QString command)
{
    const SimPhone::ShellResult r = owner->m_phone->runShell(command);
    QString error;
    QByteArray out;
    if (v2) {
        for (qsizetype pos = 0; pos < r.out.size(); pos += kShellFrame)
            out += shellPacket(kIdStdout, r.out.mid(pos, kShellFrame));
        if (!r.err.isEmpty())
            out += shellPacket(kIdStderr, r.err);
        out += shellPacket(kIdExit, QByteArray(1, char(r.exitCode & 0xff)));
    } else {
        out = r.out + r.err;
    }
    const QString &trigger = owner->m_config.dropMidShell;
    if (!trigger.isEmpty() && command.startsWith(trigger)) {
        s->write(out.left(out.size() / 2), kIoTimeoutMs, &error);
        s->flush(kIoTimeoutMs, &error);
        drop(u"fault: connection dropped in the middle of a shell command"_s);
        return;
    }
    s->write(out, kIoTimeoutMs, &error);
    s->close();
}

void SimAdbd::Connection::serveSync(std::shared_ptr<SimAdbSocket> s)
{
    QString error;
    auto fail = [&](const QString &message) {
        s->write(syncMessage("FAIL", message.toUtf8()), kIoTimeoutMs, &error);
        s->close();
    };
    for (;;) {
        QByteArray rec;
        if (s->readExact(8, &rec, kIoTimeoutMs, &error) != SimAdbSocket::Read::Data)
            break;
        const QByteArray id = rec.left(4);
        const quint32 len = get32(rec.constData() + 4);
        if (id == "QUIT")
            break;
        if (len > 1024) {
            fail(u"path too long"_s);
            return;
        }
        QByteArray pathBytes;
        if (s->readExact(len, &pathBytes, kIoTimeoutMs, &error) != SimAdbSocket::Read::Data)
            break;
        QString path = QString::fromUtf8(pathBytes);
        if (id == "STAT" || id == "STA2" || id == "LST2") {
            const auto data = owner->m_phone->file(path);
            const bool dir = SimPhone::isDirectory(path);
            const quint32 mode = dir ? 040771 : data ? 0100644 : 0;
            const quint64 size = data ? quint64(data->size()) : 0;
            QByteArray reply;
            if (id == "STAT") {
                reply = "STAT";
                put32(&reply, mode);
                put32(&reply, quint32(size));
                put32(&reply, mode ? quint32(QDateTime::currentSecsSinceEpoch()) : 0);
            } else {
                reply = statV2(mode ? 0 : 2, mode, size);
                reply.replace(0, 4, id);
            }
            if (!s->write(reply, kIoTimeoutMs, &error))
                break;
        } else if (id == "SEND") {
            const qsizetype comma = path.lastIndexOf(QLatin1Char(','));
            if (comma >= 0)
                path = path.left(comma);
            QByteArray content;
            bool tooBig = false;
            for (;;) {
                if (s->readExact(8, &rec, kIoTimeoutMs, &error) != SimAdbSocket::Read::Data) {
                    s->close();
                    return;
                }
                const quint32 n = get32(rec.constData() + 4);
                if (rec.startsWith("DONE"))
                    break;
                if (!rec.startsWith("DATA")) {
                    fail(u"unexpected sync record in SEND"_s);
                    return;
                }
                if (n > kMaxSyncData) {
                    fail(u"oversize data message"_s);
                    return;
                }
                QByteArray chunk;
                if (s->readExact(n, &chunk, kIoTimeoutMs, &error) != SimAdbSocket::Read::Data) {
                    s->close();
                    return;
                }
                tooBig = tooBig || content.size() + chunk.size() > kMaxFileSize;
                if (!tooBig)
                    content.append(chunk);
            }
            if (tooBig || !owner->m_phone->writeFile(path, content)) {
                fail(tooBig ? u"no space left on device"_s : u"couldn't create file: Permission denied"_s);
                return;
            }
            if (!s->write(syncMessage("OKAY", quint32(0)), kIoTimeoutMs, &error))
                break;
        } else if (id == "RECV") {
            const auto data = owner->m_phone->file(path);
            if (!data) {
                fail(u"remote object '%1' does not exist"_s.arg(path));
                return;
            }
            QByteArray out;
            for (qsizetype pos = 0; pos < data->size(); pos += kMaxSyncData)
                out += syncMessage("DATA", data->mid(pos, kMaxSyncData));
            out += syncMessage("DONE", quint32(0));
            if (!s->write(out, kIoTimeoutMs, &error))
                break;
        } else {
            fail(u"unknown or unsimulated sync command"_s);
            return;
        }
    }
    s->close();
}

// Host to the service inside the phone; the service sees end of stream when the host closes.
void SimAdbd::Connection::bridgeDown(std::shared_ptr<SimAdbSocket> s, PSharedFd shared)
{
    const int serviceFd = shared->fd;
    QString error;
    for (;;) {
        QByteArray chunk;
        if (s->read(&chunk, -1, &error) != SimAdbSocket::Read::Data)
            break;
        if (!simnet::sendAll(serviceFd, chunk.constData(), chunk.size()))
            break;
    }
    ::shutdown(serviceFd, SHUT_RDWR);
}

void SimAdbd::Connection::bridgeUp(std::shared_ptr<SimAdbSocket> s, PSharedFd shared)
{
    const int serviceFd = shared->fd;
    QString error;
    QByteArray buffer(int(maxPayload()), Qt::Uninitialized);
    for (;;) {
        const qsizetype n = simnet::receive(serviceFd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        if (!s->write(buffer.left(n), kIoTimeoutMs, &error))
            break;
    }
    s->flush(kIoTimeoutMs, &error);
    s->close();
    ::shutdown(serviceFd, SHUT_RDWR);
}

// ---- SimAdbd ----

SimAdbd::SimAdbd(SimPhone *phone, SimAdbdConfig config) : m_phone(phone), m_config(std::move(config))
{
    m_frameworkUp = m_config.lateFrameworkMs < 0;
}

SimAdbd::~SimAdbd()
{
    stop();
}

bool SimAdbd::listen(quint16 port, QString *error)
{
    m_listenFd = simnet::listenLoopback(port, &m_port, error);
    if (m_listenFd < 0)
        return false;
    m_threads.start([this] { acceptLoop(); });
    return true;
}

void SimAdbd::acceptLoop()
{
    while (!m_stop) {
        bool timedOut = false;
        const int fd = simnet::acceptOne(m_listenFd, 100, &timedOut);
        if (fd < 0)
            continue;
        auto conn = std::make_shared<Connection>(this, fd);
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) {
                ::shutdown(fd, SHUT_RDWR);
                continue;
            }
            m_connections.append(conn);
        }
        m_threads.start([this, conn] {
            conn->run();
            std::lock_guard lock(m_mutex);
            m_connections.removeAll(conn);
        });
    }
}

bool SimAdbd::frameworkConnected(std::weak_ptr<Connection> waiting)
{
    std::lock_guard lock(m_mutex);
    if (m_frameworkUp)
        return true;
    m_frameworkWaiters.append(waiting);
    if (!m_frameworkStarting) {
        // adbd_auth_listener: when the framework's socket connects, every transport that needs it gets a new
        // token (send_auth_request), and the key it then offers reaches the user.
        m_frameworkStarting = true;
        const int delay = m_config.lateFrameworkMs;
        m_threads.start([this, delay] {
            for (int waited = 0; waited < delay && !m_stop; waited += 10)
                QThread::msleep(10);
            QList<std::weak_ptr<Connection>> waiters;
            {
                std::lock_guard started(m_mutex);
                m_frameworkUp = true;
                waiters.swap(m_frameworkWaiters);
            }
            for (const auto &weak : waiters) {
                auto c = weak.lock();
                if (!c)
                    continue;
                bool retry;
                {
                    std::lock_guard connection(c->mutex);
                    retry = c->needsRetry;
                    c->needsRetry = false;
                }
                if (retry)
                    c->send_auth_request();
            }
        });
    }
    return false;
}

void SimAdbd::stop()
{
    // Stop taking connections first, so nobody connects to a phone that is going away.
    m_stop = true;
    if (m_listenFd >= 0)
        ::shutdown(m_listenFd, SHUT_RDWR);
    dropConnections();
    m_threads.joinAll();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    m_listenFd = -1;
}

void SimAdbd::dropConnections()
{
    QList<std::shared_ptr<Connection>> all;
    {
        std::lock_guard lock(m_mutex);
        all = m_connections;
    }
    for (const auto &c : all)
        c->drop(u"dropped by the simulator"_s);
}

void SimAdbd::trustKey(const QByteArray &publicKeyLine)
{
    simauth::PublicKey key;
    QString error;
    if (!simauth::decodePublicKey(publicKeyLine, &key, &error))
        return;
    std::lock_guard lock(m_mutex);
    if (!m_trusted.contains(key.base64))
        m_trusted.append(key.base64);
}

QList<QByteArray> SimAdbd::offeredKeys() const
{
    std::lock_guard lock(m_mutex);
    return m_offered;
}

void SimAdbd::acceptPendingKeys()
{
    QList<std::shared_ptr<Connection>> all;
    QList<QByteArray> offered;
    {
        std::lock_guard lock(m_mutex);
        all = m_connections;
        offered = m_offered;
    }
    for (const QByteArray &k : offered)
        trustKey(k);
    for (const auto &c : all) {
        bool waiting;
        {
            std::lock_guard lock(c->mutex);
            waiting = c->state == Connection::State::Authorizing && c->keyPrompted;
        }
        if (waiting)
            c->send_connect();
    }
}

QStringList SimAdbd::errors() const
{
    std::lock_guard lock(m_mutex);
    return m_errors;
}

void SimAdbd::noteError(const QString &text)
{
    qWarning().noquote() << "phone-sim adbd:" << text;
    std::lock_guard lock(m_mutex);
    m_errors.append(text);
}
