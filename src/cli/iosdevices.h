#pragma once

#include "cli/devices.h"

#include <optional>

namespace cli {

// iPhones behind the USB multiplexer (usbmuxd, or the socket of USBMUXD_SOCKET_ADDRESS): platform "ios", id = UDID,
// name = the phone's DeviceName read through lockdown. A phone that does not trust this computer yet is waited
// for (CONTACT_MOVER_TRUST_WAIT seconds, 60 by default) while stderr tells the user to unlock it and tap Trust;
// one that still does not, or that cannot be opened at all, is left out with a line on stderr saying so.
QList<DeviceEntry> listIosDevices();

// Where an iPhone's contacts are kept between its loads: "ios_cache" of the data folder.
QString iosCachePath(const QString &udid);

// Rebuilds the iPhone's cache and reads its contacts into it (progress to stderr), as the window does when it
// arrives; throws std::runtime_error with the reading error's text.
DeviceEntry loadIosDevice(const DeviceEntry &iphone);

// The iPhone with this UDID, loaded into its cache; nothing when no attached iPhone has it. Throws when it is
// there but can not be loaded, or does not trust this computer (with what the user has to do).
std::optional<DeviceEntry> findIosDevice(const QString &udid);

} // namespace cli
