#include "adbconnector.h"

#include "adbforward.h"
#include "androidlink.h"
#include "datafolder.h"
#include "syncprotocol.h"
#include "texts.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <stdexcept>

using namespace Qt::StringLiterals;

AdbConnector::AdbConnector(PAdbUSBHandle handle) : m_handle(std::move(handle)) {}

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

void AdbConnector::prepare()
{
    if (!m_handle)
        return;
    const QSet<QString> installed = parsePackageList(adbShell(m_handle, u"pm list packages -3"_s));
    // An empty listing means the phone told us nothing: leave it alone.
    if (installed.isEmpty() || installed.contains(QLatin1String(kPackage)))
        return;

    const QString resource = QLatin1String(kPackageResource);
    // Each install copies the package into a folder of its own, so two phones installing at once never write
    // or remove each other's copy; the folder goes when the install ends.
    QTemporaryDir folder(DataFolder::root() + u"/install-XXXXXX"_s);
    if (!folder.isValid())
        throw std::runtime_error(
            trKey("Can not install com.tallowbrook.contactssync. %1").arg(folder.errorString()).toStdString());
    const QString path = folder.filePath(QFileInfo(resource).fileName());
    QFile source(u":/"_s + resource.mid(1)); // ":res/x" names the resource ":/res/x"
    if (!source.copy(path))
        throw std::runtime_error(
            trKey("Can not install com.tallowbrook.contactssync. %1").arg(source.errorString()).toStdString());
    QFile::setPermissions(path, QFileDevice::ReadUser | QFileDevice::WriteUser);

    QString error;
    if (!adbInstallLegacy(m_handle, path, u"-r"_s, &error))
        throw std::runtime_error(trKey("Can not install com.tallowbrook.contactssync. %1").arg(error).toStdString());
    AndroidLink::pause(AndroidLink::pauseAfterInstallMs());
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
    AndroidLink::pause(AndroidLink::pauseAfterSessionStartMs());
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
