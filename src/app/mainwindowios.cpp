// The window's iOS link: the device notifier, an iPhone's arrival (loading its contacts into its cache), and the
// writes to an iPhone (transfers, edits, deletions) with the reload that follows a failed one.

#include "app/mainwindow.h"

#include "app/itemmodelmaintree.h"
#include "app/log.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "ios/ioscontactcombinerule.h"
#include "ios/iossendchangesthread.h"
#include "ios/iossynctodevicethread.h"
#include "ios/iossynctopcthread.h"
#include "ios/mobiledevice.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTimer>

namespace {

// The iPhones whose cache is being loaded, and those that arrived again meanwhile: rebuilding a cache file under
// the running load would mix two sessions in one database, so the second arrival waits for the first.
class IosLinkState : public QObject
{
    Q_OBJECT
public:
    explicit IosLinkState(QObject *parent) : QObject(parent) { setObjectName(QStringLiteral("iosLink")); }

    QSet<QString> loading;
    QSet<QString> pending;
    // iPhones reported gone whose node stays for a moment: when the device service's connection is renewed it
    // reports every phone gone and then present again, which must not reload (and re-announce) a loaded phone.
    QSet<QString> leaving;
};

// How long a removed iPhone's node waits for the phone to be announced again.
constexpr int kLeaveGraceMs = 3000;

IosLinkState *linkState(QObject *window)
{
    return window->findChild<IosLinkState *>(QStringLiteral("iosLink"), Qt::FindDirectChildrenOnly);
}

QString iosCachePath(const QString &udid)
{
    return DataFolder::iosCacheDir() + QLatin1Char('/') + DataFolder::cacheFileName(udid);
}

// A virtual iPhone (a database file of "ios_virtual") has no phone behind it: its file is all there is.
bool isVirtualIos(const _DBItemNode *node)
{
    return QFileInfo(node->db->path()).absolutePath() != QDir(DataFolder::iosCacheDir()).absolutePath();
}

} // namespace

void MainWindow::setUpIosLink()
{
    new IosLinkState(this);
    // A child of the window, so it unsubscribes when the window goes; its signals come from libusbmuxd's thread
    // and are queued to this one.
    auto *notifier = new MobiledeviceSubscribe(this);
    notifier->setObjectName(QStringLiteral("iosNotifier"));
    connect(notifier, &MobiledeviceSubscribe::newDevice, this, &MainWindow::iosDeviceConnected);
    connect(notifier, &MobiledeviceSubscribe::kickDevice, this, &MainWindow::iosDeviceDisconnected);
    // A phone that was not trusted when it arrived is loaded once it trusts this computer.
    connect(notifier, &MobiledeviceSubscribe::devicePaired, this, &MainWindow::iosDeviceConnected);
    if (!notifier->subscribe())
        MessageBox::warning(this,
                            trKey("Failed to detect iPhone. Please launch iTunes (Finder if MacOS 10.15 or above) "
                                  "first and then re-connect your iPhone. Once your iPhone is visible in iTunes "
                                  "(Finder if MacOS 10.15 or above), please restart Tallowbrook software."));
}

void MainWindow::iosDeviceConnected(const QString &devid)
{
    IosLinkState *state = linkState(this);
    if (!state)
        return;
    // A phone whose node is shown and loaded stays as it is when it is announced again: no tips, no reload,
    // the user's selection and open dialogs untouched.
    state->leaving.remove(devid);
    if (!state->loading.contains(devid) && m_treeModel->findDeviceNode(devid, PlatformIos))
        return;
    if (deferWhileDialogOpen([this, devid] { iosDeviceConnected(devid); }))
        return;
    loadIosDevice(devid, true);
}

void MainWindow::iosDeviceDisconnected(const QString &devid)
{
    IosLinkState *state = linkState(this);
    if (!state || !m_treeModel->findDeviceNode(devid, PlatformIos))
        return;
    state->leaving.insert(devid);
    QTimer::singleShot(kLeaveGraceMs, this, [this, devid] {
        IosLinkState *state = linkState(this);
        if (!state || !state->leaving.remove(devid))
            return; // announced again meanwhile
        const bool wasSelected = selectedDbNode() && selectedDbNode()->id == devid;
        m_treeModel->removeDeviceNode(devid, PlatformIos);
        if (wasSelected)
            onMainTreeItemSelected({}, {});
        updateActions();
    });
}

void MainWindow::loadIosDevice(const QString &devid, bool withTips)
{
    IosLinkState *state = linkState(this);
    if (!state)
        return;
    if (state->loading.contains(devid)) {
        state->pending.insert(devid);
        return;
    }
    state->loading.insert(devid);

    // The user may have to unlock the phone and tap "Trust" before lockdown answers.
    if (withTips)
        MessageBox::information(this, trKey("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS"));

    // An empty name when the phone cannot be opened yet (not trusted); the load below then reports the failure.
    const QString deviceName =
        mobiledevice_get_value(devid, QString(), QString()).item(QStringLiteral("DeviceName")).toString();
    qCDebug(lcApp, "IOS device connected, udid:%s name:%s", qUtf8Printable(devid), qUtf8Printable(deviceName));

    // The old node goes first: its database is the file about to be rebuilt.
    if (_DBItemNode *old = m_treeModel->findDeviceNode(devid, PlatformIos)) {
        const bool wasSelected = selectedDbNode() == old;
        removeDeviceNode(old);
        if (wasSelected)
            onMainTreeItemSelected({}, {});
    }
    QSharedPointer<LocalDb> cache(new LocalDb(iosCachePath(devid), PContactCombineRule(new IOSContactCombineRule)));
    bool created = true;
    try {
        cache->createFromTemplate();
    } catch (const std::exception &e) {
        MessageBox::error(this, MessageBox::escaped(QString::fromUtf8(e.what())));
        created = false;
    }

    if (created) {
        ProgressForm form(QString(), this);
        IOSSyncToPCThread worker(devid, cache.data(), &form);
        if (form.runWorker(&worker)) {
            showLoadedDevice(m_treeModel->addDeviceNode(PAndroidConnector(), cache,
                                                        deviceName.isEmpty() ? devid : deviceName, devid, PlatformIos));
        } else {
            cache->close(); // the partial cache stays on disk until the next load rebuilds it
        }
    }

    state->loading.remove(devid);
    if (state->pending.remove(devid))
        QMetaObject::invokeMethod(
            this, [this, devid] { loadIosDevice(devid, false); }, Qt::QueuedConnection);
}

void MainWindow::transferToIos(const QList<pim::Contact> &contacts, const QString &excludedId)
{
    if (_DBItemNode *target = chooseTargetDevice(PlatformIos, excludedId))
        sendToIos(target, contacts);
}

void MainWindow::sendToIos(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question)
{
    if (!confirmMerge(target, contacts, question) || !keepSnapshot(target, QStringLiteral("transfer")))
        return;
    ProgressForm form(QString(), this);
    form.offerUndo();
    IOSSyncToDeviceThread worker(target->id, target->db.data(), contacts, &form);
    if (form.runWorker(&worker)) {
        keepStateAfterWrite(target);
        refreshNode(target);
        if (form.undoChosen())
            undoLastChange(target);
    } else
        reloadIosDevice(target); // groups sent before the failure are on the phone: show what it holds now
}

bool MainWindow::sendIosChanges(const QString &udid, LocalDb *cache, const pim::Contact &contact,
                                const QList<pim::ChangeRecord> &changes, const QList<pim::Contact> &toDelete)
{
    _DBItemNode *node = m_treeModel->findDeviceNode(udid, PlatformIos);
    if (node && isVirtualIos(node))
        return true; // the file is all there is
    ProgressForm form(QString(), this);
    IOSSendChangesThread worker(udid, cache, contact, changes, toDelete, &form);
    if (form.runWorker(&worker))
        return true;
    if (node)
        reloadIosDevice(node);
    return false;
}

void MainWindow::reloadIosDevice(_DBItemNode *node)
{
    if (isVirtualIos(node)) {
        refreshNode(node);
        return;
    }
    const QString udid = node->id;
    node->db->close();
    loadIosDevice(udid, false); // replaces the node; the phone is known, so without the tips
}

#include "mainwindowios.moc"
