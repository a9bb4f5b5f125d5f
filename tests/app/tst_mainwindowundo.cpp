// Undo in the window: the button of the success box after a restore to a simulated Android phone, the Edit menu's
// "Undo last change on this phone" (which undoes that undo), and the same for a delete in a local database.
// Dialog answers are queued in advance.

#include "android/androidlink.h"
#include "app/datasourceselform.h"
#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "simandroidphone.h"
#include "temphome.h"
#include "windowtestcase.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTreeView>

using fixtures::person;

namespace {

using Phone = SimAndroidPhone;

QStringList names(LocalDb &db)
{
    QStringList out;
    for (const pim::Contact &c : db.listContacts(0, QString()))
        out << c.full_name;
    return out;
}

} // namespace

class TestMainWindowUndo : public WindowTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void undoARestoreFromTheSuccessBoxThenRedoFromTheMenu()
    {
        Phone b(QStringLiteral("Phone B"));
        b.companion.seed(
            "BEGIN:VCARD\nVERSION:3.0\nN:Db1;Person;;;\nTEL;TYPE=WORK:999\nEMAIL:p@example.org\nEND:VCARD\n"
            "BEGIN:VCARD\nVERSION:3.0\nN:Own;Olga;;;\nTEL;TYPE=CELL:1\nEND:VCARD\n");
        {
            LocalDb db(LocalDbFiles::pathFor(QStringLiteral("Office.db")), PContactCombineRule(new LocalDbCombineRule));
            db.createFromTemplate();
            for (int i = 0; i < 3; ++i)
                db.saveContactWithMerge(
                    person(QStringLiteral("Person"), QStringLiteral("Db%1").arg(i), QStringLiteral("777 %1").arg(i)));
        }
        const QStringList before = b.fields();
        WatchedPhones watched({b.endpoint()});
        MainWindow w;
        _DBItemNode *phone = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (phone = w.treeModel()->findDeviceNode(b.endpoint(), ItemModelMainTree::PlatformAndroid)), 20000);
        MessageBox::takeShownTexts();

        selectNode(w, w.treeModel()->findDatabaseNode(QStringLiteral("Office.db")));
        DataSourceSelForm::queueAnswer(0);
        MessageBox::queueAnswer(MessageBox::Yes);  // the preview's question
        MessageBox::queueAnswer(MessageBox::Undo); // in the success box
        MessageBox::queueAnswer(MessageBox::Yes);  // the undo's question
        MessageBox::queueAnswer(MessageBox::Ok);   // what it did
        w.action("miFileDB2A")->trigger();
        const QStringList shown = MessageBox::takeShownTexts().mid(1);
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown.at(0),
                 QStringLiteral("Successfully transferred 2 contacts to Android, with 1 repeated contacts merged."));
        QVERIFY2(shown.at(1).startsWith(QStringLiteral("Undo \"transfer\" of")), qPrintable(shown.at(1)));
        QVERIFY2(shown.at(2).contains(
                     QStringLiteral("Removed 2 added contacts, brought back 0 deleted and 1 changed contacts.")),
                 qPrintable(shown.at(2)));
        QTRY_COMPARE_WITH_TIMEOUT(b.fields(), before, 10000);
        QCOMPARE(phone->db->listContacts(0, QString()).size(), 2);

        // The undo kept a snapshot of its own: Edit > Undo brings the restore back.
        selectNode(w, phone);
        QVERIFY(w.action("miEditUndo")->isEnabled());
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miEditUndo")->trigger();
        QCOMPARE(MessageBox::takeShownTexts().size(), 2);
        QCOMPARE(b.companion.store().contactCount(), 4);
        QCOMPARE(phone->db->listContacts(0, QString()).size(), 4);
    }

    void undoADeleteInALocalDatabase()
    {
        {
            LocalDb db(LocalDbFiles::pathFor(QStringLiteral("Home.db")), PContactCombineRule(new LocalDbCombineRule));
            db.createFromTemplate();
            for (int i = 0; i < 3; ++i)
                db.saveContactWithMerge(
                    person(QStringLiteral("Home"), QStringLiteral("H%1").arg(i), QStringLiteral("5 %1").arg(i)));
        }
        MainWindow w;
        w.show();
        _DBItemNode *home = w.treeModel()->findDatabaseNode(QStringLiteral("Home.db"));
        QVERIFY(home);
        const QStringList before = names(*home->db);
        selectNode(w, home);
        QTRY_COMPARE_WITH_TIMEOUT(w.contactsModel()->rowCount(), 3, 10000);
        w.findChild<QTreeView *>(QStringLiteral("treeContacts"))
            ->selectionModel()
            ->select(w.contactsModel()->indexOfRow(1), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Undo);
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miContactDel")->trigger();
        const QStringList shown = MessageBox::takeShownTexts();
        QVERIFY2(shown.size() == 4, qPrintable(shown.join(u" | ")));
        QCOMPARE(names(*home->db), before);

        // A second undo undoes the undo: the contact is deleted again.
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miEditUndo")->trigger();
        QCOMPARE(names(*home->db).size(), 2);
    }
};

QTEST_MAIN(TestMainWindowUndo)
#include "tst_mainwindowundo.moc"
