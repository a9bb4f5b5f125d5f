#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "contacts/pim.h"
#include "core/datafolder.h"
#include "ios/ioscontactcombinerule.h"
#include "programrun.h"
#include "sqlite_qt/sqlite_qt.h"
#include "temphome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>

// Runs the real command line tool under a temporary home.
class TestCli : public QObject
{
    Q_OBJECT

    using Result = ProcessResult;

    Result cli(const TempHome &home, const QStringList &args)
    {
        return runProgram(QStringLiteral(CONTACT_MOVER_CLI_EXE), args, homeEnvironment(home.path()));
    }

    static pim::DataRow row(std::initializer_list<std::pair<const char *, QVariant>> columns)
    {
        pim::DataRow r;
        for (const auto &c : columns)
            r.setValue(QString::fromLatin1(c.first), c.second);
        return r;
    }

    static void addContact(LocalDb &db, const QString &given, const QString &family, const QString &phone,
                           qint64 groupId = 0, const QString &group = QString())
    {
        pim::Contact c;
        pim::DataRow name = row({{"data2", given}, {"data3", family}});
        name.setValue(QStringLiteral("data1"), pim::displayName(name));
        c.full_name = name.text(QStringLiteral("data1"));
        db.insertContact(c);
        db.insertRow(c._id, pim::ENTITY_NAME, name);
        pim::DataRow tel = row({{"data1", phone}, {"data2", 2}});
        db.insertRow(c._id, pim::ENTITY_PHONE, tel);
        if (groupId)
            db.setContactGroup(c._id, groupId, group);
    }

private Q_SLOTS:
    void createListAndDeleteADatabase()
    {
        TempHome home;
        Result r = cli(home, {QStringLiteral("create-db"), QStringLiteral("Family")});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.trimmed(), QByteArray("Family.db"));
        const QString path = LocalDbFiles::pathFor(QStringLiteral("Family.db"));
        QVERIFY(QFileInfo(path).isFile());
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::WriteOther), QFile::Permissions());

        // The new file has exactly the template's schema.
        {
            Sqlite3DB db;
            db.openThrow(path, 2);
            Sqlite3Cursor c = db.queryThrow("select name from sqlite_master where type in ('table','index') "
                                            "and name not like 'sqlite_autoindex%' order by name");
            QStringList names;
            while (c.moveNext())
                names << c.getText(QStringLiteral("name"));
            QCOMPARE(names,
                     (QStringList{QStringLiteral("contact"), QStringLiteral("contact_group"), QStringLiteral("data"),
                                  QStringLiteral("index_contacts_full_name"), QStringLiteral("index_contacts_src_id"),
                                  QStringLiteral("index_data_contact"), QStringLiteral("index_data_data"),
                                  QStringLiteral("index_data_src_id"), QStringLiteral("sqlite_sequence")}));
            Sqlite3Cursor page = db.queryThrow("pragma page_size");
            QVERIFY(page.moveNext());
            QCOMPARE(page.getInt(0), 1024);
        }

        // A second create of the same name must not wipe the existing database.
        r = cli(home, {QStringLiteral("create-db"), QStringLiteral("Family.db")});
        QCOMPARE(r.code, 1);
        QVERIFY(r.err.contains("already exists"));

        r = cli(home, {QStringLiteral("dbs"), QStringLiteral("--json")});
        QCOMPARE(r.code, 0);
        const QJsonArray dbs = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(dbs.size(), 1);
        QCOMPARE(dbs.at(0)[QStringLiteral("name")].toString(), QStringLiteral("Family.db"));
        QCOMPARE(dbs.at(0)[QStringLiteral("contacts")].toInt(), 0);

        r = cli(home, {QStringLiteral("delete-db"), QStringLiteral("Family")});
        QCOMPARE(r.code, 0);
        QVERIFY(!QFileInfo::exists(path));
        r = cli(home, {QStringLiteral("delete-db"), QStringLiteral("Family")});
        QCOMPARE(r.code, 1);
    }

    void listPrintsContactsInNameOrder()
    {
        TempHome home;
        QCOMPARE(cli(home, {QStringLiteral("create-db"), QStringLiteral("Work")}).code, 0);
        {
            LocalDb db(LocalDbFiles::pathFor(QStringLiteral("Work.db")), PContactCombineRule(new LocalDbCombineRule));
            const qint64 friends = db.findOrCreateGroup(QStringLiteral("Friends"));
            addContact(db, QStringLiteral("Zoë"), QStringLiteral("Adams"), QStringLiteral("555 0100"));
            addContact(db, QStringLiteral("Anna"), QStringLiteral("Berg"), QStringLiteral("555 0101"), friends,
                       QStringLiteral("Friends"));
            addContact(db, QStringLiteral("Mark"), QStringLiteral("Cole"), QStringLiteral("555 0199"), friends,
                       QStringLiteral("Friends"));
        }

        Result r = cli(
            home, {QStringLiteral("list"), QStringLiteral("--db"), QStringLiteral("Work"), QStringLiteral("--json")});
        QCOMPARE(r.code, 0);
        const QJsonArray all = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.at(0)[QStringLiteral("full_name")].toString(), QStringLiteral("Anna Berg"));
        QCOMPARE(all.at(1)[QStringLiteral("full_name")].toString(), QStringLiteral("Mark Cole"));
        QCOMPARE(all.at(2)[QStringLiteral("full_name")].toString(), QStringLiteral("Zoë Adams"));
        const QJsonObject anna = all.at(0).toObject();
        QVERIFY(anna[QStringLiteral("_id")].toInteger() > 0);
        const QJsonObject phone = anna[QStringLiteral("entities")][QStringLiteral("3")].toArray().at(0).toObject();
        QCOMPARE(phone[QStringLiteral("data1")].toString(), QStringLiteral("555 0101"));
        QCOMPARE(phone[QStringLiteral("data2")].toString(), QStringLiteral("2"));
        QVERIFY(!phone.contains(QStringLiteral("data3"))); // empty columns are left out
        QVERIFY(phone[QStringLiteral("_id")].toInteger() > 0);

        r = cli(home, {QStringLiteral("list"), QStringLiteral("--db"), QStringLiteral("Work.db"),
                       QStringLiteral("--group"), QStringLiteral("Friends"), QStringLiteral("--keyword"),
                       QStringLiteral("0199"), QStringLiteral("--json")});
        QCOMPARE(r.code, 0);
        const QJsonArray found = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.at(0)[QStringLiteral("full_name")].toString(), QStringLiteral("Mark Cole"));

        r = cli(home, {QStringLiteral("list"), QStringLiteral("--db"), QStringLiteral("Work")});
        QCOMPARE(r.code, 0);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).contains("Anna Berg\tMobile:555 0101"));

        r = cli(home, {QStringLiteral("dbs")});
        QCOMPARE(r.out, QByteArray("Work.db\t3\n"));
    }

    // A virtual iPhone: a contact database in the data root's "ios_virtual" folder.
    static void makeVirtualIphone(const QString &id, int contacts)
    {
        const QString folder = DataFolder::root() + QStringLiteral("/ios_virtual");
        QDir().mkpath(folder);
        LocalDb db(folder + QLatin1Char('/') + id + QStringLiteral(".db"),
                   PContactCombineRule(new IOSContactCombineRule));
        db.createFromTemplate();
        db.beginTransaction();
        for (int i = 0; i < contacts; ++i) {
            pim::Contact c = fixtures::person(QStringLiteral("Person%1").arg(i, 5, 10, QLatin1Char('0')),
                                              QStringLiteral("Test"), QStringLiteral("+1 555 %1").arg(i));
            c.addRow(pim::ENTITY_EMAIL, fixtures::row({{1, QStringLiteral("p%1@example.org").arg(i)}, {2, 1}}));
            db.saveContactWithMerge(c);
        }
        db.endTransaction(true);
    }

    void backupVirtualDeviceTwice()
    {
        TempHome home;
        makeVirtualIphone(QStringLiteral("Anna-iPhone"), 3);

        Result r = cli(home, {QStringLiteral("devices"), QStringLiteral("--json")});
        QCOMPARE(r.code, 0);
        const QJsonArray devices = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices.at(0)[QStringLiteral("platform")].toString(), QStringLiteral("ios"));
        QCOMPARE(devices.at(0)[QStringLiteral("id")].toString(), QStringLiteral("Anna-iPhone"));
        QCOMPARE(devices.at(0)[QStringLiteral("name")].toString(), QStringLiteral("Anna-iPhone.db"));

        r = cli(home, {QStringLiteral("backup"), QStringLiteral("--device"), QStringLiteral("Anna-iPhone"),
                       QStringLiteral("--db"), QStringLiteral("Home")});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("Successfully backed up 3 contacts to the local database.\n"));
        QVERIFY(r.err.contains("Backing up contacts to Local Database 100% Contacts:3/3"));
        r = cli(home, {QStringLiteral("backup"), QStringLiteral("--device"), QStringLiteral("Anna-iPhone"),
                       QStringLiteral("--db"), QStringLiteral("Home.db")});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out,
                 QByteArray("Successfully backed up 0 contacts to the local database; 3 repeated contacts merged.\n"));

        // Each contact once, with all its rows.
        r = cli(home,
                {QStringLiteral("list"), QStringLiteral("--db"), QStringLiteral("Home"), QStringLiteral("--json")});
        const QJsonArray list = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(list.size(), 3);
        for (const QJsonValue &c : list) {
            const QJsonObject entities = c[QStringLiteral("entities")].toObject();
            QCOMPARE(entities[QStringLiteral("1")].toArray().size(), 1);
            QCOMPARE(entities[QStringLiteral("3")].toArray().size(), 1);
            QCOMPARE(entities[QStringLiteral("4")].toArray().size(), 1);
        }

        // Without --db the database is named after the device; --contacts picks contacts by id.
        const qint64 firstId = list.at(0)[QStringLiteral("_id")].toInteger();
        r = cli(home, {QStringLiteral("backup"), QStringLiteral("--device"), QStringLiteral("Anna-iPhone"),
                       QStringLiteral("--contacts"), QString::number(firstId)});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("Successfully backed up 1 contacts to the local database.\n"));
        QVERIFY(QFileInfo::exists(LocalDbFiles::pathFor(QStringLiteral("Anna-iPhone.db-backup.db"))));

        r = cli(home, {QStringLiteral("backup"), QStringLiteral("--device"), QStringLiteral("Nobody")});
        QCOMPARE(r.code, 1);
        QVERIFY(r.err.contains("There is no device \"Nobody\""));
    }

    // Ctrl-C ends the backup as a confirmed cancel does: exit status 3, what was saved before it stays.
    void interruptCancelsAndKeepsSavedContacts()
    {
        TempHome home;
        makeVirtualIphone(QStringLiteral("Big"), 4000);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CONTACT_MOVER_CLI_EXE),
                {QStringLiteral("backup"), QStringLiteral("--device"), QStringLiteral("Big"), QStringLiteral("--db"),
                 QStringLiteral("Into")});
        QVERIFY(p.waitForStarted());
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("Contacts:"), 20000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        err += p.readAllStandardError();
        QVERIFY2(err.contains("Cancelled."), err.right(300).constData());
        QCOMPARE(p.exitCode(), 3);
        LocalDb db(LocalDbFiles::pathFor(QStringLiteral("Into.db")), PContactCombineRule(new LocalDbCombineRule));
        const int saved = int(db.listContacts(0, QString()).size());
        QVERIFY2(saved > 0 && saved < 4000, qPrintable(QString::number(saved)));
    }

    // A phone reached through its adbd over TCP is listed with its serial and the name it announces.
    void devicesListsAnAdbPhone_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QByteArray>("said");
        const QStringList allowLater = {QStringLiteral("--auth"), QStringLiteral("--auth-delay"),
                                        QStringLiteral("1500")};
        QTest::newRow("Android 8 and older")
            << QStringList{QStringLiteral("--adbd"), QStringLiteral("legacy")} << true << QByteArray();
        QTest::newRow("Android 9 and 10, leftovers, the user allows after a while")
            << QStringList{QStringLiteral("--adbd"), QStringLiteral("pie"), QStringLiteral("--stale-packets")} +
                   allowLater
            << true << QByteArray("Allow USB debugging on the phone");
        QTest::newRow("Android 11 and newer")
            << QStringList{QStringLiteral("--adbd"), QStringLiteral("current")} << true << QByteArray();
        QTest::newRow("Android 11, the user allows after a while")
            << QStringList{QStringLiteral("--adbd"), QStringLiteral("current")} + allowLater << true
            << QByteArray("Allow USB debugging on the phone");
        QTest::newRow("in recovery") << QStringList{QStringLiteral("--banner"), QStringLiteral("recovery")} << false
                                     << QByteArray("the phone is in recovery mode");
    }

    void devicesListsAnAdbPhone()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, listed);
        QFETCH(QByteArray, said);
        TempHome home;
        QProcess phone;
        phone.start(QStringLiteral(PHONE_SIM_EXE),
                    QStringList{QStringLiteral("--name"), QStringLiteral("Pixel 7"), QStringLiteral("--serial"),
                                QStringLiteral("SIM7"), QStringLiteral("--adb-port"), QStringLiteral("0")} +
                        options);
        QVERIFY(phone.waitForStarted());
        QByteArray banner;
        QTRY_VERIFY_WITH_TIMEOUT((banner += phone.readAllStandardOutput()).contains("ready"), 10000);
        QByteArray endpoint;
        for (const QByteArray &line : banner.split('\n'))
            if (line.startsWith("CONTACT_MOVER_ADB_TCP="))
                endpoint = line.mid(int(qstrlen("CONTACT_MOVER_ADB_TCP="))).trimmed();
        QVERIFY(!endpoint.isEmpty());

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("CONTACT_MOVER_ADB_TCP"), QString::fromLatin1(endpoint));
        env.insert(QStringLiteral("CONTACT_MOVER_ANDROID_PAUSE_MS"), QStringLiteral("0")); // devices loads the phone
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CONTACT_MOVER_CLI_EXE), {QStringLiteral("devices"), QStringLiteral("--json")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray err = p.readAllStandardError();
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY2(err.contains(said), (err + out).constData());
        const QJsonArray devices = QJsonDocument::fromJson(out).array();
        QCOMPARE(devices.size(), listed ? 1 : 0);
        if (listed) {
            QCOMPARE(devices.at(0)[QStringLiteral("platform")].toString(), QStringLiteral("android"));
            QCOMPARE(devices.at(0)[QStringLiteral("id")].toString(), QString::fromLatin1(endpoint));
            QCOMPARE(devices.at(0)[QStringLiteral("name")].toString(), QStringLiteral("Pixel 7"));
        }
        phone.terminate();
        QVERIFY(phone.waitForFinished(10000));
    }

    void errorsAndUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList() << 2 << QStringLiteral("Usage:");
        QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")} << 2
                                         << QStringLiteral("unknown command");
        QTest::newRow("list without db") << QStringList{QStringLiteral("list")} << 2
                                         << QStringLiteral("--db is required");
        QTest::newRow("unknown option") << QStringList{QStringLiteral("dbs"), QStringLiteral("--xml")} << 2
                                        << QStringLiteral("unknown option --xml");
        QTest::newRow("missing db") << QStringList{QStringLiteral("list"), QStringLiteral("--db"),
                                                   QStringLiteral("Nope")}
                                    << 1 << QStringLiteral("no local database named \"Nope\"");
        QTest::newRow("invalid name") << QStringList{QStringLiteral("create-db"), QStringLiteral("a:b")} << 2
                                      << QStringLiteral("Invalid Local Database name");
        QTest::newRow("empty name") << QStringList{QStringLiteral("create-db"), QStringLiteral("  ")} << 2
                                    << QStringLiteral("Select one Database or enter a new Database name");
    }
    void errorsAndUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        TempHome home;
        const Result r = cli(home, args);
        QCOMPARE(r.code, code);
        QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
    }

    void helpGoesToStdout()
    {
        TempHome home;
        const Result r = cli(home, {QStringLiteral("--help")});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains("create-db NAME"));
    }

    // ---- Android phones: phone-sim as a process, reached over adb and over its Wi-Fi listener ----

private:
    // A running phone-sim with the environment lines it printed; ended when the test lets go of it.
    struct SimulatedPhoneProcess
    {
        QProcess process;
        QHash<QString, QString> lines; // "CONTACT_MOVER_ADB_TCP" → "127.0.0.1:…", …

        bool start(const QStringList &args)
        {
            process.start(QStringLiteral(PHONE_SIM_EXE), args);
            QByteArray out;
            if (!process.waitForStarted() ||
                !QTest::qWaitFor([&] { return (out += process.readAllStandardOutput()).contains("ready\n"); }, 10000))
                return false;
            for (const QByteArray &line : out.split('\n'))
                if (line.contains('='))
                    lines.insert(QString::fromLatin1(line.left(line.indexOf('='))),
                                 QString::fromLatin1(line.mid(line.indexOf('=') + 1)));
            return true;
        }
        ~SimulatedPhoneProcess()
        {
            process.terminate();
            if (!process.waitForFinished(10000))
                process.kill();
        }
    };

    Result cliWith(const TempHome &home, const QStringList &args, const QHash<QString, QString> &extra)
    {
        QProcessEnvironment env = homeEnvironment(home.path());
        env.insert(QStringLiteral("CONTACT_MOVER_ANDROID_PAUSE_MS"), QStringLiteral("0"));
        for (auto it = extra.cbegin(); it != extra.cend(); ++it)
            env.insert(it.key(), it.value());
        return runProgram(QStringLiteral(CONTACT_MOVER_CLI_EXE), args, env);
    }

private Q_SLOTS:
    void androidPhoneListedLoadedAndBackedUp()
    {
        TempHome home;
        QFile seed(home.filePath(QStringLiteral("seed.vcf")));
        QVERIFY(seed.open(QIODevice::WriteOnly));
        seed.write(
            "BEGIN:VCARD\nVERSION:3.0\nN:Berg;Anna;;;\nTEL;TYPE=CELL:+1 555 0100\nCATEGORIES:Friends\nEND:VCARD\n"
            "BEGIN:VCARD\nVERSION:2.1\nN:Cole;Mark\nEMAIL;WORK:mark@example.org\nEND:VCARD\n"
            "BEGIN:VCARD\nVERSION:4.0\nFN:Acme Corp\nORG:Acme Corp\nEND:VCARD\n");
        seed.close();
        const QString store = home.filePath(QStringLiteral("phone.json"));
        SimulatedPhoneProcess phone;
        QVERIFY(phone.start({QStringLiteral("--name"), QStringLiteral("Pixel 7"), QStringLiteral("--adb-port"),
                             QStringLiteral("0"), QStringLiteral("--wifi-port"), QStringLiteral("0"),
                             QStringLiteral("--store"), store, QStringLiteral("--seed"), seed.fileName()}));
        const QString serial = phone.lines.value(QStringLiteral("CONTACT_MOVER_ADB_TCP"));
        const QHash<QString, QString> adb{{QStringLiteral("CONTACT_MOVER_ADB_TCP"), serial}};

        Result r = cliWith(home, {QStringLiteral("devices"), QStringLiteral("--json")}, adb);
        QCOMPARE(r.code, 0);
        QCOMPARE(QJsonDocument::fromJson(r.out).array().at(0)[QStringLiteral("name")].toString(),
                 QStringLiteral("Pixel 7"));

        r = cliWith(home, {QStringLiteral("list"), QStringLiteral("--device"), serial, QStringLiteral("--json")}, adb);
        QCOMPARE(r.code, 0);
        QJsonArray contacts = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(contacts.size(), 3);
        QCOMPARE(contacts.at(0)[QStringLiteral("full_name")].toString(), QStringLiteral("Acme Corp"));
        QCOMPARE(contacts.at(1)[QStringLiteral("entities")][QStringLiteral("3")][0][QStringLiteral("data1")].toString(),
                 QStringLiteral("+1 555 0100"));
        QCOMPARE(contacts.at(2)[QStringLiteral("entities")][QStringLiteral("4")][0][QStringLiteral("data1")].toString(),
                 QStringLiteral("mark@example.org"));

        r = cliWith(home, {QStringLiteral("backup"), QStringLiteral("--device"), serial}, adb);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("Successfully backed up 3 contacts to the local database.\n"));
        QVERIFY(QFileInfo::exists(LocalDbFiles::pathFor(QStringLiteral("Pixel 7-backup.db"))));

        // The phone kept the app installed on the first load.
        QFile storeFile(store);
        QVERIFY(storeFile.open(QIODevice::ReadOnly));
        QVERIFY(QJsonDocument::fromJson(storeFile.readAll())[QStringLiteral("packages")].toArray().contains(
            QStringLiteral("com.tallowbrook.contactssync")));

        // The same phone through its Wi-Fi listener.
        r = cliWith(
            home,
            {QStringLiteral("list"), QStringLiteral("--device"), QStringLiteral("wifi:127.0.0.1"),
             QStringLiteral("--json")},
            {{QStringLiteral("CONTACT_MOVER_WIFI_PORT"), phone.lines.value(QStringLiteral("CONTACT_MOVER_WIFI_PORT"))},
             {QStringLiteral("CONTACT_MOVER_ANDROID_PAUSE_MS"), QStringLiteral("300")}});
        QCOMPARE(r.code, 0);
        QCOMPARE(QJsonDocument::fromJson(r.out).array().size(), 3);

        r = cliWith(home, {QStringLiteral("list"), QStringLiteral("--device"), QStringLiteral("wifi:phone.local")}, {});
        QCOMPARE(r.code, 1);
        QVERIFY(r.err.contains("Input Error."));
    }

    void androidPhoneThatFailsToLoad()
    {
        TempHome home;
        SimulatedPhoneProcess phone;
        QVERIFY(phone.start({QStringLiteral("--adb-port"), QStringLiteral("0"), QStringLiteral("--fail"),
                             QStringLiteral("old-version")}));
        const QString serial = phone.lines.value(QStringLiteral("CONTACT_MOVER_ADB_TCP"));
        const QHash<QString, QString> adb{{QStringLiteral("CONTACT_MOVER_ADB_TCP"), serial}};
        Result r = cliWith(home, {QStringLiteral("list"), QStringLiteral("--device"), serial}, adb);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("3.0.3 needed"), r.err.constData());
        QVERIFY(r.out.isEmpty());
        r = cliWith(home, {QStringLiteral("devices"), QStringLiteral("--json")}, adb);
        QCOMPARE(r.code, 0);
        QVERIFY(QJsonDocument::fromJson(r.out).array().isEmpty());
        QVERIFY(r.err.contains("3.0.3 needed"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
