// The window's file commands as a user runs them, headless: import a vCard file into a new database through
// the file dialog, the database dialog and the progress dialog; then export that node to a file and read it
// back.

#include "filedialogs.h"
#include "itemmodelcontacts.h"
#include "itemmodelmaintree.h"
#include "localdb.h"
#include "localdbselform.h"
#include "mainwindow.h"
#include "messagebox.h"
#include "temphome.h"
#include "texts.h"
#include "vcard.h"

#include <QAction>
#include <QDir>
#include <QRegularExpression>
#include <QTest>

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
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miImport")->trigger();
        QCOMPARE(FileDialogs::lastOffer().path, QDir::homePath());
        QCOMPARE(FileDialogs::lastOffer().filters, u"VCard Files(*.vcf)"_s);
        QCOMPARE(MessageBox::takeShownTexts(),
                 QStringList{u"Successfully imported 2 contacts, with 1 repeated contacts merged."_s});

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
};

QTEST_MAIN(TestFileIoWindow)
#include "tst_fileiowindow.moc"
