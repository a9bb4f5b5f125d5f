#pragma once

#include <QByteArray>
#include <QString>

typedef struct ssl_st SSL;

// One connection of the simulated phone, plain or (for a lockdown session) under TLS on the same socket. Reads are
// exact: nothing is read ahead, so a TLS handshake can start right after a plain message.
class SimChannel
{
public:
    explicit SimChannel(int fd) : m_fd(fd) {}
    ~SimChannel();
    SimChannel(const SimChannel &) = delete;
    SimChannel &operator=(const SimChannel &) = delete;

    int fd() const { return m_fd; }
    bool tls() const { return m_ssl != nullptr; }
    // Server side of a TLS handshake with the device certificate; the host must present the pair record's root or
    // host certificate.
    bool startTls(QString *error);
    // Leaves TLS without a close_notify of our own (the host closes right after its own), back to plain.
    void endTls();
    // The host ended TLS with a close_notify (seen by the last read).
    bool tlsClosedByPeer() const { return m_tlsClosed; }

    bool readExact(char *buffer, qsizetype n);
    bool writeAll(const QByteArray &bytes);
    // A frame of lockdown and the device link: a 4-byte big-endian length, then that many bytes (at most max).
    bool readFrame(QByteArray *payload, quint32 max = 16u << 20);
    bool writeFrame(const QByteArray &payload);

private:
    int m_fd;
    SSL *m_ssl = nullptr;
    bool m_tlsClosed = false;
};

namespace simtls {
// Once per process: the server context, and SIGPIPE ignored (a host that hangs up must not end the simulator).
bool init(QString *error);
} // namespace simtls
