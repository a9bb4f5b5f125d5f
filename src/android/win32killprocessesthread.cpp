#include "android/win32killprocessesthread.h"

#include "core/texts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QStringList>

#include <algorithm>

namespace {
constexpr int kPassIntervalMs = 1000;
}

Win32KillProcessesThread::Win32KillProcessesThread(Processes::Ops ops) : m_ops(std::move(ops))
{
}

Win32KillProcessesThread::~Win32KillProcessesThread()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_wake.wakeAll();
    }
    wait();
}

void Win32KillProcessesThread::addSilentName(const QString &name)
{
    if (name.isEmpty())
        return;
    QMutexLocker lock(&m_mutex);
    m_silentNames.insert(name.toLower());
}

void Win32KillProcessesThread::addNoticeName(const QString &name, const QString &notice)
{
    if (name.isEmpty())
        return;
    QMutexLocker lock(&m_mutex);
    m_notices.insert(name.toLower(), notice);
}

void Win32KillProcessesThread::addDefaultNames()
{
    const QString itunesNotice = trKey("iTunes can't be started when running Tallowbrook. Please close iTunes.");
    addNoticeName(QStringLiteral("itunes.exe"), itunesNotice);
    addNoticeName(QStringLiteral("itunes"), itunesNotice);
    // adb servers are not on this list: a process named "adb" may be the user's own client or server, and the
    // program reaches phones through a running server instead (AdbKillServerThread asks before ending one).
}

void Win32KillProcessesThread::notify(const QString &text)
{
    Q_EMIT noticeRequested(text);
}

void Win32KillProcessesThread::run()
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_silentNames.isEmpty() && m_notices.isEmpty())
            return;
    }
    for (;;) {
        {
            QMutexLocker lock(&m_mutex);
            if (m_stop)
                return;
        }
        scan();
        QMutexLocker lock(&m_mutex);
        const QDeadlineTimer nextPass(kPassIntervalMs);
        while (!m_stop && !nextPass.hasExpired())
            m_wake.wait(&m_mutex, nextPass);
    }
}

void Win32KillProcessesThread::scan()
{
    QSet<QString> silentNames;
    QHash<QString, QString> notices;
    {
        QMutexLocker lock(&m_mutex);
        silentNames = m_silentNames;
        notices = m_notices;
    }
    const std::optional<QList<Processes::Entry>> processes = m_ops.list();
    if (!processes)
        return;

    const qint64 self = QCoreApplication::applicationPid();
    const uint me = Processes::currentUser();
    // A program with several processes must not stack up identical boxes: each notice is shown at most once
    // per pass.
    QStringList noticesOfThisPass;
    for (const Processes::Entry &process : *processes) {
        // Another user's processes are never ours to end.
        if (process.pid == self || process.uid != me)
            continue;
        QStringList names{process.comm.toLower()};
        if (!process.exeName.isEmpty())
            names.append(process.exeName.toLower());
        const auto withNotice =
            std::find_if(names.cbegin(), names.cend(), [&](const QString &n) { return notices.contains(n); });
        if (withNotice != names.cend()) {
            m_ops.end(process.pid);
            const QString notice = notices.value(*withNotice);
            if (!noticesOfThisPass.contains(notice))
                noticesOfThisPass.append(notice);
        } else if (std::any_of(names.cbegin(), names.cend(),
                               [&](const QString &n) { return silentNames.contains(n); })) {
            m_ops.end(process.pid);
        }
    }
    // The object lives in the GUI thread, so the call is queued there.
    for (const QString &notice : std::as_const(noticesOfThisPass))
        QMetaObject::invokeMethod(
            this, [this, notice] { notify(notice); }, Qt::QueuedConnection);
}
