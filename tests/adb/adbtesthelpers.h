#pragma once

#include "adb/adb.h"
#include "adb/adbtransport.h"
#include "adbdgeneration.h"
#include "simadbd.h"
#include "simphone.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

#include <sys/socket.h>
#include <unistd.h>

// A simulated phone running in the test process, its adbd on a free loopback port.
struct InProcessPhone
{
    explicit InProcessPhone(const SimAdbdConfig &config = adbdUnderTest(),
                            const QString &name = QStringLiteral("Test Phone"))
        : phone(name, QStringLiteral("SIM42")), adbd(&phone, config)
    {
        QString error;
        started = adbd.listen(0, &error);
    }
    QString endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(adbd.port()); }
    PAdbUSBHandle connect() const
    {
        QString error;
        return AdbUSBHandle::connectTcp(QStringLiteral("127.0.0.1"), adbd.port(), QString(), 2000, &error);
    }

    SimPhone phone; // declared first: adbd goes first
    SimAdbd adbd;
    bool started = false;
};

inline QByteArray randomBytes(qsizetype n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (char &c : b)
        c = char(QRandomGenerator::global()->bounded(256));
    return b;
}

inline int connectLocal(quint16 port)
{
    QString error;
    return adbsocket::connectTcp(QStringLiteral("127.0.0.1"), port, 2000, &error);
}

// Reads exactly n bytes (fewer when the peer closes first); gives up after timeoutMs without data.
inline QByteArray recvExact(int fd, qsizetype n, int timeoutMs = 10000)
{
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    QByteArray out;
    char buf[65536];
    while (out.size() < n) {
        const qsizetype got = adbsocket::receive(fd, buf, qMin<qsizetype>(sizeof buf, n - out.size()));
        if (got <= 0)
            break;
        out.append(buf, got);
    }
    return out;
}
