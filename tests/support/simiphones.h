#pragma once

// The simulated iPhones run in the test's own process.

#include "iphonesim.h"
#include "scopedenv.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// The simulator on a usbmuxd socket in a folder of its own. From a successful start() until the object goes,
// libusbmuxd in this process is pointed at it (USBMUXD_SOCKET_ADDRESS); then it stops and the variable is as before.
struct SimIphones
{
    SimIphones();
    ~SimIphones();

    // Writes bytes to a file of this name in the folder, for a device's seed or store: its path, or empty (with
    // error) when it could not be written.
    QString put(const QString &fileName, const QByteArray &bytes);
    // Adds the devices and starts the simulator; false, with error, when any of it failed.
    bool start(const QList<SimDeviceConfig> &devices);

    QTemporaryDir dir;
    IPhoneSim sim;
    QString error;
    bool started = false;

private:
    std::unique_ptr<ScopedEnv> m_muxd;
};
