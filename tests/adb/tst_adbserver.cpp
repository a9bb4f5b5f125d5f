// The adb server's host protocol as the program uses it: telling an adb server from other listeners, device
// lists, and phones reached through a scripted server, including one that answers garbage, FAIL or nothing.

#include "adb/adb.h"
#include "adb/adbpoll.h"
#include "adb/adbroute.h"
#include "adb/adbserver.h"
#include "adb/adbtransport.h"
#include "scopedenv.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

#include <sys/prctl.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace {

// A scripted adb server on a free loopback port, one thread per connection. Replies are raw bytes, so a test
// can make it answer anything at all.
class FakeServer
{
public:
    enum class Track { Garbage, Fail, Silent, List };

    FakeServer()
    {
        QString error;
        m_listen = adbsocket::listenLoopback(0, &m_port, &error);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~FakeServer()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        m_acceptor.join();
        {
            std::lock_guard lock(m_mutex);
            for (const int fd : m_open)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (std::thread &t : m_threads)
            t.join();
        adbsocket::closeFd(m_listen);
    }
    quint16 port() const { return m_port; }

    void setVersionReply(const QByteArray &reply)
    {
        std::lock_guard lock(m_mutex);
        m_version = reply;
    }
    void setTrack(Track mode)
    {
        std::lock_guard lock(m_mutex);
        m_track = mode;
    }
    // The list the next track-devices connection starts with, also sent to those already open.
    void setList(const QByteArray &list)
    {
        std::lock_guard lock(m_mutex);
        m_list = list;
        for (const int fd : m_trackers)
            sendBlock(fd, list);
    }
    void setServiceReply(const QByteArray &reply)
    {
        std::lock_guard lock(m_mutex);
        m_serviceReply = reply;
    }
    QStringList requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    static void sendBlock(int fd, const QByteArray &data)
    {
        const QByteArray out = "OKAY" + QByteArray::number(data.size(), 16).rightJustified(4, '0') + data;
        adbsocket::sendAll(fd, out.constData() + 4, out.size() - 4);
    }
    static void sendOkayBlock(int fd, const QByteArray &data)
    {
        const QByteArray out = "OKAY" + QByteArray::number(data.size(), 16).rightJustified(4, '0') + data;
        adbsocket::sendAll(fd, out.constData(), out.size());
    }
    static QByteArray readRequest(int fd)
    {
        char hex[4];
        if (adbsocket::receive(fd, hex, 4) != 4)
            return {};
        const int length = QByteArray(hex, 4).toInt(nullptr, 16);
        QByteArray service(length, '\0');
        qsizetype got = 0;
        while (got < length) {
            const qsizetype n = adbsocket::receive(fd, service.data() + got, length - got);
            if (n <= 0)
                return {};
            got += n;
        }
        return service;
    }

    void acceptLoop()
    {
        while (!m_stop) {
            bool timedOut = false;
            const int fd = adbsocket::acceptOne(m_listen, 200, &timedOut);
            if (fd < 0)
                continue;
            std::lock_guard lock(m_mutex);
            m_open.append(fd);
            m_threads.emplace_back([this, fd] { serve(fd); });
        }
    }

    void serve(int fd)
    {
        QByteArray service = readRequest(fd);
        std::unique_lock lock(m_mutex);
        m_requests.append(QString::fromUtf8(service));
        if (service == "host:version") {
            // Held open until the client lets go: a short reply is silence, not an early end.
            adbsocket::sendAll(fd, m_version.constData(), m_version.size());
            lock.unlock();
            waitForEnd(fd);
            lock.lock();
        } else if (service == "host:track-devices") {
            switch (m_track) {
            case Track::Garbage:
                adbsocket::sendAll(fd, "SSH-2.0-OpenSSH_9.2\r\n", 21);
                break;
            case Track::Fail:
                adbsocket::sendAll(fd, "FAIL0010no track for you", 24);
                break;
            case Track::Silent:
                adbsocket::sendAll(fd, "OKAY", 4);
                lock.unlock();
                waitForEnd(fd);
                lock.lock();
                break;
            case Track::List:
                sendOkayBlock(fd, m_list);
                m_trackers.append(fd);
                lock.unlock();
                waitForEnd(fd);
                lock.lock();
                m_trackers.removeAll(fd);
                break;
            }
        } else if (service == "host:devices-l") {
            sendOkayBlock(fd, "SER1   device product:fakeprod model:Fake_Model device:fakedev transport_id:3\n");
        } else if (service.startsWith("host-serial:")) {
            sendOkayBlock(fd, ""); // no shared features: the plain shell service
        } else if (service.startsWith("host:transport:")) {
            adbsocket::sendAll(fd, "OKAY", 4);
            lock.unlock();
            const QByteArray next = readRequest(fd);
            lock.lock();
            m_requests.append(QString::fromUtf8(next));
            adbsocket::sendAll(fd, m_serviceReply.constData(), m_serviceReply.size());
        }
        m_open.removeAll(fd);
        lock.unlock();
        adbsocket::closeFd(fd);
    }

    void waitForEnd(int fd)
    {
        char c;
        while (adbsocket::receive(fd, &c, 1) > 0) {
        }
    }

    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    mutable std::mutex m_mutex;
    std::vector<std::thread> m_threads;
    QList<int> m_open;
    QList<int> m_trackers;
    QByteArray m_version = "OKAY00040029";
    Track m_track = Track::List;
    QByteArray m_list;
    QByteArray m_serviceReply = "OKAYhello from the phone\n";
    QStringList m_requests;
};

} // namespace

class TestAdbServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Only a listener that answers "host:version" with OKAY and four hex digits is an adb server; whatever else
    // it says (or does not say) comes back as a readable reason, within the time limit.
    void probeTellsAnAdbServerFromOtherListeners_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("isAdb");
        QTest::addColumn<QString>("reason");
        QTest::newRow("adb 29") << QByteArray("OKAY00040029") << true << QString();
        QTest::newRow("http") << QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n") << false
                              << u"\"HTTP\", which is not the adb host protocol"_s;
        QTest::newRow("fail") << QByteArray("FAIL0007go away") << false << u"refused \"host:version\": go away"_s;
        QTest::newRow("bad version") << QByteArray("OKAY0004zz\x01!") << false << u"\"zz\\x01!\" as its version"_s;
        QTest::newRow("bad length") << QByteArray("OKAYxyz!") << false << u"\"xyz!\" where a length"_s;
        QTest::newRow("silence") << QByteArray() << false << u"did not answer within 700 ms"_s;
        QTest::newRow("half an answer") << QByteArray("OKAY00") << false << u"did not answer within 700 ms"_s;
    }
    void probeTellsAnAdbServerFromOtherListeners()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, isAdb);
        QFETCH(QString, reason);
        FakeServer server;
        server.setVersionReply(reply);
        QElapsedTimer clock;
        clock.start();
        const adbserver::Probe probe = adbserver::probe(server.port(), 700);
        QVERIFY(clock.elapsed() < 1500);
        QVERIFY(probe.listening);
        QCOMPARE(probe.isAdbServer, isAdb);
        QCOMPARE(probe.version, isAdb ? 41 : 0);
        QVERIFY2(probe.error.contains(reason), qPrintable(probe.error));
    }

    void nothingListeningIsNoServer()
    {
        quint16 port = 0;
        QString error;
        adbsocket::closeFd(adbsocket::listenLoopback(0, &port, &error));
        const adbserver::Probe probe = adbserver::probe(port, 500);
        QVERIFY(!probe.listening);
        QVERIFY(!probe.isAdbServer);
    }

    void deviceListsAreParsed()
    {
        using E = adbserver::DeviceEntry;
        QCOMPARE(adbserver::parseDevices("emulator-5554\tdevice\n0123456789ABCDEF\tunauthorized\n\n"),
                 (QList<E>{{u"emulator-5554"_s, u"device"_s, {}}, {u"0123456789ABCDEF"_s, u"unauthorized"_s, {}}}));
        QCOMPARE(adbserver::parseDevices("127.0.0.1:5555         device product:sdk_x86 model:Android_SDK "
                                         "device:generic_x86 transport_id:7\n"),
                 (QList<E>{{u"127.0.0.1:5555"_s,
                            u"device"_s,
                            {{u"product"_s, u"sdk_x86"_s},
                             {u"model"_s, u"Android_SDK"_s},
                             {u"device"_s, u"generic_x86"_s},
                             {u"transport_id"_s, u"7"_s}}}}));
        // A state with blanks and colons of its own, and a line that is only a serial.
        QCOMPARE(
            adbserver::parseDevices("R58M\tno permissions (user in plugdev group; see [http://x/y]); "
                                    "see [http://z]\nlonely\n"),
            (QList<E>{{u"R58M"_s, u"no permissions (user in plugdev group; see [http://x/y]); see [http://z]"_s, {}}}));
    }

    // The poller on the server route: a server that answers garbage, FAIL or nothing to "host:track-devices"
    // blocks neither the poller nor the phones it reaches itself; once the server lists a phone, its shell runs
    // through the server; an unauthorized phone is reported as waiting for the user and comes online as soon
    // as the server says so; a refused service fails with an error, not a hang.
    void phonesThroughTheServerAndAServerThatMisbehaves()
    {
        FakeServer server;
        server.setTrack(FakeServer::Track::Garbage);
        const ScopedEnv serverPort("ANDROID_ADB_SERVER_PORT", QByteArray::number(server.port()));
        QTemporaryDir home;
        const ScopedEnv atHome("HOME", home.path().toLocal8Bit());

        // A phone the poller reaches by itself, as a witness that it keeps polling.
        QProcess phone;
        phone.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        phone.start(QStringLiteral(PHONE_SIM_PATH), {u"--adb-port"_s, u"0"_s, u"--name"_s, u"Witness"_s, u"--serial"_s,
                                                     u"W1"_s, u"--store"_s, home.filePath(u"w.json"_s)});
        QVERIFY(phone.waitForStarted());
        QByteArray banner;
        while (!banner.contains("ready\n") && phone.waitForReadyRead(5000))
            banner += phone.readAllStandardOutput();
        const QString endpoint =
            QString::fromLatin1(banner).section(u"CONTACT_MOVER_ADB_TCP="_s, 1).section(QLatin1Char('\n'), 0, 0);
        QVERIFY2(!endpoint.isEmpty(), banner.constData());
        const ScopedEnv watched("CONTACT_MOVER_ADB_TCP", endpoint.toLatin1());

        auto poll = std::make_unique<AdbPoll>(100, nullptr);
        QSignalSpy found(poll.get(), &AbsAdbPoll::newDevice);
        QSignalSpy failed(poll.get(), &AbsAdbPoll::failedDevice);
        poll->start();
        QTRY_VERIFY_WITH_TIMEOUT(found.size() >= 1, 10000);
        QCOMPARE(found.at(0).at(0).toString(), endpoint);
        QVERIFY(adbroute::chosen() && adbroute::chosen()->kind == adbroute::Kind::Server);
        QCOMPARE(adbroute::chosen()->serverVersion, 41);

        // FAIL and then silence after OKAY: still no phone from the server, and stopping stays quick.
        server.setTrack(FakeServer::Track::Fail);
        QTest::qWait(2500);
        server.setTrack(FakeServer::Track::Silent);
        QTest::qWait(2500);
        QCOMPARE(found.size(), 1);
        QVERIFY(server.requests().count(u"host:track-devices"_s) >= 3); // it kept trying

        // A proper list: one phone waiting for its owner's "Allow", one the server may not open.
        server.setList("SER1\tunauthorized\nSER2\tno permissions (missing udev rules? user is in the plugdev "
                       "group); see [http://developer.android.com/tools/device.html]\n");
        server.setTrack(FakeServer::Track::List);
        // (The first handshake may make the computer's adb key, which takes seconds on a loaded machine.)
        QTRY_VERIFY_WITH_TIMEOUT(found.size() == 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(failed.size() == 1, 5000);
        QCOMPARE(failed.at(0).at(0).toString(), u"SER2"_s);
        const PAdbUSBHandle device = found.at(1).at(1).value<PAdbUSBHandle>();
        QCOMPARE(device->serial(), u"SER1"_s);
        QVERIFY(!device->waitForAuth2(500));

        server.setList("SER1\tdevice\n");
        QVERIFY(device->waitForAuth2(5000));
        QCOMPARE(device->name(), u"Fake_Model"_s);
        QCOMPARE(adbShell(device, u"echo hi"_s), QByteArray("hello from the phone\n"));
        QVERIFY(server.requests().contains(u"host:transport:SER1"_s));
        QVERIFY(server.requests().contains(u"shell:echo hi"_s));

        server.setServiceReply("FAIL0010closed by device");
        bool ok = true;
        QByteArray errorText;
        QElapsedTimer clock;
        clock.start();
        adbShell(device, u"echo again"_s, &ok, &errorText);
        QVERIFY(!ok);
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(device->state() == AdbUSBHandle::State::Online); // one refused service does not end the phone

        // Gone from the server's list: gone for us.
        QSignalSpy kicked(poll.get(), &AbsAdbPoll::kickDevice);
        server.setList("");
        QTRY_VERIFY_WITH_TIMEOUT(!kicked.isEmpty(), 5000);
        QCOMPARE(kicked.at(0).at(0).toString(), u"SER1"_s);

        server.setTrack(FakeServer::Track::Silent);
        clock.restart();
        poll.reset();
        QVERIFY(clock.elapsed() < 2000);
        phone.terminate();
        phone.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestAdbServer)
#include "tst_adbserver.moc"
