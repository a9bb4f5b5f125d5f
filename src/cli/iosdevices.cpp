#include "cli/iosdevices.h"

#include "cli/workerrunner.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/progress.h"
#include "ios/ioscontactcombinerule.h"
#include "ios/iossynctopcthread.h"
#include "ios/mobiledevice.h"

#include "core/texts.h"

#include <libimobiledevice/libimobiledevice.h>

#include <QElapsedTimer>
#include <QHash>
#include <QTextStream>
#include <QThread>

#include <stdexcept>

namespace cli {

namespace {

// How long a command waits for a phone to trust this computer: CONTACT_MOVER_TRUST_WAIT seconds, 60 by default.
qint64 trustWaitMs()
{
    bool ok = false;
    const double seconds = qEnvironmentVariable("CONTACT_MOVER_TRUST_WAIT").toDouble(&ok);
    return ok && seconds >= 0 ? qint64(seconds * 1000) : 60000;
}

// A phone that does not trust this computer yet is asked again until it does or the wait is over; the user is
// told what to do (again whenever the phone's answer changes). The last lockdown code.
int waitForTrust(const QString &udid)
{
    int code = mobiledevice_trust_state(udid);
    if (!mobiledevice_is_trust_error(code))
        return code;
    QTextStream err(stderr);
    int told = 0;
    QElapsedTimer waited;
    waited.start();
    while (mobiledevice_is_trust_error(code)) {
        if (code != told) {
            err << udid << ": " << mobiledevice_trust_text(code) << '\n'
                << trKey("IDS_IOS_TRUST_WAITING_%1").arg(udid) << Qt::endl;
            told = code;
        }
        if (waited.elapsed() >= trustWaitMs())
            break;
        QThread::msleep(500);
        code = mobiledevice_trust_state(udid);
    }
    return code;
}

// Phones that did not come to trust this computer while a command waited, with their last lockdown code.
QHash<QString, int> &untrustedPhones()
{
    static QHash<QString, int> phones;
    return phones;
}

} // namespace

QList<DeviceEntry> listIosDevices()
{
    QList<DeviceEntry> devices;
    idevice_info_t *list = nullptr;
    int count = 0;
    if (idevice_get_device_list_extended(&list, &count) != IDEVICE_E_SUCCESS)
        return devices; // no multiplexer running: no iPhones
    QStringList udids;
    for (int i = 0; i < count; ++i)
        if (list[i]->conn_type == CONNECTION_USBMUXD)
            udids << QString::fromLatin1(list[i]->udid);
    idevice_device_list_extended_free(list);

    for (const QString &udid : std::as_const(udids)) {
        PlistCFType name = mobiledevice_get_value(udid, QString(), QStringLiteral("DeviceName"));
        if (name.isNull()) {
            // Not trusted yet: the user is told what to do, and the phone is listed once it trusts us.
            const int code = waitForTrust(udid);
            if (code == 0)
                name = mobiledevice_get_value(udid, QString(), QStringLiteral("DeviceName"));
            if (name.isNull()) {
                untrustedPhones().insert(udid, code);
                if (!mobiledevice_is_trust_error(code))
                    QTextStream(stderr) << udid << ": " << trKey("IDS_IOS_NOT_OPENED") << Qt::endl;
                continue;
            }
        }
        untrustedPhones().remove(udid);
        devices.append({QStringLiteral("ios"), udid, name.toString(), iosCachePath(udid)});
    }
    return devices;
}

QString iosCachePath(const QString &udid)
{
    return DataFolder::iosCacheDir() + QLatin1Char('/') + DataFolder::cacheFileName(udid);
}

DeviceEntry loadIosDevice(const DeviceEntry &iphone)
{
    LocalDb cache(iphone.dbPath, PContactCombineRule(new IOSContactCombineRule));
    cache.createFromTemplate();
    ProgressObject progress;
    IOSSyncToPCThread worker(iphone.id, &cache, &progress);
    runLoader(worker, progress, "The iPhone could not be loaded.");
    return iphone;
}

std::optional<DeviceEntry> findIosDevice(const QString &udid)
{
    for (const DeviceEntry &iphone : listIosDevices())
        if (iphone.id == udid)
            return loadIosDevice(iphone);
    // Attached but not trusting this computer: what the user has to do, rather than "no such device".
    const auto untrusted = untrustedPhones().constFind(udid);
    if (untrusted != untrustedPhones().constEnd()) {
        const QString text = mobiledevice_trust_text(*untrusted);
        throw std::runtime_error((text.isEmpty() ? trKey("IDS_IOS_NOT_OPENED") : text).toUtf8().toStdString());
    }
    return std::nullopt;
}

} // namespace cli
