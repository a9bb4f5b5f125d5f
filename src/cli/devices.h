#pragma once

#include <QList>
#include <QString>

#include <memory>

class LocalDb;

namespace cli {

// A place the tool can take contacts from or send them to, other than a local database.
struct DeviceEntry
{
    QString platform; // "ios" or "android"
    QString id;       // UDID, adb serial, or the base name of a virtual device's file
    QString name;     // what the window shows
    QString dbPath;   // the device's contact database (a virtual device's file, a real device's cache)
};

// Virtual devices: every "*.db" file of the data root's "ios_virtual" and "android_virtual" folders is a device
// whose id is the file's base name and whose name is the file name.
QList<DeviceEntry> listVirtualDevices();
// Android phones reachable through adb (USB, and the adbd endpoints of CONTACT_MOVER_ADB_TCP): id = adb serial,
// name = the phone's model. Waits until the poller has settled.
QList<DeviceEntry> listAdbDevices();
// The virtual devices, the iPhones and the adb phones, each Android phone loaded into its cache first (named
// as it announces itself).
QList<DeviceEntry> listDevices();
// The device with this id: a virtual device, or an iPhone (UDID) or Android phone (adb serial or "wifi:ADDRESS")
// loaded into its cache; throws std::runtime_error when there is none or it can not be loaded.
DeviceEntry findDevice(const QString &id);
// The device's contact database with the duplicate rule of its platform.
std::unique_ptr<LocalDb> openDeviceDb(const DeviceEntry &device);

} // namespace cli
