#include "simadbd.h"

#include "adbstream.h"
#include "adbtransport.h"
#include "simauth.h"
#include "simphone.h"

#include <QDateTime>
#include <QDebug>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>

#include <map>

#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace adbproto;

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
    appendU32(&out, error);
    appendU64(&out, 0);                 // dev
    appendU64(&out, 0);                 // ino
    appendU32(&out, mode);
    appendU32(&out, 1);                 // nlink
    appendU32(&out, 2000);              // uid: shell
    appendU32(&out, 2000);              // gid
    appendU64(&out, size);
    const quint64 now = quint64(QDateTime::currentSecsSinceEpoch());
    appendU64(&out, now);               // atime
    appendU64(&out, now);               // mtime
    appendU64(&out, now);               // ctime
    return out;
}
} // namespace

class SimAdbd::Connection : public AdbStreamLink, public std::enable_shared_from_this<Connection>
{
public:
    Connection(SimAdbd *o, int fd) : owner(o), transport(fd, u"host"_s) {}

    bool sendPacket(quint32 command, quint32 arg0, quint32 arg1, const QByteArray &payload) override
    {
        std::lock_guard lock(writeMutex);
        QString error;
        if (transport.writeMessage({command, arg0, arg1, payload}, &error))
            return true;
        transport.shutdown();
        return false;
    }
    quint32 maxPayload() const override
    {
        std::lock_guard lock(mutex);
        return qMin(hostMaxData, owner->m_config.maxData);
    }
    void forgetStream(quint32 localId) override
    {
        std::lock_guard lock(mutex);
        streams.erase(localId);
    }

    void run();
    bool dispatch(const Header &h, const QByteArray &payload, QString *error);
    void sendToken();
    void comeOnline();
    void drop(const QString &reason)
    {
        {
            std::lock_guard lock(mutex);
            if (dropReason.isEmpty())
                dropReason = reason;
        }
        transport.shutdown();
    }
    void failStreams(const QString &reason);
    void openService(quint32 hostId, const QString &service);
    void serveShell(std::shared_ptr<AdbStream> s, bool v2, QString command);
    void serveSync(std::shared_ptr<AdbStream> s);
    void bridgeDown(std::shared_ptr<AdbStream> s, PSharedFd fd);
    void bridgeUp(std::shared_ptr<AdbStream> s, PSharedFd fd);
    bool isClosed() const
    {
        std::lock_guard lock(mutex);
        return state == State::Closed;
    }

    enum class State { WaitCnxn, WaitAuth, Online, Closed };
    SimAdbd *owner;
    AdbTcpTransport transport;
    std::mutex writeMutex;
    mutable std::mutex mutex;
    State state = State::WaitCnxn;
    QString dropReason;
    quint32 version = kVersionMin;
    quint32 hostMaxData = kMaxHandshakePayload;
    QByteArray token;
    bool keyOffered = false;
    std::map<quint32, std::shared_ptr<AdbStream>> streams;
    quint32 nextId = 1;
    ThreadGroup services;
};

void SimAdbd::Connection::run()
{
    QString error;
    for (;;) {
        Header h;
        QByteArray payload;
        if (!transport.readMessage(&h, &payload, owner->m_config.maxData, &error)) {
            if (error.contains(u"malformed"_s) || error.contains(u"unknown command"_s) || error.contains(u"exceeds"_s))
                owner->noteError(u"protocol error: "_s + error);
            break;
        }
        quint32 agreed;
        {
            std::lock_guard lock(mutex);
            agreed = version;
        }
        if (!verifyChecksum(h, payload, agreed, &error) || !dispatch(h, payload, &error)) {
            owner->noteError(u"protocol error: "_s + error);
            break;
        }
    }
    {
        std::lock_guard lock(mutex);
        state = State::Closed;
        if (!dropReason.isEmpty())
            error = dropReason;
    }
    transport.shutdown();
    failStreams(u"connection closed: "_s + error);
    services.joinAll();
}

void SimAdbd::Connection::failStreams(const QString &reason)
{
    std::map<quint32, std::shared_ptr<AdbStream>> dropped;
    {
        std::lock_guard lock(mutex);
        dropped.swap(streams);
    }
    for (auto &[id, s] : dropped)
        s->fail(reason);
}

void SimAdbd::Connection::sendToken()
{
    QByteArray t(kTokenSize, Qt::Uninitialized);
    for (char &c : t)
        c = char(QRandomGenerator::system()->bounded(256));
    {
        std::lock_guard lock(mutex);
        token = t;
        state = State::WaitAuth;
    }
    sendPacket(A_AUTH, kAuthToken, 0, t);
}

void SimAdbd::Connection::comeOnline()
{
    QMap<QString, QString> props;
    QString model = owner->m_phone->name();
    model.replace(QRegularExpression(u"[;:=]"_s), u"_"_s);
    props.insert(u"ro.product.name"_s, u"phone_sim"_s);
    props.insert(u"ro.product.model"_s, model);
    props.insert(u"ro.product.device"_s, u"phonesim"_s);
    {
        std::lock_guard lock(mutex);
        if (state == State::Online || state == State::Closed)
            return;
        state = State::Online;
    }
    sendPacket(A_CNXN, owner->m_config.version, owner->m_config.maxData,
               buildBanner(u"device"_s, props, owner->m_config.features));
}

bool SimAdbd::Connection::dispatch(const Header &h, const QByteArray &payload, QString *error)
{
    State current;
    {
        std::lock_guard lock(mutex);
        current = state;
    }
    const SimAdbdConfig &cfg = owner->m_config;
    if (h.command == A_CNXN) {
        // A new CNXN restarts the connection: streams go, AUTH starts over.
        failStreams(u"new CNXN"_s);
        {
            std::lock_guard lock(mutex);
            version = qMin(cfg.version, h.arg0);
            hostMaxData = h.arg1;
            state = State::WaitCnxn;
            keyOffered = false;
        }
        if (h.arg1 < 256) {
            *error = u"CNXN with maxdata %1"_s.arg(h.arg1);
            return false;
        }
        if (cfg.requireAuth)
            sendToken();
        else
            comeOnline();
        return true;
    }
    if (h.command == A_AUTH) {
        if (current != State::WaitAuth) {
            *error = u"AUTH while not authenticating"_s;
            return false;
        }
        if (h.arg0 == kAuthSignature) {
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
                if (simauth::decodePublicKey(line, &key, &keyError) && simauth::verifyToken(key, tok, payload)) {
                    ++owner->m_goodSignatures;
                    comeOnline();
                    return true;
                }
            }
            sendToken(); // a fresh token after every refused signature, as adbd does
            return true;
        }
        if (h.arg0 == kAuthRsaPublicKey) {
            simauth::PublicKey key;
            QString keyError;
            if (!simauth::decodePublicKey(payload, &key, &keyError)) {
                owner->noteError(u"bad public key offered: "_s + keyError);
                return true; // adbd ignores it; the host waits for a prompt that never comes
            }
            {
                std::lock_guard lock(owner->m_mutex);
                owner->m_offered.append(key.base64);
            }
            {
                std::lock_guard lock(mutex);
                keyOffered = true;
            }
            if (cfg.acceptKeyAfterMs >= 0) {
                std::weak_ptr<Connection> weak = weak_from_this();
                const QByteArray keyText = key.base64;
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
                        c->comeOnline();
                    }
                });
            }
            return true;
        }
        *error = u"AUTH of type %1 from the host"_s.arg(h.arg0);
        return false;
    }
    if (current != State::Online) {
        *error = u"%1 before the connection was accepted"_s.arg(commandName(h.command));
        return false;
    }
    switch (h.command) {
    case A_OPEN: {
        if (h.arg0 == 0) {
            *error = u"OPEN with local id 0"_s;
            return false;
        }
        QString service = QString::fromUtf8(payload);
        while (service.endsWith(QChar(0)))
            service.chop(1);
        if (h.arg1 != 0) // delayed_ack is not offered
            sendPacket(A_CLSE, 0, h.arg0, {});
        else
            openService(h.arg0, service);
        return true;
    }
    case A_OKAY:
    case A_WRTE:
    case A_CLSE: {
        std::shared_ptr<AdbStream> s;
        {
            std::lock_guard lock(mutex);
            auto it = streams.find(h.arg1);
            if (it != streams.end())
                s = it->second;
        }
        if (!s)
            return true; // adbd ignores packets for streams it does not know
        if (h.command == A_OKAY)
            return s->handleOkay(h.arg0, error);
        if (h.command == A_WRTE)
            return s->handleWrite(payload, error);
        if (s->handleClose())
            sendPacket(A_CLSE, h.arg1, h.arg0, {});
        forgetStream(h.arg1);
        return true;
    }
    default:
        *error = u"unexpected %1"_s.arg(commandName(h.command));
        return false;
    }
}

void SimAdbd::Connection::openService(quint32 hostId, const QString &service)
{
    enum { Shell, Sync, Tcp } kind;
    bool v2 = false;
    QString command;
    int fd = -1;
    if (service.startsWith(u"shell"_s) && service.indexOf(QLatin1Char(':')) >= 5
        && (service.at(5) == QLatin1Char(':') || service.at(5) == QLatin1Char(','))) {
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
            fd = owner->m_phone->connectService(port);
        if (fd < 0) { // nothing listens there: refused
            sendPacket(A_CLSE, 0, hostId, {});
            return;
        }
        kind = Tcp;
    } else {
        sendPacket(A_CLSE, 0, hostId, {});
        return;
    }
    std::shared_ptr<AdbStream> s;
    {
        std::lock_guard lock(mutex);
        const quint32 id = nextId++;
        s = std::make_shared<AdbStream>(weak_from_this(), id, hostId);
        streams.emplace(id, s);
    }
    sendPacket(A_OKAY, s->localId(), hostId, {});
    auto self = shared_from_this();
    switch (kind) {
    case Shell:
        services.start([self, s, v2, command] { self->serveShell(s, v2, command); });
        break;
    case Sync:
        services.start([self, s] { self->serveSync(s); });
        break;
    case Tcp: {
        auto shared = std::make_shared<SharedFd>(fd);
        services.start([self, s, shared] { self->bridgeUp(s, shared); });
        services.start([self, s, shared] { self->bridgeDown(s, shared); });
        break;
    }
        break;
    }
}

void SimAdbd::Connection::serveShell(std::shared_ptr<AdbStream> s, bool v2, QString command)
{
    const SimPhone::ShellResult r = owner->m_phone->runShell(command);
    QString error;
    QByteArray out;
    if (v2) {
        for (qsizetype pos = 0; pos < r.out.size(); pos += kShellFrame)
            out += shellFrame(ShellStdout, r.out.mid(pos, kShellFrame));
        if (!r.err.isEmpty())
            out += shellFrame(ShellStderr, r.err);
        out += shellFrame(ShellExit, QByteArray(1, char(r.exitCode & 0xff)));
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

void SimAdbd::Connection::serveSync(std::shared_ptr<AdbStream> s)
{
    QString error;
    auto fail = [&](const QString &message) {
        s->write(syncRecord("FAIL", message.toUtf8()), kIoTimeoutMs, &error);
        s->close();
    };
    for (;;) {
        QByteArray rec;
        if (s->readExact(8, &rec, kIoTimeoutMs, &error) != AdbStream::Read::Data)
            break;
        const QByteArray id = rec.left(4);
        const quint32 len = readU32(rec.constData() + 4);
        if (id == "QUIT")
            break;
        if (len > 1024) {
            fail(u"path too long"_s);
            return;
        }
        QByteArray pathBytes;
        if (s->readExact(len, &pathBytes, kIoTimeoutMs, &error) != AdbStream::Read::Data)
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
                appendU32(&reply, mode);
                appendU32(&reply, quint32(size));
                appendU32(&reply, mode ? quint32(QDateTime::currentSecsSinceEpoch()) : 0);
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
                if (s->readExact(8, &rec, kIoTimeoutMs, &error) != AdbStream::Read::Data) {
                    s->close();
                    return;
                }
                const quint32 n = readU32(rec.constData() + 4);
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
                if (s->readExact(n, &chunk, kIoTimeoutMs, &error) != AdbStream::Read::Data) {
                    s->close();
                    return;
                }
                tooBig = tooBig || content.size() + chunk.size() > kMaxFileSize;
                if (!tooBig)
                    content.append(chunk);
            }
            if (tooBig || !owner->m_phone->writeFile(path, content)) {
                fail(tooBig ? u"no space left on device"_s
                            : u"couldn't create file: Permission denied"_s);
                return;
            }
            if (!s->write(syncRecord("OKAY", quint32(0)), kIoTimeoutMs, &error))
                break;
        } else if (id == "RECV") {
            const auto data = owner->m_phone->file(path);
            if (!data) {
                fail(u"remote object '%1' does not exist"_s.arg(path));
                return;
            }
            QByteArray out;
            for (qsizetype pos = 0; pos < data->size(); pos += kMaxSyncData)
                out += syncRecord("DATA", data->mid(pos, kMaxSyncData));
            out += syncRecord("DONE", quint32(0));
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
void SimAdbd::Connection::bridgeDown(std::shared_ptr<AdbStream> s, PSharedFd shared)
{
    const int fd = shared->fd;
    QString error;
    for (;;) {
        QByteArray chunk;
        if (s->read(&chunk, -1, &error) != AdbStream::Read::Data)
            break;
        if (!adbsocket::sendAll(fd, chunk.constData(), chunk.size()))
            break;
    }
    ::shutdown(fd, SHUT_RDWR);
}

void SimAdbd::Connection::bridgeUp(std::shared_ptr<AdbStream> s, PSharedFd shared)
{
    const int fd = shared->fd;
    QString error;
    QByteArray buffer(int(maxPayload()), Qt::Uninitialized);
    for (;;) {
        const qsizetype n = adbsocket::receive(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        if (!s->write(buffer.left(n), kIoTimeoutMs, &error))
            break;
    }
    s->flush(kIoTimeoutMs, &error);
    s->close();
    ::shutdown(fd, SHUT_RDWR);
}

// ---- SimAdbd ----

SimAdbd::SimAdbd(SimPhone *phone, SimAdbdConfig config) : m_phone(phone), m_config(std::move(config)) {}

SimAdbd::~SimAdbd()
{
    stop();
}

bool SimAdbd::listen(quint16 port, QString *error)
{
    m_listenFd = adbsocket::listenLoopback(port, &m_port, error);
    if (m_listenFd < 0)
        return false;
    m_threads.start([this] { acceptLoop(); });
    return true;
}

void SimAdbd::acceptLoop()
{
    while (!m_stop) {
        bool timedOut = false;
        const int fd = adbsocket::acceptOne(m_listenFd, 100, &timedOut);
        if (fd < 0)
            continue;
        auto conn = std::make_shared<Connection>(this, fd);
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) {
                conn->transport.shutdown();
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
            waiting = c->state == Connection::State::WaitAuth && c->keyOffered;
        }
        if (waiting)
            c->comeOnline();
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
