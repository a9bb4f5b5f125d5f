#include "simwire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace simwire {

quint32 calculate_checksum(QByteArrayView payload)
{
    quint32 sum = 0;
    for (char c : payload)
        sum += quint8(c);
    return sum;
}

void put32(QByteArray *out, quint32 v)
{
    const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char((v >> 24) & 0xff)};
    out->append(b, 4);
}

void put64(QByteArray *out, quint64 v)
{
    put32(out, quint32(v & 0xffffffffu));
    put32(out, quint32(v >> 32));
}

quint32 get32(const char *p)
{
    return quint32(quint8(p[0])) | quint32(quint8(p[1])) << 8 | quint32(quint8(p[2])) << 16 |
           quint32(quint8(p[3])) << 24;
}

amessage parseHeader(const char bytes[kHeaderSize])
{
    amessage m;
    m.command = get32(bytes);
    m.arg0 = get32(bytes + 4);
    m.arg1 = get32(bytes + 8);
    m.data_length = get32(bytes + 12);
    m.data_check = get32(bytes + 16);
    m.magic = get32(bytes + 20);
    return m;
}

QString commandName(quint32 command)
{
    QString name;
    for (int i = 0; i < 4; ++i) {
        const char c = char((command >> (8 * i)) & 0xff);
        if (c < 'A' || c > 'Z')
            return u"0x%1"_s.arg(command, 8, 16, QLatin1Char('0'));
        name += QLatin1Char(c);
    }
    return name;
}

bool check_header(const amessage &msg, quint32 maxPayload, QString *why)
{
    if (msg.magic != (msg.command ^ 0xffffffffu)) {
        *why = u"check_header(): invalid magic %1"_s.arg(msg.magic, 8, 16, QLatin1Char('0'));
        return false;
    }
    if (msg.data_length > maxPayload) {
        *why = u"check_header(): %1 atransport::max_payload = %2"_s.arg(msg.data_length).arg(maxPayload);
        return false;
    }
    return true;
}

QByteArray serialize(const apacket &p)
{
    QByteArray out;
    out.reserve(kHeaderSize + p.payload.size());
    put32(&out, p.msg.command);
    put32(&out, p.msg.arg0);
    put32(&out, p.msg.arg1);
    put32(&out, p.msg.data_length);
    put32(&out, p.msg.data_check);
    put32(&out, p.msg.magic);
    out.append(p.payload);
    return out;
}

QByteArray shellPacket(quint8 id, QByteArrayView data)
{
    QByteArray out(1, char(id));
    put32(&out, quint32(data.size()));
    out.append(data);
    return out;
}

QByteArray syncMessage(const char id[4], quint32 value)
{
    QByteArray out(id, 4);
    put32(&out, value);
    return out;
}

QByteArray syncMessage(const char id[4], QByteArrayView data)
{
    QByteArray out = syncMessage(id, quint32(data.size()));
    out.append(data);
    return out;
}

} // namespace simwire

namespace simnet {

void closeFd(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

int listenLoopback(quint16 port, quint16 *bound, QString *error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        *error = u"can not listen on 127.0.0.1:%1: %2"_s.arg(port).arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    if (bound)
        *bound = ntohs(addr.sin_port);
    return fd;
}

int connectLoopback(quint16 port, int timeoutMs, QString *error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int rc = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        rc = ::poll(&p, 1, timeoutMs);
        int soError = 0;
        socklen_t len = sizeof soError;
        if (rc == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0)
            rc = 0;
        else {
            errno = rc == 0 ? ETIMEDOUT : (soError ? soError : errno);
            rc = -1;
        }
    }
    if (rc != 0) {
        *error = u"can not connect to 127.0.0.1:%1: %2"_s.arg(port).arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(fd);
        return -1;
    }
    // Blocking again: the relay reads and writes with plain calls.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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
        *timedOut = true;
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

} // namespace simnet
