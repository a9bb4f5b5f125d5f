// An iPhone arriving at the real window: the simulated iPhone (the iphone-sim program) is plugged in and out, the
// window's notifier reports it through libusbmuxd, and the window reads its name through lockdown.

#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "core/texts.h"
#include "ios/mobiledevice.h"
#include "temphome.h"

#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kUdid = QStringLiteral("00008030-001A2B3C4D5E6F70");
const QString kName = QStringLiteral("Zoë's iPhone");

QMutex g_linesMutex;
QStringList g_debugLines;
QtMessageHandler g_previousHandler = nullptr;

void keepDebugLines(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg) {
        QMutexLocker lock(&g_linesMutex);
        g_debugLines << text;
    }
    g_previousHandler(type, context, text);
}

bool sawLine(const QString &text)
{
    QMutexLocker lock(&g_linesMutex);
    return g_debugLines.contains(text);
}

} // namespace

class TestMainWindowIos : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_sim;

private Q_SLOTS:
    void initTestCase()
    {
        installEnglishTranslation(*QCoreApplication::instance());
        g_previousHandler = qInstallMessageHandler(keepDebugLines);
        m_sim.setProgram(QStringLiteral(IPHONE_SIM_EXE));
        m_sim.setArguments({QStringLiteral("--socket"), m_dir.filePath(QStringLiteral("mux.sock")),
                            QStringLiteral("--udid"), kUdid, QStringLiteral("--name"), kName});
        m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sim.start();
        QByteArray out;
        while (!out.contains("ready\n") && m_sim.waitForReadyRead(10000))
            out += m_sim.readAll();
        QVERIFY2(out.contains("ready\n"), out.constData());
        const QByteArray env = out.split('\n').first();
        qputenv(env.left(env.indexOf('=')).constData(), env.mid(env.indexOf('=') + 1));
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(g_previousHandler);
        m_sim.terminate();
        m_sim.waitForFinished(5000);
        qunsetenv("USBMUXD_SOCKET_ADDRESS");
    }

    void arrivalReadsTheNameAndRemovalIsReported()
    {
        TempHome home;
        MessageBox::queueAnswer(MessageBox::Ok); // the tips about trusting the computer
        MainWindow window;
        auto *notifier = window.findChild<MobiledeviceSubscribe *>(QStringLiteral("iosNotifier"));
        QVERIFY(notifier);
        QSignalSpy arrived(notifier, &MobiledeviceSubscribe::newDevice);
        QSignalSpy left(notifier, &MobiledeviceSubscribe::kickDevice);

        QTRY_COMPARE(arrived.count(), 1);
        QCOMPARE(arrived.first().first().toString(), kUdid);
        QTRY_VERIFY(sawLine(QStringLiteral("IOS device connected, udid:%1 name:%2").arg(kUdid, kName)));
        QCOMPARE(MessageBox::takeShownTexts(), QStringList{trKey("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS")});

        m_sim.write("detach " + kUdid.toLatin1() + '\n');
        QTRY_COMPARE(left.count(), 1);
        QCOMPARE(left.first().first().toString(), kUdid);
        QCOMPARE(arrived.count(), 1);
    }
};

QTEST_MAIN(TestMainWindowIos)
#include "tst_mainwindowios.moc"
