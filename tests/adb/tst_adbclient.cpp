// Debian's adb client against the simulated phone: proof that the simulator speaks the real protocol, and a golden
// check of our key format against the key files adb writes itself.

#include "adb/adb.h"
#include "adb/adbkey.h"
#include "adbtesthelpers.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
const QString kAdb = u"/usr/bin/adb"_s;
}

class TestAdbClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void debianAdbAgainstSim();

private:
    QByteArray adb(const QStringList &args, int *exitCode = nullptr);

    QTemporaryDir m_home;
    QProcessEnvironment m_env;
    bool m_serverStarted = false;
};

void TestAdbClient::initTestCase()
{
    if (!QFile::exists(kAdb))
        QSKIP("Debian's adb is not installed");
    QVERIFY(m_home.isValid());
    // The adb server gets its own port, home and log folder, so it meets neither the program nor ~/.android.
    QString error;
    quint16 port = 0;
    const int fd = adbsocket::listenLoopback(0, &port, &error);
    QVERIFY(fd >= 0);
    adbsocket::closeFd(fd);
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(u"HOME"_s, m_home.path());
    m_env.insert(u"TMPDIR"_s, m_home.path());
    m_env.insert(u"ANDROID_ADB_SERVER_PORT"_s, QString::number(port));
    m_env.remove(u"ANDROID_USER_HOME"_s);
    m_env.remove(u"ANDROID_SDK_HOME"_s);
    m_env.remove(u"PHONE_SIM_ADBD"_s);
    m_env.remove(u"ADB_VENDOR_KEYS"_s);
    qputenv("HOME", m_home.path().toLocal8Bit());
    qunsetenv("ANDROID_USER_HOME");
    qunsetenv("ANDROID_SDK_HOME");
}

void TestAdbClient::cleanupTestCase()
{
    if (m_serverStarted)
        adb({u"kill-server"_s});
}

QByteArray TestAdbClient::adb(const QStringList &args, int *exitCode)
{
    QProcess p;
    p.setProcessEnvironment(m_env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(kAdb, args);
    m_serverStarted = true;
    if (!p.waitForFinished(20000))
        p.kill();
    p.waitForFinished();
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAll();
}

void TestAdbClient::debianAdbAgainstSim()
{
    // The generation under test: legacy checks every sum adb sends and takes 4096-byte packets, pie answers adb's
    // key with a fresh token once its framework is up, current lists delayed_ack, which adb 29 does not know.
    SimAdbdConfig config = adbdUnderTest();
    config.requireAuth = true;
    config.acceptKeyAfterMs = 0;
    config.stalePackets = true; // leftovers before CNXN, which adb ignores too
    InProcessPhone sim(config);
    QVERIFY(sim.started);
    sim.phone.listen(7777, SimPhone::echoService());
    const QString serial = sim.endpoint();

    QByteArray out = adb({u"connect"_s, serial});
    // With AUTH, adb first reports "failed to authenticate" while the phone shows its prompt.
    QVERIFY2(out.contains("connected to") || out.contains("failed to authenticate"), out.constData());
    QTRY_VERIFY_WITH_TIMEOUT(adb({u"-s"_s, serial, u"get-state"_s}).trimmed() == "device", 15000);
    QCOMPARE(sim.adbd.offeredKeys().size(), 1); // adb's fresh key was offered and allowed

    int rc = -1;
    out = adb({u"-s"_s, serial, u"shell"_s, u"pm"_s, u"list"_s, u"packages"_s, u"-3"_s}, &rc);
    QCOMPARE(rc, 0);
    QCOMPARE(out, QByteArray("package:org.example.notes\npackage:org.example.weather\n"));

    const QByteArray data = randomBytes(200000);
    QFile file(m_home.filePath(u"push.bin"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    out = adb({u"-s"_s, serial, u"push"_s, file.fileName(), u"/data/local/tmp/"_s}, &rc);
    QVERIFY2(rc == 0, out.constData());
    QCOMPARE(sim.phone.file(u"/data/local/tmp/push.bin"_s).value_or(QByteArray()), data);

    out = adb({u"-s"_s, serial, u"forward"_s, u"tcp:0"_s, u"tcp:7777"_s}, &rc);
    const ushort port = out.trimmed().toUShort();
    QVERIFY2(rc == 0 && port != 0, out.constData());
    const int fd = connectLocal(port);
    QVERIFY(fd >= 0);
    const QByteArray echo = randomBytes(50000);
    QVERIFY(adbsocket::sendAll(fd, echo.constData(), echo.size()));
    QCOMPARE(recvExact(fd, echo.size()), echo);
    adbsocket::closeFd(fd);
    QVERIFY2(sim.adbd.errors().isEmpty(), qPrintable(sim.adbd.errors().join(u"; "_s)));

    // adb's key files: our encoder gives the same public key for adb's private key, and the phone that now trusts
    // adb trusts us at the first signature.
    QString error;
    auto key = AdbKey::loadOrCreate(AdbKey::defaultPath(), &error);
    QVERIFY2(key, qPrintable(error));
    QFile pub(m_home.filePath(u".android/adbkey.pub"_s));
    QVERIFY(pub.open(QIODevice::ReadOnly));
    QCOMPARE(key->androidPublicKey(), pub.readAll().split(' ').first());
    PAdbUSBHandle dev = sim.connect();
    QVERIFY(dev && dev->waitForAuth2(5000));
    QCOMPARE(sim.adbd.goodSignatures(), 1);
    QCOMPARE(sim.adbd.offeredKeys().size(), 1);
}

QTEST_GUILESS_MAIN(TestAdbClient)
#include "tst_adbclient.moc"
