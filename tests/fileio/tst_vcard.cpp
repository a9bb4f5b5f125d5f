// vCard reading and writing: unfolding and transfer decoding of the byte-level parser, the card split and its
// faults, the mapping of properties to rows, the exporter's bytes, a round trip, and the corpus of files
// written by other programs (with golden files for a representative few).

#include "contactdump.h"
#include "fileio/vcard.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray card(const QByteArray &lines, const QByteArray &version = "2.1")
{
    return "BEGIN:VCARD\r\nVERSION:" + version + "\r\n" + lines + "\r\nEND:VCARD\r\n";
}

// Corpus files: the repository's copies, plus the shared corpus beside the checkout when it is there (it
// holds files whose licence keeps them out of the repository).
QStringList corpusFiles()
{
    QMap<QString, QString> byName;
    for (const QString &dir : {QStringLiteral(SHARED_CORPUS_DIR), QStringLiteral(VCARD_DATA_DIR "/corpus")}) {
        const QDir d(dir);
        for (const QString &name : d.entryList({u"*.vcf"_s}, QDir::Files))
            byName.insert(name, d.filePath(name));
    }
    return byName.values();
}

// Card starts: "BEGIN:VCARD" at the start of a line, any case.
int cardStarts(const QByteArray &bytes)
{
    static const QRegularExpression begin(u"(?:^|\\n)BEGIN:VCARD"_s, QRegularExpression::CaseInsensitiveOption);
    int n = 0;
    const QString text = QString::fromLatin1(bytes);
    for (auto it = begin.globalMatch(text); it.hasNext(); it.next())
        ++n;
    return n;
}

// Whether a card carries a name: an N with a non-blank component or a non-blank FN.
bool cardHasName(const vcard::Card &c)
{
    for (const vcard::Property &p : c) {
        const QString name = vcard::baseName(p);
        const QString text = vcard::valueText(p);
        if (name == u"FN" && !text.trimmed().isEmpty())
            return true;
        if (name == u"N" && !QString(text).remove(u';').trimmed().isEmpty())
            return true;
    }
    return false;
}

// Files with a malformed line (a damaged Base64 photo); the line is dropped, the cards are all read.
const QStringList kMalformedCorpus = {u"android_v21_malformed_photo.vcf"_s, u"ezvcard_John_Doe_ANDROID.vcf"_s,
                                      u"ezvcard_John_Doe_BLACK_BERRY.vcf"_s};

pim::DataRow row(std::initializer_list<std::pair<int, QVariant>> values)
{
    pim::DataRow r;
    for (const auto &[n, value] : values)
        r.setValue(u"data%1"_s.arg(n), value);
    return r;
}

// A contact with a row of every type, as the local database holds it.
pim::Contact everyType(const QByteArray &photo)
{
    pim::Contact c;
    pim::DataRow name = row({{2, u"John"_s}, {3, u"Smith;Jones"_s}, {5, u"Dr."_s}});
    name.setValue(u"data1"_s, pim::displayName(name));
    c.full_name = name.text(u"data1"_s);
    c.addRow(pim::ENTITY_NAME, name);
    c.addRow(pim::ENTITY_PHOTO, row({{15, photo}}));
    c.addRow(pim::ENTITY_PHONE, row({{1, u"+1 555 0100"_s}, {2, u"2"_s}}));
    c.addRow(pim::ENTITY_PHONE, row({{1, u"555 0101"_s}, {2, u"0"_s}}));
    c.addRow(pim::ENTITY_PHONE, row({{1, u"555 0102"_s}, {2, u"4"_s}}));
    c.addRow(pim::ENTITY_EMAIL, row({{1, u"john@example.com"_s}, {2, u"1"_s}}));
    c.addRow(pim::ENTITY_NICKNAME, row({{1, u"Johnny"_s}}));
    c.addRow(pim::ENTITY_EVENT, row({{1, u"1980-02-29"_s}, {2, u"3"_s}}));
    c.addRow(pim::ENTITY_EVENT, row({{1, u"2009-08-08"_s}, {2, u"1"_s}}));
    c.addRow(pim::ENTITY_GROUP, row({{1, u"4"_s}, {2, u"Friends"_s}}));
    c.addRow(pim::ENTITY_IM, row({{1, u"johnny.s"_s}, {2, u"1"_s}, {5, u"4"_s}}));
    c.addRow(pim::ENTITY_NOTE, row({{1, u"Line one; = two\nZoë ☺"_s}}));
    c.addRow(pim::ENTITY_ORGANIZATION, row({{1, u"Acme; Inc"_s}, {4, u"Boss"_s}, {5, u"R&D"_s}}));
    c.addRow(pim::ENTITY_RELATION, row({{1, u"Ann"_s}, {2, u"14"_s}}));
    pim::DataRow address =
        row({{2, u"2"_s}, {4, u"1 Main St\nApt 2"_s}, {7, u"Springfield"_s}, {9, u"12345"_s}, {10, u"USA"_s}});
    address.setValue(u"data1"_s, pim::addressText(address));
    c.addRow(pim::ENTITY_ADDRESS, address);
    c.addRow(pim::ENTITY_WEBSITE, row({{1, u"https://example.com/john"_s}, {2, u"2"_s}}));
    return c;
}

} // namespace

class TestVCard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsedValue_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QByteArray>("value");

        QTest::newRow("2.1 fold is one space") << card("NOTE:abc\r\n def") << u"NOTE"_s << QByteArray("abc def");
        QTest::newRow("3.0 fold is nothing") << card("NOTE:abc\r\n def", "3.0") << u"NOTE"_s << QByteArray("abcdef");
        QTest::newRow("4.0 fold keeps a second space")
            << card("NOTE:abc\r\n  def", "4.0") << u"NOTE"_s << QByteArray("abc def");
        QTest::newRow("3.0 fold inside UTF-8, VERSION last")
            << QByteArray("BEGIN:VCARD\r\nFN:\xCE\r\n \xB2\xCE\xB3\r\nVERSION:3.0\r\nEND:VCARD\r\n") << u"FN"_s
            << QByteArray("\xCE\xB2\xCE\xB3");
        QTest::newRow("blank CRLF line ends the value") << card("NOTE:a\r\n\r\nTEL:1") << u"TEL"_s << QByteArray("1");
        QTest::newRow("CR CR LF line ends") << card("NOTE:a\r\r\nTEL:1") << u"NOTE"_s << QByteArray("a");
        QTest::newRow("END value stays out of the card")
            << QByteArray("BEGIN:VCARD\r\nNOTE:n\r\nEND:VCARD\r\nBEGIN:VCARD\r\nEND:VCARD\r\n") << u"NOTE"_s
            << QByteArray("n");
        QTest::newRow("line without colon dropped")
            << card("NOTE:a\r\nGARBAGE\r\nTEL:1") << u"TEL"_s << QByteArray("1");
        QTest::newRow("header without colon dropped") << card("X-FOO;BAR\r\nTEL:1") << u"TEL"_s << QByteArray("1");
        QTest::newRow("empty parameter value") << card("TEL;CHARSET=;TYPE=cell:1") << u"TEL"_s << QByteArray("1");
        QTest::newRow("quoted parameter value") << card("TEL;TYPE=\"a:b;c\":1") << u"TEL"_s << QByteArray("1");

        QTest::newRow("QP fold: CRLF + space") << card("NOTE;ENCODING=QUOTED-PRINTABLE:caf=C3=A9=\r\n au lait")
                                               << u"NOTE"_s << QByteArray("caf\xC3\xA9 au lait");
        QTest::newRow("QP soft line break") << card("NOTE;ENCODING=QUOTED-PRINTABLE:Now's the time =\r\nfor all")
                                            << u"NOTE"_s << QByteArray("Now's the time for all");
        QTest::newRow("QP soft break splits an escape")
            << card("N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=9A==\r\nD0=A1") << u"N"_s
            << QByteArray("\xD0\x9A\xD0\xA1");
        QTest::newRow("QP soft break then blank line")
            << card("N;ENCODING=QUOTED-PRINTABLE:Joseph=\n\nTEL;HOME:028") << u"N"_s << QByteArray("Joseph");
        QTest::newRow("bare QUOTED-PRINTABLE") << card("NOTE;QUOTED-PRINTABLE:a=3Db") << u"NOTE"_s << QByteArray("a=b");
        QTest::newRow("QP non-escape kept")
            << card("NOTE;ENCODING=QUOTED-PRINTABLE:100=% =4") << u"NOTE"_s << QByteArray("100=% ");
        QTest::newRow("Base64 folded, unpadded")
            << card("PHOTO;ENCODING=b:AQID\r\n BA", "3.0") << u"PHOTO"_s << QByteArray("\x01\x02\x03\x04");
        QTest::newRow("bare BASE64") << card("PHOTO;BASE64:\r\n AQID\r\n\r\n") << u"PHOTO"_s
                                     << QByteArray("\x01\x02\x03");
        // Values are decoded a line at a time: groups cut by folds and whitespace, padding in the middle of a
        // value, and carriage returns inside a line must read as they do byte by byte.
        QTest::newRow("Base64 groups across folds and blanks") << card("PHOTO;ENCODING=b: AQ\tI\r\n D BA\r\n UG", "3.0")
                                                               << u"PHOTO"_s << QByteArray("\x01\x02\x03\x04\x05\x06");
        QTest::newRow("Base64 padding inside a value")
            << card("PHOTO;ENCODING=b:AQ==AQID") << u"PHOTO"_s << QByteArray("\x01\x01\x02\x03");
        QTest::newRow("carriage returns inside a plain line")
            << card("NOTE:a\rb\r\rc") << u"NOTE"_s << QByteArray("abc");
        QTest::newRow("QP escapes between plain runs")
            << card("NOTE;ENCODING=QUOTED-PRINTABLE:ab=3Dcd=\r\n=3D=\rx") << u"NOTE"_s << QByteArray("ab=cd==x");
    }

    // The first rejected byte is reported where it is, also in the middle of a long Base64 line.
    void errorOffset()
    {
        const QByteArray head = card("N:A").left(card("N:A").indexOf("END:VCARD"));
        const QByteArray input = head + "PHOTO;ENCODING=b:" + QByteArray(400, 'A') + "*AAA\r\nTEL:1\r\nEND:VCARD\r\n";
        const vcard::ParseResult parsed = vcard::parseCards(input);
        QCOMPARE(parsed.errorOffset, qint64(input.indexOf('*')));
        QCOMPARE(parsed.cards.size(), 1);
        QCOMPARE(parsed.cards.first().last().value, QByteArray("1"));
    }

    void parsedValue()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, property);
        QFETCH(QByteArray, value);
        const vcard::ParseResult parsed = vcard::parseCards(input);
        QCOMPARE(parsed.errorOffset, -1);
        QVERIFY(!parsed.cards.isEmpty());
        for (const vcard::Property &p : parsed.cards.first()) {
            if (vcard::baseName(p) == property) {
                QCOMPARE(p.value, value);
                return;
            }
        }
        QFAIL("property not found");
    }

    // Bare parameters keep their place with an empty value; escaped and quoted values are taken as meant.
    void parameters()
    {
        const vcard::ParseResult parsed =
            vcard::parseCards(card("TEL;CELL;CHARSET=UTF-8;TYPE=\"x:y,z\";X-E=a\\;b;X-Q:1"));
        QCOMPARE(parsed.cards.size(), 1);
        const vcard::Property tel = parsed.cards.first().last();
        const QMap<QString, QString> expected{{u"CELL"_s, QString()},
                                              {u"CHARSET"_s, u"UTF-8"_s},
                                              {u"TYPE"_s, u"x:y,z"_s},
                                              {u"X-E"_s, u"a;b"_s},
                                              {u"X-Q"_s, QString()}};
        QCOMPARE(tel.parameters, expected);
        QCOMPARE(tel.value, QByteArray("1"));
    }

    void cardsAndFaults_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("malformed");
        QTest::addColumn<QStringList>("names"); // full name of each card

        QTest::newRow("stray = before END does not swallow the next card")
            << QByteArray("BEGIN:VCARD\r\nN:A\r\nNOTE;ENCODING=QUOTED-PRINTABLE:x=\r\nEND:VCARD\r\n"
                          "BEGIN:VCARD\r\nN:B\r\nEND:VCARD\r\n")
            << false << QStringList{u"A [9: data1=x]"_s, u"B"_s};
        // A damaged line costs that line only: the card keeps its other properties, later cards are read.
        QTest::newRow("invalid Base64 drops the photo only")
            << QByteArray("BEGIN:VCARD\r\nN:A\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:B\r\nPHOTO;ENCODING=BASE64:"
                          "AAAA:BB==\r\n"
                          " CCCC\r\nTEL:1\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:C\r\nEND:VCARD\r\n")
            << true << QStringList{u"A"_s, u"B [3: data1=1 | data2=0]"_s, u"C"_s};
        QTest::newRow("colon where a parameter must start")
            << QByteArray("BEGIN:VCARD\r\nN:A\r\nEND:VCARD\r\nBEGIN:VCARD\r\nTEL;:1\r\nN:B\r\nEND:VCARD\r\n") << true
            << QStringList{u"A"_s, u"B"_s};
        QTest::newRow("truncated in a value")
            << QByteArray("BEGIN:VCARD\r\nN:A\r\nEND:VCARD\r\nBEGIN:VCARD\r\nN:B;Bo\r\nNOTE:cut he") << false
            << QStringList{u"A"_s, u"Bo B [9: data1=cut he]"_s};
        QTest::newRow("truncated in Base64")
            << QByteArray("BEGIN:VCARD\r\nN:A\r\nPHOTO;ENCODING=b:AQIDBAU") << false
            << QStringList{u"A [2: data15=<5 bytes md5 7cfdd07889b3295d6a550914ab35e068>]"_s};
        QTest::newRow("lower-case names") << QByteArray("begin:vcard\nn:geiser;ian\nversion:2.1\nend:vcard\n") << false
                                          << QStringList{u"ian geiser"_s};
        QTest::newRow("nested card ends its parent")
            << QByteArray("BEGIN:VCARD\nN:parent\nBEGIN:VCARD\nN:nest1\nEND:VCARD\nTEL:1\nEND:VCARD\n") << false
            << QStringList{u"parent"_s, u"nest1"_s};
        QTest::newRow("properties outside cards ignored")
            << QByteArray("N:X\r\nBEGIN:VCARD\r\nN:A\r\nEND:VCARD\r\nN:Y\r\n") << false << QStringList{u"A"_s};
        QTest::newRow("empty file") << QByteArray() << false << QStringList();
    }

    void cardsAndFaults()
    {
        QFETCH(QByteArray, input);
        QFETCH(bool, malformed);
        QFETCH(QStringList, names);
        const vcard::ParseResult parsed = vcard::parseCards(input);
        QCOMPARE(parsed.errorOffset >= 0, malformed);
        // Each card as its full name, with its rows other than the name in brackets when it has any.
        QStringList got;
        for (const vcard::Card &c : parsed.cards) {
            pim::Contact contact = vcard::contactFromCard(c);
            contact.entities.remove(pim::ENTITY_NAME);
            QStringList rows = dump::contact(contact).split(u'\n').mid(1);
            for (QString &r : rows)
                r = r.trimmed();
            got << (rows.isEmpty() ? contact.full_name : u"%1 [%2]"_s.arg(contact.full_name, rows.join(u"; "_s)));
        }
        QCOMPARE(got, names);
    }

    void mapping_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("expected");

        QTest::newRow("N: family first, escaped ;") << QByteArray("N:Smith\\;Jones;John;Q;Dr.;Jr.")
                                                    << u"contact: Dr. John Q Smith;Jones Jr.\n"
                                                       "  1: data1=Dr. John Q Smith;Jones Jr. | data2=John | "
                                                       "data3=Smith;Jones | data4=Q | data5=Dr. | "
                                                       "data6=Jr."_s;
        QTest::newRow("ADR example")
            << QByteArray("N:X\r\nADR;TYPE=work:;;Main St 1;Springfield;;12345;")
            << u"contact: X\n  1: data1=X | data3=X\n"
               "  12: data1=Main St 1\\nSpringfield, 12345 | data2=2 | data4=Main St 1 | data7=Springfield | "
               "data9=12345"_s;
        QTest::newRow("ADR text escapes")
            << QByteArray("N:X\r\nADR;TYPE=home:;;1 Main St\\nApt 2;Town\\, North;;;Norway")
            << u"contact: X\n  1: data1=X | data3=X\n"
               "  12: data1=1 Main St\\nApt 2\\nTown, North\\nNorway | data2=1 | data4=1 Main St\\nApt 2 | "
               "data7=Town, North | data10=Norway"_s;
        QTest::newRow("ADR extended address and PO box kept in their own columns")
            << QByteArray("N:X\r\nADR:;Apt 5\\n1 Main St;;Town;;;\r\nADR:PO Box 7;;;;;99;")
            << u"contact: X\n  1: data1=X | data3=X\n"
               "  12: data1=Apt 5\\n1 Main St\\nTown | data2=0 | data6=Apt 5\\n1 Main St | data7=Town\n"
               "  12: data1=PO Box 7 | data2=0 | data5=PO Box 7 | data9=99"_s;
        QTest::newRow("phone kinds from every TYPE word; no kind is Other")
            << QByteArray("N:X\r\nTEL;TYPE=CELL:1\r\nTEL;TYPE=HOME,VOICE:2\r\nTEL;TYPE=home,voice:3\r\nTEL:4\r\n"
                          "TEL;TYPE=work,fax:5\r\nTEL;HOME:6")
            << u"contact: X\n  1: data1=X | data3=X\n  3: data1=1 | data2=2\n  3: data1=2 | data2=1\n"
               "  3: data1=3 | data2=1\n  3: data1=4 | data2=0\n  3: data1=5 | data2=4\n  3: data1=6 | data2=1"_s;
        QTest::newRow("TITLE before ORG fill one row")
            << QByteArray("N:X\r\nTITLE:Boss\r\nORG:Acme;R&D")
            << u"contact: X\n  1: data1=X | data3=X\n  10: data1=Acme | data4=Boss | data5=R&D"_s;
        QTest::newRow("Shift_JIS name") << QByteArray("N;CHARSET=SHIFT_JIS:\x8e"
                                                      "R\x93"
                                                      "c;\x91\xbe\x98"
                                                      "Y")
                                        << u"contact: 山田 太郎\n  1: data1=山田 太郎 | data2=太郎 | data3=山田"_s;
        QTest::newRow("ISO-8859-1 quoted-printable note")
            << QByteArray("N:X\r\nNOTE;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:caf=E9\\n")
            << u"contact: X\n  1: data1=X | data3=X\n  9: data1=café\\\\n"_s;
        QTest::newRow("no CHARSET reads UTF-8, text escapes undone")
            << QByteArray("N:X\r\nNOTE:caf\xC3\xA9\\nline\\, \\;\\\\ \\x\r\nURL:http\\://x.org")
            << u"contact: X\n  1: data1=X | data3=X\n  9: data1=café\\nline, ;\\\\ \\\\x\n  13: data1=http://x.org | data2=0"_s;
        QTest::newRow("grouped names")
            << QByteArray("N:X\r\nitem1.TEL:123\r\nitem1.X-ABLabel:_$!<Other>!$_\r\nitem2.EMAIL;type=INTERNET:a@b.c")
            << u"contact: X\n  1: data1=X | data3=X\n  3: data1=123 | data2=0\n  4: data1=a@b.c | data2=0"_s;
        QTest::newRow("FN only") << QByteArray("FN:Acme Inc.\r\nTEL:1")
                                 << u"contact: Acme Inc.\n  1: data1=Acme Inc. | data2=Acme Inc.\n"
                                    "  3: data1=1 | data2=0"_s;
        QTest::newRow("empty N falls back to FN")
            << QByteArray("N:;;;;\r\nFN:Acme") << u"contact: Acme\n  1: data1=Acme | data2=Acme"_s;
        QTest::newRow("no name: named by the number")
            << QByteArray("TEL:1") << u"contact: 1\n  1: data1=1 | data2=1\n  3: data1=1 | data2=0"_s;
        QTest::newRow("dates")
            << QByteArray("N:X\r\nBDAY:19800229\r\nBDAY:1980-02-29\r\nBDAY:--0229\r\n"
                          "X-EVENT;TYPE=anniversary:20090808T1430-0500\r\nX-EVENT:\r\nX-EVENT;TYPE=x:2001-01-"
                          "01T10:00:00Z")
            << u"contact: X\n  1: data1=X | data3=X\n  6: data1=1980-02-29 | data2=3\n"
               "  6: data1=--02-29 | data2=3\n"
               "  6: data1=2009-08-08 | data2=1\n  6: data1=2001-01-01 | data2=0"_s;
        QTest::newRow("photos: Base64 and data URI; a web address is no picture")
            << QByteArray("N:X\r\nPHOTO;VALUE=uri:http://x/y.jpg\r\nPHOTO;ENCODING=b;TYPE=JPEG:AQID\r\n"
                          "PHOTO;VALUE=uri:http://x/z.jpg\r\nPHOTO:data:image/png;base64,AQIDBA==")
            << u"contact: X\n  1: data1=X | data3=X\n  2: data15=<4 bytes md5 08d6c05a21512a79a1dfeb9d2a8f262f>"_s;
        QTest::newRow("empty values leave no rows")
            << QByteArray("N:X\r\nEMAIL;INTERNET:\r\nADR;HOME:;;;;;;\r\nTEL:\r\nORG:;\r\nNOTE:")
            << u"contact: X\n  1: data1=X | data3=X"_s;
        QTest::newRow("IM, relation, website, nickname, category")
            << QByteArray("N:X\r\nX-IM;TYPE=skype:joe\r\nX-IM;TYPE=other:jo2\r\nX-REL;TYPE=spouse:Ann\r\n"
                          "URL;TYPE=blog:http://b\r\nURL;TYPE=other:http://o\r\nNICKNAME:Jo\r\nCATEGORIES:Friends")
            << u"contact: X\n  1: data1=X | data3=X\n  5: data1=Jo\n  7: data2=Friends\n"
               "  8: data1=joe | data2=1 | data5=4\n  8: data1=jo2 | data2=1 | data5=0\n  11: data1=Ann | data2=14\n"
               "  13: data1=http://b | data2=2\n  13: data1=http://o | data2=0"_s;
    }

    void mapping()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QString, expected);
        const QList<pim::Contact> contacts = vcard::contactsFromBytes(card(lines));
        QCOMPARE(contacts.size(), 1);
        QCOMPARE(dump::contact(contacts.first()), expected);
    }

    // The exporter's bytes for a contact with every type, against the golden file; then the points that a
    // reader of the file depends on.
    void exportBytes()
    {
        QByteArray photo(200, '\0');
        for (int i = 0; i < photo.size(); ++i)
            photo[i] = char(i * 7);
        const QByteArray bytes = vcard::bytesFromContacts({everyType(photo)});
        const QString golden = QStringLiteral(VCARD_DATA_DIR "/export/every-type.vcf");
        if (qEnvironmentVariableIsSet("CONTACT_MOVER_UPDATE_GOLDEN")) {
            QFile out(golden);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes);
        }
        QCOMPARE(bytes, readFile(golden));

        const QList<QByteArray> lines = bytes.split('\n');
        QVERIFY(lines.contains("N;CHARSET=UTF-8:Smith\\;Jones;John;;Dr.;\r"));
        QVERIFY(lines.contains("TEL;TYPE=VOICE:555 0101\r")); // code 0: Other, as other readers take VOICE
        QVERIFY(lines.indexOf("TITLE;CHARSET=UTF-8:Boss\r") + 1 ==
                lines.indexOf("ORG;CHARSET=UTF-8:Acme\\; Inc;R&D\r"));
        int photoLines = 0;
        for (const QByteArray &line : lines) {
            if (line.startsWith(' ')) {
                ++photoLines;
                QVERIFY(line.size() <= 1 + 75 + 1);
            }
        }
        QCOMPARE(photoLines, 3); // 268 Base64 characters: 75 on the PHOTO line, then 75, 75, 43
    }

    // Export then import: the same contact, except what the format cannot carry (the group id, which is the
    // database's).
    void roundTrip()
    {
        QByteArray photo(20 * 1024, '\0');
        QRandomGenerator generator(42);
        for (char &b : photo)
            b = char(generator.generate());
        const pim::Contact original = everyType(photo);
        const QList<pim::Contact> back = vcard::contactsFromBytes(vcard::bytesFromContacts({original, original}));
        QCOMPARE(back.size(), 2);

        pim::Contact expected = original;
        expected.entities[pim::ENTITY_GROUP][0].columns.remove(u"data1"_s); // the group id is the database's
        QCOMPARE(dump::contact(back.first()), dump::contact(expected));
        QCOMPARE(back.last().firstRow(pim::ENTITY_PHOTO).value(u"data15"_s).toByteArray(), photo);
    }

    void corpus_data()
    {
        QTest::addColumn<QString>("path");
        const QStringList files = corpusFiles();
        QVERIFY(files.size() >= 50);
        for (const QString &path : files)
            QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path;
    }

    // Every file reads without a crash or a lost card (a damaged line costs that line only); named cards give
    // named contacts;
    // a few files are compared with their golden dumps.
    void corpus()
    {
        QFETCH(QString, path);
        const QString fileName = QFileInfo(path).fileName();
        const QByteArray bytes = readFile(path);
        QVERIFY(!bytes.isEmpty());
        const vcard::ParseResult parsed = vcard::parseCards(bytes);
        QCOMPARE(parsed.errorOffset >= 0, kMalformedCorpus.contains(fileName));
        QCOMPARE(int(parsed.cards.size()), cardStarts(bytes));

        QList<pim::Contact> contacts;
        for (const vcard::Card &c : parsed.cards) {
            contacts.append(vcard::contactFromCard(c));
            if (cardHasName(c))
                QVERIFY2(!contacts.last().full_name.isEmpty(), qPrintable(dump::contact(contacts.last())));
        }

        // Damaged copies (cut short, bytes overwritten) read without a crash.
        QRandomGenerator generator(qHash(fileName));
        for (int i = 0; i < 24; ++i) {
            QByteArray damaged = bytes.left(generator.bounded(bytes.size()));
            if (i % 2 && !damaged.isEmpty())
                for (int k = 0; k < 8; ++k)
                    damaged[generator.bounded(damaged.size())] = char(generator.bounded(256));
            for (const vcard::Card &c : vcard::parseCards(damaged).cards)
                vcard::contactFromCard(c);
        }

        const QString golden =
            QStringLiteral(VCARD_DATA_DIR "/golden/") + QFileInfo(path).completeBaseName() + u".txt"_s;
        if (!QFileInfo::exists(golden))
            return;
        const QString text = dump::contacts(contacts);
        if (qEnvironmentVariableIsSet("CONTACT_MOVER_UPDATE_GOLDEN")) {
            QFile out(golden);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(text.toUtf8());
        }
        const QStringList want = QString::fromUtf8(readFile(golden)).split(u'\n');
        const QStringList got = text.split(u'\n');
        for (qsizetype i = 0; i < qMax(want.size(), got.size()); ++i)
            QVERIFY2(want.value(i) == got.value(i),
                     qPrintable(u"line %1:\n  want: %2\n  got:  %3"_s.arg(i + 1).arg(want.value(i), got.value(i))));
    }
};

QTEST_GUILESS_MAIN(TestVCard)
#include "tst_vcard.moc"
