#pragma once

#include "android/iandroidconnector.h"

#include <QDialog>

#include <functional>

class AndroidWifiConnector;
class QThread;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the Wi-Fi address of a phone that runs the companion app and says hello to it. Accepted once the app
// answered; the connector, which knows the phone's name, then goes to the caller.
class AndroidWIFIForm : public QDialog
{
    Q_OBJECT
public:
    explicit AndroidWIFIForm(QWidget *parent = nullptr);
    ~AndroidWIFIForm() override;

    // The connector of the phone that answered; null before that.
    PAndroidConnector connector() const { return m_connector; }
    // The same connector with its Wi-Fi operations (device name, address).
    AndroidWifiConnector *wifiConnector() const;

    // The window shows its own message boxes; without a handler the plain Qt boxes are used. error is false
    // for the input warning and true for a failed connection. The text is rich text (anything quoted from the
    // phone is escaped).
    using MessageHandler = std::function<void(bool error, const QString &text)>;
    void setMessageHandler(MessageHandler handler) { m_message = std::move(handler); }

    // The hello runs on a thread of its own (a phone that does not answer takes up to 15 s). The window waits
    // for it behind its progress dialog: the handler returns once the worker has finished (true) or the user
    // cancelled (false; the worker then ends by itself and its result is dropped). Without a handler the form
    // waits in a local event loop.
    using WaitHandler = std::function<bool(QThread *worker, const QString &address)>;
    void setWaitHandler(WaitHandler handler) { m_wait = std::move(handler); }

    // Runs the dialog modally, or headless when answers are queued (below).
    int exec() override;
    // Headless runs (tests, scripted window flows): each queued answer is typed into the address field and
    // "Connect" is pressed, as a user retries after a message; running out of answers cancels.
    static void queueAnswer(const QString &text);

public Q_SLOTS:
    void onBtnConnect();

private:
    void showMessage(bool error, const QString &text);

    QLabel *m_label2;
    QLabel *m_label;
    QLineEdit *m_txtWifiSocket;
    QPushButton *m_btnConnect;
    QPushButton *m_btnClose;
    QLabel *m_lbTipsDownloadWifiConnection;
    PAndroidConnector m_connector;
    MessageHandler m_message;
    WaitHandler m_wait;
};
