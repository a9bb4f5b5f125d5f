// Adding, editing and grouping contacts in the window: in a local database, and on a simulated Android phone,
// whose own store must then hold exactly the edit. Dialog answers and edits are queued in advance.

#include "android/androidlink.h"
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
#include "widgets/contacteditor.h"
#include "widgets/editcontactform.h"
#include "widgets/entitieseditors.h"
#include "widgets/groupform.h"
#include "windowtestcase.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace {

using Phone = SimAndroidPhone;

// The same contents read from a node's database, for comparing a cache with its phone.
QMap<QString, int> rowCounts(LocalDb &db)
{
    QMap<QString, int> out;
    for (const pim::Contact &c : db.listContacts(0, QString()))
        out.insert(c.full_name, c.rowCount());
    return out;
}

QTreeView *tree(MainWindow &w, const char *name)
{
    return w.findChild<QTreeView *>(QLatin1String(name));
}

// Selects the listed contact of this name; false when the list has none.
bool selectContact(MainWindow &w, const QString &name)
{
    const QList<pim::Contact> &shown = w.contactsModel()->contacts();
    for (int row = 0; row < shown.size(); ++row) {
        if (shown.at(row).full_name != name)
            continue;
        tree(w, "treeContacts")
            ->selectionModel()
            ->select(w.contactsModel()->indexOfRow(row),
                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return true;
    }
    return false;
}

QString selectedName(MainWindow &w)
{
    const QModelIndexList rows = tree(w, "treeContacts")->selectionModel()->selectedRows();
    return rows.size() == 1 ? w.contactsModel()->contactAt(rows.first()).full_name : QString();
}

pim::Contact contactNamed(LocalDb &db, const QString &name)
{
    return db.loadContact(db.findContactByName(name));
}

// Queues a new contact's name and mobile number for the next edit dialog.
void queueNewContact(const QString &given, const QString &family, const QString &mobile)
{
    EditContactForm::queueAnswer([=](ContactEditor &e) {
        e.field(u"txtFirstName"_s)->setText(given);
        e.field(u"txtLastName"_s)->setText(family);
        e.phones()->add();
        e.phones()->valueEdit(e.phones()->entryCount() - 1)->setText(mobile);
    });
}

} // namespace

class TestMainWindowEdit : public WindowTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void addEditAndGroupInALocalDatabase()
    {
        {
            LocalDb db(LocalDbFiles::pathFor(u"Home.db"_s), PContactCombineRule(new LocalDbCombineRule));
            db.createFromTemplate();
            pim::Contact anna = fixtures::person(u"Anna"_s, u"Berg"_s, u"555 0100"_s);
            anna.addRow(pim::ENTITY_EMAIL, fixtures::row({{1, u"anna@example.org"_s}, {2, u"1"_s}}));
            db.saveContactWithMerge(anna);
        }
        MainWindow w;
        _DBItemNode *node = w.treeModel()->findDatabaseNode(u"Home.db"_s);
        QVERIFY(node);
        LocalDb &db = *node->db;
        selectNode(w, node);
        QVERIFY(w.action("miNewContact")->isEnabled());
        QCOMPARE(w.action("miNewContact")->shortcut(), QKeySequence(u"Ctrl+N"_s));

        queueNewContact(u"Cleo"_s, u"Park"_s, u"555 0142"_s);
        w.action("miNewContact")->trigger();
        QCOMPARE(w.contactsModel()->contacts().size(), 2);
        QCOMPARE(selectedName(w), u"Cleo Park"_s);
        QCOMPARE(contactNamed(db, u"Cleo Park"_s).firstRow(pim::ENTITY_PHONE).text(u"data1"_s), u"555 0142"_s);

        // A second contact of the same name is refused; the user then gives up.
        queueNewContact(u"cleo"_s, u"park"_s, u"1"_s);
        EditContactForm::queueAnswer(nullptr);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miNewContact")->trigger();
        QCOMPARE(MessageBox::takeShownTexts(), QStringList{u"Contact cleo park has already existed."_s});
        QCOMPARE(db.listContacts(0, QString()).size(), 2);

        // A double click edits the contact; only the number changes.
        const pim::Contact before = contactNamed(db, u"Anna Berg"_s);
        QVERIFY(selectContact(w, u"Anna Berg"_s));
        EditContactForm::queueAnswer([](ContactEditor &e) { e.phones()->valueEdit(0)->setText(u"555 0111"_s); });
        w.onContactsTreeItemDoubleClicked(tree(w, "treeContacts")->selectionModel()->selectedRows().first());
        pim::Contact after = contactNamed(db, u"Anna Berg"_s);
        QCOMPARE(after.firstRow(pim::ENTITY_PHONE).text(u"data1"_s), u"555 0111"_s);
        QCOMPARE(after.firstRow(pim::ENTITY_PHONE)._id, before.firstRow(pim::ENTITY_PHONE)._id);
        QCOMPARE(after.rowCount(), before.rowCount());

        // Into a new group, then an edit, which keeps the membership.
        QVERIFY(selectContact(w, u"Anna Berg"_s));
        GroupForm::queueAnswer(u"Friends"_s);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miContactSetGroup")->trigger();
        QCOMPARE(MessageBox::takeShownTexts(), QStringList{u"Successfully set the contact group."_s});
        QCOMPARE(node->childCount(), 1);
        QCOMPARE(node->child(0)->name, u"Friends"_s);
        QVERIFY(selectContact(w, u"Anna Berg"_s));
        EditContactForm::queueAnswer(
            [](ContactEditor &e) { e.emails()->valueEdit(0)->setText(u"anna@example.net"_s); });
        w.action("miContactEdit")->trigger();
        after = contactNamed(db, u"Anna Berg"_s);
        QCOMPARE(after.firstRow(pim::ENTITY_EMAIL).text(u"data1"_s), u"anna@example.net"_s);
        QCOMPARE(after.firstRow(pim::ENTITY_GROUP).text(u"data2"_s), u"Friends"_s);

        // No group, confirmed: the membership goes.
        QVERIFY(selectContact(w, u"Anna Berg"_s));
        GroupForm::queueAnswer(u""_s);
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miContactSetGroup")->trigger();
        QCOMPARE(MessageBox::takeShownTexts(), (QStringList{u"Confirm to remove seleted member from the Group?"_s,
                                                            u"Successfully set the contact group."_s}));
        QVERIFY(!contactNamed(db, u"Anna Berg"_s).hasRows(pim::ENTITY_GROUP));
    }

    void editsReachThePhone()
    {
        Phone p(u"Phone A"_s);
        p.companion.seed(
            "BEGIN:VCARD\nVERSION:3.0\nN:Berg;Anna;;;\nTEL;TYPE=CELL:555 0100\nEMAIL;TYPE=HOME:anna@example.org\n"
            "END:VCARD\n");
        WatchedPhones watched({p.endpoint()});
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.treeModel()->findDeviceNode(p.endpoint(), ItemModelMainTree::PlatformAndroid),
                                 20000);
        _DBItemNode *node = w.treeModel()->findDeviceNode(p.endpoint(), ItemModelMainTree::PlatformAndroid);
        selectNode(w, node);

        QVERIFY(selectContact(w, u"Anna Berg"_s));
        EditContactForm::queueAnswer([](ContactEditor &e) {
            e.phones()->valueEdit(0)->setText(u"+1 555 0111"_s);
            e.emails()->valueEdit(0)->clear();
            e.websites()->add();
            e.websites()->typeCombo(0)->setEditText(u"blog"_s);
            e.websites()->valueEdit(0)->setText(u"https://anna.example"_s);
        });
        w.action("miContactEdit")->trigger();
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
        QCOMPARE(p.contents().value(u"Anna Berg"_s),
                 (QStringList{u"13:blog||https://anna.example"_s, u"3:mobile||+1 555 0111"_s}));

        queueNewContact(u"Cleo"_s, u"Park"_s, u"555 0142"_s);
        w.action("miNewContact")->trigger();
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
        QCOMPARE(p.contents().value(u"Cleo Park"_s), QStringList{u"3:mobile||555 0142"_s});
        // The cache knows the phone's ids of the new contact and its rows.
        const pim::Contact cleo = contactNamed(*node->db, u"Cleo Park"_s);
        QVERIFY(!cleo.src_id.isEmpty());
        QVERIFY(!cleo.firstRow(pim::ENTITY_PHONE).src_id.isEmpty());

        QVERIFY(selectContact(w, u"Cleo Park"_s));
        GroupForm::queueAnswer(u"Friends"_s);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miContactSetGroup")->trigger();
        QCOMPARE(MessageBox::takeShownTexts(), QStringList{u"Successfully set the contact group."_s});
        QCOMPARE(p.contents().value(u"Cleo Park"_s), (QStringList{u"3:mobile||555 0142"_s, u"7:Friends"_s}));

        // An edit keeps the membership on the phone too.
        QVERIFY(selectContact(w, u"Cleo Park"_s));
        EditContactForm::queueAnswer([](ContactEditor &e) { e.field(u"txtNickname"_s)->setText(u"Clee"_s); });
        w.action("miContactEdit")->trigger();
        QCOMPARE(p.contents().value(u"Cleo Park"_s),
                 (QStringList{u"3:mobile||555 0142"_s, u"5:default||Clee"_s, u"7:Friends"_s}));

        QVERIFY(selectContact(w, u"Cleo Park"_s));
        GroupForm::queueAnswer(u""_s);
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miContactSetGroup")->trigger();
        MessageBox::takeShownTexts();
        QCOMPARE(p.contents().value(u"Cleo Park"_s), (QStringList{u"3:mobile||555 0142"_s, u"5:default||Clee"_s}));
        QCOMPARE(rowCounts(*w.treeModel()->findDeviceNode(p.endpoint(), ItemModelMainTree::PlatformAndroid)->db),
                 (QMap<QString, int>{{u"Anna Berg"_s, 3}, {u"Cleo Park"_s, 3}}));
    }

    // The phone drops the session after creating the contact: the node is reloaded and shows what the phone holds.
    void aFailedSendReloadsThePhone()
    {
        SimCompanionConfig dropping;
        dropping.fail = SimCompanionConfig::Fail::CloseMidRestore;
        Phone p(u"Phone B"_s, dropping);
        p.companion.seed("BEGIN:VCARD\nVERSION:3.0\nN:Berg;Anna;;;\nTEL;TYPE=CELL:555 0100\nEND:VCARD\n");
        WatchedPhones watched({p.endpoint()});
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.treeModel()->findDeviceNode(p.endpoint(), ItemModelMainTree::PlatformAndroid),
                                 20000);
        selectNode(w, w.treeModel()->findDeviceNode(p.endpoint(), ItemModelMainTree::PlatformAndroid));

        queueNewContact(u"Cleo"_s, u"Park"_s, u"555 0142"_s);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miNewContact")->trigger();
        QCOMPARE(MessageBox::takeShownTexts().size(), 1);
        QVERIFY(p.contents().contains(u"Cleo Park"_s));
        QCOMPARE(p.contents().value(u"Cleo Park"_s), QStringList()); // created, but its number never arrived
        _DBItemNode *node = w.treeModel()->findDeviceNode(p.endpoint(), ItemModelMainTree::PlatformAndroid);
        QVERIFY(node);
        QCOMPARE(rowCounts(*node->db), (QMap<QString, int>{{u"Anna Berg"_s, 2}, {u"Cleo Park"_s, 1}}));
    }
};

QTEST_MAIN(TestMainWindowEdit)
#include "tst_mainwindowedit.moc"
