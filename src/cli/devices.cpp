#include "cli/devices.h"

#include "cli/androiddevices.h"
#include "cli/iosdevices.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "ios/ioscontactcombinerule.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <stdexcept>

namespace cli {

namespace {

void addVirtual(QList<DeviceEntry> &devices, const QString &folder, const QString &platform)
{
    const QDir dir(DataFolder::root() + QLatin1Char('/') + folder);
    if (!dir.exists())
        return;
    for (const QFileInfo &file : dir.entryInfoList({QStringLiteral("*.db")}, QDir::Files, QDir::Name))
        devices.append({platform, file.completeBaseName(), file.fileName(), file.filePath()});
}

} // namespace

QList<DeviceEntry> listVirtualDevices()
{
    QList<DeviceEntry> devices;
    addVirtual(devices, QStringLiteral("ios_virtual"), QStringLiteral("ios"));
    addVirtual(devices, QStringLiteral("android_virtual"), QStringLiteral("android"));
    return devices;
}

QList<DeviceEntry> listAdbDevices()
{
    QList<DeviceEntry> devices;
    withAdbPhones([&devices](const QList<PAdbUSBHandle> &phones) {
        for (const PAdbUSBHandle &device : phones)
            devices.append({QStringLiteral("android"), device->serial(), device->name(), QString()});
    });
    return devices;
}

QList<DeviceEntry> listDevices()
{
    // Android phones are listed once loaded, with the name they announce.
    return listVirtualDevices() + listIosDevices() + loadAdbPhones();
}

DeviceEntry findDevice(const QString &id)
{
    // Virtual devices have a contact database of their own; an Android phone gets its cache when it is loaded.
    for (const DeviceEntry &device : listVirtualDevices())
        if (device.id == id)
            return device;
    if (const std::optional<DeviceEntry> iphone = findIosDevice(id))
        return *iphone;
    if (const std::optional<DeviceEntry> android = findAndroidDevice(id))
        return *android;
    throw std::runtime_error(QStringLiteral("There is no device \"%1\".").arg(id).toStdString());
}

std::unique_ptr<LocalDb> openDeviceDb(const DeviceEntry &device)
{
    PContactCombineRule rule;
    if (device.platform == QLatin1String("ios"))
        rule.reset(new IOSContactCombineRule);
    else
        rule.reset(new LocalDbCombineRule);
    return std::make_unique<LocalDb>(device.dbPath, rule);
}

} // namespace cli
