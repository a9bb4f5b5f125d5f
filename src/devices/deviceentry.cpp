#include "devices/deviceentry.h"

#include "android/androidlink.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "ios/ioscontactcombinerule.h"

#include <QDir>
#include <QFileInfo>

namespace devices {

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

QString cachePath(const QString &platform, const QString &id)
{
    if (platform == kIos)
        return DataFolder::iosCacheDir() + QLatin1Char('/') + DataFolder::cacheFileName(id);
    return AndroidLink::cachePath(id);
}

QList<DeviceEntry> listVirtualDevices()
{
    QList<DeviceEntry> devices;
    addVirtual(devices, QStringLiteral("ios_virtual"), kIos);
    addVirtual(devices, QStringLiteral("android_virtual"), kAndroid);
    return devices;
}

bool isVirtualIosFile(const QString &dbPath)
{
    return QFileInfo(dbPath).absolutePath() != QDir(DataFolder::iosCacheDir()).absolutePath();
}

std::unique_ptr<LocalDb> openDeviceDb(const DeviceEntry &device)
{
    PContactCombineRule rule;
    if (device.isIos())
        rule.reset(new IOSContactCombineRule);
    else
        rule.reset(new LocalDbCombineRule);
    return std::make_unique<LocalDb>(device.dbPath, rule);
}

} // namespace devices
