#include "androidwifiform.h"

#include "androidwificonnector.h"
#include "texts.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>

namespace {
QQueue<QString> queuedAnswers; // GUI thread only

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
    setStyleSheet(applicationStyleSheet()
                  + QStringLiteral(" #lbTipsDownloadWifiConnection { font-size:9px; color:#767B7C; margin:0 10px;}"));

    m_label2 = new QLabel(trKey("Connect Android via WiFi"), this);
    m_label2->setObjectName(QStringLiteral("label_2"));
    m_label2->setGeometry(20, 10, 271, 16);

    // Long texts stay whole on one line each: they are translation keys as they stand.
    m_label = new QLabel(
        trKey("Run Tallowbrook Contacts Sync on Android phone and click Connection button to get the Wifi connection info. Now input the info to the following Text Box. "),
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

    m_lbTipsDownloadWifiConnection = new QLabel(
        trKey("If you haven't installed Tallowbrook Contacts Sync on Android phone, please go to the Market (Google Play) on your Android to search Tallowbrook Contacts Sync to download and install."),
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
    auto connector = QSharedPointer<AndroidWifiConnector>::create();
    try {
        connector->hello(address);
    } catch (const WifiServiceTimeoutException &) {
        showMessage(true, trKey("IDS_WIFI_CONNECTOR_CONNECT_TIMEOUT"));
        return;
    } catch (const std::exception &e) {
        showMessage(true, QString::fromUtf8(e.what()));
        return;
    }
    m_connector = connector;
    accept();
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
