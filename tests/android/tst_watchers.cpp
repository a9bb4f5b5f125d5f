#include "android/adbkillserverthread.h"
#include "android/win32killprocessesthread.h"
#include "core/processes.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

    // The names the program registers, in whatever case the executable carries them; adb clients and servers
    // are not on the list any more (they may be the user's own work), and a similar name survives too.
    void watchedNamesAreEndedInAnyCaseButAdbIsLeftAlone()
    {
        if (const QStringList others = processesNamed({QStringLiteral("itunes"), QStringLiteral("itunes.exe")});
            !others.isEmpty())
            QSKIP(qPrintable(QStringLiteral("not ours, would be ended: ") + others.join(QStringLiteral(", "))));
        QTemporaryDir dir;
        std::vector<Child> doomed;
        for (const char *name : {"itunes", "ITUNES.EXE"})
            doomed.push_back(startAs(dir, QLatin1String(name)));
        std::vector<Child> survivors;
        for (const char *name : {"adb", "ADB.EXE", "Tadb.exe", "adbd", "iTunesHelper"})
            survivors.push_back(startAs(dir, QLatin1String(name)));

        Win32KillProcessesThread watcher;
        watcher.addDefaultNames();
        QElapsedTimer clock;
        clock.start();
        watcher.start();
        for (const auto &p : doomed)
            QTRY_COMPARE_WITH_TIMEOUT(p->state(), QProcess::NotRunning, 2500);
        QVERIFY(clock.elapsed() < 2000);
        QTest::qWait(1200); // one more pass
        for (const auto &p : survivors)
            QCOMPARE(p->state(), QProcess::Running);
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

    // Something on the adb server port that does not answer as an adb server is none of our business, even
    // with the option that ends adb servers: a plain listener (accepting, silent) and one of our clients.
    void plainListenerOnTheAdbPortIsLeftAlone()
    {
        QTemporaryDir dir;
        auto holder = startAs(dir, QStringLiteral("adb"), {QStringLiteral("listen"), QStringLiteral("0")});
        const quint16 port = firstLine(*holder).toUShort();
        QVERIFY(port != 0);
        AdbKillServerThread watcher(Processes::Ops::system(), port);
        watcher.setPolicy(AdbKillServerThread::Policy::End);
        QSignalSpy questions(&watcher, &AdbKillServerThread::endQuestion);
        QSignalSpy ended(&watcher, &AdbKillServerThread::serverEnded);
        watcher.start();
        QTest::qWait(3500); // three passes, each probing the listener
        QCOMPARE(holder->state(), QProcess::Running);
        QCOMPARE(questions.size(), 0);
        QCOMPARE(ended.size(), 0);
    }

    // An adb server of ours that starts while we drive the phones: the user is asked once, naming the program,
    // its id and path; nothing happens on No; Yes asks the server to exit, which it does.
    void adbServerIsEndedOnlyWhenTheUserSaysSo()
    {
        QTemporaryDir dir;
        auto server = startAs(dir, QStringLiteral("adb"), {QStringLiteral("adbserver"), QStringLiteral("0")});
        const quint16 port = firstLine(*server).toUShort();
        QVERIFY(port != 0);
        AdbKillServerThread watcher(Processes::Ops::system(), port);
        QSignalSpy questions(&watcher, &AdbKillServerThread::endQuestion);
        QSignalSpy ended(&watcher, &AdbKillServerThread::serverEnded);
        watcher.start();
        QTRY_COMPARE_WITH_TIMEOUT(questions.size(), 1, 2500);
        QCOMPARE(questions.at(0).at(0).toLongLong(), server->processId());
        QCOMPARE(questions.at(0).at(1).toString(), QStringLiteral("adb"));
        QCOMPARE(questions.at(0).at(2).toString(), QFileInfo(dir.filePath(QStringLiteral("adb"))).canonicalFilePath());

        watcher.answer(server->processId(), false);
        QTest::qWait(2500);
        QCOMPARE(questions.size(), 1); // asked once per process
        QCOMPARE(server->state(), QProcess::Running);

        watcher.answer(server->processId(), true);
        QTRY_COMPARE_WITH_TIMEOUT(server->state(), QProcess::NotRunning, 4000);
        QCOMPARE(server->exitStatus(), QProcess::NormalExit); // it left by itself on "host:kill"
        QTRY_COMPARE(ended.size(), 1);
    }

    // Another user's adb server is never touched, whatever the option says; ours is ended with the option even
    // when it ignores "host:kill".
    void optionEndsOnlyOurOwnAdbServer()
    {
        QTemporaryDir dir;
        auto server = startAs(dir, QStringLiteral("adb"),
                              {QStringLiteral("adbserver"), QStringLiteral("0"), QStringLiteral("stubborn")});
        const quint16 port = firstLine(*server).toUShort();
        QVERIFY(port != 0);
        {
            Processes::Ops othersOps = Processes::Ops::system();
            const uint someoneElse = Processes::currentUser() == 0 ? 1000 : 0;
            othersOps.userOf = [someoneElse](qint64) { return std::optional<uint>(someoneElse); };
            AdbKillServerThread watcher(othersOps, port);
            watcher.setPolicy(AdbKillServerThread::Policy::End);
            QSignalSpy questions(&watcher, &AdbKillServerThread::endQuestion);
            watcher.start();
            QTest::qWait(2500);
            QCOMPARE(server->state(), QProcess::Running);
            QCOMPARE(questions.size(), 0);
        }
        AdbKillServerThread watcher(Processes::Ops::system(), port);
        watcher.setPolicy(AdbKillServerThread::Policy::End);
        QSignalSpy questions(&watcher, &AdbKillServerThread::endQuestion);
        watcher.start();
        QTRY_COMPARE_WITH_TIMEOUT(server->state(), QProcess::NotRunning, 5000);
        QCOMPARE(server->exitStatus(), QProcess::CrashExit);
        QCOMPARE(questions.size(), 0);
    }

    // Debian's own adb server on a private port: recognised as an adb server (a question, no signal), and
    // still serving "adb devices" afterwards.
    void realAdbServerIsRecognisedAndKeepsWorking()
    {
        const QString adb = QStringLiteral("/usr/bin/adb");
        if (!QFile::exists(adb))
            QSKIP("Debian's adb is not installed");
        QTemporaryDir home;
        const quint16 port = [] {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost);
            return probe.serverPort();
        }();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("TMPDIR"), home.path());
        env.insert(QStringLiteral("ANDROID_ADB_SERVER_PORT"), QString::number(port));
        auto runAdb = [&](const QStringList &args) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(adb, args);
            return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        };
        QVERIFY(runAdb({QStringLiteral("start-server")}));
        const auto owners = Processes::localTcpPortOwners(port);
        QVERIFY(owners && !owners->isEmpty());

        AdbKillServerThread watcher(Processes::Ops::system(), port);
        QSignalSpy questions(&watcher, &AdbKillServerThread::endQuestion);
        watcher.start();
        QTRY_COMPARE_WITH_TIMEOUT(questions.size(), 1, 3000);
        QVERIFY(owners->contains(questions.at(0).at(0).toLongLong()));
        QVERIFY(questions.at(0).at(2).toString().endsWith(QStringLiteral("/adb")));
        QTest::qWait(1500);
        QVERIFY(runAdb({QStringLiteral("devices")}));
        QVERIFY(runAdb({QStringLiteral("kill-server")}));
    }

    // With fake process tables: stopping lets a running scan finish and then waits at most one sleep. Along
    // the way: neither watcher ends its own process or pid 0, and an unreadable table skips a pass, not the
    // loop.
    void stoppingWaitsForTheScanAndAtMostOneSleep()
    {
        const quint16 kQuietPort = [] {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost);
            return probe.serverPort();
        }();
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
            const uint me = Processes::currentUser();
            return QList<Processes::Entry>{{self, QStringLiteral("itunes"), {}, me},
                                           {4242, QStringLiteral("x"), QStringLiteral("ITUNES"), me},
                                           {4244, QStringLiteral("itunes"), {}, me + 1}, // another user's
                                           {4246, QStringLiteral("adb"), {}, me}};
        };
        ops.localTcpPortOwners = [&](quint16 port) -> std::optional<QList<qint64>> {
            if (port != kQuietPort || tableReads++ == 0)
                return std::nullopt;
            return QList<qint64>{0, self, 4343};
        };
        ops.userOf = [](qint64) { return std::optional<uint>(Processes::currentUser()); };
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

        // Nothing answers on this port, so the owners the fake table names are not adb servers.
        auto portWatcher = std::make_unique<AdbKillServerThread>(ops, kQuietPort);
        portWatcher->start();
        QTRY_VERIFY_WITH_TIMEOUT(tableReads >= 2, 2500);
        QTest::qWait(200); // in the sleep after the second pass
        clock.restart();
        portWatcher.reset();
        QVERIFY(clock.elapsed() < 1100);
        QMutexLocker lock(&endedMutex);
        QCOMPARE(ended, (QList<qint64>{4242, 4242}));
    }
};

QTEST_GUILESS_MAIN(TestWatchers)
#include "tst_watchers.moc"
