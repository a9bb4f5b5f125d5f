#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>

class AdbStream;
class AdbTransport;
class QThreadPool;

// A failed adb operation; the text names the call, the device and what happened.
class AdbError : public std::runtime_error
{
public:
    explicit AdbError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// One attached Android device (USB, emulator or network adbd), speaking the adb protocol without an adb server.
// Its reader thread owns the link's input: it runs the CNXN/AUTH handshake and feeds the streams. Every call is
// safe from any thread; blocking calls end with an error when the device goes away.
class AdbUSBHandle
{
public:
    enum class State { Connecting, Authorizing, Unauthorized, Online, Offline };

    // Takes over a connected transport and starts the handshake at once.
    AdbUSBHandle(std::unique_ptr<AdbTransport> transport, const QString &serial);
    virtual ~AdbUSBHandle();
    AdbUSBHandle(const AdbUSBHandle &) = delete;
    AdbUSBHandle &operator=(const AdbUSBHandle &) = delete;

    // A device at host:port over TCP; serial empty means "host:port". Null with error set when the connect fails.
    static std::shared_ptr<AdbUSBHandle> connectTcp(const QString &host, quint16 port, const QString &serial,
                                                    int timeoutMs, QString *error);

    virtual QString serial() const;
    // What the device's banner says: the model ("ro.product.model"), product and device names; name() is the
    // model, else the product, else the serial.
    QString name() const;
    QString model() const;
    QString product() const;
    QString deviceName() const;
    QStringList features() const;
    bool hasFeature(const QString &feature) const;
    quint32 protocolVersion() const;
    quint32 maxPayload() const;

    State state() const;
    // Whether the device has sent anything at all.
    bool answered() const;
    // Why the device went offline (empty while it is not).
    QString errorString() const;
    // Waits up to timeoutMs for the device to come online; false while it has not accepted our key yet.
    bool waitForAuth2(int timeoutMs);
    // Waits until the handshake settled: Online, Unauthorized (our public key is offered) or Offline.
    State waitForHandshake(int timeoutMs);

    // Opens a service stream ("shell:…", "sync:", "tcp:PORT"); throws AdbError when the device is not online,
    // refuses the service or goes away.
    std::shared_ptr<AdbStream> openStream(const QString &service, int timeoutMs = 10000);

    // Drops the connection; pending and later calls fail with reason.
    void close(const QString &reason = QString());
    // Called once, on the reader thread, when the device goes offline; returns an id for removeCloseListener.
    int addCloseListener(std::function<void()> listener);
    void removeCloseListener(int id);

    class Private;

private:
    std::shared_ptr<Private> d;
};

using PAdbUSBHandle = std::shared_ptr<AdbUSBHandle>;
Q_DECLARE_METATYPE(PAdbUSBHandle)

// Runs one shell command and returns its standard output. With ok given, a failure sets *ok = false (and puts
// the error text in *errorOutput) instead of throwing AdbError. errorOutput receives standard error, exitCode the
// command's exit status (-1 when the device does not report it: no shell protocol v2).
QByteArray adbShell(PAdbUSBHandle device, QString command, bool *ok = nullptr, QByteArray *errorOutput = nullptr,
                    int *exitCode = nullptr);
// Pushes bytes to remotePath with the sync protocol (mode as in the file system, e.g. 0644).
bool adbPush(PAdbUSBHandle device, const QByteArray &data, const QString &remotePath, int mode, QString *error);
// Pushes the package file to /data/local/tmp, runs "pm install OPTIONS PATH" and removes the pushed file.
// False with *error set (when given) on any failure, including a "Failure [...]" answer of pm.
bool adbInstallLegacy(PAdbUSBHandle device, QString localApkPath, QString options, QString *error);

// The library's pool: device handshakes of the pollers and the connections of port forwards run here.
QThreadPool *adbThreadPool();
