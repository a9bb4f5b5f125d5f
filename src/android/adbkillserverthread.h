#pragma once

#include "core/processes.h"

#include <QMutex>
#include <QSet>
#include <QThread>
#include <QWaitCondition>

// Watches, once a second for the life of the program, the adb server port (5037, or ANDROID_ADB_SERVER_PORT)
// while the program drives the phones' USB interfaces itself: an adb server started meanwhile competes for
// them. Only a process of our own user that holds the port counts, and only when the listener answers the adb
// host protocol ("host:version") as an adb server does; anything else on the port is none of our business.
// Such a server is ended only when the user asked: at once with Policy::End (the --end-adb-server option),
// else after the user answered yes to endQuestion, which is asked once per process.
class AdbKillServerThread : public QThread
{
    Q_OBJECT

public:
    enum class Policy { Ask, End };

    // `ops` is the real process table unless a test substitutes its own; port 0 means the adb server port.
    explicit AdbKillServerThread(Processes::Ops ops = Processes::Ops::system(), quint16 port = 0);
    // Stops the loop and waits for it: at most the current pass and one second.
    ~AdbKillServerThread() override;

    void setPolicy(Policy policy);
    quint16 port() const { return m_port; }

public Q_SLOTS:
    // The user's answer to endQuestion; yes ends that process on the next pass.
    void answer(qint64 pid, bool end);

Q_SIGNALS:
    // An adb server of ours runs as pid; emitted on the watcher's thread, once per process.
    void endQuestion(qint64 pid, const QString &name, const QString &path);
    // An adb server was ended (after asking it to exit, and by force when it did not).
    void serverEnded(qint64 pid);

protected:
    void run() override;

private:
    void pass();
    void endServer(qint64 pid);

    const Processes::Ops m_ops;
    const quint16 m_port;
    QMutex m_mutex;
    QWaitCondition m_wake; // cuts the sleep short when stopping
    bool m_stop = false;
    Policy m_policy = Policy::Ask;
    QSet<qint64> m_asked;
    QSet<qint64> m_allowed;
};
