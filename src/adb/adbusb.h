#pragma once

#include "adb/adbtransport.h"

#include <QList>
#include <QString>

#include <memory>

struct libusb_context;
struct libusb_device;
struct libusb_device_descriptor;
struct libusb_config_descriptor;

// libusb access for the poller: one shared context, the adb interface test and the USB transport.
namespace adbusb {

class Context;
using PContext = std::shared_ptr<Context>;

// Null when libusb can not start (no USB at all is fine: TCP devices still work).
PContext openContext(QString *error);
bool hasHotplug(const PContext &ctx);
// Dispatches pending libusb events (hotplug callbacks) without waiting.
void handleEvents(const PContext &ctx);

enum class Event { Arrived, Left };
struct HotplugEvent
{
    Event event;
    libusb_device *device; // referenced; release with unref()
};
// Registers the hotplug callback (arrivals of present devices come first); events queue up for takeEvents().
bool registerHotplug(const PContext &ctx);
QList<HotplugEvent> takeEvents(const PContext &ctx);
// Every present device, each referenced.
QList<libusb_device *> listDevices(const PContext &ctx);
void unref(libusb_device *dev);
void ref(libusb_device *dev);

struct AdbInterface
{
    int number = -1; // -1: none
    unsigned char in = 0;
    unsigned char out = 0;
    int outPacketSize = 512;
};
// The first interface of class 0xFF, subclass 0x42, protocol 0x01 with a bulk IN and a bulk OUT endpoint,
// whatever the device's own class.
AdbInterface findAdbInterface(const libusb_device_descriptor &device, const libusb_config_descriptor &config);

// "usb:BUS-PORT.PORT…", stable while the device stays in its port.
QString portPath(libusb_device *dev);
// True when the active configuration has an adb interface (class 0xFF, subclass 0x42, protocol 0x01).
bool isAdbDevice(libusb_device *dev);
// Opens the device, reads its serial number and claims the adb interface. On failure error names the cause;
// *retry is set for "no permission yet" (udev may not have applied the rules).
std::unique_ptr<AdbTransport> open(const PContext &ctx, libusb_device *dev, QString *serial, QString *error,
                                   bool *retry);

} // namespace adbusb
