// The command line tool against phone-sim and iphone-sim processes that fail mid-session: a dropped connection
// and an error answer end the run with the error and exit status 1; a phone that falls silent leaves the run
// waiting until Ctrl-C or SIGTERM, which cancel it within moments (exit status 3). The local database is never
// changed, the phone keeps what it held plus the batches it answered, and a retry on a working phone loses nothing.

#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "filehash.h"
#include "phonesimstore.h"
#include "temphome.h"
#include "testfiles.h"
#include "vcardpeople.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>

using fixtures::person;

namespace {

// A simulator process; ended when the test lets go of it. Its first lines up to "ready" are kept.
struct Sim
{
    QProcess process;
    QByteArray lines;

    bool start(const QString &program, const QStringList &args)
    {
        process.start(program, args);
        return process.waitForStarted() &&
               QTest::qWaitFor([&] { return (lines += process.readAllStandardOutput()).contains("ready\n"); }, 10000);
    }
    QString value(const QByteArray &key) const
    {
        for (const QByteArray &line : lines.split('\n'))
            if (line.startsWith(key + '='))
                return QString::fromLocal8Bit(line.mid(key.size() + 1));
        return QString();
    }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished(5000);
    }
    ~Sim() { stop(); }
};

// One run of the command line tool; `whileRunning` may act on it (send a signal) before it is waited for.
struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
    qint64 afterSignalMs = -1; // how long it took to end after the signal
};

Run cli(const TempHome &home, const QStringList &env, const QStringList &args, int signal = 0,
        const std::function<bool(const QByteArray &err)> &signalWhen = {})
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("HOME"), home.path());
    e.insert(QStringLiteral("CONTACT_MOVER_ANDROID_PAUSE_MS"), QStringLiteral("0"));
    e.remove(QStringLiteral("CONTACT_MOVER_ADB_TCP"));
    e.remove(QStringLiteral("USBMUXD_SOCKET_ADDRESS"));
    for (const QString &setting : env)
        e.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
    p.setProcessEnvironment(e);
    p.start(QStringLiteral(CONTACT_MOVER_CLI_EXE), args);
    Run r;
    if (signal != 0) {
        QByteArray err;
        if (!QTest::qWaitFor(
                [&] { return signalWhen((err += p.readAllStandardError())) || p.state() == QProcess::NotRunning; },
                30000) ||
            p.state() == QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
            r.err = err + p.readAllStandardError();
            return r;
        }
        QElapsedTimer timer;
        timer.start();
        ::kill(pid_t(p.processId()), signal);
        const bool ended = p.waitForFinished(40000);
        r.afterSignalMs = timer.elapsed();
        r.err = err;
        if (!ended) {
            p.kill();
            p.waitForFinished();
            return r;
        }
    } else if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err += p.readAllStandardError();
    return r;
}

int androidCount(const QString &store)
{
    QFile f(store);
    return f.open(QIODevice::ReadOnly)
               ? int(QJsonDocument::fromJson(f.readAll())[QStringLiteral("contacts")].toArray().size())
               : -1;
}

// An iphone-sim store: display name → phone numbers.
QMap<QString, QStringList> iphoneContents(const QString &store)
{
    QFile f(store);
    QMap<QString, QStringList> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QJsonValue &c : QJsonDocument::fromJson(f.readAll())[QStringLiteral("contacts")].toArray()) {
        QStringList numbers;
        for (const QJsonValue &r : c[QStringLiteral("rows")].toArray())
            if (r[QStringLiteral("type")].toInt() == 3)
                numbers << r[QStringLiteral("fields")][QStringLiteral("value")].toString();
        numbers.sort();
        out.insert(c[QStringLiteral("name")].toString(), numbers);
    }
    return out;
}

QString makeDb(const QString &name, int count)
{
    QDir().mkpath(DataFolder::localDbDir());
    const QString path = LocalDbFiles::pathFor(name + QStringLiteral(".db"));
    LocalDb db(path, PContactCombineRule(new LocalDbCombineRule));
    db.createFromTemplate();
    for (int i = 0; i < count; ++i)
        db.saveContactWithMerge(
            person(QStringLiteral("M%1").arg(i), QStringLiteral("Test"), QStringLiteral("+44 %1").arg(i)));
    return path;
}

} // namespace

class TestCliFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void androidFaults_data()
    {
        QTest::addColumn<QString>("fail");
        QTest::addColumn<int>("signal");          // 0: the run fails by itself
        QTest::addColumn<QByteArray>("signalAt"); // stderr text (or "store") after which the signal goes
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("phoneAfter");
        // The phone is loaded before the transfer: faults of its backup session end the run there.
        QTest::newRow("drop mid-batch") << QStringLiteral("close-mid-batch") << 0 << QByteArray()
                                        << QByteArray("The remote host closed the connection") << 3;
        QTest::newRow("error reply") << QStringLiteral("error-reply") << 0 << QByteArray()
                                     << QByteArray("Simulated failure") << 3;
        QTest::newRow("stall while loading") << QStringLiteral("stall-mid-batch") << SIGINT
                                             << QByteArray("Backing up Contacts now") << QByteArray("Cancelled.") << 3;
        // The first batch of 20 names is applied and answered, the second never is.
        QTest::newRow("stall while writing")
            << QStringLiteral("stall-mid-restore") << SIGTERM << QByteArray("store") << QByteArray("Cancelled.") << 23;
    }
    void androidFaults()
    {
        QFETCH(QString, fail);
        QFETCH(int, signal);
        QFETCH(QByteArray, signalAt);
        QFETCH(QByteArray, message);
        QFETCH(int, phoneAfter);
        TempHome home;
        const QString dbPath = makeDb(QStringLiteral("Many"), 45);
        const QByteArray dbBefore = fileHash(dbPath);
        const QString store = home.filePath(QStringLiteral("phone.json")),
                      seed = home.filePath(QStringLiteral("phone.vcf"));
        QVERIFY(writeFile(seed, people::cards(3, "A")));
        const QStringList simArgs{QStringLiteral("--name"),     QStringLiteral("Fault Phone"),
                                  QStringLiteral("--adb-port"), QStringLiteral("0"),
                                  QStringLiteral("--store"),    store,
                                  QStringLiteral("--seed"),     seed};
        QMap<QString, QStringList> phoneBefore;
        {
            Sim phone;
            QVERIFY(phone.start(QStringLiteral(PHONE_SIM_EXE), simArgs + QStringList{QStringLiteral("--fail"), fail}));
            phoneBefore = phoneSimContents(store);
            QCOMPARE(phoneBefore.size(), 3);
            const QString serial = phone.value("CONTACT_MOVER_ADB_TCP");
            const Run r = cli(home, {QStringLiteral("CONTACT_MOVER_ADB_TCP=") + serial},
                              {QStringLiteral("transfer"), QStringLiteral("--db"), QStringLiteral("Many"),
                               QStringLiteral("--to"), serial},
                              signal, [&](const QByteArray &err) {
                                  if (signalAt == "store")
                                      return androidCount(store) == phoneAfter && (QTest::qWait(300), true);
                                  return err.contains(signalAt) && (QTest::qWait(500), true);
                              });
            QCOMPARE(r.code, signal ? 3 : 1);
            QVERIFY2(r.err.contains(message), r.err.constData());
            QVERIFY(!r.out.contains("Successfully"));
            if (signal)
                QVERIFY2(r.afterSignalMs < 5000, qPrintable(QString::number(r.afterSignalMs)));
            QCOMPARE(fileHash(dbPath), dbBefore);
            QCOMPARE(androidCount(store), phoneAfter);
            for (auto it = phoneBefore.cbegin(); it != phoneBefore.cend(); ++it)
                QCOMPARE(phoneSimContents(store).value(it.key()), it.value());
        }

        // The same phone without the fault: the retry brings the rest and doubles nothing.
        Sim phone;
        QVERIFY(phone.start(QStringLiteral(PHONE_SIM_EXE), simArgs));
        const QString serial = phone.value("CONTACT_MOVER_ADB_TCP");
        const Run r = cli(home, {QStringLiteral("CONTACT_MOVER_ADB_TCP=") + serial},
                          {QStringLiteral("transfer"), QStringLiteral("--db"), QStringLiteral("Many"),
                           QStringLiteral("--to"), serial});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY2(r.out.startsWith("Successfully transferred"), r.out.constData());
        const QMap<QString, QStringList> after = phoneSimContents(store);
        QCOMPARE(androidCount(store), 48);
        QCOMPARE(after.size(), 48);
        for (int i = 0; i < 45; ++i)
            QCOMPARE(after.value(QStringLiteral("M%1 Test").arg(i)),
                     QStringList{QStringLiteral("3:mobile||+44 %1").arg(i)});
        for (auto it = phoneBefore.cbegin(); it != phoneBefore.cend(); ++it)
            QCOMPARE(after.value(it.key()), it.value());
        QCOMPARE(fileHash(dbPath), dbBefore);
    }

    void iPhoneFaults_data()
    {
        QTest::addColumn<QString>("fail");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("drop mid-batch") << QStringLiteral("drop-mid-batch") << 0
                                        << QByteArray("mobilesync_receive_changes failed. return -");
        QTest::newRow("error reply") << QStringLiteral("refuse-start") << 0
                                     << QByteArray("Contacts are synced with iCloud on this iPhone.");
        // Silent after the first batch of records: without the cancel the library would wait 30 s.
        QTest::newRow("stall") << QStringLiteral("stall-mid-batch") << SIGTERM << QByteArray("Cancelled.");
    }
    void iPhoneFaults()
    {
        QFETCH(QString, fail);
        QFETCH(int, signal);
        QFETCH(QByteArray, message);
        TempHome home;
        const QString dbPath = makeDb(QStringLiteral("Small"), 5);
        const QByteArray dbBefore = fileHash(dbPath);
        const QString udid = QStringLiteral("00008030-00000000000000F2");
        const QString store = home.filePath(QStringLiteral("iphone.json")),
                      seed = home.filePath(QStringLiteral("iphone.vcf"));
        QVERIFY(writeFile(seed, people::cards(3, "I")));
        const QStringList simArgs{QStringLiteral("--socket"),     home.filePath(QStringLiteral("mux.sock")),
                                  QStringLiteral("--udid"),       udid,
                                  QStringLiteral("--name"),       QStringLiteral("Fault iPhone"),
                                  QStringLiteral("--store"),      store,
                                  QStringLiteral("--seed"),       seed,
                                  QStringLiteral("--batch-size"), QStringLiteral("2")};
        const QStringList transfer{QStringLiteral("transfer"), QStringLiteral("--db"), QStringLiteral("Small"),
                                   QStringLiteral("--to"), udid};
        QMap<QString, QStringList> before;
        QByteArray storeBefore;
        {
            Sim iphone;
            QVERIFY(
                iphone.start(QStringLiteral(IPHONE_SIM_EXE), simArgs + QStringList{QStringLiteral("--fail"), fail}));
            before = iphoneContents(store);
            QCOMPARE(before.size(), 3);
            storeBefore = fileHash(store);
            const Run r =
                cli(home, {QStringLiteral("USBMUXD_SOCKET_ADDRESS=") + iphone.value("USBMUXD_SOCKET_ADDRESS")},
                    transfer, signal, [](const QByteArray &err) {
                        return err.contains("Loading contacts from device") && (QTest::qWait(1000), true);
                    });
            QCOMPARE(r.code, signal ? 3 : 1);
            QVERIFY2(r.err.contains(message), r.err.constData());
            QVERIFY(!r.out.contains("Successfully"));
            if (signal)
                QVERIFY2(r.afterSignalMs < 5000, qPrintable(QString::number(r.afterSignalMs)));
            QCOMPARE(fileHash(store), storeBefore);
            QCOMPARE(fileHash(dbPath), dbBefore);
        }

        Sim iphone;
        QVERIFY(iphone.start(QStringLiteral(IPHONE_SIM_EXE), simArgs));
        const Run r =
            cli(home, {QStringLiteral("USBMUXD_SOCKET_ADDRESS=") + iphone.value("USBMUXD_SOCKET_ADDRESS")}, transfer);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.out, QByteArray("Successfully transferred 5 contacts to device.\n"));
        QMap<QString, QStringList> expected = before;
        for (int i = 0; i < 5; ++i)
            expected.insert(QStringLiteral("M%1 Test").arg(i), {QStringLiteral("+44 %1").arg(i)});
        QCOMPARE(iphoneContents(store), expected);
        QCOMPARE(fileHash(dbPath), dbBefore);
    }
};

QTEST_GUILESS_MAIN(TestCliFaults)
#include "tst_clifaults.moc"
