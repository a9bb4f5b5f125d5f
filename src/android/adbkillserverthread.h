#pragma once

#include "processes.h"

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

// Ends, once a second for the life of the program, whatever process holds the adb server port 5037 on this
// machine (listening there, or connected from there), so that no adb server competes with our own adb link.
// Connections that only lead to port 5037 elsewhere are left alone, and so is our own process.
class AdbKillServerThread : public QThread
{
    Q_OBJECT

public:
    static constexpr quint16 kAdbPort = 5037;

    // `ops` is the real process table unless a test substitutes its own.
    explicit AdbKillServerThread(Processes::Ops ops = Processes::Ops::system());
    // Stops the loop and waits for it: at most the current pass and one second.
    ~AdbKillServerThread() override;

protected:
    void run() override;

private:
    const Processes::Ops m_ops;
    QMutex m_mutex;
    QWaitCondition m_wake; // cuts the sleep short when stopping
    bool m_stop = false;
};
