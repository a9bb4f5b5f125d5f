// The command line's import and export, run as the real tool under a temporary home: a round trip from a file
// through a database to a file and into a second database, and the command line's errors.

#include "datafolder.h"
#include "temphome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

class TestFileIoCli : public QObject
{
    Q_OBJECT

    struct Result
    {
        int code;
        QByteArray out;
        QByteArray err;
    };

    static Result cli(const TempHome &home, const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, home.path());
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(home.path());
        p.start(QStringLiteral(CONTACT_MOVER_CLI_EXE), args);
        if (!p.waitForFinished(30000))
            return {-1, {}, "timed out"};
        return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    }

    // A database's contacts as JSON, without the database's own ids.
    static QJsonArray listed(const TempHome &home, const QString &db)
    {
        const Result r = cli(home, {u"list"_s, u"--db"_s, db, u"--json"_s});
        QJsonArray contacts = QJsonDocument::fromJson(r.out).array();
        for (qsizetype i = 0; i < contacts.size(); ++i) {
            QJsonObject c = contacts.at(i).toObject();
            c.remove(u"_id"_s);
            QJsonObject entities = c.value(u"entities"_s).toObject();
            for (const QString &type : entities.keys()) {
                QJsonArray rows = entities.value(type).toArray();
                for (qsizetype j = 0; j < rows.size(); ++j) {
                    QJsonObject row = rows.at(j).toObject();
                    row.remove(u"_id"_s);
                    if (type == u"7")
                        row.remove(u"data1"_s); // the group's id in that database
                    rows[j] = row;
                }
                entities[type] = rows;
            }
            c[u"entities"_s] = entities;
            contacts[i] = c;
        }
        return contacts;
    }

    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private Q_SLOTS:
    void importExportRoundTrip()
    {
        TempHome home;
        write(home.filePath(u"friends.vcf"_s),
              "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna;;;\r\nTEL;TYPE=cell:+47 555 0100\r\n"
              "item1.EMAIL;type=INTERNET:anna@example.com\r\nADR;TYPE=home:;;Storgata 1;Oslo;;0155;Norway\r\n"
              "NOTE:Tall\\, fair\\nLikes skiing\r\nBDAY:19800229\r\nCATEGORIES:Friends\r\n"
              "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAP\r\n  "
              "//////////2Q==\r\nEND:VCARD\r\n"
              "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J="
              "FCrgen\r\n"
              "ORG:Acme;R&D\r\nTITLE:Engineer\r\nTEL;TYPE=work,fax:+49 30 1234\r\nEND:VCARD\r\n");

        Result r = cli(home, {u"import"_s, u"friends.vcf"_s, u"--format"_s, u"vcf"_s});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.trimmed(), QByteArray("Successfully imported 2 contacts."));
        QVERIFY(QFileInfo::exists(LocalDbFiles::pathFor(u"friends.vcf.db"_s)));
        const QJsonArray first = listed(home, u"friends.vcf"_s);
        QCOMPARE(first.size(), 2);

        r = cli(home, {u"export"_s, u"--db"_s, u"friends.vcf"_s, u"--format"_s, u"vcf"_s, u"out.vcf"_s});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.trimmed(), QByteArray("Successfully exported 2 contacts to File."));
        r = cli(home, {u"import"_s, u"out.vcf"_s, u"--format"_s, u"vcf"_s, u"--db"_s, u"Again"_s});
        QCOMPARE(r.code, 0);
        QCOMPARE(listed(home, u"Again"_s), first);

        // One contact by its id.
        const Result list = cli(home, {u"list"_s, u"--db"_s, u"friends.vcf"_s, u"--json"_s});
        const qint64 id = QJsonDocument::fromJson(list.out).array().at(1)[u"_id"_s].toInteger();
        r = cli(home, {u"export"_s, u"--db"_s, u"friends.vcf"_s, u"--contacts"_s, QString::number(id),
                       u"--format"_s, u"vcf"_s, u"one.vcf"_s});
        QCOMPARE(r.code, 0);
        QFile one(home.filePath(u"one.vcf"_s));
        QVERIFY(one.open(QIODevice::ReadOnly));
        const QByteArray bytes = one.readAll();
        QCOMPARE(bytes.count("BEGIN:VCARD"), 1);
        QVERIFY(bytes.contains("N;CHARSET=UTF-8:M\xC3\xBCller;J\xC3\xBCrgen;;;\r\n"));
    }

    void errors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("missing file") << QStringList{u"import"_s, u"nothing.vcf"_s, u"--format"_s, u"vcf"_s}
                                      << 1 << QByteArray("No such file or directory");
        QTest::newRow("format not importable")
            << QStringList{u"import"_s, u"nothing.vcf"_s, u"--format"_s, u"pdf"_s} << 2
            << QByteArray("cannot import");
        QTest::newRow("format unknown")
            << QStringList{u"export"_s, u"--db"_s, u"x"_s, u"--format"_s, u"xyz"_s, u"o.vcf"_s} << 2
            << QByteArray("cannot export");
        QTest::newRow("both sources") << QStringList{u"export"_s, u"--db"_s,     u"x"_s,   u"--device"_s,
                                                     u"y"_s,      u"--format"_s, u"vcf"_s, u"o.vcf"_s}
                                      << 2 << QByteArray("--db or --device");
        QTest::newRow("no database") << QStringList{u"export"_s,   u"--db"_s, u"x"_s,
                                                    u"--format"_s, u"vcf"_s,  u"o.vcf"_s}
                                     << 1 << QByteArray("There is no local database named \"x\".");
    }

    void errors()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QByteArray, err);
        TempHome home;
        const Result r = cli(home, args);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(err), r.err.constData());
        // Nothing is created by a command that failed.
        QVERIFY(LocalDbFiles::list().isEmpty());
        QVERIFY(!QFileInfo::exists(home.filePath(u"o.vcf"_s)));
    }
};

QTEST_GUILESS_MAIN(TestFileIoCli)
#include "tst_fileiocli.moc"
