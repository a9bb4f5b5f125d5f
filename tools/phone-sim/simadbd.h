#pragma once

#include "adbprotocol.h"
#include "threadgroup.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

class SimPhone;

struct SimAdbdConfig
{
    quint32 version = adbproto::kVersionSkipChecksum;
    quint32 maxData = adbproto::kMaxPayload;
    QStringList features = {QStringLiteral("shell_v2"), QStringLiteral("stat_v2"), QStringLiteral("fixed_push_mkdir")};
    // AUTH: the host must sign a token with a trusted key or offer its public key, which the "user" allows after
    // acceptKeyAfterMs (-1: only when acceptPendingKeys() is called).
    bool requireAuth = false;
    int acceptKeyAfterMs = 0;
    // Fault: drop the whole connection halfway through the output of shell commands starting with this text.
    QString dropMidShell;
};

// The simulated phone's adbd over TCP on 127.0.0.1: strict about the protocol as a real device is (headers,
// checksums where the version needs them, flow control), serving shell, sync and tcp:PORT streams.
class SimAdbd
{
public:
    SimAdbd(SimPhone *phone, SimAdbdConfig config);
    ~SimAdbd();

    // port 0 picks a free port; port() tells which.
    bool listen(quint16 port, QString *error);
    quint16 port() const { return m_port; }
    void stop();

    void trustKey(const QByteArray &publicKeyLine);
    // Public keys the host offered (Base64, as in adb_keys), and how many signatures checked out.
    QList<QByteArray> offeredKeys() const;
    int goodSignatures() const { return m_goodSignatures; }
    // The user taps "Allow" for every offered key: each waiting connection comes online.
    void acceptPendingKeys();
    // Like pulling the cable: every connection drops.
    void dropConnections();
    // Why connections were dropped ("protocol error: …"), for tests.
    QStringList errors() const;

    class Connection;

private:
    friend class Connection;
    void acceptLoop();
    void noteError(const QString &text);

    SimPhone *m_phone;
    const SimAdbdConfig m_config;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_goodSignatures{0};
    mutable std::mutex m_mutex;
    QList<QByteArray> m_trusted;
    QList<QByteArray> m_offered;
    QStringList m_errors;
    QList<std::shared_ptr<Connection>> m_connections;
    ThreadGroup m_threads;
};
