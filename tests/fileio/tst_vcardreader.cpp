// The card-by-card reading of a whole file: contacts made as each card ends must be those the card list gives,
// the parameter rules of QMap-held parameters (last one wins, exact name before case-folded, Unicode case
// folding), per-card fold rules, codecs reused between values, and the importer handing out its contacts.

#include "contactdump.h"
#include "fileio/vcard.h"
#include "fileio/vcardimport.h"
#include "fileio/vcardmapper.h"
#include "fileio/vcardreader.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray card(const QByteArray &lines, const QByteArray &version = "2.1")
{
    return "BEGIN:VCARD\r\nVERSION:" + version + "\r\n" + lines + "\r\nEND:VCARD\r\n";
}

// Everything a contact holds, value types and null texts included.
QByteArray exact(const QList<pim::Contact> &contacts)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    for (const pim::Contact &c : contacts) {
        out << c.full_name;
        for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
            for (const pim::DataRow &row : it.value())
                out << it.key() << row.columns;
    }
    return bytes;
}

QList<pim::Contact> viaCards(const QByteArray &bytes)
{
    QList<pim::Contact> contacts;
    for (const vcard::Card &c : vcard::parseCards(bytes).cards)
        contacts.append(vcard::contactFromCard(c));
    return contacts;
}

// The contacts, error offset and skipped lines of a whole input, read at once or from a device in pieces.
struct Reading
{
    QByteArray contacts;
    qsizetype cards = 0;
    qint64 errorOffset = -1;
    int skipped = 0;
};

Reading readWhole(const QByteArray &bytes)
{
    Reading r;
    QList<pim::Contact> list;
    vcard::detail::CardMapper mapper;
    r.errorOffset = vcard::detail::readCards(
        bytes, [&](const vcard::detail::CardView &card) { list.append(mapper.contact(card)); }, &r.skipped);
    r.contacts = exact(list);
    r.cards = list.size();
    return r;
}

// The count alone, as the importer takes it before reading.
Reading countInPieces(const QByteArray &bytes, qsizetype pieceSize)
{
    Reading r;
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    r.cards = vcard::detail::countCards(device, &r.skipped, pieceSize);
    return r;
}

Reading readInPieces(const QByteArray &bytes, qsizetype pieceSize)
{
    Reading r;
    QList<pim::Contact> list;
    vcard::detail::CardMapper mapper;
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    r.errorOffset = vcard::detail::readCards(
        device, [&](const vcard::detail::CardView &card) { list.append(mapper.contact(card)); }, &r.skipped, pieceSize);
    r.contacts = exact(list);
    return r;
}

} // namespace

class TestVCardReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lookupRules_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("expected");

        // TYPE words are all read together (tst_vcardkinds); these lookup rules hold for the other parameters.
        QTest::newRow("repeated parameter: the last wins")
            << QByteArray("NOTE;CHARSET=UTF-8;CHARSET=ISO-8859-1:\xc3\xa6") << int(pim::ENTITY_NOTE) << u"data1"_s
            << QVariant(u"\u00c3\u00a6"_s);
        QTest::newRow("exact name before a case-folded one")
            << QByteArray("NOTE;charset=ISO-8859-1;CHARSET=UTF-8:\xc3\xa6") << int(pim::ENTITY_NOTE) << u"data1"_s
            << QVariant(u"\u00e6"_s);
        QTest::newRow("case-folded names: the first in name order")
            << QByteArray("NOTE;charset=UTF-8;Charset=ISO-8859-1:\xc3\xa6") << int(pim::ENTITY_NOTE) << u"data1"_s
            << QVariant(u"\u00c3\u00a6"_s);
        // "ı" (dotless i) upper-cases to "I"; "ſ" (long s) case-folds to "s".
        QTest::newRow("name upper-cased beyond ASCII")
            << QByteArray("item1.n\xc4\xb1"
                          "ckname:Nick")
            << int(pim::ENTITY_NICKNAME) << u"data1"_s << QVariant(u"Nick"_s);
        QTest::newRow("parameter name folded beyond ASCII") << QByteArray("NOTE;CHAR\xc5\xbf"
                                                                          "ET=ISO-8859-1:\xe6")
                                                            << int(pim::ENTITY_NOTE) << u"data1"_s << QVariant(u"æ"_s);
        QTest::newRow("bare QUOTED-PRINTABLE, escapes kept")
            << QByteArray("NOTE;QUOTED-PRINTABLE:a=3Db\\n") << int(pim::ENTITY_NOTE) << u"data1"_s
            << QVariant(u"a=b\\n"_s);
        QTest::newRow("unknown charset: local 8-bit")
            << QByteArray("NOTE;CHARSET=NO-SUCH:\xc3\xa6") << int(pim::ENTITY_NOTE) << u"data1"_s << QVariant(u"æ"_s);
    }

    // The rules a QMap of parameters gave the mapping, now that the parameters are read without one.
    void lookupRules()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, type);
        QFETCH(QString, column);
        QFETCH(QVariant, expected);
        const QByteArray bytes = card("N:Smith;John\r\n" + line);
        const QList<pim::Contact> contacts = vcard::contactsFromBytes(bytes);
        QCOMPARE(contacts.size(), 1);
        QCOMPARE(contacts.first().firstRow(type).value(column), expected);
        QCOMPARE(exact(contacts), exact(viaCards(bytes)));
    }

    // A codec is reused from one value to the next: a sequence cut at the end of one value must not reach into
    // the next, and an empty component stays a null text as it always was.
    void codecsAndComponents()
    {
        const QByteArray bytes = card("N;CHARSET=UTF-8:;J\xc3\xb8rn;;;\r\n"
                                      "NOTE;CHARSET=UTF-8:abc\xc3\r\n"
                                      "TITLE;CHARSET=UTF-8:\xa6x",
                                      "3.0");
        const QList<pim::Contact> contacts = vcard::contactsFromBytes(bytes);
        QCOMPARE(contacts.size(), 1);
        const pim::Contact &c = contacts.first();
        QCOMPARE(c.firstRow(pim::ENTITY_NAME).text(u"data2"_s), u"Jørn"_s);
        QVERIFY(c.firstRow(pim::ENTITY_NAME).value(u"data3"_s).toString().isNull());
        QCOMPARE(c.firstRow(pim::ENTITY_NOTE).text(u"data1"_s), u"abc"_s);
        QCOMPARE(c.firstRow(pim::ENTITY_ORGANIZATION).text(u"data4"_s), QString(QChar::ReplacementCharacter) + u'x');
        QCOMPARE(exact(contacts), exact(viaCards(bytes)));
    }

    // Folds are judged per card by its own VERSION, wherever it stands; a card left open ends at the next
    // BEGIN; lines between cards are skipped.
    void cardBoundaries()
    {
        const QByteArray bytes = "BEGIN:VCARD\r\nN:One;A\r\nNOTE:ab\r\n cd\r\nVERSION:3.0\r\n"
                                 "BEGIN:VCARD\r\nN:Two;B\r\nNOTE:ab\r\n cd\r\nEND:VCARD\r\n"
                                 "NOTE:outside\r\n"
                                 "begin:vcard\r\nn:Three;C\r\nend:vcard";
        const QList<pim::Contact> contacts = vcard::contactsFromBytes(bytes);
        QCOMPARE(contacts.size(), 3);
        QCOMPARE(contacts.at(0).firstRow(pim::ENTITY_NOTE).text(u"data1"_s), u"abcd"_s);
        QCOMPARE(contacts.at(1).firstRow(pim::ENTITY_NOTE).text(u"data1"_s), u"ab cd"_s);
        QCOMPARE(contacts.at(2).full_name, u"C Three"_s);
        QVERIFY(!contacts.at(2).hasRows(pim::ENTITY_NOTE));
        QCOMPARE(exact(contacts), exact(viaCards(bytes)));
    }

    // A file read from a device a piece at a time gives what the whole file gives, wherever the pieces end: in a
    // quoted-printable soft line break, before END:VCARD, inside a Base64 photo or a UTF-8 sequence, after a byte
    // order mark; text in UTF-16 is read whole. Counting alone finds as many cards and skipped lines.
    void readsInPieces()
    {
        QList<QPair<QString, QByteArray>> inputs;
        for (const char *dir : {VCARD_DATA_DIR "/corpus", SHARED_CORPUS_DIR}) {
            const QDir d(QString::fromUtf8(dir));
            for (const QString &name : d.entryList({u"*.vcf"_s}, QDir::Files)) {
                QFile f(d.filePath(name));
                QVERIFY(f.open(QIODevice::ReadOnly));
                inputs.append({name, f.readAll()});
            }
        }
        QVERIFY(inputs.size() > 20);
        const QByteArray crafted =
            card("N:Qp;Soft\r\nNOTE;ENCODING=QUOTED-PRINTABLE:first=\r\nsecond=3D=\r\n=C3=A6 end=") +
            card("N:Photo;P\r\nPHOTO;ENCODING=b:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g\r\n ISIjJCUmJygp", "3.0") +
            card("N:Bad;B\r\nPHOTO;ENCODING=b:AA*A\r\nTEL:1\r\n:nothing\r\nno colon") +
            "BEGIN:VCARD\r\nN:Open;O\r\nNOTE;ENCODING=QUOTED-PRINTABLE:x=";
        inputs.append({u"crafted"_s, crafted});
        inputs.append({u"crafted with a mark"_s, "\xEF\xBB\xBF" + crafted});
        inputs.append({u"crafted, long lines"_s, crafted.repeated(3) + card("NOTE:" + QByteArray(5000, 'n'))});
        QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        inputs.append({u"UTF-16"_s, utf16.encode(QString::fromUtf8(crafted))});

        for (const auto &[name, bytes] : std::as_const(inputs)) {
            const Reading whole = readWhole(bytes);
            for (const qsizetype piece : {16, 17, 23, 64, 1000, 1 << 20}) {
                const Reading pieces = readInPieces(bytes, piece);
                const QByteArray where = name.toUtf8() + " in pieces of " + QByteArray::number(piece);
                QVERIFY2(pieces.contacts == whole.contacts, where.constData());
                QVERIFY2(pieces.errorOffset == whole.errorOffset, where.constData());
                QVERIFY2(pieces.skipped == whole.skipped, where.constData());
                const Reading counted = countInPieces(bytes, piece);
                QVERIFY2(counted.cards == whole.cards, where.constData());
                QVERIFY2(counted.skipped == whole.skipped, where.constData());
            }
        }
    }

    // The importer hands out every card's contact once, in file order, photos included; a nameless card
    // counts as a record with an empty name.
    void importerHandsOut()
    {
        QByteArray bytes;
        for (int i = 0; i < 40; ++i)
            bytes += card("N:Family" + QByteArray::number(i) + ";Given\r\nTEL;TYPE=cell:" + QByteArray::number(i) +
                              (i % 7 == 0 ? "\r\nPHOTO;ENCODING=b:AAECAwQF\r\n BgcI" : ""),
                          "3.0");
        bytes += card("NOTE:no name");
        QTemporaryDir dir;
        const QString path = dir.filePath(u"in.vcf"_s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();

        VCardImport importer;
        importer.open(path);
        QCOMPARE(importer.count(), 41);
        QList<pim::Contact> handed;
        while (importer.hasNext()) {
            pim::Contact c;
            importer.next(c);
            handed.append(c);
        }
        importer.close();
        QCOMPARE(handed.size(), 41);
        QCOMPARE(handed.at(3).full_name, u"Given Family3"_s);
        QCOMPARE(handed.at(7).firstRow(pim::ENTITY_PHOTO).value(u"data15"_s).toByteArray(),
                 QByteArray("\x00\x01\x02\x03\x04\x05\x06\x07\x08", 9));
        QVERIFY(handed.last().full_name.isEmpty());
        QCOMPARE(exact(handed), exact(viaCards(bytes)));
    }
};

QTEST_GUILESS_MAIN(TestVCardReader)
#include "tst_vcardreader.moc"
