// The byte level of contact files: byte order marks and wide encodings, a CSV quote that never closes, NUL bytes,
// and vCard values folded over millions of lines.

#include "core/texts.h"
#include "fileio/csvimport.h"
#include "fileio/textencoding.h"
#include "fileio/vcard.h"
#include "fileio/vcardreader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kTwoCards = u"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ärger;Zoë;;;\r\nTEL:+49 30 1234\r\nEND:VCARD\r\n"
                          "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Łukasz;Ewa;;;\r\nEND:VCARD\r\n"_s;

const QString kCsv = u"First Name,Last Name,Mobile Phone\r\nZoë,Ärger,+49 30 1234\r\nEwa,Łukasz,+48 22 5678\r\n"_s;

QByteArray encoded(const QString &text, int encoding)
{
    switch (encoding) {
    case 0:
        return text.toUtf8();
    case 1:
        return "\xEF\xBB\xBF" + text.toUtf8();
    default:
        break;
    }
    const QStringEncoder::Encoding wide[] = {QStringEncoder::Utf16LE, QStringEncoder::Utf16BE, QStringEncoder::Utf16LE,
                                             QStringEncoder::Utf32LE};
    const int which = encoding - 2;
    // Rows 2, 3 and 5 carry a byte order mark; row 4 is UTF-16LE without one.
    QStringEncoder encoder(wide[which], which == 2 ? QStringEncoder::Flag::Default : QStringEncoder::Flag::WriteBom);
    return encoder.encode(text);
}

void encodings()
{
    QTest::addColumn<int>("encoding");
    QTest::newRow("UTF-8") << 0;
    QTest::newRow("UTF-8 with byte order mark") << 1;
    QTest::newRow("UTF-16LE with byte order mark") << 2;
    QTest::newRow("UTF-16BE with byte order mark") << 3;
    QTest::newRow("UTF-16LE without byte order mark") << 4;
    QTest::newRow("UTF-32LE with byte order mark") << 5;
}

QString writeTemp(const QTemporaryDir &dir, const QByteArray &bytes)
{
    const QString path = dir.filePath(u"contacts.csv"_s);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

QStringList namesOf(CSVImport &import)
{
    QStringList names;
    while (import.hasNext()) {
        pim::Contact c;
        import.next(c);
        names << c.full_name;
    }
    return names;
}

} // namespace

class TestTextBytes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(installEnglishTranslation(*QCoreApplication::instance())); }

    // A byte order mark hid the first card; UTF-16 read as nothing, "successfully".
    void vcardEncodings_data() { encodings(); }
    void vcardEncodings()
    {
        QFETCH(int, encoding);
        const QList<pim::Contact> contacts = vcard::contactsFromBytes(encoded(kTwoCards, encoding));
        QCOMPARE(contacts.size(), 2);
        QCOMPARE(contacts[0].full_name, u"Zoë Ärger"_s);
        QCOMPARE(contacts[0].firstRow(pim::ENTITY_PHONE).text(u"data1"_s), u"+49 30 1234"_s);
        QCOMPARE(contacts[1].full_name, u"Ewa Łukasz"_s);
    }

    void csvEncodings_data() { encodings(); }
    void csvEncodings()
    {
        QFETCH(int, encoding);
        QTemporaryDir dir;
        CSVImport import;
        import.open(writeTemp(dir, encoded(kCsv, encoding)));
        QCOMPARE(import.count(), 2);
        QCOMPARE(namesOf(import), QStringList({u"Zoë Ärger"_s, u"Ewa Łukasz"_s}));
        QVERIFY(import.warning().isEmpty());
    }

    // Detection keeps what is not wide text as it is: Latin-1 bytes, a lone zero byte, short files.
    void plainBytesStayPlain()
    {
        for (const QByteArray &bytes : {QByteArray("Name\xE4,x\n"), QByteArray("a\0", 2), QByteArray("\xFF"),
                                        QByteArray(), QByteArray("\0\0\0\0", 4)}) {
            QCOMPARE(int(fileio::detectEncoding(bytes)), int(fileio::TextEncoding::Plain));
            QByteArray storage;
            QCOMPARE(fileio::asUtf8Text(bytes, storage).toByteArray(), bytes);
        }
    }

    // A quote that never closes swallowed the rest of the file into one field (58 MB into one name) or gave 0
    // contacts "successfully": the rows before it are read, and the line where its row begins is reported.
    void csvQuoteThatNeverCloses()
    {
        QTemporaryDir dir;
        CSVImport import;
        import.open(writeTemp(dir, "First Name,Last Name,Notes\nAnna,Berg,\"fine\nsecond line\"\nMark,Cole,x\n"
                                   "Zoe,Adams,\"never closed\nRest,Of,File\nMore,Rows,Here\n"));
        QCOMPARE(namesOf(import), QStringList({u"Anna Berg"_s, u"Mark Cole"_s}));
        QVERIFY2(import.warning().contains(u"Line 5"_s), qPrintable(import.warning()));

        // Nothing before it: nothing to import, and that is an error naming the line.
        CSVImport first;
        const QString path = writeTemp(dir, "First Name,Last Name\n\"Anna,Berg\nMark,Cole\n");
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, first.open(path));
        try {
            first.open(path);
        } catch (const std::runtime_error &e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(u"Line 2"_s), e.what());
        }
        CSVImport header;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, header.open(writeTemp(dir, "\"First Name,Last Name\nA,B\n")));

        // A quote closed on the very last byte is no warning.
        CSVImport closed;
        closed.open(writeTemp(dir, "First Name,Notes\nAnna,\"x\"\n"));
        QVERIFY(closed.warning().isEmpty());
        QCOMPARE(closed.count(), 1);
    }

    // A NUL byte cut a field short wherever the text went on as a C string; NUL bytes are dropped instead.
    void csvNulBytesAreDropped()
    {
        QTemporaryDir dir;
        CSVImport import;
        import.open(writeTemp(dir, QByteArray("First Name,Last Name\nAn\0na,Be\0rg\n", 32)));
        QCOMPARE(namesOf(import), QStringList{u"Anna Berg"_s});
    }

    // A vCard 3.0 note folded over 400,000 lines took minutes (every fold moved the rest of the value); now its
    // time grows with its length only, and the folds are gone from the value.
    void foldsAreRemovedInLinearTime()
    {
        const int lines = 400000;
        QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Long Note\r\nNOTE:";
        card.reserve(card.size() + qsizetype(lines) * 8 + 64);
        for (int i = 0; i < lines; ++i)
            card += i == 0 ? "abcd" : "\r\n abcd";
        card += "\r\nEND:VCARD\r\n";
        QElapsedTimer clock;
        clock.start();
        qsizetype noteSize = -1;
        bool clean = false;
        vcard::detail::readCards(card, [&](const vcard::detail::CardView &view) {
            for (const auto &p : view) {
                if (p.kind == vcard::detail::PropertyKind::Note) {
                    noteSize = p.value.size();
                    clean = !p.value.contains(' ') && p.value.startsWith("abcdabcd") && p.value.endsWith("abcdabcd");
                }
            }
        });
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(noteSize, qsizetype(lines) * 4);
        QVERIFY(clean);
    }
};

QTEST_GUILESS_MAIN(TestTextBytes)
#include "tst_textbytes.moc"
