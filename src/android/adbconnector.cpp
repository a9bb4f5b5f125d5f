#include "android/adbconnector.h"

#include "adb/adbforward.h"
#include "android/androidlink.h"
#include "android/log.h"
#include "android/syncprotocol.h"
#include "core/datafolder.h"
#include "core/texts.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <stdexcept>

using namespace Qt::StringLiterals;

AdbConnector::AdbConnector(PAdbUSBHandle handle) : m_handle(std::move(handle))
{
}

AdbConnector::~AdbConnector() = default;

QSet<QString> AdbConnector::parsePackageList(const QByteArray &output)
{
    QSet<QString> names;
    for (const QByteArray &raw : output.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u"package:"_s))
            names.insert(line.mid(8).trimmed());
    }
    return names;
}

qint64 AdbConnector::installedVersionCode(const QByteArray &dumpsysOutput)
{
    // "dumpsys package NAME" prints the package's block with a line "versionCode=N minSdk=… targetSdk=…".
    static const QRegularExpression pattern(u"(?:^|\\s)versionCode=([0-9]{1,18})(?:\\s|$)"_s);
    const QRegularExpressionMatch m = pattern.match(QString::fromUtf8(dumpsysOutput));
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

AndroidLink::Readiness AdbConnector::portReadiness(const QByteArray &socketTables, int port)
{
    // Lines of the kernel's tables (tcp4_seq_show, tcp6_seq_show): "sl local_address rem_address st …", the
    // local address as hex ADDRESS:PORT, the state in hex (0A: TCP_LISTEN).
    bool table = false;
    for (const QByteArray &line : socketTables.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4)
            continue;
        if (fields.at(1) == "local_address") {
            table = true;
            continue;
        }
        const qsizetype colon = fields.at(1).lastIndexOf(':');
        bool ok = false;
        const uint localPort = colon < 0 ? 0 : fields.at(1).mid(colon + 1).toUInt(&ok, 16);
        if (ok && int(localPort) == port && fields.at(3).compare("0A", Qt::CaseInsensitive) == 0)
            return AndroidLink::Readiness::Ready;
    }
    return table ? AndroidLink::Readiness::NotYet : AndroidLink::Readiness::Unknown;
}

AndroidLink::Readiness AdbConnector::packagePathReadiness(const QByteArray &output)
{
    if (output.trimmed().isEmpty())
        return AndroidLink::Readiness::NotYet;
    for (const QByteArray &line : output.split('\n'))
        if (line.trimmed().startsWith("package:"))
            return AndroidLink::Readiness::Ready;
    return AndroidLink::Readiness::Unknown;
}

AdbConnector::InstallStep AdbConnector::installStep(bool listed, const QByteArray &listing, qint64 installedCode,
                                                    qint64 embeddedCode)
{
    if (!listed)
        return InstallStep::Refuse;
    // The listing is "package:NAME" lines, or nothing on a phone without user apps. Any other text is the
    // package manager's error message (for example when its service is not running yet).
    if (parsePackageList(listing).isEmpty() && !listing.trimmed().isEmpty())
        return InstallStep::Refuse;
    if (!parsePackageList(listing).contains(QLatin1String(kPackage)))
        return InstallStep::Install;
    // An installed app whose version can not be read is left alone: reinstalling it on every load would help
    // nobody.
    return installedCode > 0 && installedCode < embeddedCode ? InstallStep::Update : InstallStep::None;
}

void AdbConnector::prepare()
{
    if (!m_handle)
        return;
    const auto failed = [](const QString &why) {
        return std::runtime_error(trKey("Can not install com.tallowbrook.contactssync. %1").arg(why).toStdString());
    };
    bool listed = true;
    QByteArray listError;
    const QByteArray listing = adbShell(m_handle, u"pm list packages -3"_s, &listed, &listError);
    qint64 installedCode = 0;
    if (listed && parsePackageList(listing).contains(QLatin1String(kPackage))) {
        bool ok = true;
        installedCode =
            installedVersionCode(adbShell(m_handle, u"dumpsys package %1"_s.arg(QLatin1String(kPackage)), &ok));
    }
    const InstallStep step = installStep(listed, listing, installedCode, kEmbeddedVersionCode);
    if (step == InstallStep::None)
        return;
    if (step == InstallStep::Refuse)
        throw failed(trKey("The phone did not list its apps: %1")
                         .arg(QString::fromUtf8(listed ? listing.trimmed() : listError.trimmed()).left(200)));
    qCDebug(lcAndroidSync, "Android Sync, %s the companion app (installed version %lld, embedded %lld).",
            step == InstallStep::Update ? "updating" : "installing", installedCode, qint64(kEmbeddedVersionCode));

    const QString resource = QLatin1String(kPackageResource);
    // Each install copies the package into a folder of its own, so two phones installing at once never write
    // or remove each other's copy; the folder goes when the install ends.
    QTemporaryDir folder(DataFolder::root() + u"/install-XXXXXX"_s);
    if (!folder.isValid())
        throw failed(folder.errorString());
    const QString path = folder.filePath(QFileInfo(resource).fileName());
    QFile source(u":/"_s + resource.mid(1)); // ":res/x" names the resource ":/res/x"
    if (!source.copy(path))
        throw failed(source.errorString());
    QFile::setPermissions(path, QFileDevice::ReadUser | QFileDevice::WriteUser);

    // -r replaces an installed app (an update keeps its data); -g grants the contacts permissions at once, on
    // Android 6 and later, where they are asked for at run time and older package managers refuse the option.
    bool ok = true;
    const int sdk = QString::fromUtf8(adbShell(m_handle, u"getprop ro.build.version.sdk"_s, &ok)).trimmed().toInt();
    QString error;
    if (!adbInstallLegacy(m_handle, path, sdk >= 23 ? u"-r -g"_s : u"-r"_s, &error)) {
        // An app signed with another key (a development build on the phone, a release build here, or the other
        // way round) can only be replaced after the user removes it.
        if (error.contains(u"INSTALL_FAILED_UPDATE_INCOMPATIBLE"_s))
            error =
                trKey("The app on the phone is signed with another key. Uninstall it on the phone, then try again. %1")
                    .arg(error);
        throw failed(error);
    }
    // "pm install" answers once the package is committed, so the package manager normally lists it at the first
    // ask; the app's process is started by the session (see startSession).
    AndroidLink::waitUntilReady(AndroidLink::kInstallReadyLimitMs, AndroidLink::pauseAfterInstallMs(), [this] {
        bool asked = true;
        const QByteArray out = adbShell(m_handle, u"pm path %1"_s.arg(QLatin1String(kPackage)), &asked);
        return asked ? packagePathReadiness(out) : AndroidLink::Readiness::Unknown;
    });
}

void AdbConnector::forwardThrow(int &port)
{
    // Without its forward the session's connect would fail, or reach whatever else listens on the port.
    QString error;
    for (int attempt = 0; attempt < kForwardAttempts; ++attempt) {
        if (attempt > 0)
            port = simpleprotocol::nextSyncPort();
        if (AdbForwardServer::forward(m_handle, ushort(port), ushort(port), &error) != 0)
            return;
        qCDebug(lcAndroidSync, "Android Sync, forward of port %d failed: %s", port, qUtf8Printable(error));
        if (m_handle->state() != AdbUSBHandle::State::Online)
            break; // another port would not help
    }
    throw std::runtime_error(error.toStdString());
}

QString AdbConnector::startSession(const char *kind, int &port)
{
    if (!m_handle)
        return u"127.0.0.1"_s;
    // Shell failures are not examined here: a session that can not be reached fails at the connect that follows.
    bool ok = true;
    adbShell(m_handle, u"am start -n %1/.ContactsSync"_s.arg(QLatin1String(kPackage)), &ok);
    forwardThrow(port);
    const QString url = u"sync://%1:%2/"_s.arg(QLatin1String(kind)).arg(port);
    adbShell(m_handle, u"am broadcast -n %1/.AdbSyncBroadcastReceiver -d %2"_s.arg(QLatin1String(kPackage), url), &ok);
    // "am broadcast" returns once the app's receiver has run; the service it starts opens the session port a
    // moment later (after a cold start of the app's process, later still). The port takes one connection only,
    // so it is not tried by connecting: the kernel's socket tables show when it listens.
    const int phonePort = port;
    AndroidLink::waitUntilReady(
        AndroidLink::kSessionReadyLimitMs, AndroidLink::pauseAfterSessionStartMs(), [this, phonePort] {
            bool asked = true;
            const QByteArray tables = adbShell(m_handle, u"cat /proc/net/tcp6 /proc/net/tcp"_s, &asked);
            return asked ? portReadiness(tables, phonePort) : AndroidLink::Readiness::Unknown;
        });
    return u"127.0.0.1"_s;
}

QString AdbConnector::startBackup(int &port)
{
    return startSession("backup", port);
}

QString AdbConnector::startRestore(int &port)
{
    return startSession("restore", port);
}

QString AdbConnector::deviceLog()
{
    if (!m_handle)
        return {};
    bool ok = true;
    return QString::fromUtf8(adbShell(m_handle, u"logcat -d"_s, &ok));
}
