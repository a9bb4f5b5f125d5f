#pragma once

#include "devices.h"

namespace cli {

// iPhones behind the USB multiplexer (usbmuxd, or the socket of USBMUXD_SOCKET_ADDRESS): platform "ios", id = UDID,
// name = the phone's DeviceName read through lockdown. A phone whose lockdown cannot be opened yet (not trusted)
// is left out, as an Android phone that has not allowed debugging is.
QList<DeviceEntry> listIosDevices();

} // namespace cli
