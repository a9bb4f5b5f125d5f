#include "core/keepawake.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <atomic>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

// Stands in for systemd-logind: hands out the write end of a pipe as the inhibitor lock and keeps the read end,
// so the test can see when the program lets go of the lock (the read end then reaches end of file).
class FakeLogind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    std::atomic<int> readEnd{-1};
    QString what, mode;

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString &w, const QString &, const QString &, const QString &m)
    {
        what = w;
        mode = m;
        int fds[2];
        if (::pipe(fds) != 0)
            return {};
        readEnd = fds[0];
        QDBusUnixFileDescriptor lock(fds[1]); // dup()s the descriptor
        ::close(fds[1]);
        return lock;
    }
};

class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    std::atomic<int> inhibits{0};
    std::atomic<uint> released{0};

public Q_SLOTS:
    uint Inhibit(const QString &, const QString &) { return 40 + ++inhibits; }
    void UnInhibit(uint cookie) { released = cookie; }
};

class TestKeepAwake : public QObject
{
    Q_OBJECT

    QProcess m_bus;
    QString m_address;
    QThread m_serviceThread;
    std::vector<std::unique_ptr<QObject>> m_services; // destroyed once their thread has stopped
    QStringList m_connections;

    // Registers a service object on its own connection, served from a thread of its own: the program's calls
    // block their caller, so the answers must come from elsewhere.
    bool serve(QObject *service, const QString &name, const QString &path)
    {
        m_services.emplace_back(service);
        service->moveToThread(&m_serviceThread);
        m_connections << name;
        QDBusConnection c = QDBusConnection::connectToBus(m_address, name);
        return c.isConnected() && c.registerService(name) &&
               c.registerObject(path, service, QDBusConnection::ExportAllSlots);
    }

    static bool readEndClosed(int fd)
    {
        char byte;
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
        return ::read(fd, &byte, 1) == 0; // 0 is end of file: no writer holds the lock any more
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed");
        m_bus.start(daemon,
                    {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        QVERIFY(m_bus.waitForStarted());
        QTRY_VERIFY(m_bus.canReadLine());
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        // One private bus plays both the system and the session bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
        m_serviceThread.start();
    }

    void cleanupTestCase()
    {
        for (const QString &name : std::as_const(m_connections))
            QDBusConnection::disconnectFromBus(name);
        m_serviceThread.quit();
        m_serviceThread.wait();
        m_services.clear();
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void noInhibitorService()
    {
        KeepAwake awake;
        QCOMPARE(awake.method(), KeepAwake::Method::None);
    }

    void screenSaverFallbackReleasesItsCookie()
    {
        auto *saver = new FakeScreenSaver;
        QVERIFY(serve(saver, QStringLiteral("org.freedesktop.ScreenSaver"),
                      QStringLiteral("/org/freedesktop/ScreenSaver")));
        {
            KeepAwake awake;
            QCOMPARE(awake.method(), KeepAwake::Method::ScreenSaver);
            QCOMPARE(saver->inhibits.load(), 1);
            QCOMPARE(saver->released.load(), 0u);
        }
        QCOMPARE(saver->released.load(), 41u);
    }

    void logindBlockIsHeldUntilRelease()
    {
        auto *logind = new FakeLogind;
        QVERIFY(serve(logind, QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1")));
        KeepAwake awake;
        QCOMPARE(awake.method(), KeepAwake::Method::Logind); // preferred over the screen saver
        QCOMPARE(logind->what, QStringLiteral("sleep:idle"));
        QCOMPARE(logind->mode, QStringLiteral("block"));
        QVERIFY(logind->readEnd >= 0);
        QVERIFY(!readEndClosed(logind->readEnd));
        awake.release();
        // Copies of the descriptor that the bus library held for the reply are freed on its own thread.
        QTRY_VERIFY_WITH_TIMEOUT(readEndClosed(logind->readEnd), 3000);
        ::close(logind->readEnd);
    }
};

QTEST_GUILESS_MAIN(TestKeepAwake)
#include "tst_keepawake.moc"
