// CSV files: the row reader on tricky bytes, the importer's column names (own, Outlook, Google, Thunderbird),
// the exporter's escaping and columns, a round trip through a file, and the public CSV files of other
// programs imported with their fields in the right places.

#include "contactdump.h"
#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "core/texts.h"
#include "failingdevice.h"
#include "fileio/csvexport.h"
#include "fileio/csvimport.h"
#include "fileio/csvrow.h"
#include "fileio/exporttofilethread.h"
#include "fileio/fileformats.h"
#include "fileio/importcontactstolocalthread.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

using namespace Qt::StringLiterals;
using fixtures::row;

namespace {

// Every row of the bytes as the reader gives it, the header read with atStart; the last entry is the row
// that ran into the end of the bytes, marked with "<eof>".
QList<QStringList> rows(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QList<QStringList> out;
    bool atStart = true;
    for (;;) {
        QStringList fields;
        const bool more = utf8CSVRow(fields, buffer, atStart);
        atStart = false;
        if (!more) {
            out.append(fields << u"<eof>"_s);
            return out;
        }
        out.append(fields);
    }
}

QList<pim::Contact> importBytes(const QByteArray &bytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"in.csv"_s);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(bytes);
    f.close();
    CSVImport importer;
    importer.open(path);
    QList<pim::Contact> out;
    while (importer.hasNext()) {
        pim::Contact c;
        importer.next(c);
        out.append(c);
    }
    return out;
}

// The rows of a type as "data1|data2|data3" texts, for compact checks.
QStringList texts(const pim::Contact &c, int type, const QStringList &columns = {u"data1"_s, u"data2"_s})
{
    QStringList out;
    for (const pim::DataRow &r : c.rows(type)) {
        QStringList parts;
        for (const QString &column : columns)
            parts << r.text(column);
        out << parts.join(u'|');
    }
    return out;
}

const pim::Contact *named(const QList<pim::Contact> &contacts, const QString &name)
{
    for (const pim::Contact &c : contacts)
        if (c.full_name == name)
            return &c;
    return nullptr;
}

} // namespace

class TestCsv : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }

    void rowReader_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<QStringList>>("expected");
        const QString eof = u"<eof>"_s;
        QTest::newRow("doubled quotes") << QByteArray("\"a\"\"b\",c\n")
                                        << QList<QStringList>{{u"a\"b"_s, u"c"_s}, {u""_s, eof}};
        QTest::newRow("commas and line breaks inside quotes")
            << QByteArray("\"x,y\",\"1\n2\"\nz\n") << QList<QStringList>{{u"x,y"_s, u"1\n2"_s}, {u"z"_s}, {u""_s, eof}};
        QTest::newRow("carriage return kept inside quotes, dropped outside")
            << QByteArray("\"a\r\nb\",c\r\nd\r\n") << QList<QStringList>{{u"a\r\nb"_s, u"c"_s}, {u"d"_s}, {u""_s, eof}};
        QTest::newRow("a quote opens quoted mode mid-field")
            << QByteArray("x\"y,\nz\",w\n") << QList<QStringList>{{u"xy,\nz"_s, u"w"_s}, {u""_s, eof}};
        QTest::newRow("a quote after the quoted part is text")
            << QByteArray("\"a\"b\"c,d\n") << QList<QStringList>{{u"ab\"c"_s, u"d"_s}, {u""_s, eof}};
        QTest::newRow("byte order mark skipped")
            << QByteArray("\xEF\xBB\xBFName,Tel\n") << QList<QStringList>{{u"Name"_s, u"Tel"_s}, {u""_s, eof}};
        QTest::newRow("UTF-8 across fields") << QByteArray("Zo\xC3\xAB,\xE5\xB1\xB1\xE6\x9C\xAC\n")
                                             << QList<QStringList>{{u"Zoë"_s, u"山本"_s}, {u""_s, eof}};
        QTest::newRow("header shorter than a byte order mark")
            << QByteArray("ab") << QList<QStringList>{{u"ab"_s, eof}};
        QTest::newRow("last row without a line feed")
            << QByteArray("h\na,b") << QList<QStringList>{{u"h"_s}, {u"a"_s, u"b"_s, eof}};
        QTest::newRow("unterminated quote runs to the end")
            << QByteArray("h\n\"a,b\nc") << QList<QStringList>{{u"h"_s}, {u"a,b\nc"_s, eof}};
        QTest::newRow("empty") << QByteArray() << QList<QStringList>{{eof}};
    }

    void rowReader()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<QStringList>, expected);
        QCOMPARE(rows(bytes), expected);
    }

    void rowReaderReportsReadErrors()
    {
        FailingDevice device("Name,Tel\nAnna,123\n", 12);
        QStringList fields;
        QVERIFY(utf8CSVRow(fields, device, true));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, utf8CSVRow(fields, device, false));
        FailingDevice atOnce("Name", 0);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, utf8CSVRow(fields, atOnce, true));
    }

    // What one data row under a header becomes, as the contact dump shows it.
    void importRow_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("dump");
        QTest::newRow("own names, codes from the column name")
            << QByteArray("First Name,Last Name,Tel:Mobile,Tel:Work Fax,Email:Work,IM:Skype,Date:Birthday,"
                          "Rel:Sister,Url:Blog,Nickname,Category,Notes\n"
                          "Anna,Berg,123,456,a@work,anna.b,1980-02-29,Eva,http://b.log,Annie,Friends,hi\n")
            << u"contact: Anna Berg\n"
               "  1: data1=Anna Berg | data2=Anna | data3=Berg\n"
               "  3: data1=123 | data2=2\n"
               "  3: data1=456 | data2=4\n"
               "  4: data1=a@work | data2=2\n"
               "  5: data1=Annie\n"
               "  6: data1=1980-02-29 | data2=3\n"
               "  7: data2=Friends\n"
               "  8: data1=anna.b | data2=1 | data5=4\n"
               "  9: data1=hi\n"
               "  11: data1=Eva | data2=13\n"
               "  13: data1=http://b.log | data2=2\n"_s;
        QTest::newRow("dates in the files' own forms, groups split per value, Thunderbird's birthday columns")
            << QByteArray(
                   "First Name,Birthday,Anniversary,Categories,Group Membership,Birth Year,Birth Month,Birth Day\n"
                   "A,4/1/1976,1976-04-02,Work;Golf,* myContacts ::: Friends ::: Family,1970,11,15\n"
                   "B,25/12/1980,--07-04,,,,2,29\n")
            << u"contact: A\n"
               "  1: data1=A | data2=A\n"
               "  6: data1=1976-04-02 | data2=1\n"
               "  6: data1=1976-04-01 | data2=3\n"
               "  6: data1=1970-11-15 | data2=3\n"
               "  7: data2=Work\n"
               "  7: data2=Golf\n"
               "  7: data2=Friends\n"
               "  7: data2=Family\n"
               "contact: B\n"
               "  1: data1=B | data2=B\n"
               "  6: data1=--07-04 | data2=1\n"
               "  6: data1=1980-12-25 | data2=3\n"
               "  6: data1=--02-29 | data2=3\n"_s;
        QTest::newRow("own numbered columns and labels, PO box and extended address")
            << QByteArray("First Name,Tel:Mobile,Tel:Mobile 2,Tel:Other 2,Tel:Other 2:Label,Category,Category 2,"
                          "Addr:Home:Street,Addr:Home:POBox,Addr:Home:Extended,Addr:Other 2:Street,Addr:Other 2:Label\n"
                          "C,1,2,3,Boat,X,Y,Main St,PO 1,Apt 2,Lake Rd,Cabin\n")
            << u"contact: C\n"
               "  1: data1=C | data2=C\n"
               "  3: data1=3 | data3=Boat\n"
               "  3: data1=1 | data2=2\n"
               "  3: data1=2 | data2=2\n"
               "  7: data2=X\n"
               "  7: data2=Y\n"
               "  12: data1=Lake Rd | data3=Cabin | data4=Lake Rd\n"
               "  12: data1=Main St | data2=1 | data4=Main St | data5=PO 1 | data6=Apt 2\n"_s;
        QTest::newRow("Outlook: street lines joined, third e-mail without code, second home phone kept apart")
            << QByteArray("Title,First Name,Last Name,Home Street,Home Street 2,Home City,Home Postal Code,"
                          "E-mail 3 Address,Home Phone,Home Phone 2,Company,Job Title\n"
                          "Dr,John,Smith,1 Main St,Apt 5,Springfield,12345,j@x,111,222,Acme,Boss\n")
            << u"contact: Dr John Smith\n"
               "  1: data1=Dr John Smith | data2=John | data3=Smith | data5=Dr\n"
               "  3: data1=111 | data2=1\n"
               "  3: data1=222 | data2=1\n"
               "  4: data1=j@x\n"
               "  10: data1=Acme | data4=Boss\n"
               "  12: data1=1 Main St Apt 5\\nSpringfield, 12345 | data2=1 | data4=1 Main St Apt 5 | "
               "data7=Springfield | data9=12345\n"_s;
        QTest::newRow("own address columns")
            << QByteArray("First Name,Addr:Work:Street,Addr:Work:City,Addr:Work:Country,Addr:Other:Postcode\n"
                          "A,Kongens gate 1,Oslo,Norway,0153\n")
            << u"contact: A\n"
               "  1: data1=A | data2=A\n"
               "  12: data9=0153\n"
               "  12: data1=Kongens gate 1\\nOslo\\nNorway | data2=2 | data4=Kongens gate 1 | data7=Oslo | "
               "data10=Norway\n"_s;
        QTest::newRow("short row, unknown and empty columns")
            << QByteArray("Shoe Size,First Name,Last Name,Mobile Phone\n42,Mark\n")
            << u"contact: Mark\n  1: data1=Mark | data2=Mark\n"_s;
        QTest::newRow("Google: labels, several values in one cell, custom label")
            << QByteArray("First Name,Phone 1 - Label,Phone 1 - Value,Phone 2 - Value,Phone 2 - Label,"
                          "E-mail 1 - Value,Address 1 - Label,Address 1 - Street,Address 1 - City,"
                          "Organization Name,Website 1 - Label,Website 1 - Value\n"
                          "Ana,* Mobile,+351 1 ::: +351 2,+351 3,Cottage,ana@x,Work,Rua 1,Lisboa,ACME,Profile,"
                          "https://a\n")
            << u"contact: Ana\n"
               "  1: data1=Ana | data2=Ana\n"
               "  3: data1=+351 1 | data2=2\n"
               "  3: data1=+351 2 | data2=2\n"
               "  3: data1=+351 3 | data3=Cottage\n"
               "  4: data1=ana@x | data2=1\n"
               "  10: data1=ACME\n"
               "  12: data1=Rua 1\\nLisboa | data2=2 | data4=Rua 1 | data7=Lisboa\n"
               "  13: data1=https://a | data2=3\n"_s;
        QTest::newRow("Google: relation label by name, organization type not a label")
            << QByteArray("First Name,Relation 1 - Label,Relation 1 - Value,Relation 2 - Label,Relation 2 - Value,"
                          "Organization 1 - Type,Organization 1 - Name\n"
                          "Ana,spouse,Bo,Godmother,Cy,Work,ACME\n")
            << u"contact: Ana\n"
               "  1: data1=Ana | data2=Ana\n"
               "  10: data1=ACME\n"
               "  11: data1=Bo | data2=14\n"
               "  11: data1=Cy | data3=Godmother\n"_s;
        QTest::newRow("a row without name parts: display name, else company (a company contact), else first "
                      "e-mail, else phone")
            << QByteArray("Display Name,First Name,Company,Tel:Work,E-mail 2 Address,E-mail Address\n"
                          "The Shop,,Shop AS,1,s@x,\n,,Acme,2,,a@x\n,,,3,b@x,c@x\n,,,4,,\n,,,,,\n")
            << u"contact: The Shop\n"
               "  1: data1=The Shop | data2=The Shop\n"
               "  3: data1=1 | data2=3\n"
               "  4: data1=s@x | data2=2\n"
               "  10: data1=Shop AS\n"
               "contact: Acme\n"
               "  1: \n"
               "  3: data1=2 | data2=3\n"
               "  4: data1=a@x | data2=1\n"
               "  10: data1=Acme\n"
               "contact: b@x\n"
               "  1: data1=b@x | data2=b@x\n"
               "  3: data1=3 | data2=3\n"
               "  4: data1=c@x | data2=1\n"
               "  4: data1=b@x | data2=2\n"
               "contact: 4\n"
               "  1: data1=4 | data2=4\n"
               "  3: data1=4 | data2=3\n"
               "contact: \n"_s;
        QTest::newRow("a company contact when the display name is the company; any other display name names a person")
            << QByteArray("Display Name,Company,Department,Business Phone\n"
                          "acme ltd,Acme Ltd,Sales,1\nAcme Sales Desk,Acme Ltd,,2\n")
            << u"contact: Acme Ltd\n"
               "  1: \n"
               "  3: data1=1 | data2=3\n"
               "  10: data1=Acme Ltd | data5=Sales\n"
               "contact: Acme Sales Desk\n"
               "  1: data1=Acme Sales Desk | data2=Acme Sales Desk\n"
               "  3: data1=2 | data2=3\n"
               "  10: data1=Acme Ltd\n"_s;
        QTest::newRow("Roundcube's own columns; a second business number is a work phone of its own")
            << QByteArray("First Name,Email Work,Home Mobile,Business Phone,Business Phone 2,Phone Video,Other Phone,"
                          "Work City,Work Zip,IM Skype,Website Blog\n"
                          "Ann,a@w,1,2,3,4,5,Oslo,0155,ann.s,https://b\n")
            << u"contact: Ann\n"
               "  1: data1=Ann | data2=Ann\n"
               "  3: data1=5\n"
               "  3: data1=4\n"
               "  3: data1=1 | data2=2\n"
               "  3: data1=2 | data2=3\n"
               "  3: data1=3 | data2=3\n"
               "  4: data1=a@w | data2=2\n"
               "  8: data1=ann.s | data2=1 | data5=4\n"
               "  12: data1=Oslo, 0155 | data2=2 | data7=Oslo | data9=0155\n"
               "  13: data1=https://b | data2=2\n"_s;
        QTest::newRow("German Outlook columns; dotted birthdays as ISO dates, impossible ones kept")
            << QByteArray("Vorname;Weitere Vornamen;Nachname;Firma;Abteilung;Position;Straße privat;Ort privat;"
                          "Postleitzahl privat;Bundesland privat;Land privat;Ort geschäftlich;"
                          "Telefon privat;Mobiltelefon;Fax geschäftlich;E-Mail 3: Adresse;Geburtstag;"
                          "Kategorien;Webseite\n"
                          "Eva;Maria;Groß;ACME;Vertrieb;Leiterin;Weg 2;Bonn;53111;NRW;Deutschland;Köln;"
                          "1;2;3;e@x;1.3.1975;Familie;https://e.de\n"
                          "Udo;;Bär;;;;;;;;;;;;;;31.2.1980;;\n")
            << u"contact: Eva Maria Groß\n"
               "  1: data1=Eva Maria Groß | data2=Eva | data3=Groß | data4=Maria\n"
               "  3: data1=1 | data2=1\n"
               "  3: data1=2 | data2=2\n"
               "  3: data1=3 | data2=4\n"
               "  4: data1=e@x\n"
               "  6: data1=1975-03-01 | data2=3\n"
               "  7: data2=Familie\n"
               "  10: data1=ACME | data4=Leiterin | data5=Vertrieb\n"
               "  12: data1=Weg 2\\nBonn, NRW 53111\\nDeutschland | data2=1 | data4=Weg 2 | data7=Bonn | "
               "data8=NRW | data9=53111 | data10=Deutschland\n"
               "  12: data1=Köln | data2=2 | data7=Köln\n"
               "  13: data1=https://e.de | data2=1\n"
               "contact: Udo Bär\n"
               "  1: data1=Udo Bär | data2=Udo | data3=Bär\n"
               "  6: data1=31.2.1980 | data2=3\n"_s;
        QTest::newRow("semicolons as separators")
            << QByteArray("\"First Name\";\"Last Name\";\"E-mail Address\"\n\"Jo\";\"Doe\";\"a;b@x\"\n")
            << u"contact: Jo Doe\n"
               "  1: data1=Jo Doe | data2=Jo | data3=Doe\n"
               "  4: data1=a;b@x | data2=1\n"_s;
        QTest::newRow("last row without a line feed kept") << QByteArray("First Name\r\nA\r\nB")
                                                           << u"contact: A\n  1: data1=A | data2=A\ncontact: B\n"
                                                              "  1: data1=B | data2=B\n"_s;
        QTest::newRow("no header row: the first contact is taken as the header")
            << QByteArray("Anna,Berg,123\nMark,Cole,456\n") << u"contact: \n"_s;
    }

    void importRow()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, dump);
        QCOMPARE(dump::contacts(importBytes(file)), dump);
    }

    // Bytes that are not UTF-8 are read as Windows-1252 (0x80-0x9F included); valid UTF-8, whose umlauts
    // would read as two Windows-1252 letters each, is left alone, with or without a byte order mark.
    void importEncodings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("note");
        QTest::newRow("Windows-1252") << QByteArray(
                                             "First Name,Last Name,Notes\nJ\xFCrgen,M\xFCller,\x80 5 \x84Stra\xDF"
                                             "e\x93\n")
                                      << u"Jürgen Müller"_s << u"€ 5 „Straße“"_s;
        QTest::newRow("UTF-8") << QByteArray("First Name,Last Name,Notes\nJürgen,Müller,€ 5 „Straße“\n")
                               << u"Jürgen Müller"_s << u"€ 5 „Straße“"_s;
        QTest::newRow("UTF-8 with byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                                  "First Name,Last Name,Notes\nJürgen,Müller,Öl\n")
                                                    << u"Jürgen Müller"_s << u"Öl"_s;
        QTest::newRow("Windows-1252 after a byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                                            "First Name,Notes\nJ\xFCrgen,\xD6l\n")
                                                              << u"Jürgen"_s << u"Öl"_s;
    }

    void importEncodings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, name);
        QFETCH(QString, note);
        const QList<pim::Contact> contacts = importBytes(file);
        QCOMPARE(contacts.size(), 1);
        QCOMPARE(contacts.first().full_name, name);
        QCOMPARE(texts(contacts.first(), pim::ENTITY_NOTE, {u"data1"_s}), QStringList{note});
    }

    void importCountsRowsAndReportsFileErrors()
    {
        CSVImport importer;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, importer.open(u"/nonexistent/x.csv"_s));
        QCOMPARE(importBytes(QByteArray()).size(), 0);
        QCOMPARE(importBytes("First Name").size(), 0);
        QCOMPARE(importBytes("First Name\n\nA\n").size(), 2); // a blank line is a record without a name
    }

    // Rows are read one at a time after open() has counted them: the count, the contacts and their order are
    // those of the file, with quoted line feeds and separators inside rows, a semicolon file, a last row without
    // a line feed, and a quote that never closes part-way (the rows before it only).
    void streamedRowsMatchTheCount_data()
    {
        QTest::addColumn<char>("separator");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("unclosedAt"); // the row (from 0) whose quote never closes; -1: none
        QTest::addColumn<bool>("lastLineFeed");
        QTest::newRow("commas") << ',' << 3000 << -1 << true;
        QTest::newRow("semicolons, no last line feed") << ';' << 3000 << -1 << false;
        QTest::newRow("quote never closes") << ',' << 3000 << 1700 << true;
    }
    void streamedRowsMatchTheCount()
    {
        QFETCH(char, separator);
        QFETCH(int, rows);
        QFETCH(int, unclosedAt);
        QFETCH(bool, lastLineFeed);
        QByteArray file = QByteArray("First Name") + separator + "Last Name" + separator + "Notes\n";
        for (int i = 0; i < rows; ++i) {
            file += "Given" + QByteArray::number(i) + separator + "Family" + separator;
            if (i == unclosedAt)
                file += "\"never closed";
            else if (i % 3 == 0 && (unclosedAt < 0 || i < unclosedAt)) // no quote after it closes it
                file += "\"line one\nline " + QByteArray::number(i) + separator + " \"\"two\"\"\"";
            else
                file += "note " + QByteArray::number(i);
            if (i + 1 < rows || lastLineFeed)
                file += '\n';
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(u"in.csv"_s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
        f.close();

        CSVImport importer;
        importer.open(path);
        const int expected = unclosedAt >= 0 ? unclosedAt : rows;
        QCOMPARE(importer.count(), expected);
        QCOMPARE(importer.warning().isEmpty(), unclosedAt < 0);
        int read = 0;
        while (importer.hasNext()) {
            pim::Contact c;
            importer.next(c);
            QCOMPARE(c.full_name, u"Given%1 Family"_s.arg(read));
            const QString note = read % 3 == 0
                                     ? u"line one\nline %1%2 \"two\""_s.arg(read).arg(QChar::fromLatin1(separator))
                                     : u"note %1"_s.arg(read);
            QCOMPARE(texts(c, pim::ENTITY_NOTE, {u"data1"_s}), QStringList{note});
            ++read;
        }
        QCOMPARE(read, expected);
        importer.close();
    }

    // Escaping, the columns that the contacts fill (no empty Nickname column), UTF-8 without a byte order
    // mark.
    void exportBytes()
    {
        pim::Contact a = fixtures::person(u"Zoë"_s, u"Adams"_s, u"555"_s);
        a.addRow(pim::ENTITY_NOTE, row({{1, u"says \"hi\", twice\nand\rmore"_s}}));
        a.addRow(pim::ENTITY_ORGANIZATION, row({{1, u"Acme, Inc"_s}, {4, u"a\rb"_s}}));
        pim::Contact b = fixtures::person(u"Bo"_s, QString());
        b.addRow(pim::ENTITY_EMAIL, row({{1, u"bo@x"_s}, {2, 2}}));
        CSVExport exporter;
        QByteArray bytes = exporter.header({a, b});
        bytes += exporter.exportContact(a);
        bytes += exporter.exportContact(b);
        QCOMPARE(bytes, QByteArray("First Name,Last Name,Company,Job Title,Tel:Mobile,Email:Work,Notes\n"
                                   "Zo\xC3\xAB,Adams,\"Acme, Inc\",a\rb,555,,\"says \"\"hi\"\", twice\nand\rmore\"\n"
                                   "Bo,,,,,bo@x,\n"));
    }

    // Every kind of row written by the exporter thread and read back by the importer thread.
    // Every value of a contact has a column of its own in CSV and text exports: two mobile numbers, two
    // addresses of one kind, custom labels, several groups, PO box and extended address; all read back.
    void everyValueKeptInColumns()
    {
        pim::Contact c = fixtures::person(u"Ana"_s, u"Silva"_s, u"111"_s);
        c.addRow(pim::ENTITY_PHONE, row({{1, u"222"_s}, {2, 2}}));
        c.addRow(pim::ENTITY_PHONE, row({{1, u"333"_s}, {2, 0}, {3, u"Boat"_s}}));
        c.addRow(pim::ENTITY_EMAIL, row({{1, u"a@x"_s}, {2, 1}}));
        c.addRow(pim::ENTITY_EMAIL, row({{1, u"b@x"_s}, {2, 1}}));
        c.addRow(pim::ENTITY_GROUP, row({{2, u"Friends"_s}}));
        c.addRow(pim::ENTITY_GROUP, row({{2, u"Golf"_s}}));
        c.addRow(pim::ENTITY_ADDRESS, row({{2, 1}, {4, u"Main St"_s}, {5, u"PO 1"_s}, {6, u"Apt 2"_s}}));
        c.addRow(pim::ENTITY_ADDRESS, row({{2, 1}, {4, u"Second St"_s}, {7, u"Town"_s}}));
        CSVExport exporter;
        QByteArray bytes = exporter.header({c});
        bytes += exporter.exportContact(c);
        QVERIFY2(bytes.startsWith("First Name,Last Name,Category,Category 2,Tel:Mobile,Tel:Mobile 2,Tel:Other,"
                                  "Tel:Other:Label,Email:Home,Email:Home 2,"),
                 bytes.constData());
        const QList<pim::Contact> back = importBytes(bytes);
        QCOMPARE(back.size(), 1);
        const QStringList phone{u"data1"_s, u"data2"_s, u"data3"_s};
        const auto asSet = [](const QStringList &list) { return QSet<QString>(list.cbegin(), list.cend()); };
        QCOMPARE(asSet(texts(back.first(), pim::ENTITY_PHONE, phone)),
                 QSet<QString>({u"111|2|"_s, u"222|2|"_s, u"333||Boat"_s}));
        QCOMPARE(texts(back.first(), pim::ENTITY_EMAIL).size(), 2);
        QCOMPARE(texts(back.first(), pim::ENTITY_GROUP, {u"data2"_s}), QStringList({u"Friends"_s, u"Golf"_s}));
        QCOMPARE(asSet(texts(back.first(), pim::ENTITY_ADDRESS, {u"data4"_s, u"data5"_s, u"data6"_s, u"data7"_s})),
                 QSet<QString>({u"Main St|PO 1|Apt 2|"_s, u"Second St|||Town"_s}));
    }

    void roundTripThroughFiles()
    {
        pim::Contact c = fixtures::person(u"Anna"_s, u"Berg"_s, u"+47 555"_s);
        c.entities[pim::ENTITY_NAME].first().setValue(u"data5"_s, u"Dr"_s);
        c.entities[pim::ENTITY_NAME].first().setValue(u"data4"_s, u"Maria"_s);
        c.entities[pim::ENTITY_NAME].first().setValue(u"data1"_s, u"Dr Anna Maria Berg"_s);
        c.full_name = u"Dr Anna Maria Berg"_s;
        c.addRow(pim::ENTITY_PHONE, row({{1, u"+47 666"_s}, {2, u"3"_s}}));
        c.addRow(pim::ENTITY_EMAIL, row({{1, u"anna@home"_s}, {2, u"1"_s}}));
        c.addRow(pim::ENTITY_NICKNAME, row({{1, u"Annie"_s}}));
        c.addRow(pim::ENTITY_EVENT, row({{1, u"1980-02-29"_s}, {2, u"3"_s}}));
        c.addRow(pim::ENTITY_GROUP, row({{2, u"Friends"_s}}));
        c.addRow(pim::ENTITY_IM, row({{1, u"anna.b"_s}, {2, u"1"_s}, {5, u"4"_s}}));
        c.addRow(pim::ENTITY_NOTE, row({{1, u"Tall, fair \"blonde\"\nLikes skiing"_s}}));
        c.addRow(pim::ENTITY_ORGANIZATION, row({{1, u"Acme"_s}, {4, u"Engineer"_s}, {5, u"R&D"_s}}));
        c.addRow(pim::ENTITY_RELATION, row({{1, u"Eva"_s}, {2, u"13"_s}}));
        pim::DataRow home = row({{2, u"1"_s},
                                 {4, u"Storgata 1\nBakgården"_s},
                                 {7, u"Oslo"_s},
                                 {8, u"Oslo fylke"_s},
                                 {9, u"0155"_s},
                                 {10, u"Norway"_s}});
        home.setValue(u"data1"_s, pim::addressText(home));
        c.addRow(pim::ENTITY_ADDRESS, home);
        c.addRow(pim::ENTITY_WEBSITE, row({{1, u"https://anna.no"_s}, {2, u"1"_s}}));
        const pim::Contact other = fixtures::person(u"Mark"_s, u"Cole"_s);

        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.csv"_s);
        ProgressObject exported;
        ExportToFileThread writer({c, other}, fileio::ExportCsv, path, &exported);
        writer.start();
        QVERIFY(writer.wait(30000));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(exported.message(), u"Successfully exported 2 contacts to File."_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray header = file.readLine();
        QVERIFY2(header.contains("Addr:Home:Street"), header.constData());
        QVERIFY(!header.startsWith("\xEF\xBB\xBF"));

        LocalDb db(dir.filePath(u"in.db"_s), PContactCombineRule(new LocalDbCombineRule));
        db.createFromTemplate();
        ProgressObject imported;
        ImportContactsToLocalThread reader(path, fileio::ImportCsv, &db, &imported);
        reader.start();
        QVERIFY(reader.wait(30000));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(imported.message(), u"Successfully imported 2 contacts."_s);
        const QList<pim::Contact> back = db.listContacts(0, QString());
        const pim::Contact *anna = named(back, u"Dr Anna Maria Berg"_s);
        QVERIFY(anna);
        QCOMPARE(texts(*anna, pim::ENTITY_PHONE), (QStringList{u"+47 555|2"_s, u"+47 666|3"_s}));
        QCOMPARE(texts(*anna, pim::ENTITY_EMAIL), QStringList{u"anna@home|1"_s});
        QCOMPARE(texts(*anna, pim::ENTITY_NICKNAME, {u"data1"_s}), QStringList{u"Annie"_s});
        QCOMPARE(texts(*anna, pim::ENTITY_EVENT), QStringList{u"1980-02-29|3"_s});
        QCOMPARE(texts(*anna, pim::ENTITY_GROUP, {u"data2"_s}), QStringList{u"Friends"_s});
        QCOMPARE(texts(*anna, pim::ENTITY_IM, {u"data1"_s, u"data2"_s, u"data5"_s}), QStringList{u"anna.b|1|4"_s});
        QCOMPARE(texts(*anna, pim::ENTITY_NOTE, {u"data1"_s}),
                 QStringList{c.rows(pim::ENTITY_NOTE).first().text(u"data1"_s)});
        QCOMPARE(texts(*anna, pim::ENTITY_ORGANIZATION, {u"data1"_s, u"data4"_s, u"data5"_s}),
                 QStringList{u"Acme|Engineer|R&D"_s});
        QCOMPARE(texts(*anna, pim::ENTITY_RELATION), QStringList{u"Eva|13"_s});
        QCOMPARE(texts(*anna, pim::ENTITY_ADDRESS,
                       {u"data1"_s, u"data2"_s, u"data4"_s, u"data7"_s, u"data8"_s, u"data9"_s, u"data10"_s}),
                 QStringList{home.text(u"data1"_s) + u"|1|Storgata 1\nBakgården|Oslo|Oslo fylke|0155|Norway"_s});
        QCOMPARE(texts(*anna, pim::ENTITY_WEBSITE), QStringList{u"https://anna.no|1"_s});
        QVERIFY(named(back, u"Mark Cole"_s));
    }

    // Files written by other programs: each imports, and the fields a user looks for are where they belong.
    void publicFilesImport()
    {
        // The repository's copies of the synthetic files, plus the shared corpus beside the checkout when it is
        // there (it holds files written by other programs whose licence keeps them out of the repository).
        QMap<QString, QList<pim::Contact>> read;
        for (const QString &dir : {QStringLiteral(CSV_DATA_DIR "/corpus"), QStringLiteral(SHARED_CORPUS_DIR "/csv")}) {
            const QDir corpus(dir);
            for (const QString &name : corpus.entryList({u"*.csv"_s}, QDir::Files)) {
                QFile f(corpus.filePath(name));
                QVERIFY(f.open(QIODevice::ReadOnly));
                read.insert(name, importBytes(f.readAll()));
            }
        }
        const bool shared = QDir(QStringLiteral(SHARED_CORPUS_DIR "/csv")).exists();
        QVERIFY(read.size() >= (shared ? 10 : 4));

        // Current Google Contacts export.
        const QList<pim::Contact> google = read.value(u"synthetic_google_contacts_new.csv"_s);
        QCOMPARE(google.size(), 3);
        const pim::Contact *ana = named(google, u"Ana Silva"_s);
        QVERIFY(ana);
        QCOMPARE(texts(*ana, pim::ENTITY_PHONE),
                 (QStringList{u"+351 912 345 678|2"_s, u"+351 913 000 000|2"_s, u"+351 21 000 0000|3"_s}));
        QCOMPARE(texts(*ana, pim::ENTITY_EMAIL), QStringList{u"ana@example.com|1"_s});
        QCOMPARE(texts(*ana, pim::ENTITY_ADDRESS, {u"data2"_s, u"data4"_s, u"data7"_s, u"data9"_s, u"data10"_s}),
                 QStringList{u"1|Rua 1|Lisboa|1000-001|Portugal"_s});
        QCOMPARE(texts(*ana, pim::ENTITY_ORGANIZATION, {u"data1"_s, u"data4"_s}), QStringList{u"ACME|Engineer"_s});
        QCOMPARE(texts(*ana, pim::ENTITY_EVENT), QStringList{u"1990-04-03|3"_s});
        QCOMPARE(texts(*ana, pim::ENTITY_NOTE, {u"data1"_s}), QStringList{u"Met at the fair, 2024\nsays \"hi\""_s});
        QCOMPARE(texts(*ana, pim::ENTITY_NICKNAME, {u"data1"_s}), QStringList{u"Aninha"_s});
        const pim::Contact *taro = named(google, u"山本 太郎"_s); // family name first, as Japanese names are written
        QVERIFY(taro);
        QCOMPARE(texts(*taro, pim::ENTITY_EMAIL), QStringList{u"taro@example.jp|1"_s});
        QCOMPARE(taro->firstRow(pim::ENTITY_NAME).text(u"data7"_s), u"たろう"_s);
        const pim::Contact *company = named(google, u"Only A Company Ltd"_s);
        QVERIFY(company);
        QCOMPARE(texts(*company, pim::ENTITY_WEBSITE), QStringList{u"https://example.com/acme|3"_s});

        // Outlook desktop: every field quoted, a street of two lines, business phone and company.
        const QList<pim::Contact> outlook = read.value(u"synthetic_outlook_desktop.csv"_s);
        QCOMPARE(outlook.size(), 2);
        const pim::Contact *juergen = named(outlook, u"Jürgen Müller"_s);
        QVERIFY(juergen);
        QCOMPARE(texts(*juergen, pim::ENTITY_PHONE), (QStringList{u"+49 171 000000|2"_s, u"+49 30 1234567|3"_s}));
        QCOMPARE(texts(*juergen, pim::ENTITY_EMAIL), QStringList{u"jm@example.de|1"_s});
        QCOMPARE(texts(*juergen, pim::ENTITY_ADDRESS, {u"data2"_s, u"data4"_s, u"data7"_s, u"data9"_s, u"data10"_s}),
                 QStringList{u"1|Hauptstraße 1\nHinterhaus|Berlin|10115|Germany"_s});
        QCOMPARE(texts(*juergen, pim::ENTITY_ORGANIZATION, {u"data1"_s, u"data4"_s}),
                 QStringList{u"Müller & Söhne|CEO"_s});
        QCOMPARE(texts(*juergen, pim::ENTITY_NOTE, {u"data1"_s}), QStringList{u"multi\nline \"quoted\" note"_s});
        // Outlook's "0/0/00" is no anniversary; its month-first date is stored as the devices keep dates.
        QCOMPARE(texts(*juergen, pim::ENTITY_EVENT), QStringList{u"1980-02-29|3"_s});

        const pim::Contact *lee = named(outlook, u"Lee Chen"_s);
        QVERIFY(lee);
        QCOMPARE(texts(*lee, pim::ENTITY_EMAIL), (QStringList{u"lee@example.com|1"_s, u"lee.chen@example.org|2"_s}));
        QCOMPARE(texts(*lee, pim::ENTITY_PHONE), QStringList{u"(555) 010-9999|1"_s});
        QVERIFY(!lee->hasRows(pim::ENTITY_EVENT));

        // Outlook.com, with a byte order mark.
        const QList<pim::Contact> outlookCom = read.value(u"synthetic_outlook_com.csv"_s);
        const pim::Contact *svein = named(outlookCom, u"Svein Heimdal"_s);
        QVERIFY(svein);
        QCOMPARE(texts(*svein, pim::ENTITY_EMAIL), QStringList{u"svein@example.no|1"_s});
        QCOMPARE(texts(*svein, pim::ENTITY_PHONE), QStringList{u"901 06 000|2"_s});
        QVERIFY(named(outlookCom, u"Larsen"_s));

        // German Outlook: Windows-1252, semicolons, German column names.
        const QList<pim::Contact> german = read.value(u"synthetic_outlook_de_cp1252_semicolon.csv"_s);
        QCOMPARE(german.size(), 1);
        const pim::Contact &m = german.first();
        QCOMPARE(m.full_name, u"Jürgen Müller"_s);
        QCOMPARE(texts(m, pim::ENTITY_NAME, {u"data2"_s, u"data3"_s}), QStringList{u"Jürgen|Müller"_s});
        QCOMPARE(texts(m, pim::ENTITY_ORGANIZATION, {u"data1"_s}), QStringList{u"Müller & Söhne"_s});
        QCOMPARE(texts(m, pim::ENTITY_PHONE), QStringList{u"+49 221 123|3"_s});
        QCOMPARE(texts(m, pim::ENTITY_ADDRESS, {u"data2"_s, u"data4"_s, u"data7"_s, u"data9"_s}),
                 QStringList{u"1|Hauptstraße 1|Köln|50667"_s});
        QCOMPARE(texts(m, pim::ENTITY_EMAIL), QStringList{u"jm@example.de|1"_s});
        QCOMPARE(texts(m, pim::ENTITY_EVENT), QStringList{u"1980-02-29|3"_s});
        QCOMPARE(texts(m, pim::ENTITY_NOTE, {u"data1"_s}), QStringList{u"Grüße; \"Zitat\""_s});
        QCOMPARE(texts(m, pim::ENTITY_GROUP, {u"data2"_s}), QStringList{u"Geschäftlich"_s});

        if (!shared)
            QSKIP("the files of other programs are in the shared corpus, which is not beside this checkout");

        // The older Google export: types in "- Type" columns, a multi-line formatted address.
        const QList<pim::Contact> legacy = read.value(u"roundcube_gmail.csv"_s);
        QCOMPARE(legacy.size(), 1);
        const pim::Contact &g = legacy.first();
        QCOMPARE(g.full_name, u"Prefix Firstname Middle Lastname Suffix"_s);
        QCOMPARE(texts(g, pim::ENTITY_EMAIL, {u"data1"_s, u"data2"_s, u"data3"_s}),
                 (QStringList{u"home@aaa.pl|1|"_s, u"work@email.pl|2|"_s, u"unknown@email.com||"_s,
                              u"other@email.com||"_s}));
        QCOMPARE(texts(g, pim::ENTITY_PHONE).size(), 7);
        QVERIFY(texts(g, pim::ENTITY_PHONE).contains(u"mobile|2"_s));
        QCOMPARE(texts(g, pim::ENTITY_ADDRESS, {u"data2"_s, u"data4"_s, u"data5"_s, u"data7"_s}),
                 (QStringList{u"1|home_street|home_pobox|home_city"_s, u"2|work_street||work_city"_s}));
        QCOMPARE(texts(g, pim::ENTITY_ORGANIZATION, {u"data1"_s, u"data4"_s}), QStringList{u"company|jobtitle"_s});

        // Thunderbird, comma- and semicolon-separated.
        const QList<pim::Contact> thunderbird = read.value(u"roundcube_tb_plain.csv"_s);
        QCOMPARE(thunderbird.size(), 1);
        const pim::Contact &t = thunderbird.first();
        // Thunderbird's "Display Name" column is the name the contact is shown by.
        QCOMPARE(t.full_name, u"Displayname"_s);
        QCOMPARE(texts(t, pim::ENTITY_EMAIL), (QStringList{u"next@domain.tld|"_s, u"test@domain.tld|1"_s}));
        QCOMPARE(texts(t, pim::ENTITY_PHONE).size(), 5);
        QCOMPARE(texts(t, pim::ENTITY_ADDRESS, {u"data2"_s, u"data4"_s, u"data9"_s}),
                 (QStringList{u"1|Priv address|xx-xxx"_s, u"2|Addr work|33-333"_s}));
        const QList<pim::Contact> semicolons = read.value(u"thunderbird_csv_semicolon.csv"_s);
        QCOMPARE(semicolons.size(), 2);
        QCOMPARE(semicolons.first().full_name, u"John Doe"_s);

        // Lists of bare addresses: each row is named by its first address.
        const QList<pim::Contact> emails = read.value(u"roundcube_email.csv"_s);
        QCOMPARE(emails.size(), 4);
        QCOMPARE(emails.at(1).full_name, u"test2@domain.tld"_s);
        QCOMPARE(texts(emails.at(1), pim::ENTITY_EMAIL), QStringList{u"test2@domain.tld|1"_s});
        QCOMPARE(texts(emails.at(1), pim::ENTITY_NAME, {u"data1"_s, u"data2"_s, u"data3"_s}),
                 QStringList{u"test2@domain.tld|test2@domain.tld|"_s});
        const QList<pim::Contact> addresses = read.value(u"roundcube_outlook.csv"_s);
        QCOMPARE(addresses.size(), 1);
        QCOMPARE(addresses.first().full_name, u"test1@domain.tld"_s);
        QCOMPARE(texts(addresses.first(), pim::ENTITY_EMAIL),
                 (QStringList{u"test3@domain.tld|"_s, u"test1@domain.tld|1"_s, u"test2@domain.tld|2"_s}));
    }
};

QTEST_GUILESS_MAIN(TestCsv)
#include "tst_csv.moc"
