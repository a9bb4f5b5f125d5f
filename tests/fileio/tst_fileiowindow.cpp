// The window's file commands as a user runs them, headless: import a vCard file into a new database through
// the file dialog, the database dialog and the progress dialog; then export that node to a file and read it
// back. Likewise a CSV file, exported in every format, and printed through the print preview.

#include "app/contactsprintpreview.h"
#include "app/filedialogs.h"
#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/localdbselform.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "fileio/vcard.h"
#include "temphome.h"

#include <QAction>
#include <QDir>
#include <QRegularExpression>
#include <QTest>
#include <QTreeView>

using namespace Qt::StringLiterals;

class TestFileIoWindow : public QObject
{
    Q_OBJECT

    static QStringList names(const QList<pim::Contact> &contacts)
    {
        QStringList out;
        for (const pim::Contact &c : contacts)
            out << c.full_name;
        return out;
    }

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }

    void importThenExportThroughTheWindow()
    {
        TempHome home;
        const QByteArray photo = QByteArray::fromBase64(
            "/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAP//////////////////////////////////////////////////////////////"
            "////////////////////////wAALCAABAAEBAREA/8QAFAABAAAAAAAAAAAAAAAAAAAACf/"
            "EABQQAQAAAAAAAAAAAAAAAAAAAAD/2gAIAQEAAD8AKp//2Q==");
        const QByteArray file =
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna;;;\r\nTEL;TYPE=cell:+47 555 "
            "0100\r\nPHOTO;ENCODING=b;TYPE=JPEG:" +
            photo.toBase64() +
            "\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:2.1\r\nN:Cole;Mark\r\nEMAIL:mark@example.com\r\nEND:"
            "VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna\r\nNOTE:met in Oslo\r\nEND:VCARD\r\n";
        const QString path = home.filePath(u"friends.vcf"_s);
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(file);
        }

        MainWindow w;
        w.show();
        QVERIFY(w.action("miImport")->isEnabled());
        FileDialogs::queueAnswer(path, u"VCard Files(*.vcf)"_s);
        LocalDbSelForm::queueAnswer(u"friends.vcf"_s);
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miImport")->trigger();
        QCOMPARE(FileDialogs::lastOffer().path, QDir::homePath());
        QCOMPARE(FileDialogs::lastOffer().filters, u"VCard Files(*.vcf);;CSV Files(*.csv)"_s);
        // First the question with what the import will do, then what it did.
        QCOMPARE(
            MessageBox::takeShownTexts(),
            (QStringList{
                u"Import into \u201Cfriends.vcf.db\u201D?<br/><br/>2 contacts will be added, 1 merged into contacts "
                "already there and 0 left unchanged."_s,
                u"Successfully imported 2 contacts, with 1 repeated contacts merged."_s}));

        _DBItemNode *node = w.treeModel()->findDatabaseNode(u"friends.vcf.db"_s);
        QVERIFY(node);
        QCOMPARE(w.selectedDbNode(), node);
        QCOMPARE(names(w.contactsModel()->contacts()), (QStringList{u"Anna Berg"_s, u"Mark Cole"_s}));
        const pim::Contact anna = node->db->listContacts(0, QString()).first();
        QCOMPARE(anna.firstRow(pim::ENTITY_PHOTO).value(u"data15"_s).toByteArray(), photo);
        QCOMPARE(anna.firstRow(pim::ENTITY_NOTE).text(u"data1"_s), u"met in Oslo"_s);

        // Cancelling the save dialog does nothing.
        FileDialogs::queueAnswer(QString());
        w.action("miTreeExport")->trigger();
        QVERIFY(MessageBox::takeShownTexts().isEmpty());

        // Export the node: the proposed name carries the time; the chosen name gets the filter's extension.
        FileDialogs::queueAnswer(home.filePath(u"export"_s));
        MessageBox::queueAnswer(MessageBox::Ok);
        QVERIFY(w.action("miFileExport")->isEnabled());
        w.action("miFileExport")->trigger();
        QVERIFY(QRegularExpression(u"^"_s + QRegularExpression::escape(QDir::homePath()) +
                                   u"/contacts\\(\\d{8}-\\d{6}\\)$"_s)
                    .match(FileDialogs::lastOffer().path)
                    .hasMatch());
        QCOMPARE(MessageBox::takeShownTexts(), QStringList{u"Successfully exported 2 contacts to File."_s});
        QFile exported(home.filePath(u"export.vcf"_s));
        QVERIFY(exported.open(QIODevice::ReadOnly));
        const QList<pim::Contact> back = vcard::contactsFromBytes(exported.readAll());
        QCOMPARE(names(back), (QStringList{u"Anna Berg"_s, u"Mark Cole"_s}));
        QCOMPARE(back.first().firstRow(pim::ENTITY_PHOTO).value(u"data15"_s).toByteArray(), photo);
        QCOMPARE(back.first().firstRow(pim::ENTITY_PHONE).text(u"data1"_s), u"+47 555 0100"_s);
        QCOMPARE(back.last().firstRow(pim::ENTITY_EMAIL).text(u"data1"_s), u"mark@example.com"_s);
    }

    void csvImportExportAndPrint()
    {
        TempHome home;
        const QString path = home.filePath(u"people.csv"_s);
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("First Name,Last Name,Phone 1 - Label,Phone 1 - Value,E-mail 1 - Value,Notes\n"
                    "Anna,Berg,Mobile,+47 555,anna@example.com,\"Tall, fair\"\n"
                    "Mark,Cole,Work,+47 666,,<b>bold</b>\n");
        }
        MainWindow w;
        w.show();
        FileDialogs::queueAnswer(path, u"CSV Files(*.csv)"_s);
        LocalDbSelForm::queueAnswer(u"people"_s);
        MessageBox::queueAnswer(MessageBox::Yes); // the question with what will change
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miImport")->trigger();
        QCOMPARE(FileDialogs::lastOffer().filters, u"VCard Files(*.vcf);;CSV Files(*.csv)"_s);
        QCOMPARE(MessageBox::takeShownTexts().mid(1), QStringList{u"Successfully imported 2 contacts."_s});
        QCOMPARE(names(w.contactsModel()->contacts()), (QStringList{u"Anna Berg"_s, u"Mark Cole"_s}));
        const pim::Contact anna = w.contactsModel()->contacts().first();
        QCOMPARE(anna.firstRow(pim::ENTITY_PHONE).text(u"data2"_s), u"2"_s);
        QCOMPARE(anna.firstRow(pim::ENTITY_EMAIL).text(u"data1"_s), u"anna@example.com"_s);

        // Every export format; a name without suffix gets the filter's extension.
        const struct
        {
            QString filter;
            QString file;
            QByteArray content;
        } exports[] = {
            {u"CSV Files(*.csv)"_s, u"out.csv"_s, "Anna,Berg,+47 555,,anna@example.com,\"Tall, fair\"\n"},
            {u"Text Files(*.txt)"_s, u"out.txt"_s, "Tall, fair"},
            {u"HTML files(*.html)"_s, u"out.html/out.html"_s, "&lt;b&gt;bold&lt;/b&gt;"},
            {u"Word files(*.doc)"_s, u"out.doc/out.doc"_s, "<li>Mobile:+47 555</li>"},
            {u"PDF files(*.pdf)"_s, u"out.pdf"_s, "%PDF-"},
        };
        for (const auto &e : exports) {
            FileDialogs::queueAnswer(home.filePath(u"out"_s), e.filter);
            MessageBox::queueAnswer(MessageBox::Ok);
            w.action("miTreeExport")->trigger();
            QCOMPARE(FileDialogs::lastOffer().filters,
                     u"VCard Files(*.vcf);;CSV Files(*.csv);;Text Files(*.txt);;HTML files(*.html);;"
                     "Word files(*.doc);;PDF files(*.pdf)"_s);
            QCOMPARE(MessageBox::takeShownTexts(), QStringList{u"Successfully exported 2 contacts to File."_s});
            QFile out(home.filePath(e.file));
            QVERIFY2(out.open(QIODevice::ReadOnly), qPrintable(e.file));
            QVERIFY2(out.readAll().contains(e.content), qPrintable(e.file));
        }

        // A PDF that cannot be written: the error is shown, nothing is left.
        FileDialogs::queueAnswer(home.filePath(u"missing/out.pdf"_s), u"PDF files(*.pdf)"_s);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miTreeExport")->trigger();
        QCOMPARE(MessageBox::takeShownTexts().size(), 1);
        QVERIFY(!QFileInfo::exists(home.filePath(u"missing"_s)));

        // Printing the node, then one selected contact.
        ContactsPrintPreview::queueClose();
        QVERIFY(w.action("miFilePrint")->isEnabled());
        w.action("miFilePrint")->trigger();
        ContactsPrintPreview::queueClose();
        auto *list = w.findChild<QTreeView *>(u"treeContacts"_s);
        QVERIFY(list);
        list->selectionModel()->select(list->model()->index(1, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        w.action("miContactPrint")->trigger();
        const QList<ContactsPrintPreview::Shown> shown = ContactsPrintPreview::takeShown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(0).title, u"Print Contacts"_s);
        QCOMPARE(shown.at(0).size, QSize(900, 700));
        QCOMPARE(shown.at(0).pages, 1);
        QCOMPARE(shown.at(0).contactsPainted, 2);
        QCOMPARE(shown.at(1).contactsPainted, 1);
    }
};

QTEST_MAIN(TestFileIoWindow)
#include "tst_fileiowindow.moc"
