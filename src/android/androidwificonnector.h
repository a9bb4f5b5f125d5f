#pragma once

#include "android/iandroidconnector.h"

#include <stdexcept>

// The companion app's Wi-Fi listener did not accept a connection in time.
class WifiServiceTimeoutException : public std::runtime_error
{
public:
    WifiServiceTimeoutException() : std::runtime_error("WifiServiceTimeoutException") {}
};

// A phone reached over Wi-Fi: the companion app (installed by the user) listens on port 48888 of the phone's
// address; hello() learns the phone's name, and each session start asks the app to listen on the session port.
class AndroidWifiConnector : public IAndroidConnector
{
public:
    static constexpr int kConnectTimeoutMs = 15000;

    AndroidWifiConnector();
    ~AndroidWifiConnector() override;

    // The IPv4 address in what the user typed (blanks around it are fine); empty when it is not one.
    static QString parseAddress(const QString &input);

    // Stores the address and asks the app for the phone's name. Throws WifiServiceTimeoutException when the
    // listener can not be reached, SocketDataTransferException or RemoteException when it answers badly.
    void hello(const QString &address);

    const QString &address() const { return m_address; }
    // The phone's name from hello(); the device id of a Wi-Fi phone.
    const QString &deviceName() const { return m_deviceName; }

    void prepare() override {}
    // The port is the phone's: it is used as given.
    QString startBackup(int &port) override;
    QString startRestore(int &port) override;
    QString deviceLog() override { return {}; }

private:
    QString startSession(const char *command, int port);

    QString m_address;
    QString m_deviceName;
};
