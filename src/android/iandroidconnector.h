#pragma once

#include <QSharedPointer>
#include <QString>

// Prepares one Android phone for a sync session and tells the session thread where to connect. Every call
// blocks and runs on the calling thread (a worker thread; the GUI thread only for the Wi-Fi hello).
class IAndroidConnector
{
public:
    virtual ~IAndroidConnector() = default;
    // Makes sure the companion app is on the phone; throws std::runtime_error when it can not be installed.
    virtual void prepare() = 0;
    // Starts a session on port in which the phone sends its contacts; returns the host to connect to. A connector
    // that can not use the port moves the session to another one and leaves that in port: the caller connects to
    // the port it holds on return.
    virtual QString startBackup(int &port) = 0;
    // Starts a session on port in which the phone receives contacts; returns the host to connect to. The port is
    // handed over as for startBackup.
    virtual QString startRestore(int &port) = 0;
    // The phone's log, for error reports; empty when there is none.
    virtual QString deviceLog() = 0;
};

using PAndroidConnector = QSharedPointer<IAndroidConnector>;
