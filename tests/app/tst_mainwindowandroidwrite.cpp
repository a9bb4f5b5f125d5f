// The window writing to Android phones: Android to Android and Restore Contacts to Android between simulated
// phones found by the adb poller, a transfer that fails halfway (the phone is reloaded, the database untouched),
// and deleting contacts on a phone. Dialog answers are queued in advance.

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
#include "filehash.h"
#include "simandroidphone.h"
#include "temphome.h"
#include "vcardpeople.h"
#include "windowtestcase.h"

#include <QAction>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QTest>
#include <QTreeView>

using fixtures::person;
using namespace Qt::StringLiterals;

namespace {

// The app is there already: two phones arriving together install in parallel, which is not what these tests are
// about.
using Phone = SimAndroidPhone;

_DBItemNode *localDatabase(MainWindow &w, const QString &fileName)
{
    return w.treeModel()->findDatabaseNode(fileName);
}

void createDatabase(const QString &fileName, int contacts)
{
    LocalDb db(LocalDbFiles::pathFor(fileName), PContactCombineRule(new LocalDbCombineRule));
    db.createFromTemplate();
    for (int i = 0; i < contacts; ++i)
        db.saveContactWithMerge(
            person(QStringLiteral("Db%1").arg(i), QStringLiteral("Person"), QStringLiteral("777 %1").arg(i)));
}

} // namespace

class TestMainWindowAndroidWrite : public WindowTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void androidToAndroidAndRestoreToAndroid()
    {
        Phone a(QStringLiteral("Phone A")), b(QStringLiteral("Phone B"));
        a.companion.seed(people::cards(5));
        b.companion.seed("BEGIN:VCARD\nVERSION:3.0\nN:Person1;Test;;;\nTEL;TYPE=WORK:999\nEND:VCARD\n");
        createDatabase(QStringLiteral("Office.db"), 2);
        const QByteArray dbBefore = fileHash(LocalDbFiles::pathFor(QStringLiteral("Office.db")));
        WatchedPhones watched({a.endpoint(), b.endpoint()});
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(androidNode(w, a.endpoint()) && androidNode(w, b.endpoint()), 20000);
        QVERIFY(MessageBox::takeShownTexts().isEmpty());

        selectNode(w, androidNode(w, a.endpoint()));
        QVERIFY(w.action("miTreeA2A")->isEnabled());
        queueDevicePick(w, ItemModelMainTree::PlatformAndroid, b.endpoint(), a.endpoint());
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miTreeA2A")->trigger();
        // The question says what the transfer then does; its list names the contact merged into.
        const QList<MessageBox::ShownBox> boxes = MessageBox::takeShownBoxes();
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes.at(0).text,
                 u"Send 5 contacts to \u201CPhone B\u201D?<br/><br/>4 contacts will be added, 1 merged "
                 "into contacts already there and 0 left unchanged."_s);
        QCOMPARE(boxes.at(0).defaultButton, MessageBox::No);
        QVERIFY2(boxes.at(0).details.contains(u"Merge into: Test Person1\n    + Phone: Mobile:555 1\n"_s),
                 qPrintable(boxes.at(0).details));
        QCOMPARE(boxes.at(1).text,
                 u"Successfully transferred 4 contacts to Android, with 1 repeated contacts merged."_s);
        QCOMPARE(b.names(), a.names());
        QCOMPARE(w.selectedDbNode(), androidNode(w, b.endpoint()));
        QCOMPARE(w.contactsModel()->contacts().size(), 5);

        selectNode(w, localDatabase(w, QStringLiteral("Office.db")));
        QVERIFY(w.action("miFileDB2A")->isEnabled());
        // Saying no to the question sends nothing.
        const QJsonArray storeBefore = b.companion.store().toJson();
        queueDevicePick(w, ItemModelMainTree::PlatformAndroid, b.endpoint());
        MessageBox::queueAnswer(MessageBox::No);
        w.action("miFileDB2A")->trigger();
        QCOMPARE(MessageBox::takeShownTexts().size(), 1);
        QCOMPARE(b.companion.store().toJson(), storeBefore);

        queueDevicePick(w, ItemModelMainTree::PlatformAndroid, b.endpoint());
        MessageBox::queueAnswer(MessageBox::Yes); // the question with what will change
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miFileDB2A")->trigger();
        QCOMPARE(MessageBox::takeShownTexts().mid(1),
                 QStringList{QStringLiteral("Successfully transferred 2 contacts to Android.")});
        QCOMPARE(b.companion.store().contactCount(), 7);
        QVERIFY(b.names().contains(QStringLiteral("Db1 Person")));
        QCOMPARE(androidNode(w, b.endpoint())->db->listContacts(0, QString()).size(), 7);
        QCOMPARE(fileHash(LocalDbFiles::pathFor(QStringLiteral("Office.db"))), dbBefore);
    }

    void aTransferThatFailsReloadsThePhone()
    {
        SimCompanionConfig dropping;
        dropping.fail = SimCompanionConfig::Fail::CloseMidRestore;
        Phone b(QStringLiteral("Phone B"), dropping);
        b.companion.seed(people::cards(1));
        createDatabase(QStringLiteral("Many.db"), 25);
        const QByteArray dbBefore = fileHash(LocalDbFiles::pathFor(QStringLiteral("Many.db")));
        WatchedPhones watched({b.endpoint()});
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(androidNode(w, b.endpoint()), 20000);

        selectNode(w, localDatabase(w, QStringLiteral("Many.db")));
        queueDevicePick(w, ItemModelMainTree::PlatformAndroid, b.endpoint());
        MessageBox::queueAnswer(MessageBox::Yes); // the question with what will change
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miTreeDB2A")->trigger();
        const QStringList shown = MessageBox::takeShownTexts().mid(1);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(QStringLiteral("The remote host closed the connection")),
                 qPrintable(shown.first()));
        // The first batch of 20 reached the phone; the reloaded node shows exactly what the phone holds.
        QCOMPARE(b.companion.store().contactCount(), 21);
        _DBItemNode *node = androidNode(w, b.endpoint());
        QVERIFY(node);
        QCOMPARE(node->db->listContacts(0, QString()).size(), 21);
        QCOMPARE(b.companion.backupSessions(), 2);
        QCOMPARE(fileHash(LocalDbFiles::pathFor(QStringLiteral("Many.db"))), dbBefore);
    }

    void deletingContactsOnAPhone()
    {
        Phone b(QStringLiteral("Phone B"));
        b.companion.seed(people::cards(3));
        WatchedPhones watched({b.endpoint()});
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(androidNode(w, b.endpoint()), 20000);
        QCOMPARE(w.contactsModel()->contacts().size(), 3);

        const QString first = w.contactsModel()->contacts().first().full_name;
        w.findChild<QTreeView *>(QStringLiteral("treeContacts"))
            ->selectionModel()
            ->select(w.contactsModel()->indexOfRow(0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miContactDel")->trigger();
        const QStringList asked = MessageBox::takeShownTexts();
        QCOMPARE(asked.size(), 2);
        QVERIFY2(asked.first().startsWith(QStringLiteral("Delete the contact \u201C%1\u201D from").arg(first)),
                 qPrintable(asked.first()));
        QCOMPARE(asked.last(), QStringLiteral("Successfully deleted contact."));
        // The phone does not answer a delete: wait for its store.
        QTRY_COMPARE_WITH_TIMEOUT(b.companion.store().contactCount(), 2, 10000);
        QVERIFY(!b.names().contains(first));

        // Clearing the phone.
        selectNode(w, androidNode(w, b.endpoint()));
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miTreeDel")->trigger();
        const QString clear = MessageBox::takeShownTexts().first();
        QVERIFY2(clear.startsWith(QStringLiteral("Delete all 2 contacts on \u201C")), qPrintable(clear));
        QTRY_COMPARE_WITH_TIMEOUT(b.companion.store().contactCount(), 0, 10000);
        QVERIFY(w.contactsModel()->contacts().isEmpty());
    }
};

QTEST_MAIN(TestMainWindowAndroidWrite)
#include "tst_mainwindowandroidwrite.moc"
