// The window with simulated iPhones (in process): an iPhone's contacts load on arrival and its node appears; a
// phone that fails while sending its contacts gets no node; iPhone to iPhone and Restore Contacts to iPhone merge
// namesakes on the target phone; deleting contacts and clearing an iPhone reach the phone. Every result is
// checked in the simulated phone's own store.

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
#include "simiphones.h"
#include "temphome.h"
#include "widgets/contacteditor.h"
#include "widgets/editcontactform.h"
#include "widgets/entitieseditors.h"
#include "windowtestcase.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDialog>
#include <QJsonArray>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using fixtures::person;

namespace {

const QString kUdidA = QStringLiteral("00008030-000000000000000A");
const QString kUdidB = QStringLiteral("00008030-000000000000000B");
const QString kUdidBroken = QStringLiteral("00008030-00000000000000FF");

QByteArray people(const QStringList &names)
{
    QByteArray cards;
    int i = 0;
    for (const QString &name : names)
        cards += "BEGIN:VCARD\nVERSION:3.0\nN:" + name.toUtf8() + ";Test;;;\nTEL;TYPE=CELL:555 " +
                 QByteArray::number(i++) + "\nEMAIL:" + name.toLower().toUtf8() + "@example.com\nEND:VCARD\n";
    return cards;
}

// The display names of the contacts a simulated phone holds, sorted.
QStringList storeNames(const IPhoneSim &sim, const QString &udid)
{
    QStringList names;
    for (const QJsonValue &c : sim.store(udid).value(QStringLiteral("contacts")).toArray())
        names << c.toObject().value(QStringLiteral("name")).toString();
    names.sort();
    return names;
}

// The phone numbers of one contact in a phone's store.
QStringList storePhones(const IPhoneSim &sim, const QString &udid, const QString &name)
{
    QStringList phones;
    for (const QJsonValue &c : sim.store(udid).value(QStringLiteral("contacts")).toArray()) {
        if (c.toObject().value(QStringLiteral("name")).toString() != name)
            continue;
        for (const QJsonValue &row : c.toObject().value(QStringLiteral("rows")).toArray())
            if (row.toObject().value(QStringLiteral("type")).toInt() == 3)
                phones << row.toObject()
                              .value(QStringLiteral("fields"))
                              .toObject()
                              .value(QStringLiteral("value"))
                              .toString();
    }
    phones.sort();
    return phones;
}

QStringList nodeNames(const _DBItemNode *node)
{
    QStringList names;
    for (const pim::Contact &c : node->db->listContacts(0, QString()))
        names << c.full_name;
    names.sort();
    return names;
}

// A simulator with phones written as vCard seeds, started on its own socket, which libusbmuxd is pointed at.
struct Phones : SimIphones
{
    explicit Phones(QList<SimDeviceConfig> devices)
    {
        for (SimDeviceConfig &config : devices)
            if (!config.seedPath.isEmpty())
                config.seedPath = put(config.udid + QStringLiteral(".vcf"), config.seedPath.toUtf8());
        ok = start(devices);
    }

    bool ok = true;
};

// A phone config whose seed is the vCard text itself (written to a file by Phones).
SimDeviceConfig phone(const QString &udid, const QString &name, const QByteArray &cards, const QString &fail = {})
{
    SimDeviceConfig config;
    config.udid = udid;
    config.name = name;
    config.seedPath = QString::fromUtf8(cards);
    config.fail = fail;
    return config;
}

void selectContactRows(MainWindow &w, const QList<int> &rows)
{
    auto *view = w.findChild<QTreeView *>(QStringLiteral("treeContacts"));
    view->selectionModel()->clearSelection();
    for (int row : rows)
        view->selectionModel()->select(w.contactsModel()->indexOfRow(row),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

} // namespace

class TestMainWindowIosWrite : public WindowTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void arrivalLoadsContactsAndAFailingPhoneGetsNoNode()
    {
        Phones phones(
            {phone(kUdidA, QStringLiteral("Ann's iPhone"), people({QStringLiteral("Alpha"), QStringLiteral("Beta")})),
             phone(kUdidBroken, QStringLiteral("Broken"), people({QStringLiteral("Gamma")}),
                   QStringLiteral("drop-mid-batch"))});
        QVERIFY(phones.ok);
        for (int i = 0; i < 3; ++i)
            MessageBox::queueAnswer(MessageBox::Ok); // two arrival tips, one error box
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(iosNode(w, kUdidA), 20000);
        _DBItemNode *node = iosNode(w, kUdidA);
        QCOMPARE(node->name, QStringLiteral("Ann's iPhone"));
        QCOMPARE(nodeNames(node), (QStringList{QStringLiteral("Test Alpha"), QStringLiteral("Test Beta")}));
        // Each contact came with its phone and e-mail records.
        const pim::Contact alpha = node->db->listContacts(0, QStringLiteral("Alpha")).first();
        QCOMPARE(alpha.rows(pim::ENTITY_PHONE).size(), 1);
        QCOMPARE(alpha.rows(pim::ENTITY_EMAIL).first().text(QStringLiteral("data1")),
                 QStringLiteral("alpha@example.com"));

        // The broken phone's load fails: its error is shown and it gets no node.
        QStringList shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown += MessageBox::takeShownTexts()).size() == 3, 20000);
        QCOMPARE(shown.count(trKey("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS")), 2);
        QVERIFY(!iosNode(w, kUdidBroken));
        QCOMPARE(w.treeModel()->deviceCount(ItemModelMainTree::PlatformIos), 1);

        // Pulling the cable removes the node.
        phones.sim.detach(kUdidA);
        QTRY_VERIFY_WITH_TIMEOUT(!iosNode(w, kUdidA), 10000);
    }

    void iPhoneToIPhoneAndRestoreToIPhoneMergeNamesakes()
    {
        Phones phones(
            {phone(kUdidA, QStringLiteral("Phone A"),
                   people({QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Delta")})),
             phone(kUdidB, QStringLiteral("Phone B"), people({QStringLiteral("Beta"), QStringLiteral("Omega")}))});
        QVERIFY(phones.ok);
        {
            LocalDb db(LocalDbFiles::pathFor(QStringLiteral("Office.db")), PContactCombineRule(new LocalDbCombineRule));
            db.createFromTemplate();
            db.saveContactWithMerge(person(QStringLiteral("Test"), QStringLiteral("Omega"), QStringLiteral("777 1")));
            db.saveContactWithMerge(person(QStringLiteral("Test"), QStringLiteral("Zeta"), QStringLiteral("777 2")));
        }
        const QByteArray dbBefore = fileHash(LocalDbFiles::pathFor(QStringLiteral("Office.db")));
        MessageBox::queueAnswer(MessageBox::Ok);
        MessageBox::queueAnswer(MessageBox::Ok);
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(iosNode(w, kUdidA) && iosNode(w, kUdidB), 20000);
        MessageBox::takeShownTexts();

        // iPhone to iPhone: the dialog lists the other iPhone only.
        selectNode(w, iosNode(w, kUdidA));
        QVERIFY(w.action("miTreeI2I")->isEnabled());
        QVERIFY(!w.action("miTreeA2I")->isEnabled());
        queueDevicePick(w, ItemModelMainTree::PlatformIos, kUdidB, kUdidA);
        MessageBox::queueAnswer(MessageBox::Yes); // the question with what will change
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miTreeI2I")->trigger();
        QCOMPARE(MessageBox::takeShownTexts().mid(1),
                 QStringList{QStringLiteral(
                     "Successfully transferred 2 contacts to device, with 1 repeated contacts merged.")});
        QCOMPARE(storeNames(phones.sim, kUdidB),
                 (QStringList{QStringLiteral("Test Alpha"), QStringLiteral("Test Beta"), QStringLiteral("Test Delta"),
                              QStringLiteral("Test Omega")}));
        // The namesake got the number it lacked: one contact with both numbers, not two contacts.
        QCOMPARE(storePhones(phones.sim, kUdidB, QStringLiteral("Test Beta")),
                 (QStringList{QStringLiteral("555 0"), QStringLiteral("555 1")}));
        QCOMPARE(w.selectedDbNode(), iosNode(w, kUdidB));
        QCOMPARE(nodeNames(iosNode(w, kUdidB)), storeNames(phones.sim, kUdidB));
        // The source phone is unchanged.
        QCOMPARE(storeNames(phones.sim, kUdidA).size(), 3);

        // Restore Contacts to iPhone from a local database, the selected contact only.
        selectNode(w, w.treeModel()->findDatabaseNode(QStringLiteral("Office.db")));
        selectContactRows(w, {1});
        QCOMPARE(w.contactsModel()->contacts().at(1).full_name, QStringLiteral("Test Zeta"));
        QVERIFY(w.action("miFileDB2I")->isEnabled());
        queueDevicePick(w, ItemModelMainTree::PlatformIos, kUdidB);
        MessageBox::queueAnswer(MessageBox::Yes); // the question with what will change
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miFileDB2I")->trigger();
        QCOMPARE(MessageBox::takeShownTexts().mid(1),
                 QStringList{QStringLiteral("Successfully transferred 1 contacts to device.")});
        QVERIFY2(storeNames(phones.sim, kUdidB).contains(QStringLiteral("Test Zeta")),
                 qPrintable(storeNames(phones.sim, kUdidB).join(u',')));
        QCOMPARE(storeNames(phones.sim, kUdidB).size(), 5);
        QCOMPARE(fileHash(LocalDbFiles::pathFor(QStringLiteral("Office.db"))), dbBefore);

        // A contact sent to the phone carries the identifier the phone gave it: deleting it there works.
        _DBItemNode *b = iosNode(w, kUdidB);
        selectNode(w, b);
        int zeta = -1;
        for (int i = 0; i < w.contactsModel()->contacts().size(); ++i)
            if (w.contactsModel()->contacts().at(i).full_name == QStringLiteral("Test Zeta"))
                zeta = i;
        QVERIFY(zeta >= 0);
        QVERIFY(!w.contactsModel()->contacts().at(zeta).src_id.isEmpty());
        selectContactRows(w, {zeta});
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miContactDel")->trigger();
        QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown.first().startsWith(
                     QStringLiteral("Delete the contact \u201CTest Zeta\u201D from \u201C%1\u201D?").arg(b->name)),
                 qPrintable(shown.first()));
        QCOMPARE(shown.last(), trKey("IDS_SUC_DEL_CONTACTS"));
        QVERIFY(!storeNames(phones.sim, kUdidB).contains(QStringLiteral("Test Zeta")));
        QCOMPARE(storeNames(phones.sim, kUdidB).size(), 4);

        // Clearing the iPhone deletes every contact on it, records and all.
        selectNode(w, iosNode(w, kUdidB));
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miTreeDel")->trigger();
        shown = MessageBox::takeShownTexts();
        QVERIFY2(shown.first().startsWith(
                     QStringLiteral("Delete all 4 contacts on \u201C%1\u201D?").arg(iosNode(w, kUdidB)->name)),
                 qPrintable(shown.first()));
        QVERIFY(storeNames(phones.sim, kUdidB).isEmpty());
        QVERIFY(phones.sim.store(kUdidB).value(QStringLiteral("records")).toObject().isEmpty());
        QVERIFY(phones.sim.errors().isEmpty());
    }

    // An iPhone already loaded that is announced again (the device service renewed its connection: gone and back
    // at once) keeps its node: no tips, no reload, the selection stays. A new arrival while a dialog is open
    // waits for the dialog to close before it shows its tips and loads.
    void repeatedArrivalIsQuietAndArrivalsWaitForOpenDialogs()
    {
        Phones phones({phone(kUdidA, QStringLiteral("Phone A"), people({QStringLiteral("Alpha")})),
                       phone(kUdidB, QStringLiteral("Phone B"), people({QStringLiteral("Beta")}))});
        QVERIFY(phones.ok);
        QVERIFY(phones.sim.detach(kUdidB));
        MessageBox::queueAnswer(MessageBox::Ok);
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(iosNode(w, kUdidA), 20000);
        QCOMPARE(MessageBox::takeShownTexts(), QStringList{trKey("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS")});
        _DBItemNode *a = iosNode(w, kUdidA);
        LocalDb work(LocalDbFiles::pathFor(QStringLiteral("Work.db")), PContactCombineRule(new LocalDbCombineRule));
        work.createFromTemplate();
        work.close();
        selectNode(w, w.treeModel()->databasesRoot());

        w.iosDeviceConnected(kUdidA);
        QVERIFY(phones.sim.detach(kUdidA));
        QVERIFY(phones.sim.attach(kUdidA));
        QTest::qWait(4000); // longer than a removed phone's node waits for it
        QCOMPARE(iosNode(w, kUdidA), a);
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
        QVERIFY(!w.selectedDbNode()); // still the databases root
        QCOMPARE(nodeNames(a), QStringList{QStringLiteral("Test Alpha")});

        // Phone B arrives while a dialog is open: nothing happens until it closes.
        QDialog dialog(&w);
        QStringList shownMeanwhile;
        bool loadedMeanwhile = true;
        QTimer::singleShot(0, &dialog, [&] {
            QVERIFY(phones.sim.attach(kUdidB));
            QTest::qWait(3000);
            shownMeanwhile = MessageBox::takeShownTexts();
            loadedMeanwhile = iosNode(w, kUdidB) != nullptr;
            dialog.accept();
        });
        MessageBox::queueAnswer(MessageBox::Ok);
        dialog.exec();
        QVERIFY(shownMeanwhile.isEmpty());
        QVERIFY(!loadedMeanwhile);
        QTRY_VERIFY_WITH_TIMEOUT(iosNode(w, kUdidB), 20000);
        QCOMPARE(MessageBox::takeShownTexts(), QStringList{trKey("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS")});

        // Pulled out for good: the node goes once the short wait is over.
        QVERIFY(phones.sim.detach(kUdidA));
        QTRY_VERIFY_WITH_TIMEOUT(!iosNode(w, kUdidA), 10000);
    }

    // Edits made in the window reach the iPhone: a changed number, and a new contact with the phone's own ids.
    void editsAndNewContactsReachTheIPhone()
    {
        Phones phones({phone(kUdidA, QStringLiteral("Phone A"), people({QStringLiteral("Alpha")}))});
        QVERIFY(phones.ok);
        MessageBox::queueAnswer(MessageBox::Ok);
        MainWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(iosNode(w, kUdidA), 20000);
        MessageBox::takeShownTexts(); // the arrival tips
        selectNode(w, iosNode(w, kUdidA));
        selectContactRows(w, {0});

        EditContactForm::queueAnswer(
            [](ContactEditor &e) { e.phones()->valueEdit(0)->setText(QStringLiteral("+1 555 0111")); });
        w.action("miContactEdit")->trigger();
        const QStringList shown = MessageBox::takeShownTexts();
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join(u'\n')));
        QCOMPARE(storePhones(phones.sim, kUdidA, QStringLiteral("Test Alpha")),
                 QStringList{QStringLiteral("+1 555 0111")});
        QCOMPARE(storeNames(phones.sim, kUdidA), QStringList{QStringLiteral("Test Alpha")});

        EditContactForm::queueAnswer([](ContactEditor &e) {
            e.field(QStringLiteral("txtFirstName"))->setText(QStringLiteral("Cleo"));
            e.field(QStringLiteral("txtLastName"))->setText(QStringLiteral("Park"));
            e.phones()->add();
            e.phones()->valueEdit(e.phones()->entryCount() - 1)->setText(QStringLiteral("555 0142"));
        });
        w.action("miNewContact")->trigger();
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
        QCOMPARE(storePhones(phones.sim, kUdidA, QStringLiteral("Cleo Park")), QStringList{QStringLiteral("555 0142")});
        // The cache holds the identifiers the phone gave, so a later edit updates instead of adding again.
        const pim::Contact cleo = iosNode(w, kUdidA)->db->listContacts(0, QStringLiteral("Cleo")).first();
        QVERIFY(!cleo.src_id.isEmpty());
        QVERIFY(!cleo.firstRow(pim::ENTITY_PHONE).src_id.isEmpty());
        QVERIFY(phones.sim.errors().isEmpty());
    }
};

QTEST_MAIN(TestMainWindowIosWrite)
#include "tst_mainwindowioswrite.moc"
