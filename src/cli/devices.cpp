#include "devices.h"

#include "combinerule.h"
#include "datafolder.h"
#include "ioscontactcombinerule.h"
#include "localdb.h"

#include <QDir>
#include <QFileInfo>

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

QList<DeviceEntry> listDevices()
{
    QList<DeviceEntry> devices;
    addVirtual(devices, QStringLiteral("ios_virtual"), QStringLiteral("ios"));
    addVirtual(devices, QStringLiteral("android_virtual"), QStringLiteral("android"));
    return devices;
}

DeviceEntry findDevice(const QString &id)
{
    for (const DeviceEntry &device : listDevices())
        if (device.id == id)
            return device;
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
