#include "adbkillserverthread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutexLocker>

namespace {
constexpr int kPassIntervalMs = 1000;
}

AdbKillServerThread::AdbKillServerThread(Processes::Ops ops) : m_ops(std::move(ops))
{
}

AdbKillServerThread::~AdbKillServerThread()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_wake.wakeAll();
    }
    wait();
}

void AdbKillServerThread::run()
{
    const qint64 self = QCoreApplication::applicationPid();
    for (;;) {
        {
            QMutexLocker lock(&m_mutex);
            if (m_stop)
                return;
        }
        // An unreadable table skips this pass.
        if (const std::optional<QList<qint64>> owners = m_ops.localTcpPortOwners(kAdbPort)) {
            for (const qint64 pid : *owners)
                if (pid != 0 && pid != self)
                    m_ops.end(pid);
        }
        QMutexLocker lock(&m_mutex);
        const QDeadlineTimer nextPass(kPassIntervalMs);
        while (!m_stop && !nextPass.hasExpired())
            m_wake.wait(&m_mutex, nextPass);
    }
}
