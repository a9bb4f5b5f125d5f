// The window's iOS link: the device watch, an iPhone's arrival (loading its contacts into its cache), and the
// writes to an iPhone (transfers, edits, deletions) with the reload that follows a failed one.

#include "app/mainwindow.h"

#include "app/itemmodelmaintree.h"
#include "app/log.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "devices/iphones.h"
#include "devices/phoneaccess.h"

#include <QDebug>

void MainWindow::setUpIosLink()
{
    // A child of the window, so it unsubscribes when the window goes.
    m_iosWatch = new devices::IosWatch(this);
    connect(m_iosWatch, &devices::IosWatch::phoneArrived, this, &MainWindow::iosDeviceConnected);
    connect(m_iosWatch, &devices::IosWatch::phoneLeft, this, &MainWindow::iosDeviceDisconnected);
    if (!m_iosWatch->start())
        MessageBox::warning(this,
                            trKey("Failed to detect iPhone. Please launch iTunes (Finder if MacOS 10.15 or above) "
                                  "first and then re-connect your iPhone. Once your iPhone is visible in iTunes "
                                  "(Finder if MacOS 10.15 or above), please restart Tallowbrook software."));
}

void MainWindow::iosDeviceConnected(const QString &devid)
{
    if (!m_iosWatch)
        return;
    // A phone whose node is shown and loaded stays as it is when it is announced again: no tips, no reload,
    // the user's selection and open dialogs untouched.
    if (!m_iosWatch->loads().isLoading(devid) && m_treeModel->findDeviceNode(devid, PlatformIos))
        return;
    if (deferWhileDialogOpen([this, devid] { iosDeviceConnected(devid); }))
        return;
    loadIosDevice(devid, true);
}

void MainWindow::iosDeviceDisconnected(const QString &devid)
{
    // The watch reports a phone gone only once it stayed away for a moment.
    if (!m_treeModel->findDeviceNode(devid, PlatformIos))
        return;
    const bool wasSelected = selectedDbNode() && selectedDbNode()->id == devid;
    m_treeModel->removeDeviceNode(devid, PlatformIos);
    if (wasSelected)
        onMainTreeItemSelected({}, {});
    updateActions();
}

void MainWindow::loadIosDevice(const QString &devid, bool withTips)
{
    if (!m_iosWatch)
        return;
    // A phone that arrives again while its cache is being loaded waits for that load.
    if (!m_iosWatch->loads().start(devid, [this, devid] { loadIosDevice(devid, false); }))
        return;

    // The user may have to unlock the phone and tap "Trust" before lockdown answers.
    if (withTips)
        MessageBox::information(this, trKey("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS"));

    // An empty name when the phone cannot be opened yet (not trusted); the load below then reports the failure.
    const QString deviceName = devices::iphoneName(devid);
    qCDebug(lcApp, "IOS device connected, udid:%s name:%s", qUtf8Printable(devid), qUtf8Printable(deviceName));

    // The old node goes first: its database is the file about to be rebuilt.
    if (_DBItemNode *old = m_treeModel->findDeviceNode(devid, PlatformIos)) {
        const bool wasSelected = selectedDbNode() == old;
        removeDeviceNode(old);
        if (wasSelected)
            onMainTreeItemSelected({}, {});
    }
    try {
        if (const std::optional<devices::LoadedPhone> loaded = devices::loadIphone(devid, deviceName, behindProgress()))
            showLoadedDevice(
                m_treeModel->addDeviceNode(PAndroidConnector(), loaded->cache, loaded->entry.name, devid, PlatformIos));
    } catch (const std::exception &e) {
        MessageBox::error(this, MessageBox::escaped(QString::fromUtf8(e.what())));
    }

    if (const std::function<void()> next = m_iosWatch->loads().finish(devid))
        QMetaObject::invokeMethod(this, next, Qt::QueuedConnection);
}

bool MainWindow::sendIosChanges(const QString &udid, LocalDb *cache, const pim::Contact &contact,
                                const QList<pim::ChangeRecord> &changes, const QList<pim::Contact> &toDelete)
{
    _DBItemNode *node = m_treeModel->findDeviceNode(udid, PlatformIos);
    if (node && devices::isVirtualIosFile(node->db->path()))
        return true; // the file is all there is
    devices::PhoneCache phone{{devices::kIos, udid, QString(), cache->path()}, *cache, nullptr};
    if (behindProgress()(devices::sendChanges(phone, contact, changes, toDelete)))
        return true;
    if (node)
        reloadIosDevice(node);
    return false;
}

void MainWindow::reloadIosDevice(_DBItemNode *node)
{
    if (devices::isVirtualIosFile(node->db->path())) {
        refreshNode(node);
        return;
    }
    const QString udid = node->id;
    node->db->close();
    loadIosDevice(udid, false); // replaces the node; the phone is known, so without the tips
}
