// The window's Android link: the device watch, a phone's arrival (authorisation, loading its contacts into its
// cache), its removal, and the Wi-Fi dialog.

#include "app/mainwindow.h"

#include "app/itemmodelmaintree.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "app/winmovable.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "devices/androidphones.h"
#include "devices/devicequestions.h"
#include "widgets/androidwifiform.h"

#include <QThread>

namespace {

// The window's answers to the device layer: a box that closes by itself once the phone settles.
class WindowQuestions : public devices::DeviceQuestions
{
public:
    explicit WindowQuestions(QWidget *window) : m_window(window) {}

    // The phone asks its user to allow this computer; until then the user may retry or give up. The box closes
    // by itself once the user taps Allow on the phone (or the phone goes away).
    bool allowOnAndroid(const QString &, const QString &name, const std::function<bool()> &settled) override
    {
        const MessageBox::Button answer = MessageBox::showUntil(
            m_window, MessageBox::Icon::Warning,
            trKey("Can't connect to your Android Phone: %1.<br/><br/>If you are presented with the pop up to allow "
                  "debugging with the computer on your Android device screen. Please simply check \"Always allow from "
                  "this computer\" and then click \"OK\" to finish.<br/><br/><img src=\":res/trust-android.png\"/>")
                .arg(name.toHtmlEscaped()),
            MessageBox::Abort | MessageBox::Retry, true, settled, MessageBox::Retry);
        return answer == MessageBox::Retry;
    }
    // The window does not poll an iPhone: it loads the phone when the phone reports that it trusts this computer.
    bool trustOnIphone(const QString &, int) override { return false; }
    void warn(const QString &text) override { MessageBox::warning(m_window, MessageBox::escaped(text)); }

private:
    QWidget *m_window;
};

} // namespace

void MainWindow::setUpAndroidLink()
{
    m_androidWatch = new devices::AndroidWatch(1000, this);
    connect(m_androidWatch, &devices::AndroidWatch::phoneArrived, this, &MainWindow::androidDeviceConnected);
    connect(m_androidWatch, &devices::AndroidWatch::phoneLeft, this, &MainWindow::androidDeviceDisconnected);
    connect(m_androidWatch, &devices::AndroidWatch::phoneFailed, this, &MainWindow::androidDeviceConnectedFailed2);
    m_androidWatch->start();
}

devices::RunWorker MainWindow::behindProgress()
{
    return [this](const devices::WorkerFactory &make) {
        ProgressForm form(QString(), this);
        const std::unique_ptr<QThread> worker = make(&form);
        return form.runWorker(worker.get());
    };
}

void MainWindow::androidDeviceConnected(const QString &serial, const PAndroidConnector &connector)
{
    if (!connector)
        return;
    // The same phone on the same connection, announced again: its node stays as it is.
    if (const _DBItemNode *node = m_treeModel->findDeviceNode(serial, PlatformAndroid))
        if (devices::AndroidWatch::sameLink(node->connector, connector))
            return;
    if (deferWhileDialogOpen([this, serial, connector] { androidDeviceConnected(serial, connector); }))
        return;
    WindowQuestions questions(this);
    if (!devices::AndroidWatch::authorise(connector, questions))
        return;
    androidDeviceIniLoad(serial, connector);
}

void MainWindow::androidDeviceDisconnected(const QString &serial)
{
    _DBItemNode *node = m_treeModel->findDeviceNode(serial, PlatformAndroid);
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
    if (!connector || !m_androidWatch)
        return;
    // A phone that arrives again while its cache is being loaded waits for that load.
    if (!m_androidWatch->loads().start(devId, [this, devId, connector] { androidDeviceIniLoad(devId, connector); }))
        return;

    // The old node goes first: its database is the file about to be rebuilt.
    if (_DBItemNode *old = m_treeModel->findDeviceNode(devId, PlatformAndroid)) {
        const bool wasSelected = selectedDbNode() == old;
        removeDeviceNode(old);
        if (wasSelected)
            onMainTreeItemSelected({}, {});
    }
    try {
        if (const std::optional<devices::LoadedPhone> loaded =
                devices::loadAndroidPhone(devId, connector, behindProgress()))
            showLoadedDevice(
                m_treeModel->addDeviceNode(connector, loaded->cache, loaded->entry.name, devId, PlatformAndroid));
    } catch (const std::exception &e) {
        MessageBox::error(this, MessageBox::escaped(QString::fromUtf8(e.what())));
    }

    if (const std::function<void()> next = m_androidWatch->loads().finish(devId))
        QMetaObject::invokeMethod(this, next, Qt::QueuedConnection);
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
    androidDeviceIniLoad(devices::wifiDeviceId(form.connector()), form.connector());
}
