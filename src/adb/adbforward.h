#pragma once

#include "adb/adb.h"

// Port forwards: a listener on 127.0.0.1:localPort whose every accepted connection opens one "tcp:remotePort"
// stream to the device. Forwards live until removed or until their device goes offline.
class AdbForwardServer
{
public:
    // Starts (or replaces) the forward of localPort; localPort 0 takes any free port. Returns the local port,
    // or 0 with *error set (when given).
    static ushort forward(PAdbUSBHandle device, ushort localPort, ushort remotePort, QString *error);
    static bool remove(ushort localPort);
    static void removeAll();
};
