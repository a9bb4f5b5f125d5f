#include "adb/adbtransport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
QString errnoText(int err)
{
    return QString::fromLocal8Bit(strerror(err));
}
} // namespace

bool AdbTransport::readMessage(adbproto::Header *header, QByteArray *payload, quint32 maxPayload, QString *error)
{
    char raw[adbproto::kHeaderSize];
    if (!readExact(raw, sizeof raw, error))
        return false;
    m_heard = true;
    if (!adbproto::decodeHeader(raw, header, maxPayload, error))
        return false;
    payload->resize(header->length);
    return header->length == 0 || readExact(payload->data(), header->length, error);
}

// ---- socket helpers ----

namespace adbsocket {

void closeFd(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

int connectTcp(const QString &host, quint16 port, int timeoutMs, QString *error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    const QByteArray portText = QByteArray::number(port);
    const int rc = getaddrinfo(host.toUtf8().constData(), portText.constData(), &hints, &res);
    if (rc != 0) {
        *error = u"can not resolve %1: %2"_s.arg(host, QString::fromLocal8Bit(gai_strerror(rc)));
        return -1;
    }
    int fd = -1;
    for (addrinfo *ai = res; ai; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0)
            continue;
        int err = 0;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                pollfd p{fd, POLLOUT, 0};
                const int n = ::poll(&p, 1, timeoutMs);
                socklen_t len = sizeof err;
                if (n <= 0)
                    err = ETIMEDOUT;
                else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
            }
        }
        if (err == 0)
            break;
        *error = u"can not connect to %1:%2: %3"_s.arg(host).arg(port).arg(errnoText(err));
        ::close(fd);
        fd = -1;
    }
    freeaddrinfo(res);
    if (fd < 0)
        return -1;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    return fd;
}

int listenLoopback(quint16 port, quint16 *bound, QString *error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errnoText(errno);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        *error = u"can not listen on 127.0.0.1:%1: %2"_s.arg(port).arg(errnoText(errno));
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    if (bound)
        *bound = ntohs(addr.sin_port);
    return fd;
}

int acceptOne(int listenFd, int timeoutMs, bool *timedOut)
{
    *timedOut = false;
    pollfd p{listenFd, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n == 0) {
        *timedOut = true;
        return -1;
    }
    if (n < 0 || !(p.revents & POLLIN))
        return -1;
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    } else if (errno == EAGAIN || errno == ECONNABORTED || errno == EINTR) {
        *timedOut = true; // nothing to take after all; let the caller loop
    }
    return fd;
}

bool sendAll(int fd, const char *data, qsizetype len)
{
    while (len > 0) {
        const ssize_t n = ::send(fd, data, size_t(len), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        len -= n;
    }
    return true;
}

qsizetype receive(int fd, char *data, qsizetype len)
{
    for (;;) {
        const ssize_t n = ::recv(fd, data, size_t(len), 0);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

} // namespace adbsocket

// ---- TCP transport ----

AdbTcpTransport::AdbTcpTransport(int fd, const QString &peer) : m_fd(fd), m_peer(peer)
{
    // A peer that stops reading must not hold our writers forever.
    timeval tv{20, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

AdbTcpTransport::~AdbTcpTransport()
{
    ::close(m_fd);
}

std::unique_ptr<AdbTcpTransport> AdbTcpTransport::connect(const QString &host, quint16 port, int timeoutMs,
                                                          QString *error)
{
    const int fd = adbsocket::connectTcp(host, port, timeoutMs, error);
    if (fd < 0)
        return nullptr;
    return std::make_unique<AdbTcpTransport>(fd, u"%1:%2"_s.arg(host).arg(port));
}

bool AdbTcpTransport::readExact(char *data, qsizetype len, QString *error)
{
    while (len > 0) {
        const qsizetype n = adbsocket::receive(m_fd, data, len);
        if (n <= 0) {
            if (m_shut)
                *error = u"connection closed"_s;
            else
                *error = n == 0 ? u"device closed the connection"_s : u"read failed: %1"_s.arg(errnoText(errno));
            return false;
        }
        data += n;
        len -= n;
    }
    return true;
}

bool AdbTcpTransport::writeMessage(const adbproto::Message &msg, QString *error)
{
    const QByteArray bytes = adbproto::encode(msg);
    if (m_shut || !adbsocket::sendAll(m_fd, bytes.constData(), bytes.size())) {
        *error = m_shut ? u"connection closed"_s : u"write failed: %1"_s.arg(errnoText(errno));
        return false;
    }
    return true;
}

void AdbTcpTransport::shutdown()
{
    m_shut = true;
    ::shutdown(m_fd, SHUT_RDWR);
}
