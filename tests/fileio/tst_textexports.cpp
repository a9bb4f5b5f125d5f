// The text table, the HTML page (also the Word file) with its photo folder, and the printed cards written as
// a PDF: what a user opens after an export, checked in the files themselves.

#include "contactfixtures.h"
#include "core/progress.h"
#include "core/texts.h"
#include "fileio/contactsprinter.h"
#include "fileio/exporttofilethread.h"
#include "fileio/fileformats.h"
#include "fileio/txtexport.h"
#include "testfiles.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

using namespace Qt::StringLiterals;
using fixtures::person;
using fixtures::row;

namespace {

QByteArray jpeg(Qt::GlobalColor colour)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

// Runs the export thread to its end; returns its message.
QString exportTo(const QList<pim::Contact> &contacts, int kind, const QString &path)
{
    ProgressObject progress;
    ExportToFileThread worker(contacts, kind, path, &progress);
    worker.start();
    worker.wait(60000);
    QCoreApplication::sendPostedEvents();
    return progress.message();
}

QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QLatin1String(name));
}

int pdfPages(const QString &path)
{
    QProcess p;
    p.start(tool("pdfinfo"), {path});
    p.waitForFinished(30000);
    static const QRegularExpression pages(u"Pages:\\s+(\\d+)"_s);
    return pages.match(QString::fromUtf8(p.readAllStandardOutput())).captured(1).toInt();
}

// A page of the PDF as an image, at 40 dots per inch.
QImage pdfPage(const QString &path, int page)
{
    const QString prefix = QFileInfo(path).absolutePath() + u"/page"_s;
    QProcess p;
    p.start(tool("pdftoppm"), {u"-png"_s, u"-r"_s, u"40"_s, u"-f"_s, QString::number(page), u"-l"_s,
                               QString::number(page), u"-singlefile"_s, path, prefix});
    p.waitForFinished(30000);
    return QImage(prefix + u".png"_s);
}

// True when some pixel of the area is not white.
bool inked(const QImage &image, const QRect &area)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (QColor(image.pixel(x, y)).lightness() < 250)
                return true;
    return false;
}

} // namespace

class TestTextExports : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }

    // Columns padded to their widths; line breaks become spaces; a value longer than its column shifts the
    // rest.
    void textTable()
    {
        pim::Contact a = person(u"Anna"_s, u"Berg"_s);
        a.addRow(pim::ENTITY_EVENT, row({{1, u"1980-02-29"_s}, {2, u"3"_s}}));
        a.addRow(pim::ENTITY_ADDRESS, row({{2, u"1"_s}, {4, u"Storgata 1\r\nBakgården"_s}}));
        a.addRow(pim::ENTITY_WEBSITE, row({{1, u"https://anna.no"_s}, {2, u"1"_s}}));
        a.addRow(pim::ENTITY_NOTE, row({{1, u"line one\nline two"_s}}));
        pim::Contact b = person(u"Bartholomew-Alexander Maximilian"_s, u"Cole"_s);
        TxtExport exporter;
        const auto pad = [](const char *text, int width) { return QByteArray(text).leftJustified(width, ' '); };
        QCOMPARE(exporter.header({a, b}), pad("First Name", 25) + pad("Last Name", 25) + pad("Date:Birthday", 20) +
                                              pad("Addr:Home:Street", 50) + pad("Url:Home page", 60) +
                                              pad("Notes", 100) + '\n');
        QCOMPARE(exporter.exportContact(a), pad("Anna", 25) + pad("Berg", 25) + pad("1980-02-29", 20) +
                                                pad("Storgata 1  Bakg\xC3\xA5rden", 51) + pad("https://anna.no", 60) +
                                                pad("line one line two", 100) + '\n');
        QCOMPARE(exporter.exportContact(b), "Bartholomew-Alexander Maximilian" + pad("Cole", 25) + pad("", 20) +
                                                pad("", 50) + pad("", 60) + pad("", 100) + '\n');
    }

    // The page, the cards and their escaping, the photo folder with the default picture; a second export into
    // the same folder replaces the contact photos and keeps the default picture.
    void htmlPage()
    {
        pim::Contact tom = person(u"<Tom"_s, u"& Jerry>"_s, u"<555>"_s);
        tom._id = 7;
        tom.addRow(pim::ENTITY_PHOTO, row({{15, jpeg(Qt::red)}}));
        tom.addRow(pim::ENTITY_NICKNAME, row({{1, u"T&J"_s}}));
        tom.addRow(pim::ENTITY_ORGANIZATION, row({{1, u"Acme"_s}, {4, u"Chaser"_s}, {5, u"Cats & Mice"_s}}));
        tom.addRow(pim::ENTITY_ORGANIZATION, row({{1, u"Side <Job>"_s}, {4, u"Pianist"_s}}));
        tom.addRow(pim::ENTITY_ADDRESS, row({{2, u"2"_s}, {4, u"1 <Hall>"_s}, {7, u"Town"_s}}));
        tom.addRow(pim::ENTITY_NOTE, row({{1, u"<script>alert(1)</script>"_s}}));
        pim::Contact plain = person(u"Anna"_s, u"Berg"_s);
        plain._id = 8;
        plain.addRow(pim::ENTITY_PHOTO, row({{15, QByteArray("not an image")}}));
        plain.addRow(pim::ENTITY_ORGANIZATION, row({{1, u"Only"_s}}));

        QTemporaryDir dir;
        const QString chosen = dir.filePath(u"contacts.html"_s);
        QCOMPARE(exportTo({tom, plain}, fileio::ExportHtml, chosen), u"Successfully exported 2 contacts to File."_s);
        const QString page = QString::fromUtf8(readFile(chosen + u"/contacts.html"_s));
        QVERIFY(page.startsWith(u"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "_s));
        QVERIFY(page.contains(u"<title>Tallowbrook Contact Mover</title>\r\n"_s));
        QVERIFY(page.endsWith(u"</body></html>"_s));
        QVERIFY(page.contains(u"<img class=\"photo\" src=\"photos/7.jpg\" width=\"128\" />\r\n"_s));
        QVERIFY(page.contains(u"<div class=\"ct_name\">\r\n&lt;Tom &amp; Jerry&gt;<br/>\"T&amp;J\"<br/>Chaser - "
                              "Cats &amp; Mice<br/>Acme\r\n</div><div style=\"clear:both\"></div>\r\n"_s));
        QVERIFY(page.contains(u"<li>Mobile:&lt;555&gt;</li>"_s));
        QVERIFY(page.contains(u"<li>Other:Pianist Side &lt;Job&gt;</li>"_s));
        QVERIFY(page.contains(u"<li><b>Work</b><br/>1 &lt;Hall&gt;<br/>Town</li>"_s));
        QVERIFY(page.contains(u"<li>&lt;script&gt;alert(1)&lt;/script&gt;</li>"_s));
        QVERIFY(!page.contains(u"<script"_s));
        QCOMPARE(page.count(u"<h2 class=\"ent_group\">Organization:</h2>"_s), 1); // Anna has only one
        QVERIFY(page.contains(u"<img class=\"photo\" src=\"photos/contact.png\" width=\"128\" />"_s));
        QCOMPARE(QImage(chosen + u"/photos/7.jpg"_s).pixelColor(5, 5).red() > 200, true);
        QVERIFY(!QImage(chosen + u"/photos/contact.png"_s).isNull());
        QVERIFY(!QFileInfo::exists(chosen + u"/photos/8.jpg"_s));

        // Again into the same folder: the photo is written anew, the default picture kept as it is.
        QFile marker(chosen + u"/photos/contact.png"_s);
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.write("kept");
        marker.close();
        tom.entities[pim::ENTITY_PHOTO].first().setValue(u"data15"_s, jpeg(Qt::blue));
        QCOMPARE(exportTo({tom}, fileio::ExportHtml, chosen), u"Successfully exported 1 contacts to File."_s);
        QCOMPARE(readFile(chosen + u"/photos/contact.png"_s), QByteArray("kept"));
        QVERIFY(QImage(chosen + u"/photos/7.jpg"_s).pixelColor(5, 5).blue() > 200);
    }

    // Word is the HTML page in a ".doc" file inside a folder of the same name.
    void wordFile()
    {
        QTemporaryDir dir;
        const QString chosen = dir.filePath(u"friends.doc"_s);
        QCOMPARE(exportTo({person(u"Anna"_s, u"Berg"_s)}, fileio::ExportHtml, chosen),
                 u"Successfully exported 1 contacts to File."_s);
        QVERIFY(QFileInfo(chosen).isDir());
        QVERIFY(readFile(chosen + u"/friends.doc"_s).contains("<div class=\"ct_name\">\r\nAnna Berg"));
        QVERIFY(QFileInfo::exists(chosen + u"/photos/contact.png"_s));
    }

    // An output that cannot be written reports the error and leaves nothing behind.
    void unwritableOutputs_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("text") << int(fileio::ExportText);
        QTest::newRow("HTML") << int(fileio::ExportHtml);
        QTest::newRow("CSV") << int(fileio::ExportCsv);
    }

    void unwritableOutputs()
    {
        QFETCH(int, kind);
        QTemporaryDir dir;
        QFile blocker(dir.filePath(u"file"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString path = dir.filePath(u"file/out.x"_s); // below a file: no folder can be made there
        QVERIFY(!exportTo({person(u"A"_s, u"B"_s)}, kind, path).isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{u"file"_s});

        ContactsPrinter printer({person(u"A"_s, u"B"_s)});
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, printer.writePdf(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{u"file"_s});
    }

    // Eight cards to a page in two columns: nine contacts give two pages, the second with one card at the top
    // left.
    void printedPages()
    {
        if (tool("pdfinfo").isEmpty() || tool("pdftoppm").isEmpty())
            QSKIP("poppler-utils (pdfinfo, pdftoppm) are not installed");
        QList<pim::Contact> contacts;
        for (int i = 0; i < 9; ++i) {
            pim::Contact c = person(u"Person"_s, QString::number(i), u"+47 555 %1"_s.arg(i));
            c.addRow(pim::ENTITY_PHONE, row({{1, u"22 33"_s}, {2, u"3"_s}}));
            c.addRow(pim::ENTITY_EMAIL, row({{1, u"p%1@example.com"_s.arg(i)}}));
            c.addRow(pim::ENTITY_EVENT, row({{1, u"19800229"_s}, {2, u"3"_s}}));
            c.addRow(pim::ENTITY_ADDRESS, row({{4, u"Storgata 1"_s}, {7, u"Oslo"_s}, {10, u"Norway"_s}}));
            if (i == 0)
                c.addRow(pim::ENTITY_PHOTO, row({{15, jpeg(Qt::green)}}));
            if (i == 1)
                c.addRow(pim::ENTITY_PHOTO, row({{15, QByteArray("broken")}}));
            contacts << c;
        }
        QTemporaryDir dir;
        const QString nine = dir.filePath(u"nine.pdf"_s);
        QCOMPARE(ContactsPrinter(contacts).writePdf(nine), 9);
        QCOMPARE(pdfPages(nine), 2);
        const QString eight = dir.filePath(u"eight.pdf"_s);
        QCOMPARE(ContactsPrinter(contacts.mid(0, 8)).writePdf(eight), 8);
        QCOMPARE(pdfPages(eight), 1);

        const QImage second = pdfPage(nine, 2);
        QVERIFY(!second.isNull());
        const int w = second.width();
        const int h = second.height();
        QVERIFY(inked(second, QRect(0, 0, w / 2, h / 4)));                  // the card at the top left
        QVERIFY(!inked(second, QRect(w / 2 + 2, 0, w / 2 - 2, h)));         // nothing on the right
        QVERIFY(!inked(second, QRect(0, h / 4 + 2, w / 2, h * 3 / 4 - 2))); // nothing below it

        const QImage first = pdfPage(nine, 1);
        // Four rows of two cards: each quarter of the page's height holds ink on both sides.
        for (int r = 0; r < 4; ++r) {
            QVERIFY(inked(first, QRect(0, r * h / 4 + h / 16, w / 2, h / 8)));
            QVERIFY(inked(first, QRect(w / 2, r * h / 4 + h / 16, w / 2 - 1, h / 8)));
        }
        // The green photo of the first card.
        bool green = false;
        for (int y = 0; y < h / 4 && !green; ++y)
            for (int x = 0; x < w / 4 && !green; ++x) {
                const QColor c = first.pixelColor(x, y);
                green = c.green() > 200 && c.red() < 60 && c.blue() < 60;
            }
        QVERIFY(green);
    }
};

QTEST_MAIN(TestTextExports)
#include "tst_textexports.moc"
