// The window and Android phones: a phone that arrives through the adb poller is authorised, loaded and shown
// with its contacts, backed up, unplugged and plugged again; bad phones leave no node; the Wi-Fi dialog.
// The simulated phone runs in this process; dialog answers are queued in advance.

#include "android/androidlink.h"
#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/localdbselform.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "temphome.h"
#include "widgets/androidwifiform.h"

#include "adb/adbtransport.h"
#include "simandroidphone.h"
#include "vcardpeople.h"
#include "windowtestcase.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <optional>

namespace {

// A phone without the companion app, which the window finds through CONTACT_MOVER_ADB_TCP while it lives.
struct Phone : SimAndroidPhone
{
    explicit Phone(SimCompanionConfig config = {}, SimAdbdConfig adbConfig = {})
        : SimAndroidPhone(QStringLiteral("Pixel Sim"), QStringLiteral("SIM42"), App::Missing, config, adbConfig),
          watched({endpoint()})
    {
    }
    WatchedPhones watched;
};

} // namespace

class TestMainWindowAndroid : public WindowTestCase
{
    Q_OBJECT

public:
    TestMainWindowAndroid() : WindowTestCase(LocalDbFolder::Absent) {}

private Q_SLOTS:
    void aPhoneArrivesIsShownBackedUpAndComesBack()
    {
        Phone sim;
        sim.companion.seed(people::cards(300));
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(androidNode(w, sim.endpoint()), 20000);
        _DBItemNode *node = androidNode(w, sim.endpoint());
        QCOMPARE(node->name, QStringLiteral("Pixel Sim"));
        QCOMPARE(w.selectedDbNode(), node);
        QCOMPARE(w.contactsModel()->contacts().size(), 300);
        QCOMPARE(w.findChild<QLabel *>(QStringLiteral("lbTotal"))->text(), QStringLiteral("Total:300"));
        QCOMPARE(sim.installs(), 1);
        QVERIFY(QFileInfo::exists(AndroidLink::cachePath(sim.endpoint())));
        QVERIFY(MessageBox::takeShownTexts().isEmpty());

        LocalDbSelForm::queueAnswer(QStringLiteral("Phone backup"));
        MessageBox::queueAnswer(MessageBox::Yes); // the question with what will change
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miTreeBackup")->trigger();
        QCOMPARE(MessageBox::takeShownTexts().mid(1),
                 QStringList{QStringLiteral("Successfully backed up 300 contacts to the local database.")});
        _DBItemNode *backup = w.treeModel()->findDatabaseNode(QStringLiteral("Phone backup.db"));
        QVERIFY(backup);
        QCOMPARE(backup->db->listContacts(0, QString()).size(), 300);

        // Unplugged and back again (the poller finds it at once): loaded afresh, the app already there.
        QCOMPARE(sim.companion.backupSessions(), 1);
        sim.adbd.dropConnections();
        QTRY_COMPARE_WITH_TIMEOUT(sim.companion.backupSessions(), 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(androidNode(w, sim.endpoint()), 20000);
        QCOMPARE(w.treeModel()->deviceCount(ItemModelMainTree::PlatformAndroid), 1);
        QCOMPARE(androidNode(w, sim.endpoint())->db->listContacts(0, QString()).size(), 300);
        QCOMPARE(sim.installs(), 1);
    }

    void aPhoneThatWaitsForTheUserIsRetriedOrAbandoned()
    {
        SimAdbdConfig auth;
        auth.requireAuth = true;
        auth.acceptKeyAfterMs = -1; // the user has not tapped "Allow" yet
        Phone sim({}, auth);
        MessageBox::queueAnswer(MessageBox::Retry);
        MessageBox::queueAnswer(MessageBox::Abort);
        MainWindow w;
        QStringList shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown += MessageBox::takeShownTexts()).size() == 2, 20000);
        // Until it is allowed the phone has not said its name: the serial stands in.
        QVERIFY2(shown.first().contains(QStringLiteral("Can't connect to your Android Phone: %1.").arg(sim.endpoint())),
                 qPrintable(shown.first()));
        QVERIFY(!androidNode(w, sim.endpoint()));

        // Allowed at last; plugged in again, it loads without asking.
        sim.adbd.acceptPendingKeys();
        sim.adbd.dropConnections();
        QTRY_VERIFY_WITH_TIMEOUT(androidNode(w, sim.endpoint()), 20000);
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }

    void anAllowedPhoneClosesItsBoxAndLoads()
    {
        SimAdbdConfig auth;
        auth.requireAuth = true;
        auth.acceptKeyAfterMs = -1;
        Phone sim({}, auth);
        // No queued answer: the real box opens and waits. The user taps "Allow" on the phone while it is open;
        // the box must close by itself and the phone load, with nobody clicking Retry.
        QTimer::singleShot(4000, [&sim] { sim.adbd.acceptPendingKeys(); });
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(androidNode(w, sim.endpoint()), 30000);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void badPhonesGetNoNode_data()
    {
        QTest::addColumn<QString>("fail");
        QTest::addColumn<QString>("message");
        QTest::newRow("close mid batch") << QStringLiteral("close-mid-batch")
                                         << QStringLiteral("The remote host closed the connection");
        QTest::newRow("error reply") << QStringLiteral("error-reply") << QStringLiteral("Simulated failure");
        QTest::newRow("old version") << QStringLiteral("old-version") << QStringLiteral("3.0.3 needed");
        QTest::newRow("malformed id") << QStringLiteral("bad-id") << QStringLiteral("Invalid:$ent:1/x/");
        QTest::newRow("empty line") << QStringLiteral("empty-line") << QStringLiteral("Null command.");
    }
    void badPhonesGetNoNode()
    {
        QFETCH(QString, fail);
        QFETCH(QString, message);
        SimCompanionConfig config;
        QVERIFY(SimCompanion::parseFail(fail, &config.fail));
        Phone sim(config);
        sim.companion.seed(people::cards(30));
        MessageBox::queueAnswer(MessageBox::Ok);
        MainWindow w;
        QStringList shown;
        QTRY_VERIFY_WITH_TIMEOUT(!(shown += MessageBox::takeShownTexts()).isEmpty(), 20000);
        QVERIFY2(shown.first().contains(message), qPrintable(shown.first()));
        QVERIFY(!androidNode(w, sim.endpoint()));
        LocalDb cache(AndroidLink::cachePath(sim.endpoint()), PContactCombineRule());
        QVERIFY(cache.listContacts(0, QString()).isEmpty());
        // The window goes on: the Wi-Fi command still opens its dialog (cancelled here).
        QVERIFY(w.action("miToolsConnectViaWiFi")->isEnabled());
    }

    void wifiDialog()
    {
        Phone sim;
        sim.phone.setPackages({QStringLiteral("com.tallowbrook.contactssync")});
        sim.companion.seed(people::cards(2));
        QString error;
        QVERIFY(sim.companion.listenWifi(0, &error));
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(androidNode(w, sim.endpoint()), 20000); // the same phone over USB

        // Wrong input stays in the dialog; an address where nobody listens is a timeout; then a good one.
        quint16 closedPort = 0;
        adbsocket::closeFd(adbsocket::listenLoopback(0, &closedPort, &error));
        std::optional<ScopedEnv> wifiPort; // where the window's Wi-Fi dialog knocks
        wifiPort.emplace("CONTACT_MOVER_WIFI_PORT", QByteArray::number(closedPort));
        AndroidWIFIForm::queueAnswer(QStringLiteral("127.0.0.1:48888"));
        AndroidWIFIForm::queueAnswer(QStringLiteral("127.0.0.1"));
        MessageBox::queueAnswer(MessageBox::Ok);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.miToolsConnectViaWiFi();
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(0), QStringLiteral("Input Error. Please input the correct WiFi connection info."));
        // Nothing listens there: refused, not a timeout, and what to check.
        QVERIFY2(shown.at(1).contains(QLatin1String("Could not connect to the phone at 127.0.0.1.")),
                 qPrintable(shown.at(1)));
        QVERIFY2(shown.at(1).contains(QLatin1String("The phone refused the connection.")), qPrintable(shown.at(1)));
        QVERIFY2(
            shown.at(1).contains(QLatin1String("Please check that Tallowbrook Contacts Sync is installed and running")),
            qPrintable(shown.at(1)));
        QCOMPARE(w.treeModel()->deviceCount(ItemModelMainTree::PlatformAndroid), 1);

        // A phone whose app was never installed hangs up at once: the box says so and what to check.
        {
            SimPhone bare(QStringLiteral("Bare Sim"), QStringLiteral("SIM43"));
            SimCompanion noApp(&bare, {});
            QVERIFY(noApp.listenWifi(0, &error));
            wifiPort.emplace("CONTACT_MOVER_WIFI_PORT", QByteArray::number(noApp.wifiPort()));
            AndroidWIFIForm::queueAnswer(QStringLiteral("127.0.0.1"));
            MessageBox::queueAnswer(MessageBox::Ok);
            w.miToolsConnectViaWiFi();
            const QStringList closed = MessageBox::takeShownTexts();
            QCOMPARE(closed.size(), 1);
            QVERIFY2(closed.first().contains(QLatin1String("Could not connect to the phone at 127.0.0.1.")),
                     qPrintable(closed.first()));
            QVERIFY2(closed.first().contains(
                         QLatin1String("Please check that Tallowbrook Contacts Sync is installed and running")),
                     qPrintable(closed.first()));
            QVERIFY(!closed.first().contains(QLatin1String("refused")));
        }
        QCOMPARE(w.treeModel()->deviceCount(ItemModelMainTree::PlatformAndroid), 1);

        wifiPort.emplace("CONTACT_MOVER_WIFI_PORT", QByteArray::number(sim.companion.wifiPort()));
        AndroidLink::setPauseOverrideMs(300); // the app opens its session port after our request
        AndroidWIFIForm::queueAnswer(QStringLiteral("127.0.0.1 "));
        w.miToolsConnectViaWiFi();
        AndroidLink::setPauseOverrideMs(0);
        wifiPort.reset();
        _DBItemNode *wifi = androidNode(w, QStringLiteral("Pixel Sim")); // a Wi-Fi phone's id is its name
        QVERIFY(wifi);
        QCOMPARE(wifi->db->listContacts(0, QString()).size(), 2);
        QCOMPARE(w.selectedDbNode(), wifi);
        QCOMPARE(w.treeModel()->deviceCount(ItemModelMainTree::PlatformAndroid), 2);
    }
};

QTEST_MAIN(TestMainWindowAndroid)
#include "tst_mainwindowandroid.moc"
