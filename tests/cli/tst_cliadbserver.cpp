// The command line tool beside a user's own adb: Debian's adb server on a private port, connected to a phone-sim
// process, reaches the phone for the program too, and keeps working before, during and after the program's run.

#include "programrun.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString kAdb = QStringLiteral("/usr/bin/adb");

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

bool alive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
}

} // namespace

class TestCliAdbServer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QProcessEnvironment m_env;
    QProcess m_phone;
    QString m_serial; // "127.0.0.1:PORT", as the adb server names a phone it connected to
    QString m_wifiPort;
    bool m_serverStarted = false;

    using Result = ProcessResult;

    Result run(const QString &program, const QStringList &args, int timeoutMs = 30000)
    {
        return runProgram(program, args, m_env, timeoutMs);
    }
    Result adb(const QStringList &args) { return run(kAdb, args); }
    Result cli(const QStringList &args) { return run(QStringLiteral(CONTACT_MOVER_CLI_EXE), args); }

    bool adbListsPhone()
    {
        const Result r = adb({QStringLiteral("devices")});
        return r.code == 0 && r.out.contains((m_serial + QStringLiteral("\tdevice")).toLatin1());
    }

    quint16 serverPort() const { return m_env.value(QStringLiteral("ANDROID_ADB_SERVER_PORT")).toUShort(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!QFile::exists(kAdb))
            QSKIP("Debian's adb is not installed");
        QVERIFY(m_home.isValid());
        // The adb server gets its own port, home and log folder: it meets neither a real adb nor ~/.android.
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("HOME"), m_home.path());
        m_env.insert(QStringLiteral("TMPDIR"), m_home.path());
        m_env.insert(QStringLiteral("ANDROID_ADB_SERVER_PORT"), QString::number(freePort()));
        m_env.insert(QStringLiteral("CONTACT_MOVER_ANDROID_PAUSE_MS"), QStringLiteral("0"));
        for (const char *name : {"CONTACT_MOVER_ADB_TCP", "ANDROID_USER_HOME", "ANDROID_SDK_HOME", "ADB_VENDOR_KEYS"})
            m_env.remove(QLatin1String(name));

        QFile seed(m_home.filePath(QStringLiteral("seed.vcf")));
        QVERIFY(seed.open(QIODevice::WriteOnly));
        seed.write("BEGIN:VCARD\nVERSION:3.0\nN:Berg;Anna;;;\nTEL;TYPE=CELL:+1 555 0100\nEND:VCARD\n"
                   "BEGIN:VCARD\nVERSION:3.0\nN:Cole;Mark;;;\nEMAIL:mark@example.org\nEND:VCARD\n"
                   "BEGIN:VCARD\nVERSION:3.0\nFN:Acme Corp\nORG:Acme Corp\nEND:VCARD\n");
        seed.close();
        m_phone.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_phone.start(QStringLiteral(PHONE_SIM_EXE),
                      {QStringLiteral("--name"), QStringLiteral("Pixel 7"), QStringLiteral("--adb-port"),
                       QStringLiteral("0"), QStringLiteral("--wifi-port"), QStringLiteral("0"),
                       QStringLiteral("--store"), m_home.filePath(QStringLiteral("phone.json")),
                       QStringLiteral("--seed"), seed.fileName()});
        QVERIFY(m_phone.waitForStarted());
        QByteArray out;
        QVERIFY(QTest::qWaitFor([&] { return (out += m_phone.readAllStandardOutput()).contains("ready\n"); }, 10000));
        for (const QByteArray &line : out.split('\n')) {
            if (line.startsWith("CONTACT_MOVER_ADB_TCP="))
                m_serial = QString::fromLatin1(line.mid(line.indexOf('=') + 1));
            if (line.startsWith("CONTACT_MOVER_WIFI_PORT="))
                m_wifiPort = QString::fromLatin1(line.mid(line.indexOf('=') + 1));
        }
        QVERIFY2(!m_serial.isEmpty() && !m_wifiPort.isEmpty(), out.constData());

        QCOMPARE(adb({QStringLiteral("start-server")}).code, 0);
        m_serverStarted = true;
        QCOMPARE(adb({QStringLiteral("connect"), m_serial}).code, 0);
        QTRY_VERIFY_WITH_TIMEOUT(adbListsPhone(), 15000);
    }

    void cleanupTestCase()
    {
        if (m_serverStarted)
            adb({QStringLiteral("kill-server")});
        m_phone.terminate();
        m_phone.waitForFinished(5000);
    }

    // The program finds the phone the user's adb server knows, says that it goes through that server, loads the
    // phone's contacts through it; and the user's adb still has the phone afterwards.
    void phoneIsListedAndLoadedThroughTheAdbServer()
    {
        Result r = cli({QStringLiteral("devices"), QStringLiteral("--verbose")});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("through the adb server running on port %1").arg(serverPort()).toUtf8()),
                 r.out.constData());
        QVERIFY2(r.out.contains((QStringLiteral("android\t") + m_serial + QStringLiteral("\tPixel 7\n")).toUtf8()),
                 r.out.constData() + QByteArray(" / ") + r.err);
        QVERIFY(adbListsPhone());

        r = cli({QStringLiteral("list"), QStringLiteral("--device"), m_serial, QStringLiteral("--json")});
        QCOMPARE(r.code, 0);
        const QJsonArray contacts = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(contacts.size(), 3);
        QCOMPARE(contacts.at(0)[QStringLiteral("full_name")].toString(), QStringLiteral("Acme Corp"));
        QCOMPARE(contacts.at(1)[QStringLiteral("entities")][QStringLiteral("3")][0][QStringLiteral("data1")].toString(),
                 QStringLiteral("+1 555 0100"));

        // The user's adb is untouched: same server, same phone, its shell still answers.
        QVERIFY(adbListsPhone());
        r = adb({QStringLiteral("-s"), m_serial, QStringLiteral("shell"), QStringLiteral("pm list packages -3")});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains("package:com.tallowbrook.contactssync"), r.out.constData()); // installed via the server
    }

    // A listener on the adb port that is not an adb server (here phone-sim's Wi-Fi listener) is not taken for
    // one, not even with the option that ends adb servers; the program then says it drives USB itself.
    void otherListenerOnTheAdbPortIsLeftAlone()
    {
        const QString adbPort = m_env.value(QStringLiteral("ANDROID_ADB_SERVER_PORT"));
        m_env.insert(QStringLiteral("ANDROID_ADB_SERVER_PORT"), m_wifiPort);
        const Result r =
            cli({QStringLiteral("--end-adb-server"), QStringLiteral("devices"), QStringLiteral("--verbose")});
        m_env.insert(QStringLiteral("ANDROID_ADB_SERVER_PORT"), adbPort);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(
                     QStringLiteral("directly over USB (no adb server answered on port %1").arg(m_wifiPort).toUtf8()),
                 r.out.constData());
        QVERIFY(alive(m_phone.processId()));
        QCOMPARE(m_phone.state(), QProcess::Running);
        QVERIFY(adbListsPhone());
    }

    // Asked to, the program ends the user's adb server before it looks for phones, and says so.
    void endAdbServerOptionEndsIt()
    {
        const Result r =
            cli({QStringLiteral("--end-adb-server"), QStringLiteral("devices"), QStringLiteral("--verbose")});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains("directly over USB") && r.out.contains("was asked to exit"), r.out.constData());
        // ("adb devices" would start a new server: the free port tells instead.)
        const auto portFree = [this] {
            QTcpServer takeover;
            return takeover.listen(QHostAddress::LocalHost, serverPort());
        };
        QTRY_VERIFY_WITH_TIMEOUT(portFree(), 5000);
        m_serverStarted = false;
    }
};

QTEST_GUILESS_MAIN(TestCliAdbServer)
#include "tst_cliadbserver.moc"
