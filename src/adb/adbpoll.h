#pragma once

#include "adb/adb.h"

#include <QThread>

#include <memory>

// A device poller: a thread that looks for adb devices every period milliseconds and reports them with
// newDevice (connected, handshake under way or done: waitForAuth2 tells whether it accepted us), kickDevice
// (gone; its pending calls have failed) and failedDevice (found but unusable: no permission, busy, no answer).
class AbsAdbPoll : public QThread
{
    Q_OBJECT
public:
    AbsAdbPoll(int periodMs, QObject *parent);
    ~AbsAdbPoll() override;

    // Ends polling; the devices found are closed when the thread ends.
    void stop();
    QList<PAdbUSBHandle> devices() const;
    // Why the device reported by failedDevice(serial) can not be used ("the phone is in recovery mode", "no
    // permissions …"); empty once it works or is gone.
    QString failure(const QString &serial) const;
    // Whether a device found is still being opened (connect and handshake under way).
    bool opening() const;

Q_SIGNALS:
    void newDevice(QString serial, PAdbUSBHandle device);
    void kickDevice(QString serial, PAdbUSBHandle device);
    void failedDevice(QString serial);

protected:
    void run() override;
    virtual void beginPolling() {}
    // One round on the poller thread; must not block for long (device handshakes run in adbThreadPool()).
    virtual void pollOnce() = 0;
    virtual void endPolling() {}

    struct TcpEndpoint
    {
        QString host;
        quint16 port = 0;
        QString serial;
    };
    // Connects to the endpoints that are not connected yet; a refused connect is silent and retried next round.
    void pollTcp(const QList<TcpEndpoint> &endpoints);
    // Opens a device in the pool: open() returns a handle, or null with an error (and reachable = false when
    // nothing is there at all). The key names the device while it is known (a USB port path or host:port).
    using Opener = std::function<PAdbUSBHandle(QString *serial, QString *error, bool *reachable)>;
    void adopt(const QString &key, const QString &serial, Opener open);
    // The device under key was unplugged: close it; the next round reports kickDevice.
    void dropKey(const QString &key, const QString &reason);
    int periodMs() const { return m_period; }
    bool stopping() const;
    // Starts the next round now (from any thread).
    void wake();

private:
    void collect();

    struct Private;
    const int m_period;
    std::unique_ptr<Private> d;
};

// USB devices with an adb interface (libusb-1.0; hotplug when offered, else polling), plus the adbd endpoints
// listed as host:port,host:port in the environment variable CONTACT_MOVER_ADB_TCP (network phones, simulators).
// When an adb server already runs at start (adbroute), the USB devices are the ones that server lists, reached
// through it, and USB is left to it.
class AdbPoll : public AbsAdbPoll
{
    Q_OBJECT
public:
    AdbPoll(int periodMs, QObject *parent);
    ~AdbPoll() override;

protected:
    void beginPolling() override;
    void pollOnce() override;
    void endPolling() override;

private:
    void beginServerRoute(quint16 port);
    void pollServer();

    struct Usb;
    std::unique_ptr<Usb> m_usb;
    struct Server;
    std::unique_ptr<Server> m_server;
    QList<TcpEndpoint> m_tcp;
};

// Emulators: adbd on 127.0.0.1 ports 5555, 5557, … 5585 (serial "emulator-<port - 1>").
class AdbEmuPoll : public AbsAdbPoll
{
    Q_OBJECT
public:
    AdbEmuPoll(int periodMs, QObject *parent);
    ~AdbEmuPoll() override;
    // Another odd port range, for tests.
    void setPortRange(quint16 first, quint16 last);

protected:
    void pollOnce() override;

private:
    quint16 m_first = 5555;
    quint16 m_last = 5585;
};
