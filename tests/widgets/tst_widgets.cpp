#include "contactfixtures.h"
#include "temphome.h"
#include "widgets/contactdisplayer.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>

using namespace Qt::StringLiterals;
using fixtures::row;

namespace {

// The shown sections, top to bottom: caption first, then the row texts.
QList<QStringList> sections(const ContactDisplayer &displayer)
{
    QList<QStringList> result;
    QLayout *content = displayer.widget()->layout();
    for (int i = 0; i < content->count(); ++i) {
        QWidget *section = content->itemAt(i)->widget();
        if (!section || section->objectName() != u"wdContactSection"_s)
            continue;
        QStringList texts;
        for (int j = 0; j < section->layout()->count(); ++j)
            texts << qobject_cast<QLabel *>(section->layout()->itemAt(j)->widget())->text();
        result << texts;
    }
    return result;
}

QLabel *nameBlock(const ContactDisplayer &displayer)
{
    return displayer.widget()->findChild<QLabel *>(u"lbContactName"_s);
}

QLabel *photoLabel(const ContactDisplayer &displayer)
{
    return displayer.widget()->findChild<QLabel *>(u"imgPhoto"_s);
}

// A press on a widget as the window system would deliver it (event filters included).
void press(QWidget *widget, Qt::MouseButton button)
{
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent event(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

QByteArray pngBytes(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(0x33, 0x99, 0xCC));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

pim::DataRow organization(const QString &company, const QString &title, const QString &department,
                          const QString &code = u"1"_s)
{
    return row({{1, company}, {2, code}, {4, title}, {5, department}});
}

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every picture the program names is built in, under both spellings of its resource path, at its size.
    void everyPictureIsBuiltIn()
    {
        const QStringList icons = {
            u"a2a"_s,          u"a2i"_s,     u"add"_s,    u"backup"_s,       u"db2a"_s,           u"db2i"_s,
            u"del"_s,          u"edit"_s,    u"exit"_s,   u"export"_s,       u"from_itunes"_s,    u"group"_s,
            u"help"_s,         u"i2a"_s,     u"i2i"_s,    u"icon_android"_s, u"icon_database"_s,  u"icon_databases"_s,
            u"icon_devices"_s, u"import"_s,  u"iphone"_s, u"new_ct"_s,       u"open_db_folder"_s, u"print"_s,
            u"remove"_s,       u"unmount"_s, u"search"_s};
        for (const QString &name : icons) {
            for (const QString &prefix : {u":res/"_s, u":/res/"_s}) {
                const QImage image(prefix + name + u".png"_s);
                QVERIFY2(image.size() == QSize(32, 32), qPrintable(prefix + name));
                QVERIFY2(image.hasAlphaChannel(), qPrintable(name));
            }
        }
        QCOMPARE(QImage(u":res/empty_contact.png"_s).size(), QSize(128, 128));
        QVERIFY(QImage(u":res/app.png"_s).width() >= 128);
        for (const QString &picture : {u":res/iphone_setting1.jpg"_s, u":res/trust-android.png"_s}) {
            const QImage image(picture);
            QVERIFY2(image.width() >= 280 && image.height() >= 160, qPrintable(picture));
        }
    }

    // The first organization goes into the name block; a section lists only the further ones.
    void nameBlockAndOrganizations()
    {
        ContactDisplayer displayer;
        pim::Contact c = fixtures::person(u"Ann"_s, u"Lee"_s);
        c.addRow(pim::ENTITY_NICKNAME, row({{1, u"Annie"_s}}));
        c.addRow(pim::ENTITY_ORGANIZATION, organization(u"Acme"_s, u"Engineer"_s, u"R&D"_s));
        displayer.setContact(c);
        QCOMPARE(nameBlock(displayer)->text(), u"Ann Lee\n\"Annie\"\nEngineer - R&D\nAcme"_s);
        QVERIFY(sections(displayer).isEmpty());

        c.addRow(pim::ENTITY_ORGANIZATION, organization(u"Beta"_s, u"Manager"_s, u"Sales"_s, u"0"_s));
        pim::DataRow custom = organization(u"Gamma"_s, QString(), QString());
        custom.setValue(u"data3"_s, u"Board"_s);
        c.addRow(pim::ENTITY_ORGANIZATION, custom);
        displayer.setContact(c);
        QCOMPARE(nameBlock(displayer)->text(), u"Ann Lee\n\"Annie\"\nEngineer - R&D\nAcme"_s);
        QCOMPARE(sections(displayer),
                 QList<QStringList>({{u"Organization:"_s, u"Other: Manager Sales Beta"_s, u"Board: Gamma"_s}}));

        // A department without a title gets its own line instead of trailing the name; an empty nickname is
        // left out.
        pim::Contact d = fixtures::person(u"Bo"_s, u"Ek"_s);
        d.addRow(pim::ENTITY_NICKNAME, row({{1, QString()}}));
        d.addRow(pim::ENTITY_ORGANIZATION, organization(u"Acme"_s, QString(), u"Sales"_s));
        displayer.setContact(d);
        QCOMPARE(nameBlock(displayer)->text(), u"Bo Ek\nSales\nAcme"_s);
    }

    void photo()
    {
        ContactDisplayer displayer;
        const QImage empty(u":/res/empty_contact.png"_s);

        // Bytes that are neither JPEG nor PNG: the empty-contact picture, and a click does nothing.
        pim::Contact c = fixtures::person(u"Ann"_s, u"Lee"_s);
        c.addRow(pim::ENTITY_PHOTO, row({{15, QByteArray("GIF89a not really")}}));
        int asked = 0;
        displayer.setSaveFileNameHandler([&asked](const QString &) {
            ++asked;
            return QString();
        });
        displayer.setContact(c);
        QLabel *photo = photoLabel(displayer);
        QCOMPARE(photo->accessibleName(), u"imgPhoto"_s);
        QCOMPARE(photo->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 empty.convertToFormat(QImage::Format_ARGB32));
        QVERIFY(photo->cursor().shape() != Qt::PointingHandCursor);
        press(photo, Qt::LeftButton);
        QCOMPARE(asked, 0);

        // A readable picture is scaled to width 128 and can be clicked.
        c.entities[pim::ENTITY_PHOTO] = {row({{15, pngBytes(64, 32)}})};
        displayer.setContact(c);
        photo = photoLabel(displayer);
        QCOMPARE(photo->pixmap().size(), QSize(128, 64));
        QCOMPARE(photo->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(photo->size(), QSize(128, 128));
    }

    void rowTexts_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<pim::DataRow>("row");
        QTest::addColumn<QString>("expected");
        const QString feb29 = QLocale::system().toString(QDate(1980, 2, 29), QLocale::ShortFormat);

        QTest::newRow("phone, custom label")
            << int(pim::ENTITY_PHONE) << row({{1, u"555-0100"_s}, {2, u"2"_s}, {3, u"Boat"_s}}) << u"Boat: 555-0100"_s;
        QTest::newRow("phone, table") << int(pim::ENTITY_PHONE) << row({{1, u"555-0100"_s}, {2, u"17"_s}})
                                      << u"Work Mobile: 555-0100"_s;
        QTest::newRow("event, ISO date") << int(pim::ENTITY_EVENT) << row({{1, u"1980-02-29"_s}, {2, u"3"_s}})
                                         << u"Birthday: "_s + feb29;
        QTest::newRow("event, basic form")
            << int(pim::ENTITY_EVENT) << row({{1, u"19800229"_s}, {2, u"3"_s}}) << u"Birthday: "_s + feb29;
        // The date as written, not moved by the zone.
        QTest::newRow("event, date-time")
            << int(pim::ENTITY_EVENT) << row({{1, u"1980-02-29T23:30:00-08:00"_s}, {2, u"1"_s}})
            << u"Anniversary: "_s + feb29;
        QTest::newRow("event, date value")
            << int(pim::ENTITY_EVENT) << row({{1, QDate(1980, 2, 29)}, {2, u"0"_s}}) << u"Other: "_s + feb29;
        QTest::newRow("event, not a date")
            << int(pim::ENTITY_EVENT) << row({{1, u"next spring"_s}, {2, u"3"_s}}) << u"Birthday: "_s;
        QTest::newRow("event, no such day")
            << int(pim::ENTITY_EVENT) << row({{1, u"19810229"_s}, {2, u"3"_s}}) << u"Birthday: "_s;
        QTest::newRow("IM") << int(pim::ENTITY_IM) << row({{1, u"ann42"_s}, {2, u"1"_s}, {5, u"5"_s}})
                            << u"Home: ann42(QQ)"_s;
        QTest::newRow("address, three lines") << int(pim::ENTITY_ADDRESS)
                                              << row({{2, u"1"_s},
                                                      {4, u"1 Main St"_s},
                                                      {7, u"Springfield"_s},
                                                      {8, u"IL"_s},
                                                      {9, u"62704"_s},
                                                      {10, u"USA"_s}})
                                              << u"<b>Home</b><br/>1 Main St<br/>Springfield, IL 62704<br/>USA"_s;
        QTest::newRow("address, markup in values")
            << int(pim::ENTITY_ADDRESS) << row({{2, u"0"_s}, {3, u"<i>Villa</i>"_s}, {4, u"Rue <b> & Co"_s}})
            << u"<b>&lt;i&gt;Villa&lt;/i&gt;</b><br/>Rue &lt;b&gt; &amp; Co"_s;
    }

    void rowTexts()
    {
        QFETCH(int, type);
        QFETCH(pim::DataRow, row);
        QFETCH(QString, expected);
        QCOMPARE(ContactDisplayer::rowText(type, row), expected);
    }

    // Sections come in a fixed order whatever order the rows were added in; rows keep their own order. Markup in a
    // contact's values is shown as written.
    void sectionsInOrderAndShownLiterally()
    {
        pim::Contact c = fixtures::person(u"<b>x</b>"_s, QString());
        c.addRow(pim::ENTITY_NOTE, row({{1, u"a < b & c\nsecond line"_s}}));
        c.addRow(pim::ENTITY_WEBSITE, row({{1, u"https://example.org"_s}, {2, u"1"_s}}));
        c.addRow(pim::ENTITY_ADDRESS, row({{2, u"2"_s}, {4, u"<script>x</script>"_s}}));
        c.addRow(pim::ENTITY_RELATION, row({{1, u"Bo"_s}, {2, u"2"_s}}));
        c.addRow(pim::ENTITY_GROUP, row({{1, u"3"_s}, {2, u"Friends"_s}}));
        c.addRow(pim::ENTITY_IM, row({{1, u"ann"_s}, {2, u"0"_s}, {6, u"Chat"_s}}));
        c.addRow(pim::ENTITY_EVENT, row({{1, u"x"_s}, {2, u"3"_s}}));
        c.addRow(pim::ENTITY_EMAIL, row({{1, u"b@example.org"_s}, {2, u"2"_s}}));
        c.addRow(pim::ENTITY_EMAIL, row({{1, u"a@example.org"_s}, {2, u"1"_s}}));
        c.addRow(pim::ENTITY_PHONE, row({{1, u"<i>1</i>"_s}, {2, u"2"_s}}));
        c.addRow(pim::ENTITY_ORGANIZATION, organization(u"Acme"_s, QString(), QString()));
        c.addRow(pim::ENTITY_ORGANIZATION, organization(u"Beta"_s, QString(), QString()));

        ContactDisplayer displayer;
        displayer.setContact(c);
        const QList<QStringList> shown = sections(displayer);
        QStringList captions;
        for (const QStringList &s : shown)
            captions << s.first();
        QCOMPARE(captions, QStringList({u"Phone:"_s, u"E-Mail:"_s, u"Date:"_s, u"IM:"_s, u"Organization:"_s,
                                        u"Relationship:"_s, u"Address:"_s, u"Website:"_s, u"Notes:"_s}));
        QCOMPARE(shown[1].mid(1), QStringList({u"Work: b@example.org"_s, u"Home: a@example.org"_s}));

        // Only the address row is rich text; every other label shows its text as written.
        QCOMPARE(nameBlock(displayer)->text(), u"<b>x</b>\nAcme"_s);
        QCOMPARE(nameBlock(displayer)->textFormat(), Qt::PlainText);
        QCOMPARE(shown[0][1], u"Mobile: <i>1</i>"_s);
        QCOMPARE(shown[8][1], u"a < b & c\nsecond line"_s);
        for (QLabel *label : displayer.widget()->findChildren<QLabel *>(u"lbSectionRow"_s)) {
            if (label->textFormat() == Qt::RichText) {
                QTextDocument doc;
                doc.setHtml(label->text());
                QCOMPARE(doc.toPlainText(), u"Work\n<script>x</script>"_s);
            } else {
                QCOMPARE(label->textFormat(), Qt::PlainText);
            }
        }

        // Clearing leaves an empty view.
        displayer.clear();
        QCOMPARE(displayer.widget()->layout()->count(), 0);
        QVERIFY(!photoLabel(displayer));
    }

    // A click on the photo writes the photo row's bytes unchanged to the chosen file.
    void photoClickSavesRawBytes()
    {
        TempHome home;
        const QByteArray bytes = pngBytes(20, 30);
        pim::Contact c = fixtures::person(u"AC/DC"_s, u"Band"_s);
        c.addRow(pim::ENTITY_PHOTO, row({{15, bytes}, {4, u"digest"_s}}));
        c.addRow(pim::ENTITY_PHOTO, row({{15, pngBytes(5, 5)}}));

        ContactDisplayer displayer;
        QStringList proposals, warnings;
        QString answer;
        displayer.setSaveFileNameHandler([&](const QString &proposed) {
            proposals << proposed;
            return answer;
        });
        displayer.setWarningHandler([&](const QString &text) { warnings << text; });
        displayer.setContact(c);
        displayer.resize(400, 600);
        displayer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&displayer));
        QLabel *photo = photoLabel(displayer);

        // The right button does nothing; cancelling the dialog writes nothing.
        press(photo, Qt::RightButton);
        QVERIFY(proposals.isEmpty());
        press(photo, Qt::LeftButton);
        // Home folder, full name + ".jpg"; the slash of the name does not point into a folder.
        QCOMPARE(proposals, QStringList({QDir::home().filePath(u"AC_DC Band.jpg"_s)}));
        QVERIFY(QDir(home.path()).entryList(QDir::Files).isEmpty());

        answer = home.filePath(u"photo.jpg"_s);
        press(photo, Qt::LeftButton);
        QFile saved(answer);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), bytes);
        QVERIFY(warnings.isEmpty());

        // A file that cannot be opened: its error in a warning, nothing written.
        answer = home.filePath(u"missing/folder/photo.jpg"_s);
        press(photo, Qt::LeftButton);
        QCOMPARE(warnings.size(), 1);
        QVERIFY(!warnings.first().isEmpty());
        QVERIFY(!QFile::exists(answer));
    }

    // The content is as wide as the visible area and as tall as its wrapped text needs; never scrolled sideways.
    void contentFollowsWidth()
    {
        pim::Contact c = fixtures::person(u"Ann"_s, u"Lee"_s);
        c.addRow(pim::ENTITY_NOTE, row({{1, QString(u"word "_s).repeated(120)}}));
        ContactDisplayer displayer;
        displayer.setContact(c);
        displayer.resize(600, 2000);
        displayer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&displayer));
        QCOMPARE(displayer.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(displayer.widget()->width(), displayer.viewport()->width());
        const int wideHeight = displayer.widget()->height();

        displayer.resize(300, 2000);
        QCOMPARE(displayer.widget()->width(), displayer.viewport()->width());
        QVERIFY(displayer.widget()->height() > wideHeight);
        // Everything fits: the last label ends inside the content.
        const QList<QLabel *> rows = displayer.widget()->findChildren<QLabel *>(u"lbSectionRow"_s);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first()->height(), rows.first()->heightForWidth(rows.first()->width()));

        // A contact set while the view is on screen is shown; so is the empty view after clearing.
        displayer.setContact(fixtures::person(u"Bo"_s, u"Ek"_s));
        QVERIFY(displayer.widget()->isVisible());
        QVERIFY(nameBlock(displayer)->isVisible());
        QCoreApplication::processEvents();
        QVERIFY(displayer.widget()->height() >= 128);
        displayer.clear();
        QVERIFY(displayer.widget()->isVisible());
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
