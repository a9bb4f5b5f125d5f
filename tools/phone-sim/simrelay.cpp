#include "simrelay.h"

#include "simphone.h"
#include "simwire.h"

#include <QRegularExpression>
#include <QThread>

#include <poll.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace {
constexpr char kPackage[] = "com.tallowbrook.contactssync";
constexpr char kReceiver[] = "com.tallowbrook.contactssync/.AdbSyncBroadcastReceiver";
} // namespace

SimRelay::SimRelay(SimPhone *phone, quint16 companionWifiPort) : m_phone(phone), m_wifiPort(companionWifiPort)
{
    m_phone->setBroadcastHandler([this, life = m_life](const QString &url, const QString &component) {
        std::lock_guard guard(life->mutex);
        if (life->alive)
            onBroadcast(url, component);
    });
}

SimRelay::~SimRelay()
{
    {
        std::lock_guard guard(m_life->mutex);
        m_life->alive = false;
    }
    m_stop = true;
    m_phone->setBroadcastHandler({});
    // Relays run on the phone's threads: wait until none uses this object (each sees m_stop within 200 ms).
    while (m_active > 0)
        QThread::msleep(50);
}

void SimRelay::onBroadcast(const QString &url, const QString &component)
{
    if (component != QLatin1String(kReceiver) || !m_phone->hasPackage(QLatin1String(kPackage)))
        return;
    static const QRegularExpression re(QRegularExpression::anchoredPattern(u"sync://(backup|restore):([0-9]{1,5})/"_s));
    const QRegularExpressionMatch m = re.match(url);
    const uint port = m.captured(2).toUInt();
    if (!m.hasMatch() || port == 0 || port > 65535)
        return;
    // A free port of this computer for the app's session (the session port itself is the program's forward).
    QString error;
    quint16 hostPort = 0;
    const int probe = simnet::listenLoopback(0, &hostPort, &error);
    if (probe < 0)
        return;
    simnet::closeFd(probe);
    const int wifi = simnet::connectLoopback(m_wifiPort, 3000, &error);
    if (wifi < 0) {
        m_phone->log(u"E ContactsSync: relay: no companion on port %1: %2"_s.arg(m_wifiPort).arg(error));
        return;
    }
    const QByteArray request = m.captured(1).toLatin1() + "://127.0.0.1:" + QByteArray::number(hostPort) + "/\n";
    simnet::sendAll(wifi, request.constData(), request.size());
    simnet::closeFd(wifi);
    m_phone->log(u"I ContactsSync: %1 session on port %2, relayed to %3"_s.arg(m.captured(1)).arg(port).arg(hostPort));
    const quint16 inside = quint16(port);
    m_phone->listen(inside, [this, life = m_life, inside, hostPort](int fd) {
        {
            std::lock_guard guard(life->mutex);
            if (!life->alive) {
                simnet::closeFd(fd);
                return;
            }
            ++m_active;
        }
        m_phone->unlisten(inside); // one connection per broadcast, as the app does
        relay(fd, hostPort);
        --m_active;
    });
}

void SimRelay::relay(int phoneFd, quint16 hostPort)
{
    // The app binds its session port once it has read the request: give it a moment.
    int hostFd = -1;
    QString error;
    for (int attempt = 0; attempt < 50 && hostFd < 0 && !m_stop; ++attempt) {
        hostFd = simnet::connectLoopback(hostPort, 1000, &error);
        if (hostFd < 0)
            QThread::msleep(100);
    }
    if (hostFd < 0) {
        simnet::closeFd(phoneFd);
        return;
    }
    pollfd fds[2] = {{phoneFd, POLLIN, 0}, {hostFd, POLLIN, 0}};
    char buf[65536];
    while (!m_stop) {
        if (::poll(fds, 2, 200) <= 0)
            continue;
        bool done = false;
        for (int i = 0; i < 2 && !done; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const qsizetype n = simnet::receive(fds[i].fd, buf, sizeof buf);
            if (n <= 0 || !simnet::sendAll(fds[1 - i].fd, buf, n))
                done = true;
        }
        if (done)
            break;
    }
    // Whichever side ended, the other one is told by the close.
    ::shutdown(hostFd, SHUT_RDWR);
    simnet::closeFd(hostFd);
    simnet::closeFd(phoneFd);
}
