// The command line's import and export, run as the real tool under a temporary home: a round trip from a file
// through a database to a file and into a second database, a CSV file exported in every format, and the
// command line's errors.

#include "core/datafolder.h"
#include "programrun.h"
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

    using Result = ProcessResult;

    // Runs in the home folder, where relative file names land.
    static Result cli(const TempHome &home, const QStringList &args)
    {
        return runProgram(QStringLiteral(CONTACT_MOVER_CLI_EXE), args, homeEnvironment(home.path()), 30000,
                          home.path());
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
        r = cli(home, {u"export"_s, u"--db"_s, u"friends.vcf"_s, u"--contacts"_s, QString::number(id), u"--format"_s,
                       u"vcf"_s, u"one.vcf"_s});
        QCOMPARE(r.code, 0);
        QFile one(home.filePath(u"one.vcf"_s));
        QVERIFY(one.open(QIODevice::ReadOnly));
        const QByteArray bytes = one.readAll();
        QCOMPARE(bytes.count("BEGIN:VCARD"), 1);
        QVERIFY(bytes.contains("N;CHARSET=UTF-8:M\xC3\xBCller;J\xC3\xBCrgen;;;\r\n"));
    }

    void csvInEveryFormat()
    {
        TempHome home;
        write(home.filePath(u"people.csv"_s),
              "\xEF\xBB\xBF"
              "First Name,Last Name,Mobile Phone,E-mail Address,Home Street,Home City,Company\n"
              "Anna,Berg,+47 555,anna@example.com,Storgata 1,Oslo,\"Acme, Inc\"\n"
              "Mark,Cole,+47 666,,,,\n");
        Result r = cli(home, {u"import"_s, u"people.csv"_s, u"--format"_s, u"csv"_s});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.trimmed(), QByteArray("Successfully imported 2 contacts."));
        const QJsonArray first = listed(home, u"people.csv"_s);
        QCOMPARE(first.size(), 2);
        const QJsonObject anna = first.at(0)[u"entities"_s].toObject();
        QCOMPARE(anna[u"3"_s][0][u"data1"_s].toString(), u"+47 555"_s);
        QCOMPARE(anna[u"12"_s][0][u"data7"_s].toString(), u"Oslo"_s);
        QCOMPARE(anna[u"10"_s][0][u"data1"_s].toString(), u"Acme, Inc"_s);

        const struct
        {
            QString format;
            QString out;
            QString file;
            QByteArray content;
        } exports[] = {
            {u"csv"_s, u"out.csv"_s, u"out.csv"_s, "Anna,Berg,\"Acme, Inc\",+47 555,anna@example.com"},
            {u"txt"_s, u"out.txt"_s, u"out.txt"_s, "Storgata 1"},
            {u"html"_s, u"out.html"_s, u"out.html/out.html"_s, "<li>Mobile:+47 666</li>"},
            {u"doc"_s, u"out.doc"_s, u"out.doc/out.doc"_s, "Acme, Inc"},
            {u"pdf"_s, u"out.pdf"_s, u"out.pdf"_s, "%PDF-"},
        };
        for (const auto &e : exports) {
            r = cli(home, {u"export"_s, u"--db"_s, u"people.csv"_s, u"--format"_s, e.format, e.out});
            QVERIFY2(r.code == 0, r.err.constData());
            QCOMPARE(r.out.trimmed(), QByteArray("Successfully exported 2 contacts to File."));
            QFile f(home.filePath(e.file));
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(e.file));
            QVERIFY2(f.readAll().contains(e.content), qPrintable(e.file));
        }

        // The CSV file reads back into the same contacts.
        r = cli(home, {u"import"_s, u"out.csv"_s, u"--format"_s, u"csv"_s, u"--db"_s, u"Again"_s});
        QCOMPARE(r.code, 0);
        QCOMPARE(listed(home, u"Again"_s), first);

        // Outputs that cannot be written (below a plain file): the error text, nothing left behind.
        write(home.filePath(u"plain"_s), "x");
        for (const QString &format : {u"csv"_s, u"html"_s, u"pdf"_s}) {
            r = cli(home, {u"export"_s, u"--db"_s, u"people.csv"_s, u"--format"_s, format, u"plain/out.x"_s});
            QCOMPARE(r.code, 1);
            QVERIFY2(!r.err.trimmed().isEmpty(), qPrintable(format));
            QCOMPARE(QFileInfo(home.filePath(u"plain"_s)).size(), 1);
        }
    }

    void errors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("missing file") << QStringList{u"import"_s, u"nothing.vcf"_s, u"--format"_s, u"vcf"_s} << 1
                                      << QByteArray("No such file or directory");
        QTest::newRow("format not importable")
            << QStringList{u"import"_s, u"nothing.vcf"_s, u"--format"_s, u"pdf"_s} << 2 << QByteArray("cannot import");
        QTest::newRow("format unknown") << QStringList{u"export"_s,   u"--db"_s, u"x"_s,
                                                       u"--format"_s, u"xyz"_s,  u"o.vcf"_s}
                                        << 2 << QByteArray("cannot export");
        QTest::newRow("both sources") << QStringList{u"export"_s, u"--db"_s,     u"x"_s,   u"--device"_s,
                                                     u"y"_s,      u"--format"_s, u"vcf"_s, u"o.vcf"_s}
                                      << 2 << QByteArray("--db or --device");
        QTest::newRow("no database") << QStringList{u"export"_s, u"--db"_s, u"x"_s, u"--format"_s, u"vcf"_s, u"o.vcf"_s}
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
