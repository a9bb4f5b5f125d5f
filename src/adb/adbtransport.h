#pragma once

#include "adb/adbprotocol.h"

#include <QString>

#include <atomic>
#include <memory>

// One link to an adbd: a TCP socket (emulators, network phones, the simulator) or a claimed USB interface.
class AdbTransport
{
public:
    virtual ~AdbTransport() = default;
    // Blocks until one whole message has arrived; its header is checked (magic, command, length within
    // maxPayload) but not its checksum. False with error set when the link failed or the header is bad.
    bool readMessage(adbproto::Header *header, QByteArray *payload, quint32 maxPayload, QString *error);
    // Sends one message; callers serialise writes.
    virtual bool writeMessage(const adbproto::Message &msg, QString *error) = 0;
    // Makes blocked and later reads and writes fail; safe from any thread.
    virtual void shutdown() = 0;
    virtual QString describe() const = 0;
    // Whether a whole header (valid or not) has arrived.
    bool heardFrom() const { return m_heard; }

protected:
    // Reads exactly len bytes; a message header and its payload are read with separate calls.
    virtual bool readExact(char *data, qsizetype len, QString *error) = 0;

private:
    std::atomic<bool> m_heard{false};
};

class AdbTcpTransport : public AdbTransport
{
public:
    // Takes ownership of a connected socket.
    AdbTcpTransport(int fd, const QString &peer);
    ~AdbTcpTransport() override;
    static std::unique_ptr<AdbTcpTransport> connect(const QString &host, quint16 port, int timeoutMs, QString *error);
    bool writeMessage(const adbproto::Message &msg, QString *error) override;
    void shutdown() override;
    QString describe() const override { return m_peer; }

protected:
    bool readExact(char *data, qsizetype len, QString *error) override;

private:
    int m_fd;
    QString m_peer;
    std::atomic<bool> m_shut{false};
};

// Small POSIX socket helpers shared with the forwarder and the simulated phone.
namespace adbsocket {
// Connected socket or -1 with error set; connect waits at most timeoutMs.
int connectTcp(const QString &host, quint16 port, int timeoutMs, QString *error);
// Listening socket on 127.0.0.1:port (0 = any free port, reported in *bound) or -1 with error set.
int listenLoopback(quint16 port, quint16 *bound, QString *error);
// Accepts one connection; -1 on error. Waits at most timeoutMs (-1: no limit); *timedOut tells which.
int acceptOne(int listenFd, int timeoutMs, bool *timedOut);
bool sendAll(int fd, const char *data, qsizetype len);
// recv() that retries on EINTR; 0 at end of stream, -1 on error.
qsizetype receive(int fd, char *data, qsizetype len);
void closeFd(int fd);
} // namespace adbsocket
