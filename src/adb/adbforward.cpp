#include "adb/adbforward.h"

#include "adb/adbstream.h"
#include "adb/adbtransport.h"
#include "adb/log.h"

#include <QDebug>
#include <QThreadPool>

#include <map>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kFlushTimeoutMs = 30000;

// One accepted local connection and its stream; the socket closes when both pumps are done with it.
struct Connection
{
    explicit Connection(int f) : fd(f) {}
    ~Connection() { adbsocket::closeFd(fd); }
    const int fd;
    std::shared_ptr<AdbStream> stream;
};

// Device to local socket. When the device ends the stream, the local client sees end of stream.
void pumpDown(const std::shared_ptr<Connection> &c)
{
    for (;;) {
        QByteArray chunk;
        QString error;
        if (c->stream->read(&chunk, -1, &error) != AdbStream::Read::Data)
            break;
        if (!adbsocket::sendAll(c->fd, chunk.constData(), chunk.size()))
            break;
    }
    c->stream->close();
    ::shutdown(c->fd, SHUT_RDWR); // wakes pumpUp
}

// Local socket to device. Every byte read before the local end of stream reaches the device before our CLSE:
// a client that writes and closes at once must not lose its data.
void pumpUp(const std::shared_ptr<Connection> &c, quint32 chunkSize)
{
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    QString error;
    for (;;) {
        const qsizetype n = adbsocket::receive(c->fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        if (!c->stream->write(buffer.left(n), kFlushTimeoutMs, &error))
            break;
    }
    c->stream->flush(kFlushTimeoutMs, &error);
    c->stream->close();
}

class Forwarder
{
public:
    Forwarder(PAdbUSBHandle dev, int listen, ushort local, ushort remote)
        : device(std::move(dev)), listenFd(listen), localPort(local), remotePort(remote),
          wakeFd(eventfd(0, EFD_CLOEXEC))
    {
        thread = std::thread([this] { acceptLoop(); });
    }
    ~Forwarder()
    {
        const quint64 one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd, &one, sizeof one);
        if (thread.joinable())
            thread.join();
        ::close(wakeFd);
        ::close(listenFd);
        if (listener)
            device->removeCloseListener(listener);
    }

    void acceptLoop()
    {
        for (;;) {
            pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return;
            bool timedOut;
            const int fd = adbsocket::acceptOne(listenFd, 0, &timedOut);
            if (fd < 0)
                continue;
            auto conn = std::make_shared<Connection>(fd);
            auto dev = device;
            const ushort remote = remotePort;
            adbThreadPool()->start([conn, dev, remote] {
                try {
                    conn->stream = dev->openStream(u"tcp:%1"_s.arg(remote));
                } catch (const AdbError &e) {
                    qCWarning(lcAdb).noquote() << "AdbForwardServer:" << e.what();
                    return;
                }
                adbThreadPool()->start([conn] { pumpDown(conn); });
                pumpUp(conn, qMin<quint32>(dev->maxPayload(), 256 * 1024));
            });
        }
    }

    PAdbUSBHandle device;
    const int listenFd;
    const ushort localPort;
    const ushort remotePort;
    const int wakeFd;
    int listener = 0;
    std::thread thread;
};

std::mutex g_mutex;
std::map<ushort, std::unique_ptr<Forwarder>> &forwards()
{
    // Never destroyed, like the pool: forwards still open at exit end with the process.
    static auto *map = new std::map<ushort, std::unique_ptr<Forwarder>>;
    return *map;
}

} // namespace

ushort AdbForwardServer::forward(PAdbUSBHandle device, ushort localPort, ushort remotePort, QString *error)
{
    QString err;
    if (!device || device->state() != AdbUSBHandle::State::Online) {
        err = device ? u"AdbForwardServer::forward, device %1 is not online"_s.arg(device->serial())
                     : u"AdbForwardServer::forward, no device"_s;
    } else {
        if (localPort != 0)
            remove(localPort); // a new forward of a port replaces the old one, as with adb
        quint16 bound = 0;
        const int fd = adbsocket::listenLoopback(localPort, &bound, &err);
        if (fd >= 0) {
            auto fw = std::make_unique<Forwarder>(device, fd, bound, remotePort);
            Forwarder *raw = fw.get();
            {
                std::lock_guard lock(g_mutex);
                forwards()[bound] = std::move(fw);
            }
            // The forward ends with its device; removal runs on a pool thread, away from the device's reader.
            raw->listener = device->addCloseListener([bound, raw] {
                adbThreadPool()->start([bound, raw] {
                    std::unique_ptr<Forwarder> gone;
                    {
                        std::lock_guard lock(g_mutex);
                        auto it = forwards().find(bound);
                        if (it != forwards().end() && it->second.get() == raw)
                            gone = std::move(it->second), forwards().erase(it);
                    }
                    if (gone)
                        gone->listener = 0;
                });
            });
            return bound;
        }
        err = u"AdbForwardServer::forward, %1"_s.arg(err);
    }
    if (error)
        *error = err;
    return 0;
}

bool AdbForwardServer::remove(ushort localPort)
{
    std::unique_ptr<Forwarder> gone;
    {
        std::lock_guard lock(g_mutex);
        auto it = forwards().find(localPort);
        if (it == forwards().end())
            return false;
        gone = std::move(it->second);
        forwards().erase(it);
    }
    return true;
}

void AdbForwardServer::removeAll()
{
    std::map<ushort, std::unique_ptr<Forwarder>> gone;
    {
        std::lock_guard lock(g_mutex);
        gone.swap(forwards());
    }
}
