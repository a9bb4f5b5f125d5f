// The device layer: what the window and the command line both rely on when they find, load and write to phones.

#include "adb/adb.h"
#include "adbdgeneration.h"
#include "android/adbconnector.h"
#include "android/androidcontactsdb.h"
#include "android/androidlink.h"
#include "android/androidwificonnector.h"
#include "android/syncprotocol.h"
#include "contactfixtures.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "core/texts.h"
#include "devices/androidphones.h"
#include "devices/devicequestions.h"
#include "devices/phoneaccess.h"
#include "phonetestcase.h"
#include "simadbd.h"
#include "simcompanion.h"
#include "simphone.h"
#include "temphome.h"

#include <QSet>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>
#include <stdexcept>

using fixtures::person;

namespace {

// Answers as a scripted user would; records what the layer asked and said.
struct ScriptedQuestions : devices::DeviceQuestions
{
    QList<bool> allowAnswers; // taken in order; false once they are used up
    int waitForSettledMs = 0; // how long an "allow" question waits for the phone before it is answered
    int allowAsked = 0;
    QStringList warnings;

    bool allowOnAndroid(const QString &, const QString &, const std::function<bool()> &settled) override
    {
        ++allowAsked;
        if (waitForSettledMs > 0)
            (void)QTest::qWaitFor(settled, waitForSettledMs); // answered either way, as a user would
        return allowAnswers.isEmpty() ? false : allowAnswers.takeFirst();
    }
    bool trustOnIphone(const QString &, int) override { return false; }
    void warn(const QString &text) override { warnings << text; }
};

// Runs a worker to its end on the calling thread's event loop; its error, if any, is kept.
devices::RunWorker runner(QStringList *errors)
{
    return [errors](const devices::WorkerFactory &make) {
        ProgressObject progress;
        const std::unique_ptr<QThread> worker = make(&progress);
        worker->start();
        (void)QTest::qWaitFor([&] { return worker->isFinished(); }, 60000); // wait() below ends it either way
        worker->wait();
        QCoreApplication::sendPostedEvents(&progress);
        if (progress.outcome() != ProgressObject::Outcome::Succeeded)
            errors->append(progress.message());
        return progress.outcome() == ProgressObject::Outcome::Succeeded;
    };
}

// A simulated phone in this process, reached over adb on TCP.
struct Phone
{
    explicit Phone(SimCompanionConfig config = {}, SimAdbdConfig adbdConfig = adbdUnderTest())
        : phone(QStringLiteral("Layer Phone"), QStringLiteral("LAYER1")), companion(&phone, config),
          adbd(&phone, adbdConfig)
    {
        QString error;
        adbd.listen(0, &error);
        phone.setPackages({QStringLiteral("com.tallowbrook.contactssync")});
    }
    PAdbUSBHandle connect() const
    {
        QString error;
        return AdbUSBHandle::connectTcp(QStringLiteral("127.0.0.1"), adbd.port(), QString(), 3000, &error);
    }
    PAndroidConnector connector() const
    {
        const PAdbUSBHandle handle = connect();
        if (handle)
            handle->waitForHandshake(3000);
        return PAndroidConnector(new AdbConnector(handle));
    }

    SimPhone phone;
    SimCompanion companion; // after the phone, before the adbd: ends in between
    SimAdbd adbd;
};

QString thrownText(const std::function<void()> &call)
{
    try {
        call();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

} // namespace

class TestDevices : public PhoneTestCase
{
    Q_OBJECT

private Q_SLOTS:

    // Command-line runs started one after another within one second get process ids a few apart: their session
    // ports must differ, or the second asks the phone for a port whose listener the first may still hold.
    void processesStartedTogetherAskForDifferentPorts()
    {
        const QTime second(14, 2, 31);
        for (const qint64 firstPid : {qint64(1), qint64(98), qint64(99), qint64(4321), qint64(4194303)}) {
            QSet<int> taken;
            for (qint64 pid = firstPid; pid < firstPid + 12; ++pid) {
                simpleprotocol::SyncPortCounter counter(pid);
                for (int session = 0; session < 7; ++session) {
                    const int port = counter.next(second);
                    QVERIFY2(!taken.contains(port),
                             qPrintable(QStringLiteral("pid %1: port %2 twice").arg(pid).arg(port)));
                    taken.insert(port);
                }
            }
        }
    }

    // Whatever the process, the ports stay where the phone side expects them: 10000 × (1 + minute mod 4) +
    // 100 × second + 1 … 99, and a process's counter goes through all 99 before it repeats one.
    void sessionPortsStayInTheirRange()
    {
        for (const qint64 pid : {qint64(0), qint64(7), qint64(99), qint64(123456), qint64(-5)}) {
            simpleprotocol::SyncPortCounter counter(pid);
            QSet<int> offsets;
            for (int i = 0; i < 99; ++i) {
                const QTime now(0, i % 60, (i * 7) % 60);
                const int base = 10000 * (1 + now.minute() % 4) + 100 * now.second();
                const int port = counter.next(now);
                QVERIFY2(port > base && port <= base + 99, qPrintable(QString::number(port)));
                offsets.insert(port - base);
            }
            QCOMPARE(offsets.size(), 99);
        }
    }

    // A device that arrives again while it is being loaded waits; only its last arrival is replayed.
    void loadQueueReplaysTheLastArrivalOnce()
    {
        devices::LoadQueue queue;
        QStringList ran;
        QVERIFY(queue.start(QStringLiteral("a"), [&] { ran << QStringLiteral("a1"); }));
        QVERIFY(queue.isLoading(QStringLiteral("a")));
        QVERIFY(!queue.start(QStringLiteral("a"), [&] { ran << QStringLiteral("a2"); }));
        QVERIFY(!queue.start(QStringLiteral("a"), [&] { ran << QStringLiteral("a3"); }));
        QVERIFY(queue.start(QStringLiteral("b"), [&] { ran << QStringLiteral("b1"); })); // another device: at once
        QVERIFY(!queue.finish(QStringLiteral("b")));
        const std::function<void()> next = queue.finish(QStringLiteral("a"));
        QVERIFY(next);
        next();
        QCOMPARE(ran, QStringList{QStringLiteral("a3")});
        QVERIFY(!queue.isLoading(QStringLiteral("a")));
        QVERIFY(!queue.finish(QStringLiteral("a"))); // nothing kept twice
        QVERIFY(queue.start(QStringLiteral("a"), [] {}));
    }

    // "wifi:ADDRESS": a wrong address is refused before any connection, a phone that does not answer in time is
    // reported with the user's text, not the exception's name.
    void wifiAddressesAndTimeouts()
    {
        QString address;
        QVERIFY(devices::isWifiId(QStringLiteral("wifi:192.168.1.20"), &address));
        QCOMPARE(address, QStringLiteral("192.168.1.20"));
        QVERIFY(!devices::isWifiId(QStringLiteral("emulator-5554"), &address));
        QVERIFY(!devices::isWifiId(QStringLiteral("WIFI:1.2.3.4")));

        const QString wrong = trKey("IDS_WIFI_SOCK_WRONG_FOR_EXAMPLE");
        for (const char *bad : {"", "phone", "192.168.1", "192.168.1.20:48888", "1.2.3.4.5"})
            QCOMPARE(thrownText([&] { devices::connectWifi(QString::fromLatin1(bad)); }), wrong);

        // Nothing listens on the port the app would use: the connect fails at once.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        qputenv("CONTACT_MOVER_WIFI_PORT", QByteArray::number(port));
        const QString text = thrownText([] { devices::connectWifi(QStringLiteral(" 127.0.0.1 ")); });
        qunsetenv("CONTACT_MOVER_WIFI_PORT");
        QCOMPARE(text, trKey("IDS_WIFI_CONNECTOR_CONNECT_TIMEOUT"));

        QVERIFY(devices::wifiDeviceId(PAndroidConnector(new AdbConnector(PAdbUSBHandle()))).isEmpty());
    }

    // The window keeps a phone's node when the phone is announced again on the connection it already has.
    void sameLinkOnlyForOneAdbConnection()
    {
        Phone sim;
        const PAdbUSBHandle first = sim.connect();
        QVERIFY(first);
        const PAdbUSBHandle second = sim.connect();
        QVERIFY(second);
        const PAndroidConnector a(new AdbConnector(first));
        QVERIFY(devices::AndroidWatch::sameLink(a, PAndroidConnector(new AdbConnector(first))));
        QVERIFY(!devices::AndroidWatch::sameLink(a, PAndroidConnector(new AdbConnector(second))));
        const PAndroidConnector none(new AdbConnector(PAdbUSBHandle()));
        QVERIFY(!devices::AndroidWatch::sameLink(none, PAndroidConnector(new AdbConnector(PAdbUSBHandle()))));
        QVERIFY(!devices::AndroidWatch::sameLink(a, PAndroidConnector(new AndroidWifiConnector)));
        QVERIFY(!devices::AndroidWatch::sameLink(a, PAndroidConnector()));
    }

    // A phone that waits for its user: asked while it waits, given up when the user gives up, ready once the
    // user taps "Allow" while the question is open.
    void authorisationAsksUntilAllowedOrAbandoned()
    {
        SimAdbdConfig auth;
        auth.requireAuth = true;
        auth.acceptKeyAfterMs = -1; // nobody taps "Allow" yet
        Phone sim({}, auth);
        {
            ScriptedQuestions user;
            user.allowAnswers = {true, false}; // retry once, then give up
            const PAndroidConnector connector(new AdbConnector(sim.connect()));
            QVERIFY(!devices::AndroidWatch::authorise(connector, user));
            QCOMPARE(user.allowAsked, 2);
        }
        {
            ScriptedQuestions user;
            user.waitForSettledMs = 10000;
            const PAdbUSBHandle handle = sim.connect();
            QTimer::singleShot(300, this, [&sim] { sim.adbd.acceptPendingKeys(); });
            QVERIFY(devices::AndroidWatch::authorise(PAndroidConnector(new AdbConnector(handle)), user));
            QCOMPARE(user.allowAsked, 1);
            QCOMPARE(handle->state(), AdbUSBHandle::State::Online);
        }
        // A connector of another kind needs nobody's permission.
        ScriptedQuestions nobody;
        QVERIFY(devices::AndroidWatch::authorise(PAndroidConnector(new AndroidWifiConnector), nobody));
        QCOMPARE(nobody.allowAsked, 0);
    }

    // A transfer that breaks off after the phone stored part of it: the cache rolls back, and the reload makes it
    // show what the phone now holds (the first batch), so nothing on the phone is hidden from the user.
    void aFailedWriteReloadsWhatThePhoneHolds()
    {
        SimCompanionConfig dropping;
        dropping.fail = SimCompanionConfig::Fail::CloseMidRestore;
        Phone sim(dropping);
        QStringList errors;
        const devices::RunWorker run = runner(&errors);
        const std::optional<devices::LoadedPhone> loaded =
            devices::loadAndroidPhone(QStringLiteral("LAYER1"), sim.connector(), run);
        QVERIFY(loaded);
        QCOMPARE(loaded->entry.name, QStringLiteral("Layer Phone")); // as the phone announced itself
        QCOMPARE(loaded->entry.dbPath, devices::cachePath(devices::kAndroid, QStringLiteral("LAYER1")));
        QVERIFY(loaded->cache->listContacts(0, QString()).isEmpty());

        QList<pim::Contact> contacts;
        for (int i = 0; i < 25; ++i)
            contacts << person(QStringLiteral("P%1").arg(i), QStringLiteral("Test"), QStringLiteral("555 %1").arg(i));
        ScriptedQuestions user;
        devices::PhoneAccess access(user, run);
        devices::PhoneCache phone{loaded->entry, *loaded->cache,
                                  dynamic_cast<AndroidContactsDb *>(loaded->cache.data())};
        QVERIFY(phone.android);
        QVERIFY(!access.write(phone, devices::sendContacts(phone, contacts), run));
        QCOMPARE(errors.size(), 1); // the transfer's error, reported by the runner; the reload went through
        QVERIFY(user.warnings.isEmpty());
        QCOMPARE(sim.companion.store().contactCount(), 20);
        LocalDb cache(loaded->entry.dbPath, PContactCombineRule(new LocalDbCombineRule));
        QCOMPARE(cache.listContacts(0, QString()).size(), 20);
    }

    // A phone that cannot be read back after a failed write: the user is told, and the write's result stands.
    void aFailedReloadIsReported()
    {
        Phone sim;
        QStringList errors;
        const devices::RunWorker run = runner(&errors);
        std::optional<devices::LoadedPhone> loaded =
            devices::loadAndroidPhone(QStringLiteral("LAYER2"), sim.connector(), run);
        QVERIFY(loaded);
        ScriptedQuestions user;
        // The loads fail from now on: the runner throws as the command line's does.
        devices::PhoneAccess access(user, [](const devices::WorkerFactory &) -> bool {
            throw std::runtime_error("The phone could not be loaded.");
        });
        devices::PhoneCache phone{loaded->entry, *loaded->cache,
                                  dynamic_cast<AndroidContactsDb *>(loaded->cache.data())};
        QVERIFY(!access.write(phone, devices::sendContacts(phone, {}), [](const devices::WorkerFactory &) {
            return false; // the write failed
        }));
        QCOMPARE(user.warnings, QStringList{QStringLiteral("The phone could not be loaded.")});
    }
};

QTEST_GUILESS_MAIN(TestDevices)
#include "tst_devices.moc"
