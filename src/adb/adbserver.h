#pragma once

#include "adb/adbtransport.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// Client side of an adb server's host protocol (the "smart socket" on 127.0.0.1:5037): each request is four hex
// digits of length and the service name; the server answers "OKAY", or "FAIL" with a length-prefixed message.
// Nothing here waits without a limit: a server that answers garbage or nothing at all gives an error text.
namespace adbserver {

// The port an adb server listens on: ANDROID_ADB_SERVER_PORT when it holds a valid port, else 5037 (what adb
// itself reads).
quint16 serverPort();

// One connection to the server, blocking calls with timeouts, closed on destruction.
class HostSocket
{
public:
    explicit HostSocket(quint16 port) : m_port(port) {}
    ~HostSocket();
    HostSocket(const HostSocket &) = delete;
    HostSocket &operator=(const HostSocket &) = delete;

    bool connect(int timeoutMs, QString *error);
    // Sends one request and reads the status: true on OKAY; on FAIL or anything else false with error set.
    bool request(const QString &service, int timeoutMs, QString *error);
    // A length-prefixed reply ("000c" + 12 bytes).
    bool readBlock(QByteArray *out, int timeoutMs, QString *error);
    // Exactly len bytes, or false with error set (timeout, end of stream).
    bool readExact(char *data, qsizetype len, int timeoutMs, QString *error);
    // Hands the socket over (for a service stream); the object no longer closes it.
    int release();
    int fd() const { return m_fd; }
    quint16 port() const { return m_port; }

private:
    quint16 m_port;
    int m_fd = -1;
};

// What a listener on the server port turned out to be.
struct Probe
{
    bool listening = false;   // something accepted the connection
    bool isAdbServer = false; // it answered "host:version" with OKAY and a version
    int version = 0;          // the server's protocol version (adb 29 says 41)
    QString error;            // why it is not an adb server, when it is not
};
Probe probe(quint16 port, int timeoutMs = 2000);

// One-shot request with a length-prefixed answer ("host:devices-l", "host-serial:S:features").
std::optional<QByteArray> query(quint16 port, const QString &service, int timeoutMs, QString *error);
// Asks the server to exit ("host:kill") and waits up to timeoutMs for its port to close.
bool killServer(quint16 port, int timeoutMs, QString *error);

// One line of "host:track-devices" or "host:devices-l": serial, state ("device", "unauthorized", "offline",
// "recovery", "sideload", "no permissions (…)", …) and, for devices-l, the product:/model:/device: words.
struct DeviceEntry
{
    QString serial;
    QString state;
    QMap<QString, QString> props;
    bool operator==(const DeviceEntry &) const = default;
};
// Lines without a serial and a state are skipped; the long form separates its fields by runs of blanks.
QList<DeviceEntry> parseDevices(const QByteArray &text);

// Follows "host:track-devices" on its own thread and keeps the newest list; reconnects every couple of seconds
// while the server is away. changed() runs on that thread after every new list or lost connection.
class Tracker
{
public:
    Tracker(quint16 port, std::function<void()> changed);
    ~Tracker();
    Tracker(const Tracker &) = delete;
    Tracker &operator=(const Tracker &) = delete;

    // The newest list (empty while not connected) and the last error (empty while the list is current).
    QList<DeviceEntry> devices() const;
    QString error() const;
    // Whether at least one list has arrived since the start.
    bool hasListed() const;

private:
    struct Private;
    std::shared_ptr<Private> d;
};

class ServerLink;
// The server's newest state for the device behind a link; "device" (or recovery, sideload, …) after
// "unauthorized" answers the pending handshake.
void setDeviceState(const std::shared_ptr<ServerLink> &link, const QString &state);

// The adb packet face of one device reached through the server. The program's device handle speaks CNXN, AUTH
// and streams to it as to a phone; each OPEN becomes its own server connection ("host:transport:SERIAL", then
// the service), whose bytes come back as WRTE packets with the usual one-in-flight flow control. A device the
// server lists as "unauthorized" answers CNXN with AUTH tokens, so the handle offers its key and waits as for a
// phone showing its "Allow USB debugging" prompt; setDeviceState(…, "device") then completes the connection.
class ServerTransport : public AdbTransport
{
public:
    ServerTransport(quint16 port, const QString &serial, const QString &state);
    ~ServerTransport() override;

    bool writeMessage(const adbproto::Message &msg, QString *error) override;
    void shutdown() override;
    QString describe() const override;
    std::shared_ptr<ServerLink> link() const { return m_link; }

protected:
    bool readExact(char *data, qsizetype len, QString *error) override;

private:
    std::shared_ptr<ServerLink> m_link;
};

// Blocking helper shared by ServerTransport and the poller: the banner a device reached through the server
// presents (its state as the banner type, product/model/device from devices-l, features from the server).
QByteArray bannerFor(quint16 port, const QString &serial, const QString &state, int timeoutMs);

} // namespace adbserver
