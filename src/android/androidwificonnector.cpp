#include "android/androidwificonnector.h"

#include "android/androidlink.h"
#include "android/syncprotocol.h"

#include <QRegularExpression>
#include <QTcpSocket>

using namespace Qt::StringLiterals;

AndroidWifiConnector::AndroidWifiConnector() = default;

AndroidWifiConnector::~AndroidWifiConnector() = default;

QString AndroidWifiConnector::parseAddress(const QString &input)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(u"([0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3})"_s));
    const QRegularExpressionMatch m = pattern.match(input.trimmed());
    return m.hasMatch() ? m.captured(1) : QString();
}

void AndroidWifiConnector::hello(const QString &address)
{
    m_address = address;
    QTcpSocket socket;
    socket.connectToHost(address, quint16(AndroidLink::wifiListenerPort()), QIODevice::ReadWrite);
    if (!socket.waitForConnected(kConnectTimeoutMs))
        throw WifiServiceTimeoutException();
    simpleprotocol::writeCommand(&socket, QLatin1String(simpleprotocol::kHello), u"//127.0.0.1"_s, true, -1);
    // This runs on the GUI thread: a listener that takes the connection and never answers must not freeze the
    // window, so the answer gets the same time as the connect.
    const QString reply = simpleprotocol::readReply(&socket, kConnectTimeoutMs);
    m_deviceName = reply.mid(int(qstrlen(simpleprotocol::kHello)));
    socket.close();
}

QString AndroidWifiConnector::startSession(const char *command, int port)
{
    QTcpSocket socket;
    socket.connectToHost(m_address, quint16(AndroidLink::wifiListenerPort()), QIODevice::ReadWrite);
    if (!socket.waitForConnected(kConnectTimeoutMs))
        throw std::runtime_error(socket.errorString().toStdString());
    simpleprotocol::writeCommand(&socket, QLatin1String(command), u"//127.0.0.1:%1/"_s.arg(port), true, -1);
    AndroidLink::pause(AndroidLink::pauseAfterSessionStartMs());
    socket.close();
    return m_address;
}

QString AndroidWifiConnector::startBackup(int &port)
{
    return startSession(simpleprotocol::kBackup, port);
}

QString AndroidWifiConnector::startRestore(int &port)
{
    return startSession(simpleprotocol::kRestore, port);
}
