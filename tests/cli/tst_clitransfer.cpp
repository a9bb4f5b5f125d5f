// The command line tool writing to phones: transfer, delete, set-group and add against phone-sim processes,
// checked in the phones' store files.

#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "phonesimstore.h"
#include "programrun.h"
#include "temphome.h"
#include "testfiles.h"
#include "vcardpeople.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using fixtures::person;
using namespace Qt::StringLiterals;

class TestCliTransfer : public QObject
{
    Q_OBJECT

    // A running phone-sim, its store and seed named after the phone in the test's home; ended when the test lets go
    // of it.
    struct PhoneSim : PhoneSimProcess
    {
        bool start(const TempHome &home, const QString &name, const QByteArray &seed, const QStringList &extra = {})
        {
            return PhoneSimProcess::start(QStringLiteral(PHONE_SIM_EXE), home.path(), name, name, seed, 0, extra);
        }
        // name → the contact's rows other than its name, as "type:fields".
        QMap<QString, QStringList> contents() const { return phoneSimContents(store); }
    };

    ProcessResult cli(const TempHome &home, const QStringList &phones, const QStringList &args)
    {
        return runProgram(QStringLiteral(CONTACT_MOVER_CLI_EXE), args, phoneEnvironment(home.path(), phones));
    }

    // The cache _id of the phone's contact of that name, as "list" prints it.
    qint64 contactId(const TempHome &home, const PhoneSim &phone, const QString &name)
    {
        const ProcessResult r =
            cli(home, {phone.serial},
                {QStringLiteral("list"), QStringLiteral("--device"), phone.serial, QStringLiteral("--json")});
        for (const QJsonValue &c : QJsonDocument::fromJson(r.out).array())
            if (c[QStringLiteral("full_name")].toString() == name)
                return c[QStringLiteral("_id")].toInteger();
        return 0;
    }

private Q_SLOTS:
    void transferBetweenPhonesAndFromADatabase()
    {
        TempHome home;
        PhoneSim a, b;
        QVERIFY(a.start(home, QStringLiteral("Phone A"), people::cards(3, "A")));
        QVERIFY(b.start(home, QStringLiteral("Phone B"),
                        "BEGIN:VCARD\nVERSION:3.0\nN:A1;Test;;;\nTEL;TYPE=WORK:999\nEND:VCARD\n"));
        const QStringList both{a.serial, b.serial};

        ProcessResult r =
            cli(home, both,
                {QStringLiteral("transfer"), QStringLiteral("--device"), a.serial, QStringLiteral("--to"), b.serial});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.out,
                 QByteArray("Successfully transferred 2 contacts to Android, with 1 repeated contacts merged.\n"));
        QMap<QString, QStringList> expected = a.contents();
        expected[QStringLiteral("Test A1")] =
            QStringList{QStringLiteral("3:mobile||555 1"), QStringLiteral("3:work||999")};
        QCOMPARE(b.contents(), expected);

        // From a local database, one chosen contact; the database is only read.
        {
            QDir().mkpath(DataFolder::localDbDir());
            LocalDb db(LocalDbFiles::pathFor(QStringLiteral("Office.db")), PContactCombineRule(new LocalDbCombineRule));
            db.createFromTemplate();
            db.saveContactWithMerge(person(QStringLiteral("Dora"), QStringLiteral("Dee"), QStringLiteral("+49 1")));
            db.saveContactWithMerge(person(QStringLiteral("Emil"), QStringLiteral("Eck"), QStringLiteral("+49 2")));
        }
        const QString dbPath = LocalDbFiles::pathFor(QStringLiteral("Office.db"));
        QFile dbFile(dbPath);
        QVERIFY(dbFile.open(QIODevice::ReadOnly));
        const QByteArray dbBefore = dbFile.readAll();
        dbFile.close();
        r = cli(home, {b.serial},
                {QStringLiteral("transfer"), QStringLiteral("--db"), QStringLiteral("Office"), QStringLiteral("--to"),
                 b.serial, QStringLiteral("--contacts"), QStringLiteral("2")});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.out, QByteArray("Successfully transferred 1 contacts to Android.\n"));
        expected.insert(QStringLiteral("Emil Eck"), {QStringLiteral("3:mobile||+49 2")});
        QCOMPARE(b.contents(), expected);
        QVERIFY(dbFile.open(QIODevice::ReadOnly));
        QCOMPARE(dbFile.readAll(), dbBefore);

        QCOMPARE(
            cli(home, both,
                {QStringLiteral("transfer"), QStringLiteral("--device"), b.serial, QStringLiteral("--to"), b.serial})
                .code,
            2);
        QCOMPARE(cli(home, both, {QStringLiteral("transfer"), QStringLiteral("--db"), QStringLiteral("Office")}).code,
                 2);
    }

    // A card with only a company, from a file to a database, back to a file and onto a phone: listed by its
    // company, written with an empty N, stored on the phone with an empty name and its organization, and read
    // back from the phone as the same company.
    void companyCardStaysACompany()
    {
        TempHome home;
        PhoneSim phone;
        QVERIFY(phone.start(home, QStringLiteral("Phone C"), people::cards(1, "C")));
        const QString in = home.filePath(QStringLiteral("firms.vcf"));
        QFile file(in);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "BEGIN:VCARD\r\nVERSION:3.0\r\nORG:Acme Ltd;Sales\r\nTEL;TYPE=WORK:+44 20 7946 0000\r\nEND:VCARD\r\n");
        file.close();

        ProcessResult r = cli(home, {},
                              {QStringLiteral("import"), in, QStringLiteral("--format"), QStringLiteral("vcf"),
                               QStringLiteral("--db"), QStringLiteral("Firms")});
        QVERIFY2(r.code == 0, r.err.constData());
        r = cli(home, {},
                {QStringLiteral("list"), QStringLiteral("--db"), QStringLiteral("Firms"), QStringLiteral("--json")});
        const QJsonArray listed = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed.at(0)[QStringLiteral("full_name")].toString(), QStringLiteral("Acme Ltd"));

        const QString out = home.filePath(QStringLiteral("out.vcf"));
        r = cli(home, {},
                {QStringLiteral("export"), QStringLiteral("--db"), QStringLiteral("Firms"), QStringLiteral("--format"),
                 QStringLiteral("vcf"), out});
        QVERIFY2(r.code == 0, r.err.constData());
        QFile written(out);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray card = written.readAll();
        QVERIFY2(card.contains("\r\nFN;CHARSET=UTF-8:Acme Ltd\r\n") && card.contains("\r\nN;CHARSET=UTF-8:;;;;\r\n") &&
                     card.contains("\r\nORG;CHARSET=UTF-8:Acme Ltd;Sales\r\n"),
                 card.constData());

        r = cli(home, {phone.serial},
                {QStringLiteral("transfer"), QStringLiteral("--db"), QStringLiteral("Firms"), QStringLiteral("--to"),
                 phone.serial});
        QVERIFY2(r.code == 0, r.err.constData());
        // On the phone: a name row of empty parts (the phone names the contact by its organization) and the company
        // in the organization row, never as a given name.
        QFile store(phone.store);
        QVERIFY(store.open(QIODevice::ReadOnly));
        int companies = 0;
        for (const QJsonValue &c : QJsonDocument::fromJson(store.readAll())[QStringLiteral("contacts")].toArray()) {
            QStringList names, organizations;
            for (const QJsonValue &row : c[QStringLiteral("rows")].toArray()) {
                QStringList fields;
                for (const QJsonValue &f : row[QStringLiteral("fields")].toArray())
                    fields << f.toString();
                if (row[QStringLiteral("type")].toInt() == 1)
                    names << fields.join(u'|');
                if (row[QStringLiteral("type")].toInt() == 10)
                    organizations << fields.join(u'|');
            }
            if (organizations.join(u' ').contains(QStringLiteral("Acme Ltd"))) {
                ++companies;
                QCOMPARE(names, QStringList{QStringLiteral("||||")});
            }
        }
        QCOMPARE(companies, 1);
        QVERIFY(contactId(home, phone, QStringLiteral("Acme Ltd")) != 0);
    }

    void deleteRegroupAndAddOnAPhone()
    {
        TempHome home;
        PhoneSim b;
        QVERIFY(b.start(home, QStringLiteral("Phone B"), people::cards(3, "B")));

        const qint64 b1 = contactId(home, b, QStringLiteral("Test B1"));
        QVERIFY(b1 > 0);
        ProcessResult r =
            cli(home, {b.serial},
                {QStringLiteral("set-group"), QStringLiteral("--device"), b.serial, QStringLiteral("--contacts"),
                 QString::number(b1), QStringLiteral("--group"), QStringLiteral("Golf")});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.out, QByteArray("Successfully set the contact group.\n"));
        QVERIFY(b.contents().value(QStringLiteral("Test B1")).contains(QStringLiteral("7:Golf")));
        r = cli(home, {b.serial},
                {QStringLiteral("set-group"), QStringLiteral("--device"), b.serial, QStringLiteral("--contacts"),
                 QString::number(contactId(home, b, QStringLiteral("Test B1"))), QStringLiteral("--none")});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(b.contents().value(QStringLiteral("Test B1")), QStringList{QStringLiteral("3:mobile||555 1")});

        r = cli(home, {b.serial},
                {QStringLiteral("delete"), QStringLiteral("--device"), b.serial, QStringLiteral("--contacts"),
                 QString::number(contactId(home, b, QStringLiteral("Test B0")))});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.out, QByteArray("Successfully deleted contact.\n"));
        // The phone does not answer a delete batch; its store follows a moment later.
        QTRY_VERIFY_WITH_TIMEOUT(!b.contents().contains(QStringLiteral("Test B0")), 10000);

        const QString vcf = home.filePath(QStringLiteral("new.vcf"));
        QFile f(vcf);
        QVERIFY(f.open(QIODevice::WriteOnly));
        // An e-mail without a TYPE has no kind: it arrives as "other".
        f.write("BEGIN:VCARD\nVERSION:3.0\nN:Neu;Nina;;;\nTEL;TYPE=CELL:+49 30 1\nEMAIL:nina@example.org\nEND:VCARD\n");
        f.close();
        r = cli(home, {b.serial},
                {QStringLiteral("add"), QStringLiteral("--device"), b.serial, QStringLiteral("--vcf"), vcf});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(b.contents().value(QStringLiteral("Nina Neu")),
                 (QStringList{QStringLiteral("3:mobile||+49 30 1"), QStringLiteral("4:other||nina@example.org")}));
    }

    void aTransferThatFailsHalfway()
    {
        TempHome home;
        PhoneSim c;
        QVERIFY(c.start(home, QStringLiteral("Phone C"), QByteArray(),
                        {QStringLiteral("--fail"), QStringLiteral("close-mid-restore")}));
        QDir().mkpath(DataFolder::localDbDir());
        {
            LocalDb db(LocalDbFiles::pathFor(QStringLiteral("Many.db")), PContactCombineRule(new LocalDbCombineRule));
            db.createFromTemplate();
            for (int i = 0; i < 25; ++i)
                db.saveContactWithMerge(
                    person(QStringLiteral("M%1").arg(i), QStringLiteral("Test"), QStringLiteral("1%1").arg(i)));
        }
        const ProcessResult r = cli(home, {c.serial},
                                    {QStringLiteral("transfer"), QStringLiteral("--db"), QStringLiteral("Many"),
                                     QStringLiteral("--to"), c.serial});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("The remote host closed the connection"), r.err.constData());
        QCOMPARE(c.contents().size(), 20);
        // The cache was loaded again from the phone after the failure.
        LocalDb cache(DataFolder::androidCacheDir() + QLatin1Char('/') + c.serial,
                      PContactCombineRule(new LocalDbCombineRule));
        QCOMPARE(cache.listContacts(0, QString()).size(), 20);
    }

    // iPhones from the command line: iphone-sim with two phones beside a phone-sim Android phone.
    void iPhonesListTransferAndDelete()
    {
        TempHome home;
        PhoneSim android;
        QVERIFY(android.start(home, QStringLiteral("Phone A"), people::cards(2, "A")));
        const QString udidA = QStringLiteral("00008030-00000000000000A1"),
                      udidB = QStringLiteral("00008030-00000000000000B2");
        const QString storeA = home.filePath(QStringLiteral("ia.json")),
                      storeB = home.filePath(QStringLiteral("ib.json"));
        const QString seed = home.filePath(QStringLiteral("ia.vcf"));
        QVERIFY(writeFile(seed, "BEGIN:VCARD\nVERSION:3.0\nN:A0;Test;;;\nEMAIL:a0@example.com\nEND:VCARD\n"
                                "BEGIN:VCARD\nVERSION:3.0\nN:Ipho;Ida;;;\nTEL;TYPE=HOME:+1 2\nBDAY:1990-04-01\n"
                                "END:VCARD\n"));
        IphoneSimProcess iphones;
        QVERIFY(
            iphones.start(QStringLiteral(IPHONE_SIM_EXE),
                          {QStringLiteral("--socket"), home.filePath(QStringLiteral("mux.sock")),
                           QStringLiteral("--udid"), udidA, QStringLiteral("--name"), QStringLiteral("Ida's iPhone"),
                           QStringLiteral("--store"), storeA, QStringLiteral("--seed"), seed,
                           QStringLiteral("--device"), QStringLiteral("%1,Empty iPhone,%2").arg(udidB, storeB)}));
        const auto iphoneNames = [](const QString &store) {
            QFile file(store);
            QStringList names;
            if (file.open(QIODevice::ReadOnly))
                for (const QJsonValue &c :
                     QJsonDocument::fromJson(file.readAll())[QStringLiteral("contacts")].toArray())
                    names << c[QStringLiteral("name")].toString();
            names.sort();
            return names;
        };

        ProcessResult r = cli(home, {android.serial}, {QStringLiteral("devices")});
        QVERIFY2(r.out.contains((u"ios\t"_s + udidA + u"\tIda's iPhone\n"_s).toUtf8()), r.out.constData());
        QVERIFY(r.out.contains((u"ios\t"_s + udidB + u"\tEmpty iPhone\n"_s).toUtf8()));

        // The iPhone's contacts, read into its cache, with the birthday that travels in the Contact record.
        r = cli(home, {}, {QStringLiteral("list"), QStringLiteral("--device"), udidA, QStringLiteral("--json")});
        QVERIFY2(r.code == 0, r.err.constData());
        const QJsonArray listed = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(listed.size(), 2);
        qint64 idaId = 0;
        for (const QJsonValue &c : listed)
            if (c[QStringLiteral("full_name")].toString() == QStringLiteral("Ida Ipho"))
                idaId = c[QStringLiteral("_id")].toInteger();
        QVERIFY(idaId > 0);

        // Android to iPhone: the namesake "Test A0" merges into the iPhone's contact.
        r = cli(
            home, {android.serial},
            {QStringLiteral("transfer"), QStringLiteral("--device"), android.serial, QStringLiteral("--to"), udidA});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.out,
                 QByteArray("Successfully transferred 1 contacts to device, with 1 repeated contacts merged.\n"));
        QCOMPARE(iphoneNames(storeA),
                 (QStringList{QStringLiteral("Ida Ipho"), QStringLiteral("Test A0"), QStringLiteral("Test A1")}));

        // iPhone to Android, and iPhone to iPhone.
        r = cli(
            home, {android.serial},
            {QStringLiteral("transfer"), QStringLiteral("--device"), udidA, QStringLiteral("--to"), android.serial});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY(android.contents().contains(QStringLiteral("Ida Ipho")));
        QCOMPARE(android.contents().value(QStringLiteral("Ida Ipho")).filter(QStringLiteral("3:")),
                 QStringList{QStringLiteral("3:home||+1 2")});
        r = cli(home, {},
                {QStringLiteral("transfer"), QStringLiteral("--device"), udidA, QStringLiteral("--to"), udidB});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.out, QByteArray("Successfully transferred 3 contacts to device.\n"));
        QCOMPARE(iphoneNames(storeB), iphoneNames(storeA));

        // Deleting on the iPhone; its groups are not sent to it, which set-group says instead of pretending.
        r = cli(home, {},
                {QStringLiteral("delete"), QStringLiteral("--device"), udidA, QStringLiteral("--contacts"),
                 QString::number(idaId)});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(iphoneNames(storeA), (QStringList{QStringLiteral("Test A0"), QStringLiteral("Test A1")}));
        r = cli(home, {},
                {QStringLiteral("set-group"), QStringLiteral("--device"), udidA, QStringLiteral("--contacts"),
                 QStringLiteral("1"), QStringLiteral("--group"), QStringLiteral("Golf")});
        QCOMPARE(r.code, 1);
    }
};

QTEST_GUILESS_MAIN(TestCliTransfer)
#include "tst_clitransfer.moc"
