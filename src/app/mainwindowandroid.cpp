// The window's Android link: the adb device poller, a phone's arrival (authorisation, loading its contacts into
// its cache), its removal, and the Wi-Fi dialog.

#include "app/mainwindow.h"

#include "adb/adbpoll.h"
#include "android/adbconnector.h"
#include "android/androidlink.h"
#include "android/androidwificonnector.h"
#include "android/syncprotocol.h"
#include "android/syncrestorethread.h"
#include "app/itemmodelmaintree.h"
#include "app/messagebox.h"
#include "app/mytreeview.h"
#include "app/progressform.h"
#include "app/winmovable.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "widgets/androidwifiform.h"

#include <QHash>
#include <QSet>
#include <QThread>

// What the window keeps for its Android link: the poller (a child, so it is stopped and joined when the window
// goes) and the loads under way.
class AndroidLinkState : public QObject
{
    Q_OBJECT
public:
    explicit AndroidLinkState(QObject *parent) : QObject(parent) {}

    AdbPoll *poll = nullptr;
    QSet<QString> loading;
    // A phone that arrives again while its cache is being loaded waits here: rebuilding the cache file under
    // the running load would mix two sessions in one database.
    QHash<QString, PAndroidConnector> pending;
};

void MainWindow::setUpAndroidLink()
{
    auto *state = m_androidLink = new AndroidLinkState(this);
    state->poll = new AdbPoll(1000, state);
    connect(state->poll, &AbsAdbPoll::newDevice, this, &MainWindow::androidDeviceConnected);
    connect(state->poll, &AbsAdbPoll::kickDevice, this, &MainWindow::androidDeviceDisconnected);
    connect(state->poll, &AbsAdbPoll::failedDevice, this, &MainWindow::androidDeviceConnectedFailed2);
    state->poll->start(QThread::InheritPriority);
}

void MainWindow::androidDeviceConnected(const QString &path, const PAdbUSBHandle &handle)
{
    if (!handle)
        return;
    // The same phone on the same connection, announced again: its node stays as it is.
    if (const _DBItemNode *node = m_treeModel->findDeviceNode(handle->serial(), PlatformAndroid)) {
        const auto *adb = dynamic_cast<const AdbConnector *>(node->connector.data());
        if (adb && adb->handle() == handle)
            return;
    }
    if (deferWhileDialogOpen([this, path, handle] { androidDeviceConnected(path, handle); }))
        return;
    // The phone asks its user to allow this computer; until then the user may retry or give up.
    while (!handle->waitForAuth2(500)) {
        if (handle->state() == AdbUSBHandle::State::Offline)
            return; // unplugged meanwhile: its removal follows
        // The box closes by itself once the user taps Allow on the phone (or the phone goes away).
        const MessageBox::Button answer = MessageBox::showUntil(
            this, MessageBox::Icon::Warning,
            trKey("Can't connect to your Android Phone: %1.<br/><br/>If you are presented with the pop up to allow "
                  "debugging with the computer on your Android device screen. Please simply check \"Always allow from "
                  "this computer\" and then click \"OK\" to finish.<br/><br/><img src=\":res/trust-android.png\"/>")
                .arg(handle->name().toHtmlEscaped()),
            MessageBox::Abort | MessageBox::Retry, true,
            [handle] {
                const AdbUSBHandle::State state = handle->state();
                return state == AdbUSBHandle::State::Online || state == AdbUSBHandle::State::Offline;
            },
            MessageBox::Retry);
        if (answer != MessageBox::Retry)
            return;
    }
    androidDeviceIniLoad(handle->serial(), PAndroidConnector(new AdbConnector(handle)));
}

void MainWindow::androidDeviceDisconnected(const QString &path, const PAdbUSBHandle &h)
{
    const QString id = h ? h->serial() : path;
    _DBItemNode *node = m_treeModel->findDeviceNode(id, PlatformAndroid);
    if (!node)
        return;
    const bool wasSelected = selectedDbNode() == node;
    removeDeviceNode(node);
    if (wasSelected)
        onMainTreeItemSelected({}, {});
}

void MainWindow::androidDeviceConnectedFailed2(const QString &path)
{
    MessageBox::error(this,
                      trKey("Failed to connect your Android Phone.<br/>usb: %1<br/><br/>Please exit any other Android "
                            "Manager program on your computer first and then reconnect your phone to try again.")
                          .arg(path.toHtmlEscaped()));
}

void MainWindow::androidDeviceIniLoad(const QString &devId, const PAndroidConnector &connector)
{
    AndroidLinkState *state = m_androidLink;
    if (!connector || !state)
        return;
    if (state->loading.contains(devId)) {
        state->pending.insert(devId, connector);
        return;
    }
    state->loading.insert(devId);

    // The old node goes first: its database is the file about to be rebuilt.
    if (_DBItemNode *old = m_treeModel->findDeviceNode(devId, PlatformAndroid)) {
        const bool wasSelected = selectedDbNode() == old;
        removeDeviceNode(old);
        if (wasSelected)
            onMainTreeItemSelected({}, {});
    }
    QSharedPointer<AndroidContactsDb> cache(
        new AndroidContactsDb(AndroidLink::cachePath(devId), PContactCombineRule(new LocalDbCombineRule), connector));
    bool created = true;
    try {
        cache->createFromTemplate();
    } catch (const std::exception &e) {
        MessageBox::error(this, MessageBox::escaped(QString::fromUtf8(e.what())));
        created = false;
    }

    if (created) {
        ProgressForm form(QString(), this);
        SyncRestoreThread worker(cache.data(), simpleprotocol::nextSyncPort(), &form);
        if (form.runWorker(&worker)) {
            const QString name = worker.deviceName().isEmpty() ? devId : worker.deviceName();
            showLoadedDevice(m_treeModel->addDeviceNode(connector, cache, name, devId, PlatformAndroid));
        } else {
            cache->close(); // the empty cache stays on disk until the next load rebuilds it
        }
    }

    state->loading.remove(devId);
    if (state->pending.contains(devId)) {
        const PAndroidConnector next = state->pending.take(devId);
        QMetaObject::invokeMethod(
            this, [this, devId, next] { androidDeviceIniLoad(devId, next); }, Qt::QueuedConnection);
    }
}

void MainWindow::androidUsbTips()
{
}

void MainWindow::miToolsConnectViaWiFi()
{
    AndroidWIFIForm form(this);
    new WinMovable(&form);
    form.setMessageHandler([&form](bool error, const QString &text) {
        // The form has escaped what it quotes from the phone.
        if (error)
            MessageBox::error(&form, text);
        else
            MessageBox::warning(&form, text);
    });
    // The hello waits behind the progress dialog, which the user may cancel; the window stays responsive.
    form.setWaitHandler([&form](QThread *worker, const QString &address) {
        ProgressForm progress(trKey("Connecting to the phone at %1…").arg(address), &form);
        progress.setWaiting(trKey("Waiting for Tallowbrook Contacts Sync to answer."));
        QObject::connect(worker, &QThread::finished, &progress, [&progress] { progress.succeed(QString()); });
        if (worker->isFinished())
            return true;
        return progress.exec() == 1 && !progress.finishedWithoutSuccess();
    });
    if (form.exec() != QDialog::Accepted || !form.connector())
        return;
    androidDeviceIniLoad(form.wifiConnector()->deviceName(), form.connector());
}

#include "mainwindowandroid.moc"
