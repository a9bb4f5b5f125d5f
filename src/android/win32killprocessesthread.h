#pragma once

#include "core/processes.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QThread>
#include <QWaitCondition>

// Ends, once a second for the life of the program, the processes of other programs that take the phones away
// from us: a running iTunes (with a notice to the user). Only processes of our own user are looked at. Process
// names are compared lower-cased with both the kernel's process name and the executable's file name.
//
// The object lives in the GUI thread; run() scans on its own thread and hands notices back to the GUI thread
// through a queued call of notify().
class Win32KillProcessesThread : public QThread
{
    Q_OBJECT

public:
    // `ops` is the real process table unless a test substitutes its own.
    explicit Win32KillProcessesThread(Processes::Ops ops = Processes::Ops::system());
    // Stops the loop and waits for it: at most the current scan and one second.
    ~Win32KillProcessesThread() override;

    // Ends processes of this name without telling anyone.
    void addSilentName(const QString &name);
    // Ends processes of this name and then shows `notice`, once per pass that ended any of them.
    void addNoticeName(const QString &name, const QString &notice);
    // What the program watches: iTunes with its notice, under its Windows name (as it runs under Wine) and its
    // Linux name. adb servers are left to AdbKillServerThread, which checks what a process is before it acts.
    void addDefaultNames();

public Q_SLOTS:
    // GUI thread: passes the notice on to whoever shows it (the window's message box).
    void notify(const QString &text);

Q_SIGNALS:
    void noticeRequested(const QString &text);

protected:
    void run() override;

private:
    void scan();

    const Processes::Ops m_ops;
    QMutex m_mutex;
    QWaitCondition m_wake; // cuts the sleep short when stopping
    bool m_stop = false;
    QSet<QString> m_silentNames;
    QHash<QString, QString> m_notices;
};
