#include "adb/adb.h"

#include "adb/adbkey.h"
#include "adb/adbprotocol.h"
#include "adb/adbstream.h"
#include "adb/adbtransport.h"
#include "adb/log.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QThreadPool>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;
using namespace adbproto;

namespace {
// What we announce: shell protocol v2 is the only optional service we use. No delayed_ack: one WRTE in flight.
const char kHostBanner[] = "host::features=shell_v2";
constexpr int kShellIdleTimeoutMs = 120000;
constexpr int kSyncDataChunk = 64 * 1024;
} // namespace

class AdbUSBHandle::Private : public AdbStreamLink, public std::enable_shared_from_this<Private>
{
public:
    Private(std::unique_ptr<AdbTransport> t, const QString &s) : transport(std::move(t)), serial(s) {}

    void start()
    {
        reader = std::thread([self = shared_from_this()] { self->run(); });
    }

    bool sendPacket(quint32 command, quint32 arg0, quint32 arg1, const QByteArray &payload) override
    {
        std::lock_guard lock(writeMutex);
        QString failure;
        if (transport->writeMessage({command, arg0, arg1, payload}, &failure))
            return true;
        // The reader then ends the device; waiting callers wake with this reason.
        {
            std::lock_guard stateLock(mutex);
            if (writeError.isEmpty())
                writeError = failure;
        }
        transport->shutdown();
        return false;
    }

    quint32 maxPayload() const override
    {
        std::lock_guard lock(mutex);
        return peerMaxData;
    }

    void forgetStream(quint32 localId) override
    {
        std::lock_guard lock(mutex);
        streams.erase(localId);
    }

    void run();
    bool dispatch(const Header &h, const QByteArray &payload, QString *error);
    bool handleAuth(const Header &h, const QByteArray &payload, QString *error);
    void goOffline(const QString &reason);

    std::unique_ptr<AdbTransport> transport;
    const QString serial;
    std::thread reader;
    std::mutex writeMutex;

    mutable std::mutex mutex;
    std::condition_variable cond;
    State state = State::Connecting;
    QString error;
    Banner banner;
    quint32 version = kVersionMin;
    quint32 peerMaxData = kMaxHandshakePayload;
    std::map<quint32, std::shared_ptr<AdbStream>> streams;
    quint32 nextId = 1;
    bool closing = false;
    QString closeReason;
    QString writeError;
    std::map<int, std::function<void()>> listeners;
    int nextListener = 1;

    // Reader thread only.
    QList<std::shared_ptr<AdbKey>> keys;
    int keysTried = 0; // of this round: a round signs with each key in turn, then offers the public key
    bool wrongMode = false;
};

void AdbUSBHandle::Private::run()
{
    QString reason;
    if (!sendPacket(A_CNXN, kVersionSkipChecksum, kMaxPayload, QByteArray(kHostBanner))) {
        reason = u"can not send CNXN"_s;
    } else {
        for (;;) {
            Header h;
            QByteArray payload;
            if (!transport->readMessage(&h, &payload, kMaxPayload, &reason) || !dispatch(h, payload, &reason))
                break;
        }
    }
    {
        std::lock_guard lock(mutex);
        if (closing)
            reason = closeReason;
        else if (!writeError.isEmpty())
            reason = writeError;
    }
    goOffline(reason);
}

void AdbUSBHandle::Private::goOffline(const QString &reason)
{
    std::map<quint32, std::shared_ptr<AdbStream>> dropped;
    std::map<int, std::function<void()>> toCall;
    QString text;
    bool quiet;
    {
        std::lock_guard lock(mutex);
        if (state == State::Offline)
            return;
        quiet = closing;
        state = State::Offline;
        error =
            wrongMode ? u"device %1: %2"_s.arg(serial, reason) : u"device %1 disconnected: %2"_s.arg(serial, reason);
        text = error;
        dropped.swap(streams);
        toCall.swap(listeners);
        cond.notify_all();
    }
    if (!quiet)
        qCWarning(lcAdb).noquote() << "AdbUSBHandle:" << text;
    transport->shutdown();
    for (auto &[id, stream] : dropped)
        stream->fail(text);
    for (auto &[id, listener] : toCall)
        listener();
}

// What the reader does with each packet, as adb's handle_packet does: before the phone's CNXN only CNXN, AUTH
// and STLS count (leftovers of an earlier connection still arrive over USB); unknown commands and packets for
// streams that do not exist are ignored. A data_check is never looked at.
bool AdbUSBHandle::Private::dispatch(const Header &h, const QByteArray &payload, QString *err)
{
    State current;
    {
        std::lock_guard lock(mutex);
        current = state;
    }
    switch (h.command) {
    case A_CNXN: {
        if (h.arg1 < 256) {
            *err = u"CNXN with maxdata %1"_s.arg(h.arg1);
            return false;
        }
        const Banner parsed = parseBanner(payload);
        const QString problem = bannerTypeProblem(parsed.type);
        std::lock_guard lock(mutex);
        banner = parsed;
        if (!problem.isEmpty()) {
            // Recovery, sideload, rescue, bootloader: adbd answers there, but pm and am do not exist.
            wrongMode = true;
            *err = problem;
            return false;
        }
        version = qMin(kVersionSkipChecksum, h.arg0);
        peerMaxData = qMin(kMaxPayload, h.arg1);
        state = State::Online;
        cond.notify_all();
        return true;
    }
    case A_AUTH:
        return handleAuth(h, payload, err);
    case A_STLS:
        *err = u"the device asks for a TLS connection (wireless debugging), which is not supported"_s;
        return false;
    default:
        break;
    }
    if (current != State::Online || !isKnownCommand(h.command))
        return true;
    if (h.command == A_OPEN) {
        // We offer no services to the device.
        sendPacket(A_CLSE, 0, h.arg0, {});
        return true;
    }
    std::shared_ptr<AdbStream> stream;
    {
        std::lock_guard lock(mutex);
        auto it = streams.find(h.arg1);
        if (it != streams.end())
            stream = it->second;
    }
    if (!stream) {
        // A stream we closed or never opened. An OKAY from a live device stream of ours that we already closed
        // means the phone still holds its end: close it.
        bool ours;
        {
            std::lock_guard lock(mutex);
            ours = h.arg1 != 0 && h.arg1 < nextId;
        }
        if (ours && h.command == A_OKAY && h.arg0 != 0)
            sendPacket(A_CLSE, h.arg1, h.arg0, {});
        return true;
    }
    switch (h.command) {
    case A_OKAY:
        return stream->handleOkay(h.arg0, err);
    case A_WRTE:
        return stream->handleWrite(payload, err);
    case A_CLSE:
        if (stream->handleClose())
            sendPacket(A_CLSE, h.arg1, h.arg0, {});
        forgetStream(h.arg1);
        return true;
    }
    return true;
}

// Every token is answered, as adb's send_auth_response does: each key signs in turn, then the public key goes
// out for the user to allow. A token after that starts the round again: Android 4.2 to 10 send one when the
// phone's framework connects late (still booting, restarted), and only then show the "Allow" prompt.
bool AdbUSBHandle::Private::handleAuth(const Header &h, const QByteArray &payload, QString *err)
{
    if (h.arg0 != kAuthToken) {
        *err = u"AUTH of type %1 from the device"_s.arg(h.arg0);
        return false;
    }
    if (payload.size() != kTokenSize) {
        *err = u"AUTH token of %1 bytes"_s.arg(payload.size());
        return false;
    }
    {
        // The phone has answered: what follows (making our key the first time, signing) is our own time, not a
        // silent phone.
        std::lock_guard lock(mutex);
        if (state == State::Connecting)
            state = State::Authorizing;
    }
    if (keys.isEmpty()) {
        QString keyError;
        auto key = AdbKey::loadOrCreate(AdbKey::defaultPath(), &keyError);
        if (!key) {
            *err = keyError;
            return false;
        }
        keys.append(key);
    }
    if (keysTried < keys.size()) {
        QString signError;
        const QByteArray sig = keys.at(keysTried++)->signToken(payload, &signError);
        if (sig.isEmpty()) {
            *err = signError;
            return false;
        }
        {
            std::lock_guard lock(mutex);
            if (state != State::Online)
                state = State::Authorizing;
            cond.notify_all();
        }
        return sendPacket(A_AUTH, kAuthSignature, 0, sig);
    }
    keysTried = 0;
    {
        std::lock_guard lock(mutex);
        if (state != State::Online)
            state = State::Unauthorized;
        cond.notify_all();
    }
    return sendPacket(A_AUTH, kAuthRsaPublicKey, 0, keys.first()->publicKeyLine() + '\0');
}

// ---- AdbUSBHandle ----

AdbUSBHandle::AdbUSBHandle(std::unique_ptr<AdbTransport> transport, const QString &serial)
    : d(std::make_shared<Private>(std::move(transport), serial))
{
    d->start();
}

AdbUSBHandle::~AdbUSBHandle()
{
    close(u"device handle released"_s);
    // The last reference may go on the reader thread itself (a close listener dropping it); it then ends alone.
    if (d->reader.get_id() == std::this_thread::get_id())
        d->reader.detach();
    else if (d->reader.joinable())
        d->reader.join();
}

std::shared_ptr<AdbUSBHandle> AdbUSBHandle::connectTcp(const QString &host, quint16 port, const QString &serial,
                                                       int timeoutMs, QString *error)
{
    auto transport = AdbTcpTransport::connect(host, port, timeoutMs, error);
    if (!transport)
        return nullptr;
    return std::make_shared<AdbUSBHandle>(std::move(transport),
                                          serial.isEmpty() ? u"%1:%2"_s.arg(host).arg(port) : serial);
}

QString AdbUSBHandle::serial() const
{
    return d->serial;
}

QString AdbUSBHandle::model() const
{
    std::lock_guard lock(d->mutex);
    return d->banner.props.value(u"ro.product.model"_s);
}

QString AdbUSBHandle::product() const
{
    std::lock_guard lock(d->mutex);
    return d->banner.props.value(u"ro.product.name"_s);
}

QString AdbUSBHandle::deviceName() const
{
    std::lock_guard lock(d->mutex);
    return d->banner.props.value(u"ro.product.device"_s);
}

QString AdbUSBHandle::name() const
{
    QString n = model();
    if (n.isEmpty())
        n = product();
    return n.isEmpty() ? serial() : n;
}

QStringList AdbUSBHandle::features() const
{
    std::lock_guard lock(d->mutex);
    return d->banner.features;
}

bool AdbUSBHandle::hasFeature(const QString &feature) const
{
    return features().contains(feature);
}

quint32 AdbUSBHandle::protocolVersion() const
{
    std::lock_guard lock(d->mutex);
    return d->version;
}

quint32 AdbUSBHandle::maxPayload() const
{
    return d->maxPayload();
}

AdbUSBHandle::State AdbUSBHandle::state() const
{
    std::lock_guard lock(d->mutex);
    return d->state;
}

bool AdbUSBHandle::answered() const
{
    return d->transport->heardFrom();
}

QString AdbUSBHandle::errorString() const
{
    std::lock_guard lock(d->mutex);
    return d->error;
}

bool AdbUSBHandle::waitForAuth2(int timeoutMs)
{
    std::unique_lock lock(d->mutex);
    d->cond.wait_for(lock, std::chrono::milliseconds(qMax(0, timeoutMs)),
                     [this] { return d->state == State::Online || d->state == State::Offline; });
    return d->state == State::Online;
}

AdbUSBHandle::State AdbUSBHandle::waitForHandshake(int timeoutMs)
{
    std::unique_lock lock(d->mutex);
    d->cond.wait_for(lock, std::chrono::milliseconds(qMax(0, timeoutMs)), [this] {
        return d->state == State::Online || d->state == State::Offline || d->state == State::Unauthorized;
    });
    return d->state;
}

std::shared_ptr<AdbStream> AdbUSBHandle::openStream(const QString &service, int timeoutMs)
{
    std::shared_ptr<AdbStream> stream;
    {
        std::lock_guard lock(d->mutex);
        if (d->state != State::Online) {
            throw AdbError(d->state == State::Offline
                               ? d->error
                               : u"device %1 is not online (not authorised yet)"_s.arg(d->serial));
        }
        const quint32 id = d->nextId++;
        stream = std::make_shared<AdbStream>(d, id, 0);
        d->streams.emplace(id, stream);
    }
    QString error;
    QByteArray name = service.toUtf8();
    name.append('\0');
    if (!d->sendPacket(A_OPEN, stream->localId(), 0, name) || !stream->waitOpen(timeoutMs, &error)) {
        stream->close();
        if (error.isEmpty())
            error = errorString();
        throw AdbError(u"device %1, service \"%2\": %3"_s.arg(d->serial, service, error));
    }
    return stream;
}

void AdbUSBHandle::close(const QString &reason)
{
    {
        std::lock_guard lock(d->mutex);
        if (d->state == State::Offline || d->closing)
            return;
        d->closing = true;
        d->closeReason = reason.isEmpty() ? u"closed"_s : reason;
    }
    d->transport->shutdown();
}

int AdbUSBHandle::addCloseListener(std::function<void()> listener)
{
    std::unique_lock lock(d->mutex);
    if (d->state == State::Offline) {
        lock.unlock();
        listener();
        return 0;
    }
    const int id = d->nextListener++;
    d->listeners.emplace(id, std::move(listener));
    return id;
}

void AdbUSBHandle::removeCloseListener(int id)
{
    std::lock_guard lock(d->mutex);
    d->listeners.erase(id);
}

// ---- services ----

namespace {

[[noreturn]] void fail(const char *call, const PAdbUSBHandle &device, const QString &what)
{
    throw AdbError(u"%1, device %2: %3"_s.arg(QLatin1String(call), device->serial(), what));
}

QByteArray runShell(const PAdbUSBHandle &device, const QString &command, QByteArray *errorOutput, int *exitCode)
{
    const bool v2 = device->hasFeature(u"shell_v2"_s);
    std::shared_ptr<AdbStream> stream;
    try {
        stream = device->openStream((v2 ? u"shell,v2,raw:"_s : u"shell:"_s) + command);
    } catch (const AdbError &e) {
        throw AdbError(u"adbShell, %1"_s.arg(QString::fromUtf8(e.what())));
    }
    QString error;
    QByteArray out;
    ShellV2Parser parser;
    int code = -1;
    // stdin stays unused; closing it keeps commands that read it from waiting. A quick command may have ended
    // (and closed the stream) before this goes out: its output is still queued, so a failed write is no error.
    if (v2) {
        QString ignored;
        stream->write(shellFrame(ShellCloseStdin, {}), kShellIdleTimeoutMs, &ignored);
    }
    for (;;) {
        QByteArray chunk;
        const AdbStream::Read r = stream->read(&chunk, kShellIdleTimeoutMs, &error);
        if (r == AdbStream::Read::End)
            break;
        if (r != AdbStream::Read::Data) {
            stream->close();
            fail("adbShell", device, u"\"%1\": %2"_s.arg(command, error));
        }
        if (!v2) {
            out.append(chunk);
            continue;
        }
        parser.feed(chunk);
        quint8 id;
        QByteArray data;
        while (parser.next(&id, &data, &error)) {
            if (id == ShellStdout)
                out.append(data);
            else if (id == ShellStderr && errorOutput)
                errorOutput->append(data);
            else if (id == ShellExit && !data.isEmpty())
                code = quint8(data.at(0));
        }
        if (!error.isEmpty()) {
            stream->close();
            device->close(error);
            fail("adbShell", device, error);
        }
    }
    stream->close();
    if (!v2)
        out.replace("\r\n", "\n"); // commands ran under a terminal before the shell protocol
    if (exitCode)
        *exitCode = code;
    return out;
}

} // namespace

QByteArray adbShell(PAdbUSBHandle device, QString command, bool *ok, QByteArray *errorOutput, int *exitCode)
{
    if (ok)
        *ok = false;
    if (exitCode)
        *exitCode = -1;
    try {
        if (!device)
            throw AdbError(u"adbShell, no device"_s);
        QByteArray out = runShell(device, command, errorOutput, exitCode);
        if (ok)
            *ok = true;
        return out;
    } catch (const AdbError &e) {
        if (!ok)
            throw;
        if (errorOutput)
            *errorOutput = e.what();
        return {};
    }
}

bool adbPush(PAdbUSBHandle device, const QByteArray &data, const QString &remotePath, int mode, QString *error)
{
    QString err;
    try {
        if (!device)
            throw AdbError(u"adbPush, no device"_s);
        auto stream = device->openStream(u"sync:"_s);
        const quint32 batch = qMax<quint32>(device->maxPayload(), kSyncDataChunk + 8);
        QByteArray buffer = syncRecord("SEND", (remotePath + u",%1"_s.arg(mode)).toUtf8());
        bool sent = true;
        for (qsizetype pos = 0; sent && pos < data.size(); pos += kSyncDataChunk) {
            buffer.append(syncRecord("DATA", data.mid(pos, kSyncDataChunk)));
            if (quint32(buffer.size()) >= batch) {
                sent = stream->write(buffer, kShellIdleTimeoutMs, &err);
                buffer.clear();
            }
        }
        if (data.isEmpty())
            buffer.append(syncRecord("DATA", QByteArrayView()));
        buffer.append(syncRecord("DONE", quint32(QDateTime::currentSecsSinceEpoch())));
        if (sent)
            sent = stream->write(buffer, kShellIdleTimeoutMs, &err);
        // The device may have refused early (FAIL before DONE) and closed: its answer is still queued.
        QByteArray reply;
        QString readErr;
        if (stream->readExact(8, &reply, kShellIdleTimeoutMs, &readErr) != AdbStream::Read::Data) {
            stream->close();
            fail("adbPush", device, sent ? readErr : err);
        }
        if (reply.startsWith("FAIL")) {
            QByteArray message;
            stream->readExact(qMin<quint32>(readU32(reply.constData() + 4), 4096), &message, 5000, &readErr);
            stream->close();
            fail("adbPush", device, u"%1: %2"_s.arg(remotePath, QString::fromUtf8(message)));
        }
        if (!reply.startsWith("OKAY")) {
            stream->close();
            device->close(u"bad sync reply"_s);
            fail("adbPush", device, u"bad sync reply"_s);
        }
        stream->write(syncRecord("QUIT", quint32(0)), 5000, &err);
        stream->close();
        return true;
    } catch (const AdbError &e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        return false;
    }
}

bool adbInstallLegacy(PAdbUSBHandle device, QString localApkPath, QString options, QString *error)
{
    QString err;
    QFile file(localApkPath);
    if (!device) {
        err = u"adbInstallLegacy, no device"_s;
    } else if (!file.open(QIODevice::ReadOnly)) {
        err = u"adbInstallLegacy, can not read %1: %2"_s.arg(localApkPath, file.errorString());
    } else {
        const QByteArray bytes = file.readAll();
        // Device paths come from our own file name, reduced to harmless characters.
        QString base = QFileInfo(localApkPath).fileName();
        base.replace(QRegularExpression(u"[^A-Za-z0-9._-]"_s), u"_"_s);
        if (base.isEmpty() || base.startsWith(QLatin1Char('.')))
            base.prepend(u"package"_s);
        const QString remote = u"/data/local/tmp/"_s + base;
        if (!adbPush(device, bytes, remote, 0644, &err)) {
            err = u"adbInstallLegacy, %1"_s.arg(err);
        } else {
            QString command = u"pm install"_s;
            for (const QString &opt : options.split(QLatin1Char(' '), Qt::SkipEmptyParts))
                command += QLatin1Char(' ') + shellQuote(opt);
            command += QLatin1Char(' ') + shellQuote(remote);
            bool ok = false;
            QByteArray stderrText;
            const QByteArray out = adbShell(device, command, &ok, &stderrText);
            if (!ok)
                err = u"adbInstallLegacy, %1"_s.arg(QString::fromUtf8(stderrText));
            else if (!out.contains("Success"))
                err = QString::fromUtf8(out + stderrText).trimmed();
            if (err.isEmpty() && !out.contains("Success"))
                err = u"adbInstallLegacy, pm install gave no answer"_s;
            bool removed = false;
            adbShell(device, u"rm -f "_s + shellQuote(remote), &removed);
        }
    }
    if (err.isEmpty())
        return true;
    if (error)
        *error = err;
    return false;
}

QThreadPool *adbThreadPool()
{
    // Never destroyed: a forward connection still blocked at exit must not hold the process.
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(256);
        return p;
    }();
    return pool;
}
