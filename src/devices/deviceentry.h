#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class LocalDb;
class ProgressTarget;
class QThread;

namespace devices {

// A place contacts can be taken from or sent to, other than a local database.
struct DeviceEntry
{
    QString platform; // "ios" or "android"
    QString id;       // UDID, adb serial, the Wi-Fi phone's name, or the base name of a virtual device's file
    QString name;     // what the window shows
    QString dbPath;   // the device's contact database (a virtual device's file, a real device's cache)

    bool isIos() const { return platform == QLatin1String("ios"); }
};

inline const QString kIos = QStringLiteral("ios");
inline const QString kAndroid = QStringLiteral("android");

// Makes a worker that reports to the given receiver.
using WorkerFactory = std::function<std::unique_ptr<QThread>(ProgressTarget *)>;
// Runs the worker to its end behind the front end's progress display; true when it succeeded. The front end shows
// or prints the progress and the error; it may also throw (the command line throws the loading error). The same
// type as undo::RunWorker, so one runner serves both.
using RunWorker = std::function<bool(const WorkerFactory &)>;

// Where a phone's contacts are kept between its loads: "android_cache" or "ios_cache" of the data folder.
QString cachePath(const QString &platform, const QString &id);

// Virtual devices: every "*.db" file of the data root's "ios_virtual" and "android_virtual" folders is a device
// whose id is the file's base name and whose name is the file name (iPhones first, each folder by name).
QList<DeviceEntry> listVirtualDevices();
// A virtual iPhone's file lies outside "ios_cache": it has no phone behind it.
bool isVirtualIosFile(const QString &dbPath);

// The device's contact database with the duplicate rule of its platform (not connected to a phone).
std::unique_ptr<LocalDb> openDeviceDb(const DeviceEntry &device);

} // namespace devices
