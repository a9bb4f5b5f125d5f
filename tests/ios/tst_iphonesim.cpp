// The iphone-sim program as tests and the demo start it, checked with Debian's own libimobiledevice-utils (which
// is how we know it speaks the real protocols) and with the command line tool's list of iPhones.

#include "cli/devices.h"
#include "devices/iphones.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kUdid = QStringLiteral("00008030-001A2B3C4D5E6F70");
const QString kName = QStringLiteral("Zoë's iPhone");

} // namespace

class TestIPhoneSim : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_sim;
    QProcessEnvironment m_env;

    // Runs a Debian tool against the simulator; its standard output, trimmed.
    QString tool(const QString &name, const QStringList &args)
    {
        const QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty())
            return QStringLiteral("%1 is missing (scripts/deps.sh installs libimobiledevice-utils)").arg(name);
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(path, args);
        if (!p.waitForFinished(20000))
            return QStringLiteral("%1 did not finish").arg(name);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    bool command(const QByteArray &line, const QByteArray &answer)
    {
        m_sim.write(line + '\n');
        while (m_sim.waitForReadyRead(5000))
            if (m_sim.readAll().contains(answer))
                return true;
        return false;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QFile seed(m_dir.filePath(QStringLiteral("seed.vcf")));
        QVERIFY(seed.open(QIODevice::WriteOnly));
        seed.write("BEGIN:VCARD\nVERSION:2.1\nN:Adams;Zoë\nTEL;CELL:+44 20 7946 0000\nEND:VCARD\n"
                   "BEGIN:VCARD\nVERSION:3.0\nFN:Acme Ltd\nORG:Acme Ltd;Sales\nEMAIL;TYPE=WORK:sales@acme.example\n"
                   "NOTE:first line\\nsecond\\, with comma\nEND:VCARD\n");
        seed.close();
        m_sim.setProgram(QStringLiteral(IPHONE_SIM_EXE));
        m_sim.setArguments({QStringLiteral("--socket"), m_dir.filePath(QStringLiteral("mux.sock")),
                            QStringLiteral("--udid"), kUdid, QStringLiteral("--name"), kName, QStringLiteral("--store"),
                            m_dir.filePath(QStringLiteral("store.json")), QStringLiteral("--seed"), seed.fileName(),
                            QStringLiteral("--network-device"),
                            QStringLiteral("00008030-00FFEEDDCCBBAA99,Over Wi-Fi")});
        m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sim.start();
        QByteArray out;
        while (!out.contains("ready\n") && m_sim.waitForReadyRead(10000))
            out += m_sim.readAll();
        QVERIFY2(out.endsWith("ready\n"), out.constData());
        const QByteArray env = out.split('\n').first();
        QCOMPARE(env, "USBMUXD_SOCKET_ADDRESS=UNIX:" + m_dir.filePath(QStringLiteral("mux.sock")).toLocal8Bit());
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QString::fromLatin1(env.left(env.indexOf('='))),
                     QString::fromLocal8Bit(env.mid(env.indexOf('=') + 1)));
        qputenv(env.left(env.indexOf('=')).constData(), env.mid(env.indexOf('=') + 1));
    }

    void cleanupTestCase()
    {
        m_sim.terminate();
        QVERIFY(m_sim.waitForFinished(5000));
        QCOMPARE(m_sim.exitCode(), 0);
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("mux.sock"))));
        qunsetenv("USBMUXD_SOCKET_ADDRESS");
    }

    void debianToolsSeeThePhone()
    {
        QCOMPARE(tool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}), kUdid);
        QCOMPARE(tool(QStringLiteral("ideviceinfo"),
                      {QStringLiteral("-u"), kUdid, QStringLiteral("-k"), QStringLiteral("DeviceName")}),
                 kName);
        QCOMPARE(tool(QStringLiteral("ideviceinfo"),
                      {QStringLiteral("-u"), kUdid, QStringLiteral("-k"), QStringLiteral("UniqueDeviceID")}),
                 kUdid);

        // Unplugged, the phone is gone from the list; plugged in again, it is back.
        QVERIFY(command("detach " + kUdid.toLatin1(), "detached"));
        QCOMPARE(tool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}), QString());
        QVERIFY(command("attach " + kUdid.toLatin1(), "attached"));
        QCOMPARE(tool(QStringLiteral("idevice_id"), {QStringLiteral("-l")}), kUdid);
        QVERIFY(command("detach 00008030-0000000000000000", "error"));
    }

    void commandLineToolListsUsbPhonesByName()
    {
        const QList<devices::DeviceEntry> devices = devices::listIphones(cli::questions());
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices.first().platform, QStringLiteral("ios"));
        QCOMPARE(devices.first().id, kUdid);
        QCOMPARE(devices.first().name, kName);
    }

    void storeIsSeededFromTheVCard()
    {
        QFile file(m_dir.filePath(QStringLiteral("store.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject store = QJsonDocument::fromJson(file.readAll()).object();
        const QJsonArray contacts = store.value(QStringLiteral("contacts")).toArray();
        QCOMPARE(contacts.size(), 2);
        QCOMPARE(contacts[0][QStringLiteral("name")].toString(), QStringLiteral("Zoë Adams"));
        QCOMPARE(contacts[0][QStringLiteral("rows")][0][QStringLiteral("type")].toInt(), 3);
        QCOMPARE(contacts[0][QStringLiteral("rows")][0][QStringLiteral("fields")][QStringLiteral("type")].toString(),
                 QStringLiteral("mobile"));
        const QJsonObject acme = contacts[1][QStringLiteral("fields")].toObject();
        QCOMPARE(acme.value(QStringLiteral("company name")).toString(), QStringLiteral("Acme Ltd"));
        QCOMPARE(acme.value(QStringLiteral("department")).toString(), QStringLiteral("Sales"));
        QCOMPARE(acme.value(QStringLiteral("notes")).toString(), QStringLiteral("first line\nsecond, with comma"));
        // Record identifiers are the phone's own numbers; the records name their Contact.
        const QJsonObject records = store.value(QStringLiteral("records")).toObject();
        QCOMPARE(records.size(), 4);
        QCOMPARE(records.value(QStringLiteral("2"))[QStringLiteral("contact")].toArray(),
                 (QJsonArray{QStringLiteral("1")}));
    }
};

QTEST_GUILESS_MAIN(TestIPhoneSim)
#include "tst_iphonesim.moc"
