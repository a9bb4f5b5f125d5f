// Contact and device text never becomes markup: every field of a contact written with HTML in it comes out of
// the HTML export escaped, and a worker's error text (which can quote what a phone or a file said) is shown
// escaped in the rich-text error box.

#include "app/messagebox.h"
#include "app/progressform.h"
#include "contacts/backupcontactstolocalthread.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "fileio/htmlexport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kEvil = u"<img src=\"x\" onerror=\"alert(1)\">&amp;</li><script>bad()</script>"_s;

pim::DataRow row(std::initializer_list<std::pair<const char *, QVariant>> columns)
{
    pim::DataRow r;
    for (const auto &[name, value] : columns)
        r.setValue(QLatin1String(name), value);
    return r;
}

// A contact with the markup in every text a page shows, custom labels included.
pim::Contact markupContact()
{
    pim::Contact c;
    c._id = 7;
    c.full_name = kEvil;
    c.addRow(pim::ENTITY_NAME, row({{"data1", kEvil}, {"data2", kEvil}}));
    c.addRow(pim::ENTITY_NICKNAME, row({{"data1", kEvil}}));
    c.addRow(pim::ENTITY_ORGANIZATION, row({{"data1", kEvil}, {"data4", kEvil}, {"data5", kEvil}}));
    c.addRow(pim::ENTITY_ORGANIZATION, row({{"data1", kEvil}, {"data2", 0}, {"data3", kEvil}}));
    for (int type :
         {pim::ENTITY_PHONE, pim::ENTITY_EMAIL, pim::ENTITY_RELATION, pim::ENTITY_WEBSITE, pim::ENTITY_EVENT})
        c.addRow(type, row({{"data1", kEvil}, {"data2", 0}, {"data3", kEvil}}));
    c.addRow(pim::ENTITY_IM, row({{"data1", kEvil}, {"data2", 0}, {"data3", kEvil}, {"data5", -1}, {"data6", kEvil}}));
    c.addRow(pim::ENTITY_ADDRESS, row({{"data2", 0},
                                       {"data3", kEvil},
                                       {"data4", kEvil},
                                       {"data7", kEvil},
                                       {"data8", kEvil},
                                       {"data9", kEvil},
                                       {"data10", kEvil}}));
    c.addRow(pim::ENTITY_NOTE, row({{"data1", kEvil}}));
    return c;
}

} // namespace

class TestHtmlRobust : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }

    void htmlExportEscapesEveryField()
    {
        QTemporaryDir dir;
        HtmlExport exporter(dir.path());
        const QList<pim::Contact> contacts{markupContact()};
        const QString page =
            QString::fromUtf8(exporter.header(contacts) + exporter.exportContact(contacts.first()) + exporter.footer());
        QVERIFY2(!page.contains(u"<img src=\"x\""_s), qPrintable(page));
        QVERIFY(!page.contains(u"<script>"_s));
        QVERIFY(!page.contains(u"&amp;</li>"_s)); // the contact's "&amp;" is itself escaped: "&amp;amp;"
        // Every field is there, escaped: name, nickname, title, department, company (twice), the labelled rows'
        // values and labels, the IM protocol, five address parts and the note.
        const QString escaped = kEvil.toHtmlEscaped();
        QVERIFY2(page.count(escaped) >= 20, qPrintable(QString::number(page.count(escaped))));
        // The page's own markup stays markup.
        QVERIFY(page.contains(u"<ul class=\"ent_list\">"_s));
    }

    void workerErrorIsShownAsText()
    {
        QTemporaryDir dir;
        LocalDb target(dir.filePath(u"t.db"_s), PContactCombineRule(new LocalDbCombineRule));
        target.createFromTemplate();
        target.db().executeThrow(Sqlite3Sql(u"create trigger boom before insert on contact begin select "
                                            "raise(abort, '<b>full</b> & <img src=\"x\">'); end"_s));
        pim::Contact c;
        c.full_name = u"Anna"_s;
        c.addRow(pim::ENTITY_NAME, row({{"data2", u"Anna"_s}}));
        ProgressForm form(u"t"_s);
        BackupContactsToLocalThread worker({c}, &target, &form);
        MessageBox::queueAnswer(MessageBox::Ok);
        QVERIFY(!form.runWorker(&worker));
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(u"&lt;b&gt;full&lt;/b&gt; &amp; &lt;img src=&quot;x&quot;&gt;"_s),
                 qPrintable(shown.first()));
        QVERIFY(!shown.first().contains(u"<img src"_s));
    }
};

QTEST_MAIN(TestHtmlRobust)
#include "tst_htmlrobust.moc"
