#include "android/adbkillserverthread.h"

#include "adb/adbserver.h"
#include "android/log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QFileInfo>
#include <QMutexLocker>

namespace {
constexpr int kPassIntervalMs = 1000;
constexpr int kProbeTimeoutMs = 1000;
constexpr int kExitWaitMs = 2000;
} // namespace

AdbKillServerThread::AdbKillServerThread(Processes::Ops ops, quint16 port)
    : m_ops(std::move(ops)), m_port(port != 0 ? port : adbserver::serverPort())
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

void AdbKillServerThread::setPolicy(Policy policy)
{
    QMutexLocker lock(&m_mutex);
    m_policy = policy;
}

void AdbKillServerThread::answer(qint64 pid, bool end)
{
    QMutexLocker lock(&m_mutex);
    if (end)
        m_allowed.insert(pid);
    m_wake.wakeAll();
}

void AdbKillServerThread::run()
{
    for (;;) {
        {
            QMutexLocker lock(&m_mutex);
            if (m_stop)
                return;
        }
        pass();
        QMutexLocker lock(&m_mutex);
        const QDeadlineTimer nextPass(kPassIntervalMs);
        while (!m_stop && !nextPass.hasExpired())
            m_wake.wait(&m_mutex, nextPass);
    }
}

void AdbKillServerThread::pass()
{
    // An unreadable table skips this pass.
    const std::optional<QList<qint64>> owners = m_ops.localTcpPortOwners(m_port);
    if (!owners)
        return;
    const qint64 self = QCoreApplication::applicationPid();
    const uint me = Processes::currentUser();
    const auto userOf = m_ops.userOf ? m_ops.userOf : &Processes::userOf;
    QList<qint64> ours;
    for (const qint64 pid : *owners)
        if (pid > 0 && pid != self && userOf(pid) == me && !ours.contains(pid))
            ours.append(pid);
    if (ours.isEmpty())
        return;
    // Whatever holds the port must prove to be an adb server before we do anything about it.
    if (!adbserver::probe(m_port, kProbeTimeoutMs).isAdbServer)
        return;
    for (const qint64 pid : std::as_const(ours)) {
        bool end;
        bool ask;
        {
            QMutexLocker lock(&m_mutex);
            end = m_policy == Policy::End || m_allowed.contains(pid);
            ask = !end && !m_asked.contains(pid);
            if (ask)
                m_asked.insert(pid);
        }
        if (end) {
            endServer(pid);
        } else if (ask) {
            const QString path = Processes::executablePath(pid);
            Q_EMIT endQuestion(pid, path.isEmpty() ? QStringLiteral("adb") : QFileInfo(path).fileName(), path);
        }
    }
}

void AdbKillServerThread::endServer(qint64 pid)
{
    // Asked politely first ("host:kill"): the server then lets go of the phones and its files in order.
    QString error;
    if (!adbserver::killServer(m_port, kExitWaitMs, &error)) {
        qCWarning(lcAndroid).noquote() << "AdbKillServerThread:" << error << "- ending process" << pid;
        m_ops.end(pid);
    }
    {
        QMutexLocker lock(&m_mutex);
        m_allowed.remove(pid);
    }
    Q_EMIT serverEnded(pid);
}
