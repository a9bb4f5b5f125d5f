#include "widgets/androidwifiform.h"

#include "android/androidwificonnector.h"
#include "core/texts.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>
#include <QThread>

#include <atomic>

namespace {
QQueue<QString> queuedAnswers; // GUI thread only

// What the hello thread found out; shared, so that a cancelled wait may drop the thread at any time.
struct HelloResult
{
    enum Failure { Timeout, Refused, Other };
    std::atomic<bool> done{false};
    PAndroidConnector connector; // set on success
    Failure failure = Other;
    QString error;
};

// Says hello to the companion app at an address. A connect that fails well before the connector's timeout was
// refused (nothing listens there), which the user fixes differently from a phone that never answered.
class HelloThread : public QThread
{
public:
    HelloThread(const QString &address, const QSharedPointer<HelloResult> &result)
        : m_address(address), m_result(result)
    {
    }

protected:
    void run() override
    {
        QElapsedTimer clock;
        clock.start();
        auto connector = QSharedPointer<AndroidWifiConnector>::create();
        try {
            connector->hello(m_address);
            m_result->connector = connector;
        } catch (const WifiServiceTimeoutException &) {
            m_result->failure = clock.elapsed() < AndroidWifiConnector::kConnectTimeoutMs - 1000 ? HelloResult::Refused
                                                                                                 : HelloResult::Timeout;
        } catch (const std::exception &e) {
            m_result->error = QString::fromUtf8(e.what());
        }
        m_result->done.store(true);
    }

private:
    const QString m_address;
    const QSharedPointer<HelloResult> m_result;
};

QString applicationStyleSheet()
{
    QFile file(QStringLiteral(":/res/style.css"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
} // namespace

AndroidWIFIForm::AndroidWIFIForm(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(404, 226);
    setWindowTitle(trKey("Connect Android via WiFi"));
    setStyleSheet(applicationStyleSheet() +
                  QStringLiteral(" #lbTipsDownloadWifiConnection { font-size:9px; color:#767B7C; margin:0 10px;}"));

    m_label2 = new QLabel(trKey("Connect Android via WiFi"), this);
    m_label2->setObjectName(QStringLiteral("label_2"));
    m_label2->setGeometry(20, 10, 271, 16);

    // Long texts stay whole on one line each: they are translation keys as they stand.
    m_label = new QLabel(trKey("Run Tallowbrook Contacts Sync on Android phone and click Connection button to get the "
                               "Wifi connection info. Now input the info to the following Text Box. "),
                         this);
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setGeometry(40, 40, 341, 61);
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label->setWordWrap(true);

    m_txtWifiSocket = new QLineEdit(this);
    m_txtWifiSocket->setObjectName(QStringLiteral("txtWifiSocket"));
    m_txtWifiSocket->setGeometry(40, 110, 331, 20);

    m_btnConnect = new QPushButton(trKey("Connect"), this);
    m_btnConnect->setObjectName(QStringLiteral("btnConnect"));
    m_btnConnect->setGeometry(100, 140, 75, 23);
    m_btnClose = new QPushButton(trKey("Cancel"), this);
    m_btnClose->setObjectName(QStringLiteral("btnClose"));
    m_btnClose->setGeometry(230, 140, 75, 23);

    m_lbTipsDownloadWifiConnection =
        new QLabel(trKey("If you haven't installed Tallowbrook Contacts Sync on Android phone, please go to the Market "
                         "(Google Play) on your Android to search Tallowbrook Contacts Sync to download and install."),
                   this);
    m_lbTipsDownloadWifiConnection->setObjectName(QStringLiteral("lbTipsDownloadWifiConnection"));
    m_lbTipsDownloadWifiConnection->setGeometry(0, 190, 401, 31);
    m_lbTipsDownloadWifiConnection->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    m_lbTipsDownloadWifiConnection->setWordWrap(true);
    m_lbTipsDownloadWifiConnection->setOpenExternalLinks(true);

    connect(m_btnConnect, &QPushButton::pressed, this, &AndroidWIFIForm::onBtnConnect);
    connect(m_btnClose, &QPushButton::pressed, this, &QDialog::reject);
}

AndroidWIFIForm::~AndroidWIFIForm() = default;

AndroidWifiConnector *AndroidWIFIForm::wifiConnector() const
{
    return static_cast<AndroidWifiConnector *>(m_connector.data());
}

void AndroidWIFIForm::showMessage(bool error, const QString &text)
{
    if (m_message) {
        m_message(error, text);
        return;
    }
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Warning, Product::title(), text, QMessageBox::Ok,
                    this);
    box.exec();
}

void AndroidWIFIForm::onBtnConnect()
{
    const QString address = AndroidWifiConnector::parseAddress(m_txtWifiSocket->text());
    if (address.isEmpty()) {
        showMessage(false, trKey("IDS_WIFI_SOCK_WRONG_FOR_EXAMPLE"));
        return;
    }
    const auto result = QSharedPointer<HelloResult>::create();
    auto *worker = new HelloThread(address, result);
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
    bool finished = false;
    if (m_wait) {
        finished = m_wait(worker, address);
    } else {
        QEventLoop loop;
        QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
        if (!result->done.load())
            loop.exec();
        finished = true;
    }
    if (!finished || !result->done.load())
        return; // cancelled: the dialog stays open for another try

    if (result->connector) {
        m_connector = result->connector;
        accept();
        return;
    }
    // What failed, then what to check.
    QString reason;
    switch (result->failure) {
    case HelloResult::Timeout:
        reason = trKey("IDS_WIFI_CONNECTOR_CONNECT_TIMEOUT");
        break;
    case HelloResult::Refused:
        reason = trKey("The phone refused the connection.") + u' ' +
                 trKey("Please check that Tallowbrook Contacts Sync is installed and running on the phone, that the "
                       "address is the one the app shows, and that the phone is on the same network as this computer.");
        break;
    case HelloResult::Other:
        reason = result->error.toHtmlEscaped() + QStringLiteral("<br/><br/>") +
                 trKey("Please check that Tallowbrook Contacts Sync is installed and running on the phone, that the "
                       "address is the one the app shows, and that the phone is on the same network as this computer.");
        break;
    }
    showMessage(true,
                trKey("Could not connect to the phone at %1.").arg(address) + QStringLiteral("<br/><br/>") + reason);
}

int AndroidWIFIForm::exec()
{
    if (queuedAnswers.isEmpty())
        return QDialog::exec();
    while (!queuedAnswers.isEmpty()) {
        m_txtWifiSocket->setText(queuedAnswers.dequeue());
        onBtnConnect();
        if (result() == QDialog::Accepted)
            return QDialog::Accepted;
    }
    reject();
    return QDialog::Rejected;
}

void AndroidWIFIForm::queueAnswer(const QString &text)
{
    queuedAnswers.enqueue(text);
}
