// The window's iOS link: the device notifier and an iPhone's arrival.

#include "mainwindow.h"

#include "messagebox.h"
#include "mobiledevice.h"
#include "texts.h"

#include <QDebug>

void MainWindow::setUpIosLink()
{
    // A child of the window, so it unsubscribes when the window goes; its signals come from libusbmuxd's thread
    // and are queued to this one.
    auto *notifier = new MobiledeviceSubscribe(this);
    notifier->setObjectName(QStringLiteral("iosNotifier"));
    connect(notifier, &MobiledeviceSubscribe::newDevice, this, &MainWindow::iosDeviceConnected);
    connect(notifier, &MobiledeviceSubscribe::kickDevice, this, &MainWindow::iosDeviceDisconnected);
    if (!notifier->subscribe())
        MessageBox::warning(
            this,
            trKey("Failed to detect iPhone. Please launch iTunes (Finder if MacOS 10.15 or above) first and then re-connect your iPhone. Once your iPhone is visible in iTunes (Finder if MacOS 10.15 or above), please restart Tallowbrook software."));
}

void MainWindow::iosDeviceConnected(const QString &devid)
{
    // The user may have to unlock the phone and tap "Trust" before lockdown answers.
    MessageBox::information(this, trKey("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS"));

    // An empty name when the phone cannot be opened yet (not trusted); the load below then reports the failure.
    const QString deviceName =
        mobiledevice_get_value(devid, QString(), QString()).item(QStringLiteral("DeviceName")).toString();
    qDebug("IOS device connected, udid:%s name:%s", qUtf8Printable(devid), qUtf8Printable(deviceName));

    // Loading the phone's contacts needs the reading thread IOSSyncToPCThread, which comes with the mapping of
    // iOS contact records. Once it exists, this is where the arrival goes on: remove any node with this UDID,
    // recreate the cache "ios_cache/UDID" from the template with IOSContactCombineRule, run the thread under a
    // progress dialog with an empty title, and on success add the device node (platform iOS, named deviceName),
    // load its groups, expand and select it. Until then an iPhone gets no node.
}
