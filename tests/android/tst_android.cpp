// The Android link: the row text and the line protocol against hand-written wire text, and whole loads of a
// phone through the real threads, against the simulated phone over adb and Wi-Fi and against scripted peers
// that send what the simulator never would.

#include "adb/adbtransport.h"
#include "adbdgeneration.h"
#include "android/adbconnector.h"
#include "android/androidcontactsdb.h"
#include "android/androidentity.h"
#include "android/androidlink.h"
#include "android/androidwificonnector.h"
#include "android/restoresession.h"
#include "android/syncprotocol.h"
#include "android/syncrestorethread.h"
#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "core/texts.h"
#include "phonetestcase.h"
#include "simandroidphone.h"
#include "temphome.h"
#include "vcardpeople.h"

#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTime>

#include <sys/socket.h>

#include <functional>
#include <optional>
#include <thread>

using namespace androidentity;
using namespace simpleprotocol;
using fixtures::row;

namespace {

QString b64(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toBase64());
}

// A TCP peer on a free loopback port that plays a script against the first connection.
class ScriptedPeer
{
public:
    explicit ScriptedPeer(std::function<void(int fd)> script)
    {
        QString error;
        m_listen = adbsocket::listenLoopback(0, &m_port, &error);
        m_thread = std::thread([this, script] {
            bool timedOut = false;
            const int fd = adbsocket::acceptOne(m_listen, 10000, &timedOut);
            if (fd < 0)
                return;
            timeval tv{10, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            script(fd);
            adbsocket::closeFd(fd);
        });
    }
    ~ScriptedPeer()
    {
        m_thread.join();
        adbsocket::closeFd(m_listen);
    }
    quint16 port() const { return m_port; }

    static void say(int fd, const QByteArray &bytes) { adbsocket::sendAll(fd, bytes.constData(), bytes.size()); }
    // One line without its line feed; what came before the close when the peer closes first.
    static QByteArray hear(int fd)
    {
        QByteArray line;
        char c;
        while (adbsocket::receive(fd, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

private:
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

// A phone at 127.0.0.1 whose sessions are the scripted peer's port.
class LocalConnector : public IAndroidConnector
{
public:
    void prepare() override {}
    QString startBackup(int &) override { return QStringLiteral("127.0.0.1"); }
    QString startRestore(int &) override { return QStringLiteral("127.0.0.1"); }
    QString deviceLog() override { return {}; }
};

// The simulated phone in this process, first without the companion app, meeting the adbd generation under test.
struct SimulatedPhone : SimAndroidPhone
{
    explicit SimulatedPhone(SimCompanionConfig config = {}, SimAdbdConfig adbConfig = adbdUnderTest())
        : SimAndroidPhone(QStringLiteral("Pixel Sim"), QStringLiteral("SIM42"), App::Missing, config, adbConfig)
    {
    }
};

struct Load
{
    ProgressObject::Outcome outcome = ProgressObject::Outcome::Running;
    QString message;
    QString deviceName;
    QList<pim::Contact> contacts;
    QStringList progressTexts;
    int lastValue = -1;
    int orphans = 0;
};

} // namespace

class TestAndroid : public PhoneTestCase
{
    Q_OBJECT

    // Loads a phone into a fresh cache through the real thread and reads the cache back.
    Load load(const PAndroidConnector &connector, int port = nextSyncPort(),
              const std::function<void(ProgressObject &)> &during = {})
    {
        AndroidContactsDb cache(AndroidLink::cachePath(QStringLiteral("phone")),
                                PContactCombineRule(new LocalDbCombineRule), connector);
        cache.createFromTemplate();
        ProgressObject progress;
        Load result;
        connect(&progress, &ProgressObject::progressChanged, this,
                [&](const QString &, int value, const QString &text) {
                    result.progressTexts << text;
                    result.lastValue = value;
                });
        SyncRestoreThread worker(&cache, port, &progress);
        worker.start();
        if (during)
            during(progress);
        if (!QTest::qWaitFor([&] { return worker.isFinished(); }, 30000))
            return result;
        QCoreApplication::sendPostedEvents(&progress);
        result.outcome = progress.outcome();
        result.message = progress.message();
        result.deviceName = worker.deviceName();
        result.orphans = worker.orphanRows();
        result.contacts = cache.listContacts(0, QString());
        return result;
    }

private Q_SLOTS:
    // ---- Row text ----

    void rowIdsAndLabels()
    {
        // A row new to the phone goes in the local form; a phone row keeps its id whatever was edited.
        pim::DataRow phone = row({{1, QStringLiteral("555")}, {2, 2}});
        phone._id = 42;
        QCOMPARE(encodeRow(pim::ENTITY_PHONE, 17, 17, phone),
                 QStringLiteral("3/17/17/-42,mobile,,") + b64(QStringLiteral("555")));
        phone.src_id = QStringLiteral("3/120/7/5511");
        QVERIFY(encodeRow(pim::ENTITY_PHONE, 17, 17, phone).startsWith(QStringLiteral("3/120/7/5511,mobile,")));
        pim::DataRow name;
        name._id = 9;
        QCOMPARE(encodeDeleteId(pim::ENTITY_NAME, 0, 0, name), QStringLiteral("1/0/0/-9"));

        int type = 0;
        qint64 p2 = 0, p3 = 0, p4 = 0;
        QVERIFY(parseRowId(QStringLiteral("3/-17/17/-42"), &type, &p2, &p3, &p4));
        QCOMPARE(type, 3);
        QCOMPARE(p2, -17);
        QCOMPARE(p4, -42);
        for (const char *bad :
             {"3/17/17", "3/17/17/4/5", "a/1/2/3", "3/17/17/42\n", " 3/1/2/3", "3/1/2/99999999999999999999",
              "9999999999/1/2/3", "3/\u0661/2/3", "Invalid:1", "3//2/3", "-/1/2/3", "3/1/2/3/", "3/1/2/-", ""})
            QVERIFY2(!parseRowId(QString::fromUtf8(bad)), bad);

        // The table's words, misspellings included; codes it lacks travel as empty words and come back as 0.
        QCOMPARE(labelFor(11, 9), QStringLiteral("parnet"));
        QCOMPARE(codeFor(11, QStringLiteral("parnet")), 9);
        QCOMPARE(labelFor(kImProtocol, 6), QStringLiteral("googletalk"));
        QCOMPARE(labelFor(3, 7), QString());
        QCOMPARE(codeFor(3, QString()), 0);
        QCOMPARE(codeFor(3, QStringLiteral("Mobile")), 0); // exact case only
        pim::DataRow unknown = row({{1, QStringLiteral("1")}, {2, 7}});
        QVERIFY(encodeRow(pim::ENTITY_PHONE, 1, 1, unknown).startsWith(QStringLiteral("3/1/1/0,,,")));
    }

    void rowFieldsOnTheWire()
    {
        // A given name alone: empty prefix, the given name, then empty middle, family and suffix.
        pim::DataRow given = row({{2, QStringLiteral("Anna")}});
        given._id = 5;
        QCOMPARE(encodeRow(pim::ENTITY_NAME, 3, 3, given), QStringLiteral("1/3/3/-5,,QW5uYQ==,,,"));

        // Address fields go country, region, city, street, postcode; text is Base64 of UTF-8.
        pim::DataRow address = row({{2, 1},
                                    {4, QStringLiteral("Hauptstraße 1")},
                                    {7, QStringLiteral("Köln")},
                                    {8, QStringLiteral("NRW")},
                                    {9, QStringLiteral("50667")},
                                    {10, QStringLiteral("DE")}});
        QCOMPARE(encodeRow(pim::ENTITY_ADDRESS, 1, 2, address),
                 QStringLiteral("12/1/2/0,home,,%1,%2,%3,%4,%5")
                     .arg(b64(QStringLiteral("DE")), b64(QStringLiteral("NRW")), b64(QStringLiteral("Köln")),
                          b64(QStringLiteral("Hauptstraße 1")), b64(QStringLiteral("50667"))));

        // Events travel as plain dates, in either ISO form; anything else as an empty field.
        QVERIFY(encodeRow(pim::ENTITY_EVENT, 1, 1, row({{1, QStringLiteral("1980-02-29T00:00:00")}, {2, 3}}))
                    .endsWith(QStringLiteral(",birthday,,1980-02-29")));
        QVERIFY(encodeRow(pim::ENTITY_EVENT, 1, 1, row({{1, QStringLiteral("19800229")}, {2, 3}}))
                    .endsWith(QStringLiteral(",1980-02-29")));
        QVERIFY(encodeRow(pim::ENTITY_EVENT, 1, 1, row({{1, QStringLiteral("soon")}, {2, 3}}))
                    .endsWith(QStringLiteral("birthday,,")));

        const pim::DataRow im = row({{1, QStringLiteral("anna@jabber.org")}, {2, 2}, {5, 8}});
        QCOMPARE(encodeRow(pim::ENTITY_IM, 1, 1, im).section(u',', 1),
                 QStringLiteral("work,,jabber,,") + b64(QStringLiteral("anna@jabber.org")));
        pim::DataRow photo;
        photo.setValue(QStringLiteral("data15"), QByteArray("\xff\xd8\x00", 3));
        QCOMPARE(encodeRow(pim::ENTITY_PHOTO, 1, 1, photo), QStringLiteral("2/1/1/0,/9gA"));
    }

    void receivedRowsDecode()
    {
        const auto decode = [](int type, const QString &argument) {
            pim::DataRow r;
            decodeRow(argument.split(u','), type, r);
            return r;
        };
        // A custom label wins over the word: code 0 (custom) with the label text.
        pim::DataRow phone = decode(
            3, QStringLiteral("3/1/2/3,home,%1,%2").arg(b64(QStringLiteral("Boat")), b64(QStringLiteral("555"))));
        QCOMPARE(phone.value(QStringLiteral("data2")).toInt(), 0);
        QCOMPARE(phone.text(QStringLiteral("data3")), QStringLiteral("Boat"));
        QCOMPARE(phone.text(QStringLiteral("data1")), QStringLiteral("555"));
        QCOMPARE(decode(3, QStringLiteral("3/1/2/3,work fax,,")).value(QStringLiteral("data2")).toInt(), 4);

        QCOMPARE(decode(5, QStringLiteral("5/1/2/3,short,,%1").arg(b64(QStringLiteral("Al"))))
                     .value(QStringLiteral("data2"))
                     .toInt(),
                 1);
        QCOMPARE(decode(6, QStringLiteral("6/1/2/3,birthday,,1980-02-29")).text(QStringLiteral("data1")),
                 QStringLiteral("1980-02-29T00:00:00"));
        QCOMPARE(decode(6, QStringLiteral("6/1/2/3,birthday,,29.02.1980")).text(QStringLiteral("data1")), QString());

        const pim::DataRow name =
            decode(1, QStringLiteral("1/1/2/3,%1,%2,,%3,")
                          .arg(b64(QStringLiteral("Dr.")), b64(QStringLiteral("Zoë")), b64(QStringLiteral("Adams"))));
        QCOMPARE(name.text(QStringLiteral("data1")), QStringLiteral("Dr. Zoë Adams"));
        const pim::DataRow address = decode(
            12, QStringLiteral("12/1/2/3,work,,%1,,%2,%3,")
                    .arg(b64(QStringLiteral("NL")), b64(QStringLiteral("Delft")), b64(QStringLiteral("Markt 1"))));
        QCOMPARE(address.text(QStringLiteral("data1")), QStringLiteral("Markt 1\nDelft\nNL"));
        const pim::DataRow im = decode(8, QStringLiteral("8/1/2/3,home,,skype,%1,%2")
                                              .arg(b64(QStringLiteral("Matrix")), b64(QStringLiteral("anna"))));
        QCOMPARE(im.value(QStringLiteral("data5")).toInt(), 0); // custom protocol
        QCOMPARE(im.text(QStringLiteral("data6")), QStringLiteral("Matrix"));

        // Fields the phone did not send leave their columns unset.
        const pim::DataRow shortRow = decode(3, QStringLiteral("3/1/2/3,mobile"));
        QVERIFY(!shortRow.has(QStringLiteral("data3")) && !shortRow.has(QStringLiteral("data1")));

        // Every type survives the way out and back.
        for (int type : {4, 10, 11, 13, 9, 7}) {
            const pim::DataRow out = row({{1, QStringLiteral("a,b")},
                                          {2, type == 11 ? 9 : 1},
                                          {4, QStringLiteral("Chef")},
                                          {5, QStringLiteral("Dept")}});
            const pim::DataRow back =
                decode(type, encodeRow(type, 1, 1, type == 7 ? row({{2, QStringLiteral("Golf")}}) : out));
            if (type == 7)
                QCOMPARE(back.text(QStringLiteral("data2")), QStringLiteral("Golf"));
            else
                QCOMPARE(back.text(QStringLiteral("data1")), QStringLiteral("a,b"));
            if (type == 10)
                QCOMPARE(back.text(QStringLiteral("data4")), QStringLiteral("Chef"));
        }
    }

    void deviceIdsStayInsideTheCacheFolder()
    {
        const QString folder = DataFolder::androidCacheDir();
        QStringList names;
        for (const QString &id :
             {QStringLiteral("../../etc/passwd"), QStringLiteral(".."), QString(), QStringLiteral("a/b"),
              QStringLiteral("a%2Fb"), QStringLiteral("127.0.0.1:5555"), QString(300, u'x')}) {
            const QString path = AndroidLink::cachePath(id);
            QCOMPARE(QFileInfo(path).absolutePath(), folder);
            QVERIFY(!QFileInfo(path).fileName().startsWith(u'.'));
            QVERIFY(QFileInfo(path).fileName().size() <= 160);
            names << QFileInfo(path).fileName();
        }
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        QCOMPARE(AndroidLink::cacheFileName(QStringLiteral("127.0.0.1:5555")), QStringLiteral("127.0.0.1:5555"));
    }

    // ---- Line protocol ----

    void readingLines()
    {
        ScriptedPeer peer([](int fd) {
            ScriptedPeer::say(
                fd, "$count:3\r\n$error:\n$error:" + QByteArray("Kaputt ü").toBase64() +
                        "\n$Error:x\n $error:x\n\r\n$batch:junk 1/5/1/-9=>1/77/78/79;3/5/5/-10=>3/77/78/80\n$batch:\n" +
                        "$device:no end");
        });
        QTcpSocket socket;
        connectThrow(socket, QStringLiteral("127.0.0.1"), peer.port());
        QCOMPARE(readReply(&socket, 5000), QStringLiteral("$count:3"));
        try {
            readReply(&socket, 5000);
            QFAIL("an empty $error: is still an error");
        } catch (const RemoteException &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QString());
        }
        QVERIFY_THROWS_EXCEPTION(RemoteException, readReply(&socket, 5000));
        QCOMPARE(readReply(&socket, 5000), QStringLiteral("$Error:x"));
        QCOMPARE(readReply(&socket, 5000), QStringLiteral(" $error:x"));
        try {
            readReply(&socket, 5000);
            QFAIL("a line of only \\r\\n is empty");
        } catch (const SocketDataTransferException &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Null command."));
        }
        const QList<RemapItem> items = readBatchReply(&socket, 5000);
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(0).part2, 5);
        QCOMPARE(items.at(0).part4, 9);
        QCOMPARE(items.at(1).newId, QStringLiteral("3/77/78/80"));
        QVERIFY(readBatchReply(&socket, 5000).isEmpty()); // "$batch:" alone is a valid reply
        // The peer closes in the middle of a line.
        QVERIFY_THROWS_EXCEPTION(SocketDataTransferException, readReply(&socket, 5000));
    }

    void writingAndRefusedReplies()
    {
        QByteArray heard;
        ScriptedPeer peer([&heard](int fd) {
            heard = ScriptedPeer::hear(fd);
            ScriptedPeer::say(fd, "$ok:\n" + QByteArray(kMaxLineBytes + 1, 'x'));
        });
        QTcpSocket socket;
        connectThrow(socket, QStringLiteral("127.0.0.1"), peer.port());
        writeCommand(&socket, QLatin1String(kDevice), b64(QStringLiteral("Zoë")) + QStringLiteral(" é"), true, 5000);
        try {
            readBatchReply(&socket, 5000);
            QFAIL("a reply that is no $batch: fails the batch");
        } catch (const std::runtime_error &e) {
            QCOMPARE(QString::fromUtf8(e.what()),
                     QStringLiteral("receive $batch: command error, invalid command:$ok:"));
        }
        // A line that never ends is cut off, not read into memory forever.
        QVERIFY_THROWS_EXCEPTION(SocketDataTransferException, readCommandLine(&socket, 10000));
        socket.close();
        QCOMPARE(heard, "$device:" + QByteArray("Zoë").toBase64() + " \xc3\xa9");

        // Nobody listening: the connect failure names host and port.
        QTcpSocket nowhere;
        quint16 closedPort = 0;
        QString error;
        adbsocket::closeFd(adbsocket::listenLoopback(0, &closedPort, &error));
        try {
            connectThrow(nowhere, QStringLiteral("127.0.0.1"), closedPort);
            QFAIL("nothing listens there any more");
        } catch (const std::runtime_error &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Failed to Connect to 127.0.0.1:%1.").arg(closedPort));
        }
    }

    void sessionPorts()
    {
        const QTime t(10, 7, 30);
        const int a = nextSyncPort(t);
        const int b = nextSyncPort(t);
        // Same minute and second: the counter tells them apart (after 99 it starts again at 1).
        QCOMPARE((b - a + 99) % 99, 1);
        QVERIFY(a > 43000 && a < 43100);
        int lowest = 100000, highest = 0;
        for (int i = 0; i < 250; ++i) {
            const int p = nextSyncPort(QTime(0, 3, 59));
            lowest = qMin(lowest, p);
            highest = qMax(highest, p);
        }
        QCOMPARE(lowest, 40000 + 5900 + 1);
        QCOMPARE(highest, 40000 + 5900 + 99);
    }

    // ---- Loading a phone: the simulated phone over adb ----

    void loadThreeHundredContactsInstallingOnce()
    {
        SimulatedPhone sim;
        QCOMPARE(sim.companion.seed(people::withMailAndGroup(300)), 300);
        const int port = nextSyncPort();
        Load first = load(sim.connector(), port);
        QCOMPARE(first.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(first.deviceName, QStringLiteral("Pixel Sim"));
        QCOMPARE(first.contacts.size(), 300);
        QCOMPARE(sim.installs(), 1);
        QCOMPARE(sim.phone.broadcasts().last(), QStringLiteral("sync://backup:%1/").arg(port));
        QCOMPARE(first.progressTexts.last(), QStringLiteral("Contacts: 300/300"));
        QCOMPARE(first.lastValue, 100);
        const pim::Contact &c = first.contacts.first();
        QCOMPARE(c.full_name, QStringLiteral("Test Person0"));
        QCOMPARE(c.rows(pim::ENTITY_PHONE).first().text(QStringLiteral("data1")), QStringLiteral("+1 555 1000"));
        QCOMPARE(c.rows(pim::ENTITY_PHONE).first().value(QStringLiteral("data2")).toInt(), 2);
        QVERIFY(parseRowId(c.src_id));
        // 150 contacts are in "Friends": one group, shared.
        QCOMPARE(std::count_if(first.contacts.cbegin(), first.contacts.cend(),
                               [](const pim::Contact &x) { return x.hasRows(pim::ENTITY_GROUP); }),
                 150);

        // Present now: no second install.
        Load second = load(sim.connector());
        QCOMPARE(second.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(second.contacts.size(), 300);
        QCOMPARE(sim.installs(), 1);
    }

    void emptyPhonesAndEmptyListings()
    {
        SimulatedPhone sim;
        sim.phone.setPackages({QStringLiteral("com.tallowbrook.contactssync")});
        Load empty = load(sim.connector());
        QCOMPARE(empty.outcome, ProgressObject::Outcome::Succeeded);
        QVERIFY(empty.contacts.isEmpty());
        QCOMPARE(sim.installs(), 0);

        // A phone that lists no user packages at all gets the app like any other phone without it.
        sim.phone.setPackages({});
        Load nothing = load(sim.connector());
        QCOMPARE(nothing.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(sim.installs(), 1);
        QVERIFY(sim.phone.packages().contains(QStringLiteral("com.tallowbrook.contactssync")));

        // A connector without a device only names the local host and touches no phone.
        AdbConnector offline{PAdbUSBHandle()};
        offline.prepare();
        int port = 12345;
        QCOMPARE(offline.startBackup(port), QStringLiteral("127.0.0.1"));
        QCOMPARE(offline.startRestore(port), QStringLiteral("127.0.0.1"));
        QCOMPARE(port, 12345);
    }

    void badPhonesLeaveAnEmptyCache_data()
    {
        QTest::addColumn<int>("fail");
        QTest::addColumn<QString>("message");
        using F = SimCompanionConfig::Fail;
        QTest::newRow("close mid batch") << int(F::CloseMidBatch)
                                         << QStringLiteral("The remote host closed the connection");
        QTest::newRow("error reply") << int(F::ErrorReply)
                                     << QStringLiteral("Simulated failure: the contacts provider is not available.");
        QTest::newRow("old version") << int(F::OldVersion)
                                     << QStringLiteral("This is not the latest version of Tallowbrook Contacts Sync on "
                                                       "Android. 3.0.3 needed. Please update it from Google Play.");
        QTest::newRow("malformed id") << int(F::BadId) << QStringLiteral("Invalid:$ent:1/x/");
        QTest::newRow("empty line") << int(F::EmptyLine) << QStringLiteral("Null command.");
    }
    void badPhonesLeaveAnEmptyCache()
    {
        QFETCH(int, fail);
        QFETCH(QString, message);
        SimCompanionConfig config;
        config.fail = SimCompanionConfig::Fail(fail);
        SimulatedPhone sim(config);
        sim.companion.seed(people::withMailAndGroup(40));
        const Load l = load(sim.connector());
        QCOMPARE(l.outcome, ProgressObject::Outcome::Failed);
        QVERIFY2(l.message.startsWith(message), qPrintable(l.message));
        QVERIFY(l.contacts.isEmpty());
    }

    void installOrUpdateDecisions()
    {
        using S = AdbConnector::InstallStep;
        const QByteArray withApp = "package:org.example.notes\npackage:com.tallowbrook.contactssync\n";
        QCOMPARE(AdbConnector::installStep(true, "", 0, 4), S::Install);
        QCOMPARE(AdbConnector::installStep(true, "package:org.example.notes\n", 0, 4), S::Install);
        QCOMPARE(AdbConnector::installStep(true, withApp, 3, 4), S::Update);
        QCOMPARE(AdbConnector::installStep(true, withApp, 4, 4), S::None);
        QCOMPARE(AdbConnector::installStep(true, withApp, 9, 4), S::None); // a newer app stays
        QCOMPARE(AdbConnector::installStep(true, withApp, 0, 4), S::None); // version unknown: left alone
        QCOMPARE(AdbConnector::installStep(false, "", 0, 4), S::Refuse);
        QCOMPARE(AdbConnector::installStep(true, "Error: Could not access the Package Manager.\n", 0, 4), S::Refuse);
        QCOMPARE(AdbConnector::installedVersionCode("Packages:\n  Package [x] (1):\n    versionCode=12 minSdk=21 "
                                                    "targetSdk=29\n    versionName=1.2\n"),
                 qint64(12));
        QCOMPARE(AdbConnector::installedVersionCode("    lastVersionCode=7\n"), qint64(0));
        QCOMPARE(AdbConnector::installedVersionCode(""), qint64(0));
        QVERIFY(AdbConnector::kEmbeddedVersionCode > 0);
    }

    void readinessOfThePhone()
    {
        using R = AndroidLink::Readiness;
        // The kernel's tables as a phone prints them: the app's port 0x4E21 (20001) as an IPv4-mapped IPv6
        // socket, another port listening on all IPv4 addresses, the session port once in another state.
        const QByteArray tcp6 =
            "  sl  local_address                         remote_address                        st tx_queue rx_queue tr "
            "tm->when retrnsmt   uid  timeout inode\n"
            "   0: 0000000000000000FFFF00000100007F:4E21 00000000000000000000000000000000:0000 0A 00000000:00000000 "
            "00:00000000 00000000 10123        0 40211 1 0000000000000000 100 0 0 10 0\n";
        const QByteArray tcp =
            "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
            "   0: 00000000:15B3 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1234 1\n"
            "   1: 0100007F:4E22 0100007F:A2C4 01 00000000:00000000 00:00000000 00000000 10123        0 1235 1\n";
        QCOMPARE(AdbConnector::portReadiness(tcp6 + tcp, 20001), R::Ready);
        QCOMPARE(AdbConnector::portReadiness(tcp6 + tcp, 5555), R::Ready);
        QCOMPARE(AdbConnector::portReadiness(tcp6 + tcp, 20002), R::NotYet); // connected, not listening
        QCOMPARE(AdbConnector::portReadiness(tcp, 20001), R::NotYet);
        QCOMPARE(AdbConnector::portReadiness("cat: /proc/net/tcp6: Permission denied\n", 20001), R::Unknown);
        QCOMPARE(AdbConnector::portReadiness("", 20001), R::Unknown);
        QCOMPARE(
            AdbConnector::packagePathReadiness("package:/data/app/~~a==/com.tallowbrook.contactssync-b==/base.apk\n"),
            R::Ready);
        QCOMPARE(AdbConnector::packagePathReadiness(""), R::NotYet);
        QCOMPARE(AdbConnector::packagePathReadiness("Error: Could not access the Package Manager.\n"), R::Unknown);

        // The wait asks until the phone is ready; gives up at its limit; a phone that can not tell is asked once.
        const auto script = [](QList<R> answers, int *asked) {
            return [answers, asked] { return answers.value((*asked)++, answers.last()); };
        };
        int asked = 0;
        QVERIFY(AndroidLink::waitUntilReady(3000, 0, script({R::NotYet, R::NotYet, R::Ready}, &asked)));
        QCOMPARE(asked, 3);
        asked = 0;
        QVERIFY(!AndroidLink::waitUntilReady(2 * AndroidLink::kReadyPollMs, 0, script({R::NotYet}, &asked)));
        QVERIFY2(asked >= 2 && asked <= 4, qPrintable(QString::number(asked)));
        asked = 0;
        QVERIFY(!AndroidLink::waitUntilReady(3000, 0, script({R::Unknown, R::Ready}, &asked)));
        QCOMPARE(asked, 1);
    }

    void theFirstSessionWaitsForTheAppToStart()
    {
        // Right after the install the app's process starts cold: its session port opens well after the broadcast.
        SimCompanionConfig slow;
        slow.coldStartMs = 600;
        SimulatedPhone sim(slow);
        sim.companion.seed(people::withMailAndGroup(5));
        const Load l = load(sim.connector());
        QCOMPARE(l.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(l.contacts.size(), 5);
        const QStringList history = sim.phone.shellHistory();
        QCOMPARE(sim.installs(), 1);
        QVERIFY(history.filter(QStringLiteral("pm path com.tallowbrook.contactssync")).size() >= 1);
        // Asked until the port listened, and not a fixed number of times.
        const qsizetype asks = history.filter(QStringLiteral("cat /proc/net/tcp6 /proc/net/tcp")).size();
        QVERIFY2(asks >= 3, qPrintable(QString::number(asks)));

        // A session port that never opens: the wait ends at its limit and the session fails at its connect.
        SimCompanionConfig never;
        never.warmStartMs = never.coldStartMs = 60000;
        SimulatedPhone silent(never);
        silent.phone.setPackages({QStringLiteral("com.tallowbrook.contactssync")});
        const Load none = load(silent.connector());
        QCOMPARE(none.outcome, ProgressObject::Outcome::Failed);
        QVERIFY(silent.phone.shellHistory().filter(QStringLiteral("cat /proc/net/tcp6")).size() >= 10);
    }

    void olderCompanionIsUpdatedWithPermissionsGranted()
    {
        SimulatedPhone sim;
        sim.companion.seed(people::withMailAndGroup(3));
        // An app of version 1 is on the phone.
        sim.phone.setPackages({QStringLiteral("com.tallowbrook.contactssync")});
        sim.phone.setStoreValue(QStringLiteral("versions"),
                                QJsonObject{{QStringLiteral("com.tallowbrook.contactssync"), 1}});
        Load first = load(sim.connector());
        QCOMPARE(first.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(sim.installs(), 1);
        const QStringList installs = sim.phone.shellHistory().filter(QStringLiteral("pm install"));
        QVERIFY2(installs.first().startsWith(QStringLiteral("pm install '-r' '-g' ")), qPrintable(installs.first()));
        // The simulated package manager read the version from the embedded package's manifest: up to date now.
        QCOMPARE(sim.phone.storeValue(QStringLiteral("versions"))[QStringLiteral("com.tallowbrook.contactssync")]
                     .toInteger(),
                 AdbConnector::kEmbeddedVersionCode);
        Load second = load(sim.connector());
        QCOMPARE(second.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(sim.installs(), 1);
    }

    void installFailureIsReported()
    {
        QVERIFY(QFile::exists(QStringLiteral(":/res/com.tallowbrook.contactssync.apk")));
        // The phone goes away in the middle of the install.
        SimAdbdConfig dropping = adbdUnderTest();
        dropping.dropMidShell = QStringLiteral("pm install");
        SimulatedPhone broken({}, dropping);
        const Load l = load(broken.connector());
        QCOMPARE(l.outcome, ProgressObject::Outcome::Failed);
        QVERIFY2(l.message.startsWith(QStringLiteral("Can not install com.tallowbrook.contactssync. ")),
                 qPrintable(l.message));
    }

    void sessionPortHeldBySomethingElse()
    {
        // Another program listens on the session port: every connection it gets is counted and hung up on.
        int held = 0;
        int strangerFd = -1;
        for (int i = 0; i < 20 && strangerFd < 0; ++i) {
            held = nextSyncPort();
            QString error;
            strangerFd = adbsocket::listenLoopback(quint16(held), nullptr, &error);
        }
        QVERIFY(strangerFd >= 0);
        std::atomic<bool> stop{false};
        std::atomic<int> visitors{0};
        std::thread stranger([&] {
            while (!stop) {
                bool timedOut = false;
                const int fd = adbsocket::acceptOne(strangerFd, 50, &timedOut);
                if (fd >= 0) {
                    ++visitors;
                    adbsocket::closeFd(fd);
                }
            }
        });
        const auto release = qScopeGuard([&] {
            stop = true;
            stranger.join();
            adbsocket::closeFd(strangerFd);
        });

        SimulatedPhone sim;
        sim.phone.setPackages({QStringLiteral("com.tallowbrook.contactssync")});
        sim.companion.seed(people::withMailAndGroup(5));
        const PAndroidConnector connector = sim.connector();

        // The backup session moves to a port of its own and the phone is told that one.
        const Load l = load(connector, held);
        QCOMPARE(l.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(l.contacts.size(), 5);
        const QString backupUrl = sim.phone.broadcasts().last();
        QVERIFY2(backupUrl.startsWith(QStringLiteral("sync://backup:")), qPrintable(backupUrl));
        const int moved = backupUrl.section(u':', 2).chopped(1).toInt();
        QVERIFY(moved != held && moved > 10000 && moved < 46000);

        // So does a restore session, and the connection reaches the phone.
        QTcpSocket socket;
        restoresession::open(socket, *connector, held);
        QVERIFY(sim.phone.broadcasts().last() != QStringLiteral("sync://restore:%1/").arg(held));
        pim::DataRow name = row({{2, QStringLiteral("Moved")}});
        name._id = 7;
        restoresession::sendBatch(socket, {{kEnt, encodeRow(pim::ENTITY_NAME, 3, 3, name)}});
        QCOMPARE(readBatchReply(&socket, 5000).size(), 1);
        socket.close();
        QCOMPARE(sim.companion.restoreSessions(), 1);

        // A phone gone away gets no session at all: the forward's failure is the error.
        sim.adbd.stop();
        const auto *adb = static_cast<AdbConnector *>(connector.data());
        QTRY_VERIFY(adb->handle()->state() != AdbUSBHandle::State::Online);
        int port = held;
        try {
            connector->startBackup(port);
            QFAIL("a session was started without a forward");
        } catch (const std::runtime_error &e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("not online")), e.what());
        }
        QCOMPARE(visitors.load(), 0);
    }

    // ---- Loading a phone: what only a scripted peer sends ----

    void orphanRowsGroupsAndCounts()
    {
        ScriptedPeer peer([](int fd) {
            ScriptedPeer::say(fd, "$device:" + b64(QStringLiteral("Scripted")).toLatin1() + "\n$version:x2\n");
        });
        const Load old = load(PAndroidConnector(new LocalConnector), peer.port());
        QCOMPARE(old.outcome, ProgressObject::Outcome::Failed); // "x2" is no number: version 0
        QVERIFY(old.message.contains(QStringLiteral("3.0.3")));

        ScriptedPeer peer2([](int fd) {
            const auto nameRow = [](int id, const char *given) {
                return "$ent:1/" + QByteArray::number(id) + "/9/" + QByteArray::number(100 + id) + ",," +
                       QByteArray(given).toBase64() + ",,,\n";
            };
            ScriptedPeer::say(fd, "$device:" + QByteArray("Scripted").toBase64() +
                                      "\n$version:2\n$hello:ignored\n$batch:\n"
                                      // a row of contact 7 before (and without) its name row: kept out
                                      + "$ent:3/7/9/500,mobile,," + QByteArray("1").toBase64() + "\n" +
                                      nameRow(1, "Ann") + "$ent:7/1/9/201," + QByteArray("Golf").toBase64() +
                                      "\n$noise:\n" + nameRow(2, "Bob") + "$ent:7/2/9/202," +
                                      QByteArray("GOLF").toBase64() + "\n$ent:42/2/9/203,x\n$end:\n");
            if (ScriptedPeer::hear(fd) != "$batch:")
                return;
            ScriptedPeer::say(fd, "$bye:\n");
            ScriptedPeer::hear(fd);
        });
        const Load l = load(PAndroidConnector(new LocalConnector), peer2.port());
        QCOMPARE(l.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(l.deviceName, QStringLiteral("Scripted"));
        QCOMPARE(l.contacts.size(), 2);
        QCOMPARE(l.orphans, 1);
        for (const pim::Contact &c : l.contacts)
            QVERIFY(!c.hasRows(pim::ENTITY_PHONE));
        // "Golf" and "GOLF" are one group; no "$count:" was sent, so progress stays within 0..100.
        QCOMPARE(l.contacts.at(0).firstRow(pim::ENTITY_GROUP).text(QStringLiteral("data1")),
                 l.contacts.at(1).firstRow(pim::ENTITY_GROUP).text(QStringLiteral("data1")));
        QVERIFY(l.lastValue >= 0 && l.lastValue <= 100);
        QCOMPARE(l.progressTexts.last(), QStringLiteral("Contacts: 2/0"));
    }

    void cancelWhileThePhoneIsSilent()
    {
        std::atomic<bool> acked{false};
        ScriptedPeer peer([&acked](int fd) {
            ScriptedPeer::say(fd, "$version:3\n$count:2\n$batch:\n$ent:1/1/1/1,," + QByteArray("Ann").toBase64() +
                                      ",,,\n$end:\n");
            acked = ScriptedPeer::hear(fd) == "$batch:";
            ScriptedPeer::hear(fd); // silent until the program hangs up
        });
        const Load l = load(PAndroidConnector(new LocalConnector), peer.port(), [&acked](ProgressObject &progress) {
            (void)QTest::qWaitFor([&acked] { return acked.load(); }, 10000);
            progress.cancel();
        });
        QVERIFY(acked);
        QCOMPARE(l.outcome, ProgressObject::Outcome::Cancelled);
        QVERIFY(l.contacts.isEmpty()); // rolled back
    }

    // ---- Wi-Fi ----

    void loadOverWifi()
    {
        SimulatedPhone sim;
        sim.phone.setPackages({QStringLiteral("com.tallowbrook.contactssync")});
        sim.companion.seed(people::withMailAndGroup(3));
        QString error;
        QVERIFY(sim.companion.listenWifi(0, &error));
        std::optional<ScopedEnv> wifiPort;
        wifiPort.emplace("CONTACT_MOVER_WIFI_PORT", QByteArray::number(sim.companion.wifiPort()));
        // Over Wi-Fi the app opens the session port after our request: give it the moment the real pause gives.
        AndroidLink::setPauseOverrideMs(300);
        auto wifi = QSharedPointer<AndroidWifiConnector>::create();
        wifi->hello(QStringLiteral("127.0.0.1"));
        QCOMPARE(wifi->deviceName(), QStringLiteral("Pixel Sim"));
        const Load l = load(wifi);
        AndroidLink::setPauseOverrideMs(0);
        QCOMPARE(l.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(l.contacts.size(), 3);
        QCOMPARE(sim.companion.backupSessions(), 1);

        // Nobody listening there: the timeout exception of the Wi-Fi dialog.
        sim.companion.stop();
        AndroidWifiConnector gone;
        QVERIFY_THROWS_EXCEPTION(WifiServiceTimeoutException, gone.hello(QStringLiteral("127.0.0.1")));
        wifiPort.reset();

        QCOMPARE(AndroidWifiConnector::parseAddress(QStringLiteral(" 192.168.1.20 ")), QStringLiteral("192.168.1.20"));
        QCOMPARE(AndroidWifiConnector::parseAddress(QStringLiteral("999.1.1.1")), QStringLiteral("999.1.1.1"));
        QVERIFY(AndroidWifiConnector::parseAddress(QStringLiteral("192.168.1.20:48888")).isEmpty());
        QVERIFY(AndroidWifiConnector::parseAddress(QStringLiteral("phone.local")).isEmpty());
    }

    // ---- The simulator's restore side, driven with the program's own encoder ----

    void restoreSessionsOnTheSimulatedPhone()
    {
        SimulatedPhone sim;
        sim.phone.setPackages({QStringLiteral("com.tallowbrook.contactssync")});
        sim.companion.seed(people::withMailAndGroup(1));
        const PAndroidConnector connector = sim.connector();
        int port = nextSyncPort();
        QTcpSocket socket;
        const QString host = connector->startRestore(port);
        connectThrow(socket, host, port);

        pim::DataRow name = row({{2, QStringLiteral("Neu")}, {3, QStringLiteral("Kontakt")}});
        name._id = 31;
        writeCommand(&socket, QLatin1String(kBatch), QString(), true, -1);
        writeCommand(&socket, QLatin1String(kEnt), encodeRow(pim::ENTITY_NAME, 8, 8, name), false, -1);
        writeCommand(&socket, QLatin1String(kEnd), QString(), true, -1);
        const QList<RemapItem> created = readBatchReply(&socket, 5000);
        QCOMPARE(created.size(), 1);
        QCOMPARE(created.first().part2, 8);
        QCOMPARE(created.first().part4, 31);
        qint64 p2 = 0, p3 = 0;
        QVERIFY(parseRowId(created.first().newId, nullptr, &p2, &p3));

        pim::DataRow mobile = row({{1, QStringLiteral("+49 30 1234")}, {2, 2}});
        mobile._id = 32;
        writeCommand(&socket, QLatin1String(kBatch), QString(), true, -1);
        writeCommand(&socket, QLatin1String(kEnt), encodeRow(pim::ENTITY_PHONE, p2, p3, mobile), false, -1);
        writeCommand(&socket, QLatin1String(kUngroup), QString::number(p2), false, -1);
        writeCommand(&socket, QLatin1String(kEnd), QString(), true, -1);
        QCOMPARE(readBatchReply(&socket, 5000).size(), 1);

        // The phone refuses a row it can not read, and says so.
        writeCommand(&socket, QLatin1String(kBatch), QString(), true, -1);
        writeCommand(&socket, QLatin1String(kEnt), QStringLiteral("3/%1/%2/-33,mobile").arg(p2).arg(p3), false, -1);
        writeCommand(&socket, QLatin1String(kEnd), QString(), true, -1);
        QVERIFY_THROWS_EXCEPTION(RemoteException, readBatchReply(&socket, 5000));

        const SimContactStore store = sim.companion.store();
        QCOMPARE(store.contactCount(), 2);
        const SimContact &added = store.contacts().last();
        QCOMPARE(added.name, QStringLiteral("Neu Kontakt"));
        QCOMPARE(added.rows.size(), 2);
        QCOMPARE(added.rows.last().fields,
                 (QStringList{QStringLiteral("mobile"), QString(), QStringLiteral("+49 30 1234")}));

        // The delete batch: sent and closed at once, without waiting for a reply.
        QTcpSocket del;
        int port2 = nextSyncPort();
        const QString host2 = connector->startRestore(port2);
        connectThrow(del, host2, port2);
        pim::DataRow stored;
        stored.src_id = added.rows.first().id;
        writeCommand(&del, QLatin1String(kBatch), QString(), true, -1);
        writeCommand(&del, QLatin1String(kDel), encodeDeleteId(pim::ENTITY_NAME, 0, 0, stored), false, -1);
        writeCommand(&del, QLatin1String(kEnd), QString(), true, -1);
        del.close();
        QTRY_COMPARE(sim.companion.store().contactCount(), 1);
        QCOMPARE(sim.companion.restoreSessions(), 2);
    }
};

QTEST_GUILESS_MAIN(TestAndroid)
#include "tst_android.moc"
