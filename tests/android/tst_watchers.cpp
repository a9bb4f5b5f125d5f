#include "adbkillserverthread.h"
#include "processes.h"
#include "win32killprocessesthread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>

namespace {

const qint64 self = QCoreApplication::applicationPid();

// A copy of the stand-in process under `name` in a private folder that only this test uses.
QString copyAs(const QTemporaryDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    if (!QFile::exists(path))
        QFile::copy(QStringLiteral(WATCH_HELPER), path);
    return path;
}

// Ends the child, if still running, when the test lets go of it: a test only ever ends what it started.
struct EndChild
{
    void operator()(QProcess *process) const
    {
        process->kill();
        process->waitForFinished(5000);
        delete process;
    }
};
using Child = std::unique_ptr<QProcess, EndChild>;

Child startAs(const QTemporaryDir &dir, const QString &name, const QStringList &args = {})
{
    Child process(new QProcess);
    process->start(copyAs(dir, name), args);
    process->waitForStarted();
    return process;
}

QByteArray firstLine(QProcess &process)
{
    while (!process.canReadLine() && process.waitForReadyRead(5000)) {
    }
    return process.readLine().trimmed();
}

// Ended: no longer in /proc, or a zombie left for a parent that never collects it.
bool gone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

// Processes of these (lower-case) names that a watcher would end, other than our own.
QStringList processesNamed(const QStringList &names)
{
    QStringList found;
    for (const Processes::Entry &p : Processes::list().value_or(QList<Processes::Entry>{}))
        if (p.pid != self && (names.contains(p.comm.toLower()) || names.contains(p.exeName.toLower())))
            found << QStringLiteral("%1 (%2)").arg(p.comm).arg(p.pid);
    return found;
}

} // namespace

class TestWatchers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The platform layer on real processes: the full name past the kernel's 15 characters and after the
    // executable is deleted; the owner of a listening port; a client of a port is not its owner.
    void processTableAndPortOwnersComeFromProc()
    {
        QTemporaryDir dir;
        const QString longName = QStringLiteral("TbWatch-Probe-Long-Name");
        auto probe = startAs(dir, longName, {QStringLiteral("listen"), QStringLiteral("0")});
        const quint16 port = firstLine(*probe).toUShort();
        QVERIFY(port != 0);
        QVERIFY(QFile::remove(dir.filePath(longName)));
        const auto processes = Processes::list();
        QVERIFY(processes);
        const auto it = std::find_if(processes->cbegin(), processes->cend(),
                                     [&](const Processes::Entry &e) { return e.pid == probe->processId(); });
        QVERIFY(it != processes->cend());
        QCOMPARE(it->comm, longName.left(15));
        QCOMPARE(it->exeName, longName);
        QCOMPARE(Processes::localTcpPortOwners(port), QList<qint64>{probe->processId()});

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        auto client = startAs(dir, QStringLiteral("TbWatch-Client"),
                              {QStringLiteral("connect"), QString::number(server.serverPort())});
        QCOMPARE(firstLine(*client), QByteArray("ok"));
        QVERIFY(server.waitForNewConnection(5000));
        QCOMPARE(Processes::localTcpPortOwners(server.serverPort()), QList<qint64>{self});

        QVERIFY(!Processes::end(self));
        QVERIFY(Processes::end(probe->processId()));
        QVERIFY(probe->waitForFinished(5000));
        QCOMPARE(probe->exitStatus(), QProcess::CrashExit);
    }

    // The names the program registers, in whatever case the executable carries them; a similar name survives.
    void watchedNamesAreEndedInAnyCase()
    {
        if (const QStringList others = processesNamed(
                {QStringLiteral("adb"), QStringLiteral("adb.exe"), QStringLiteral("tadb"),
                 QStringLiteral("tadb.exe"), QStringLiteral("itunes"), QStringLiteral("itunes.exe")});
            !others.isEmpty())
            QSKIP(
                qPrintable(QStringLiteral("not ours, would be ended: ") + others.join(QStringLiteral(", "))));
        QTemporaryDir dir;
        std::vector<Child> doomed;
        for (const char *name : {"adb", "ADB.EXE", "Tadb.exe"})
            doomed.push_back(startAs(dir, QLatin1String(name)));
        auto survivor = startAs(dir, QStringLiteral("adbd"));

        Win32KillProcessesThread watcher;
        watcher.addDefaultNames();
        QElapsedTimer clock;
        clock.start();
        watcher.start();
        for (const auto &p : doomed)
            QTRY_COMPARE_WITH_TIMEOUT(p->state(), QProcess::NotRunning, 2500);
        QVERIFY(clock.elapsed() < 2000);
        QTest::qWait(1200); // one more pass
        QCOMPARE(survivor->state(), QProcess::Running);
    }

    // One notice per pass however many of the program's processes it ended, none for ended processes that
    // their parent has not collected yet, and delivered on the GUI thread.
    void noticeIsShownOncePerPassThatEndsTheProgram()
    {
        QTemporaryDir dir;
        const QString name = QStringLiteral("TbTunes.EXE");
        const QString path = copyAs(dir, name);
        auto parent = startAs(dir, QStringLiteral("TbTunesParent"), {QStringLiteral("spawn"), path, path});
        const qint64 first = firstLine(*parent).toLongLong();
        const qint64 second = firstLine(*parent).toLongLong();
        QVERIFY(first > 0 && second > 0);
        QTRY_COMPARE(processesNamed({name.toLower()}).size(), 2); // both named before the first pass

        Win32KillProcessesThread watcher;
        watcher.addNoticeName(QStringLiteral("TbTunes.exe"), QStringLiteral("Close TbTunes."));
        QSignalSpy notices(&watcher, &Win32KillProcessesThread::noticeRequested);
        bool onGuiThread = true;
        connect(&watcher, &Win32KillProcessesThread::noticeRequested, this,
                [&] { onGuiThread = onGuiThread && QThread::currentThread() == thread(); });
        watcher.start();
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 2500);
        QVERIFY(gone(first) && gone(second));
        QTest::qWait(2500); // two more passes with the two zombies still there
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.at(0).at(0).toString(), QStringLiteral("Close TbTunes."));

        auto again = startAs(dir, name);
        QTRY_COMPARE_WITH_TIMEOUT(again->state(), QProcess::NotRunning, 2500);
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 2, 1000);
        QVERIFY(onGuiThread);
    }

    // Whatever listens on 5037 is ended, under any name; a client of a server on 5037 is not, and neither are
    // we.
    void adbPortOwnersAreEndedButNotItsClients()
    {
        const auto owners = Processes::localTcpPortOwners(AdbKillServerThread::kAdbPort);
        QVERIFY(owners);
        if (!owners->isEmpty())
            QSKIP(
                "port 5037 is held by a process this test did not start (an adb server?); it would be ended");
        QTemporaryDir dir;
        AdbKillServerThread watcher;
        watcher.start();

        QElapsedTimer clock;
        clock.start();
        auto holder =
            startAs(dir, QStringLiteral("TbPortHolder"), {QStringLiteral("listen"), QStringLiteral("5037")});
        if (firstLine(*holder) == "busy")
            QSKIP("port 5037 cannot be bound on this machine");
        QTRY_COMPARE_WITH_TIMEOUT(holder->state(), QProcess::NotRunning, 2500);
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(holder->exitStatus(), QProcess::CrashExit);

        // Now we hold the port, and the accepted connection's local port is 5037 too.
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, AdbKillServerThread::kAdbPort))
            QSKIP("port 5037 cannot be bound again on this machine");
        auto client =
            startAs(dir, QStringLiteral("TbPortClient"), {QStringLiteral("connect"), QStringLiteral("5037")});
        QCOMPARE(firstLine(*client), QByteArray("ok"));
        QVERIFY(server.waitForNewConnection(5000));
        QTest::qWait(2500);
        QCOMPARE(client->state(), QProcess::Running);
    }

    // With fake process tables: stopping lets a running scan finish and then waits at most one sleep. Along
    // the way: neither watcher ends its own process or pid 0, and an unreadable table skips a pass, not the
    // loop.
    void stoppingWaitsForTheScanAndAtMostOneSleep()
    {
        QSemaphore scansStarted;
        std::atomic<int> scansFinished = 0;
        std::atomic<int> tableReads = 0;
        QMutex endedMutex;
        QList<qint64> ended;
        Processes::Ops ops;
        ops.list = [&] {
            scansStarted.release();
            QThread::msleep(400);
            ++scansFinished;
            return QList<Processes::Entry>{{self, QStringLiteral("adb"), {}},
                                           {4242, QStringLiteral("x"), QStringLiteral("ADB")}};
        };
        ops.localTcpPortOwners = [&](quint16 port) -> std::optional<QList<qint64>> {
            if (port != AdbKillServerThread::kAdbPort || tableReads++ == 0)
                return std::nullopt;
            return QList<qint64>{0, self, 4343};
        };
        ops.end = [&](qint64 pid) {
            QMutexLocker lock(&endedMutex);
            ended << pid;
            return true;
        };

        auto processWatcher = std::make_unique<Win32KillProcessesThread>(ops);
        processWatcher->addDefaultNames();
        processWatcher->start();
        QVERIFY(scansStarted.tryAcquire(2, 3000)); // inside the second scan
        QElapsedTimer clock;
        clock.start();
        processWatcher.reset();
        QVERIFY(clock.elapsed() < 400 + 1100);
        QCOMPARE(scansFinished.load(), 2);

        auto portWatcher = std::make_unique<AdbKillServerThread>(ops);
        portWatcher->start();
        QTRY_VERIFY_WITH_TIMEOUT(tableReads >= 2, 2500);
        QTest::qWait(200); // in the sleep after the second pass
        clock.restart();
        portWatcher.reset();
        QVERIFY(clock.elapsed() < 1100);
        QMutexLocker lock(&endedMutex);
        QCOMPARE(ended, (QList<qint64>{4242, 4242, 4343}));
    }
};

QTEST_GUILESS_MAIN(TestWatchers)
#include "tst_watchers.moc"
