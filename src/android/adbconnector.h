#pragma once

#include "adb/adb.h"
#include "android/androidlink.h"
#include "android/iandroidconnector.h"

#include <QSet>

// A phone attached by USB (or any adbd the adb library reaches): installs the companion app from the program's
// resources and starts its sessions through "am start", a port forward and "am broadcast". Without a device
// handle (a phone known only from its saved cache) prepare() does nothing and the session starts only name
// the local host.
class AdbConnector : public IAndroidConnector
{
public:
    static constexpr char kPackage[] = "com.tallowbrook.contactssync";
    static constexpr char kPackageResource[] = ":res/com.tallowbrook.contactssync.apk";
    static constexpr int kForwardAttempts = 10;

    explicit AdbConnector(PAdbUSBHandle handle);
    ~AdbConnector() override;

    const PAdbUSBHandle &handle() const { return m_handle; }

    // The version code of the package embedded in the program (companion/version.txt).
    static constexpr qint64 kEmbeddedVersionCode = COMPANION_VERSION_CODE;

    // Installs the app when the phone's list of user packages lacks it, whatever else the list holds (none
    // included), and updates it when the installed version code is older than the embedded one; then waits, at
    // most 5 s, until the package manager lists it ("pm path").
    // Throws std::runtime_error "Can not install com.tallowbrook.contactssync. %1" when the package list can
    // not be read or the install fails, and AdbError when the phone can not be asked at all.
    void prepare() override;

    enum class InstallStep { None, Install, Update, Refuse };
    // What prepare() does, from whether "pm list packages -3" ran, its output, the installed app's version
    // code (0: unknown or not installed) and the embedded one.
    static InstallStep installStep(bool listed, const QByteArray &listing, qint64 installedCode, qint64 embeddedCode);
    // The versionCode in the output of "dumpsys package NAME"; 0 when there is none.
    static qint64 installedVersionCode(const QByteArray &dumpsysOutput);
    // The session port is forwarded to the same port on the phone. When the forward can not listen on it (any
    // socket on this computer may hold it), the next session port is tried, up to kForwardAttempts ports; the
    // phone is told the port that was bound. Throws std::runtime_error with the forward's error when no forward
    // could be made. After the broadcast the session start waits, at most 3 s, until the app's session port
    // listens on the phone.
    QString startBackup(int &port) override;
    QString startRestore(int &port) override;
    // The output of "logcat -d".
    QString deviceLog() override;

    // The package names in the output of "pm list packages": the rest of every line that begins with
    // "package:", trimmed.
    static QSet<QString> parsePackageList(const QByteArray &output);

    // Whether the output of "cat /proc/net/tcp6 /proc/net/tcp" shows a socket listening on the port (any
    // address, IPv4 or IPv6): Unknown when the output holds no socket table (the files could not be read).
    static AndroidLink::Readiness portReadiness(const QByteArray &socketTables, int port);
    // Whether the output of "pm path NAME" names the package's file: NotYet when empty (not installed), Unknown
    // for any other text (an error of the package manager).
    static AndroidLink::Readiness packagePathReadiness(const QByteArray &output);

private:
    QString startSession(const char *kind, int &port);
    void forwardThrow(int &port);

    PAdbUSBHandle m_handle;
};
