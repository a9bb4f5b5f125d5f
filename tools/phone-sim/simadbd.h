#pragma once

#include "threadgroup.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

class SimPhone;

// The adbd a user meets, by the Android version the phone runs.
enum class SimAdbdGeneration {
    Legacy,  // Android 8 and older: protocol 0x01000000, sums sent and checked, 4096-byte packets
    Pie,     // Android 9 and 10: 0x01000001 (zero sums once the host announces it), 256 KiB, a late framework
             // makes adbd send a fresh AUTH token after the host offered its key
    Current, // Android 11 and newer: 0x01000001, 1 MiB, "delayed_ack" among the banner features
};

struct SimAdbdConfig
{
    // The settings of a generation; the defaults are Current.
    static SimAdbdConfig forGeneration(SimAdbdGeneration generation);
    // "legacy", "pie", "current"; false for anything else.
    static bool parseGeneration(const QString &text, SimAdbdGeneration *out);

    SimAdbdGeneration generation = SimAdbdGeneration::Current;
    // The version adbd speaks; below 0x01000001 it also checks the sum of every packet it receives.
    quint32 version = 0x01000001;
    quint32 maxData = 1024 * 1024;
    QStringList features = {QStringLiteral("shell_v2"), QStringLiteral("stat_v2"), QStringLiteral("fixed_push_mkdir"),
                            QStringLiteral("delayed_ack")};
    // The banner's type: "device" normally; "recovery", "sideload", "rescue" or "bootloader" in those modes.
    QString bannerType = QStringLiteral("device");
    // AUTH: the host must sign a token with a trusted key or offer its public key, which the "user" allows after
    // acceptKeyAfterMs (-1: only when acceptPendingKeys() is called).
    bool requireAuth = false;
    int acceptKeyAfterMs = 0;
    // Android 4.2 to 10: the framework that shows the "Allow" prompt is not connected yet when the first public
    // key arrives ("Client not connected"); it connects this long after, and adbd then sends a fresh token.
    // -1: the framework is there from the start.
    int lateFrameworkMs = -1;
    // Leftovers of an earlier connection (WRTE, OKAY and CLSE of a stream gone) reach the host before anything
    // else, as they do over USB.
    bool stalePackets = false;
    // Fault: drop the whole connection halfway through the output of shell commands starting with this text.
    QString dropMidShell;
};

// The simulated phone's adbd over TCP on 127.0.0.1, following AOSP's device side (adb.cpp handle_packet and
// handle_new_connection, adbd_auth.cpp, sockets.cpp): strict where adbd is (headers, sums on old versions,
// maxdata), lenient where it is (packets before CNXN, unknown commands, packets for unknown streams are ignored),
// serving shell, sync and tcp:PORT streams.
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
    // Public keys the user was asked about (Base64, as in adb_keys), and how many signatures checked out.
    QList<QByteArray> offeredKeys() const;
    int goodSignatures() const { return m_goodSignatures; }
    // AUTH tokens sent so far, on all connections.
    int tokensSent() const { return m_tokensSent; }
    // The user taps "Allow" for every key they were asked about: each waiting connection comes online.
    void acceptPendingKeys();
    // Like pulling the cable: every connection drops.
    void dropConnections();
    // Why connections were dropped ("protocol error: …"), for tests.
    QStringList errors() const;
    const SimAdbdConfig &config() const { return m_config; }

    class Connection;

private:
    friend class Connection;
    void acceptLoop();
    void noteError(const QString &text);
    // Whether the framework that shows the "Allow" prompt is connected; if not, the connection is told
    // (needs_retry) when it connects.
    bool frameworkConnected(std::weak_ptr<Connection> waiting);

    SimPhone *m_phone;
    const SimAdbdConfig m_config;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_goodSignatures{0};
    std::atomic<int> m_tokensSent{0};
    mutable std::mutex m_mutex;
    QList<QByteArray> m_trusted;
    QList<QByteArray> m_offered;
    QStringList m_errors;
    QList<std::shared_ptr<Connection>> m_connections;
    bool m_frameworkUp = true;
    bool m_frameworkStarting = false;
    QList<std::weak_ptr<Connection>> m_frameworkWaiters;
    ThreadGroup m_threads;
};
