#include "iosdevices.h"

#include "mobiledevice.h"

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
        devices.append({QStringLiteral("ios"), udid, name.toString(), QString()});
    }
    return devices;
}

} // namespace cli
