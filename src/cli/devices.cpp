#include "devices.h"

#include "combinerule.h"
#include "datafolder.h"
#include "ioscontactcombinerule.h"
#include "localdb.h"
#include "adbpoll.h"

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
    // The poller reports what it finds as it finds it; the list is complete once a little while has passed
    // without news (handshakes run in parallel, each bounded by its own timeout).
    constexpr int kQuietMs = 800;
    constexpr int kLongestMs = 6000;
    AdbPoll poll(200, nullptr);
    QList<PAdbUSBHandle> found;
    QEventLoop loop;
    QTimer quiet;
    quiet.setSingleShot(true);
    QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&poll, &AbsAdbPoll::newDevice, &loop, [&](const QString &, const PAdbUSBHandle &device) {
        found.append(device);
        quiet.start(kQuietMs);
    });
    QTimer::singleShot(kLongestMs, &loop, &QEventLoop::quit);
    poll.start();
    quiet.start(kQuietMs * 2);
    loop.exec();

    QList<DeviceEntry> devices;
    for (const PAdbUSBHandle &device : std::as_const(found)) {
        if (device->waitForHandshake(3000) != AdbUSBHandle::State::Online)
            continue; // not allowed yet on the phone, or gone again
        devices.append({QStringLiteral("android"), device->serial(), device->name(), QString()});
    }
    poll.stop();
    poll.wait();
    return devices;
}

QList<DeviceEntry> listDevices()
{
    return listVirtualDevices() + listAdbDevices();
}

DeviceEntry findDevice(const QString &id)
{
    // Only virtual devices have a contact database of their own so far; a phone gets its cache when it is loaded.
    for (const DeviceEntry &device : listVirtualDevices())
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
