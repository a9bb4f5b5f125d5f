// The command line tool against iphone-sim programs: a phone that trusts the computer only after a while, the
// dates, labels and company cards of a phone read in two time zones, a phone that keeps its contacts in
// iCloud, and a company card with its photo carried from one iPhone to another.

#include "programrun.h"
#include "temphome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kUdid = u"00008030-00000000000000C3"_s;
const QString kOther = u"00008030-00000000000000D4"_s;

// A running iphone-sim; ended when the test lets go of it.
struct Sim
{
    QProcess process;
    QString socketAddress;

    bool start(const TempHome &home, const QStringList &args)
    {
        process.start(QStringLiteral(IPHONE_SIM_EXE), QStringList{u"--socket"_s, home.filePath(u"mux.sock"_s),
                                                                  u"--udid"_s, kUdid, u"--name"_s, u"Cy's iPhone"_s} +
                                                          args);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QByteArray out;
        if (!process.waitForStarted() ||
            !QTest::qWaitFor([&] { return (out += process.readAllStandardOutput()).contains("ready\n"); }, 10000))
            return false;
        const QByteArray env = out.split('\n').first();
        socketAddress = QString::fromLocal8Bit(env.mid(env.indexOf('=') + 1));
        return true;
    }
    ~Sim()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
    }
};

using Result = ProcessResult;

Result cli(const TempHome &home, const Sim &sim, const QStringList &args, const QMap<QString, QString> &extra = {})
{
    QProcessEnvironment env = homeEnvironment(home.path());
    env.insert(u"USBMUXD_SOCKET_ADDRESS"_s, sim.socketAddress);
    env.insert(u"CONTACT_MOVER_ADB_TCP"_s, QString()); // no Android phones
    for (auto it = extra.cbegin(); it != extra.cend(); ++it)
        env.insert(it.key(), it.value());
    return runProgram(QStringLiteral(CONTACT_MOVER_CLI_EXE), args, env, 60000);
}

QString writeFile(const TempHome &home, const QString &name, const QByteArray &bytes)
{
    QFile f(home.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return f.fileName();
}

QJsonObject record(const char *kind, QJsonObject fields)
{
    fields.insert(u"com.apple.syncservices.RecordEntityName"_s, QLatin1String(kind));
    return fields;
}

QString storeFile(const TempHome &home, const QString &name, const QJsonObject &records)
{
    return writeFile(home, name, QJsonDocument(QJsonObject{{u"records"_s, records}}).toJson());
}

// "list --json" of a device, by full name.
QMap<QString, QJsonObject> listed(const Result &r)
{
    QMap<QString, QJsonObject> byName;
    for (const QJsonValue &c : QJsonDocument::fromJson(r.out).array())
        byName.insert(c[u"full_name"_s].toString(), c.toObject());
    return byName;
}

QString column(const QJsonObject &contact, int type, const char *name)
{
    return contact[u"entities"_s][QString::number(type)][0][QLatin1String(name)].toString();
}

const QByteArray kPhoto = QByteArray("\xFF\xD8\xFF\xE0photo", 9).repeated(300);

QJsonObject phoneRecords()
{
    const QJsonObject photo{{u"$data"_s, QString::fromLatin1(kPhoto.toBase64())}};
    return {
        {u"1"_s,
         record("com.apple.contacts.Contact",
                {{u"display as company"_s, u"company"_s}, {u"company name"_s, u"Acme Ltd"_s}, {u"image"_s, photo}})},
        {u"2"_s, record("com.apple.contacts.Contact",
                        {{u"first name"_s, u"Old"_s},
                         {u"birthday"_s, QJsonObject{{u"$date"_s, u"1900-01-01T00:00:00.000Z"_s}}}})},
        {u"3"_s, record("com.apple.contacts.Contact",
                        {{u"first name"_s, u"Future"_s},
                         {u"birthday"_s, QJsonObject{{u"$date"_s, u"2080-06-15T00:00:00.000Z"_s}}}})},
        {u"4"_s, record("com.apple.contacts.Contact",
                        {{u"first name"_s, u"Ageless"_s},
                         {u"birthday"_s, QJsonObject{{u"$date"_s, u"1604-05-17T00:00:00.000Z"_s}}}})},
        {u"5"_s, record("com.apple.contacts.Phone Number", {{u"value"_s, u"555 0101"_s},
                                                            {u"label"_s, u"_$!<OtherFAX>!$_"_s},
                                                            {u"type"_s, u"other"_s},
                                                            {u"contact"_s, QJsonArray{u"1"_s}}})},
        {u"6"_s, record("com.apple.contacts.Phone Number",
                        {{u"value"_s, u"555 0102"_s}, {u"label"_s, u"iPhone"_s}, {u"contact"_s, QJsonArray{u"2"_s}}})}};
}

} // namespace

class TestIosCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void untrustedThenTrusted()
    {
        TempHome home;
        Sim sim;
        QVERIFY(sim.start(home, {u"--trust-after"_s, u"6"_s}));
        // The tool waits for the tap, telling the user what to do; then the phone is listed.
        const Result r = cli(home, sim, {u"devices"_s}, {{u"CONTACT_MOVER_TRUST_WAIT"_s, u"30"_s}});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY2(r.err.contains("Unlock the iPhone and tap Trust."), r.err.constData());
        QVERIFY2(r.out.contains((u"ios\t"_s + kUdid + u"\tCy's iPhone\n"_s).toUtf8()), r.out.constData());
    }

    void neverTrustedIsNotSkippedSilently()
    {
        TempHome home;
        Sim sim;
        QVERIFY(sim.start(home, {u"--trust-after"_s, u"600"_s}));
        const QMap<QString, QString> brief{{u"CONTACT_MOVER_TRUST_WAIT"_s, u"0.5"_s}};
        Result r = cli(home, sim, {u"devices"_s}, brief);
        QCOMPARE(r.code, 0);
        QVERIFY(!r.out.contains(kUdid.toLatin1()));
        QVERIFY2(r.err.contains(kUdid.toLatin1() + ": The iPhone does not trust this computer yet."),
                 r.err.constData());
        // A command naming it fails with what to do.
        r = cli(home, sim, {u"list"_s, u"--device"_s, kUdid}, brief);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("Unlock the iPhone and tap Trust."), r.err.constData());
    }

    void datesLabelsAndCompanyCards_data()
    {
        QTest::addColumn<QString>("zone");
        QTest::newRow("UTC") << u"UTC"_s;
        QTest::newRow("Sydney") << u"Australia/Sydney"_s;
    }

    void datesLabelsAndCompanyCards()
    {
        QFETCH(QString, zone);
        TempHome home;
        Sim sim;
        QVERIFY(sim.start(home, {u"--store"_s, storeFile(home, u"store.json"_s, phoneRecords())}));
        const Result r = cli(home, sim, {u"list"_s, u"--device"_s, kUdid, u"--json"_s}, {{u"TZ"_s, zone}});
        QVERIFY2(r.code == 0, r.err.constData());
        const QMap<QString, QJsonObject> contacts = listed(r);
        QCOMPARE(contacts.keys(), (QStringList{u"Acme Ltd"_s, u"Ageless"_s, u"Future"_s, u"Old"_s}));
        QCOMPARE(column(contacts[u"Old"_s], 6, "data1"), u"1900-01-01"_s);
        QCOMPARE(column(contacts[u"Future"_s], 6, "data1"), u"2080-06-15"_s);
        QCOMPARE(column(contacts[u"Ageless"_s], 6, "data1"), u"--05-17"_s);
        // The phone's own labels as the codes they stand for: another fax, a mobile.
        QCOMPARE(column(contacts[u"Acme Ltd"_s], 3, "data2"), u"13"_s);
        QCOMPARE(column(contacts[u"Acme Ltd"_s], 3, "data3"), QString());
        QCOMPARE(column(contacts[u"Old"_s], 3, "data2"), u"2"_s);
    }

    void companyCardAndPhotoToAnotherIPhone()
    {
        TempHome home;
        Sim sim;
        const QString target = home.filePath(u"other.json"_s);
        QVERIFY(sim.start(home, {u"--store"_s, storeFile(home, u"store.json"_s, phoneRecords()), u"--device"_s,
                                 u"%1,Dee's iPhone,%2"_s.arg(kOther, target)}));
        const Result listing = cli(home, sim, {u"list"_s, u"--device"_s, kUdid, u"--json"_s});
        const QString acmeId = QString::number(listed(listing)[u"Acme Ltd"_s][u"_id"_s].toInteger());
        const Result r =
            cli(home, sim, {u"transfer"_s, u"--device"_s, kUdid, u"--contacts"_s, acmeId, u"--to"_s, kOther});
        QVERIFY2(r.code == 0, r.err.constData());
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonArray onTarget = QJsonDocument::fromJson(file.readAll())[u"contacts"_s].toArray();
        QCOMPARE(onTarget.size(), 1);
        const QJsonObject fields = onTarget[0][u"fields"_s].toObject();
        QCOMPARE(fields[u"display as company"_s].toString(), u"company"_s);
        QCOMPARE(fields[u"company name"_s].toString(), u"Acme Ltd"_s);
        QCOMPARE(QByteArray::fromBase64(fields[u"image"_s][u"$data"_s].toString().toLatin1()), kPhoto);
        QCOMPARE(onTarget[0][u"rows"_s][0][u"fields"_s][u"label"_s].toString(), u"_$!<OtherFAX>!$_"_s);
    }

    void icloudPhoneWarns()
    {
        TempHome home;
        Sim sim;
        QVERIFY(sim.start(home, {u"--icloud"_s, u"--store"_s, storeFile(home, u"store.json"_s, phoneRecords())}));
        const Result r = cli(home, sim, {u"list"_s, u"--device"_s, kUdid});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY2(r.err.contains("This iPhone keeps its contacts in iCloud."), r.err.constData());
        QVERIFY(r.out.contains("Acme Ltd")); // its local store is read all the same
    }
};

QTEST_GUILESS_MAIN(TestIosCli)
#include "tst_ioscli.moc"
