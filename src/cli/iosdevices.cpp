#include "iosdevices.h"

#include "datafolder.h"
#include "ioscontactcombinerule.h"
#include "iossynctopcthread.h"
#include "localdb.h"
#include "mobiledevice.h"
#include "progress.h"
#include "workerrunner.h"

#include <libimobiledevice/libimobiledevice.h>

namespace cli {

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
        const PlistCFType name = mobiledevice_get_value(udid, QString(), QStringLiteral("DeviceName"));
        if (name.isNull())
            continue;
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
    return std::nullopt;
}

} // namespace cli
