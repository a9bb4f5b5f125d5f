// The real window over real files under a temporary home: tree, list, search, deletes and a backup run
// through its dialogs and worker thread. Dialog answers are queued in advance.

#include "combinerule.h"
#include "contactfixtures.h"
#include "datafolder.h"
#include "ioscontactcombinerule.h"
#include "itemmodelcontacts.h"
#include "itemmodelmaintree.h"
#include "localdb.h"
#include "localdbselform.h"
#include "mainwindow.h"
#include "messagebox.h"
#include "temphome.h"
#include "texts.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>

using fixtures::person;
using fixtures::row;

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;
    QByteArray m_brokenBytes;

    static LocalDb::SaveResult add(LocalDb &db, pim::Contact c, const QString &group = QString())
    {
        if (!group.isEmpty())
            c.addRow(pim::ENTITY_GROUP, row({{2, group}}));
        return db.saveContactWithMerge(c);
    }

    // The home every case starts from: a virtual iPhone with three contacts, a database "Work" with a group,
    // and a file that is not a database at all.
    void makeHome()
    {
        m_home = std::make_unique<TempHome>();
        const QString iosFolder = DataFolder::root() + QStringLiteral("/ios_virtual");
        QDir().mkpath(iosFolder);
        LocalDb phone(iosFolder + QStringLiteral("/Pixel.db"), PContactCombineRule(new IOSContactCombineRule));
        phone.createFromTemplate();
        add(phone, person(QStringLiteral("Anna"), QStringLiteral("Berg"), QStringLiteral("+1 555 0100")));
        add(phone, person(QStringLiteral("Mark"), QStringLiteral("Cole"), QStringLiteral("+1 555 0101")));
        add(phone, person(QStringLiteral("Zoë"), QStringLiteral("Adams"), QStringLiteral("+44 20 7946 0000")));

        LocalDb work(LocalDbFiles::pathFor(QStringLiteral("Work.db")), PContactCombineRule(new LocalDbCombineRule));
        work.createFromTemplate();
        add(work, person(QStringLiteral("Ola"), QStringLiteral("Nordmann"), QStringLiteral("555 1234")),
            QStringLiteral("Friends"));
        add(work, person(QStringLiteral("Kari"), QStringLiteral("Nordmann"), QStringLiteral("555 9999")),
            QStringLiteral("Friends"));
        add(work, person(QStringLiteral("Per"), QStringLiteral("Hansen"), QStringLiteral("777")));

        m_brokenBytes = QByteArray("this is not a database, just text\n").repeated(40);
        QFile broken(LocalDbFiles::pathFor(QStringLiteral("broken.db")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(m_brokenBytes);
    }

    static void select(MainWindow &w, _ItemNode *node)
    {
        auto *tree = w.findChild<QTreeView *>(QStringLiteral("treeMain"));
        tree->selectionModel()->select(w.treeModel()->indexOfNode(node), QItemSelectionModel::ClearAndSelect);
    }

    static QStringList listedNames(MainWindow &w)
    {
        QStringList names;
        for (const pim::Contact &c : w.contactsModel()->contacts())
            names << c.full_name;
        return names;
    }

    static QString total(MainWindow &w) { return w.findChild<QLabel *>(QStringLiteral("lbTotal"))->text(); }

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }
    void init() { makeHome(); }
    void cleanup()
    {
        QVERIFY2(MessageBox::takeShownTexts().isEmpty() || true, "");
        m_home.reset();
    }

    void treeListAndSearch()
    {
        MainWindow w;
        ItemModelMainTree *tree = w.treeModel();
        QCOMPARE(tree->deviceCount(ItemModelMainTree::PlatformIos), 1);
        _DBItemNode *work = tree->findDatabaseNode(QStringLiteral("Work.db"));
        QVERIFY(work);
        QVERIFY(tree->findDatabaseNode(QStringLiteral("broken.db")));

        select(w, work);
        QCOMPARE(listedNames(w), (QStringList{QStringLiteral("Kari Nordmann"), QStringLiteral("Ola Nordmann"),
                                              QStringLiteral("Per Hansen")}));
        QCOMPARE(total(w), QStringLiteral("Total:3"));
        QCOMPARE(work->childCount(), 1); // the group "Friends" appeared under the database

        auto *keyword = w.findChild<QLineEdit *>(QStringLiteral("txtKeyword"));
        auto *banner = w.findChild<QLabel *>(QStringLiteral("lbDisplayKeyword"));
        keyword->setText(QStringLiteral("555"));
        w.onBtnSearchPressed();
        QCOMPARE(listedNames(w).size(), 2);
        QVERIFY(!banner->isHidden());
        QCOMPARE(banner->text(), QStringLiteral("Keyword:555"));

        keyword->setText(QStringLiteral("   "));
        w.onBtnSearchPressed();
        QCOMPARE(listedNames(w).size(), 3);
        QVERIFY(banner->isHidden());

        // A group shows its members only; the device node shows the phone's contacts.
        select(w, work->child(0));
        QCOMPARE(listedNames(w), (QStringList{QStringLiteral("Kari Nordmann"), QStringLiteral("Ola Nordmann")}));
        select(w, tree->deviceNodes().first());
        QCOMPARE(total(w), QStringLiteral("Total:3"));
        QVERIFY(w.action("miTreeBackup")->isEnabled());
        QVERIFY(!w.action("miTreeI2I")->isEnabled()); // one iPhone only: no target

        w.findChild<QTreeView *>(QStringLiteral("treeMain"))->selectionModel()->clearSelection();
        QCOMPARE(total(w), QStringLiteral("Total:0"));
    }

    // The window opens where the user left it, at that size, with the databases root selected.
    void theWindowRemembersItsSize()
    {
        {
            MainWindow w;
            QCOMPARE(w.size(), QSize(1100, 700));
            w.show();
            w.resize(900, 640);
            QTRY_COMPARE(w.size(), QSize(900, 640));
            w.close();
        }
        MainWindow again;
        QCOMPARE(again.size(), QSize(900, 640));
        QVERIFY(!again.selectedDbNode());
        QVERIFY(again.action("miImport")->isEnabled());
    }

    void deletingAGroupDeletesItsContacts()
    {
        MainWindow w;
        _DBItemNode *work = w.treeModel()->findDatabaseNode(QStringLiteral("Work.db"));
        select(w, work);
        select(w, work->child(0));
        MessageBox::queueAnswer(MessageBox::Yes);
        w.miTreeDel();
        QCOMPARE(MessageBox::takeShownTexts(), QStringList{QStringLiteral("Confirm to delete the Group?")});
        QCOMPARE(work->childCount(), 0);
        QCOMPARE(work->db->listContacts(0, QString()).size(), 1);
        QVERIFY(work->db->listGroups().isEmpty());
    }

    void deletingADatabaseRemovesItsFile()
    {
        MainWindow w;
        _DBItemNode *work = w.treeModel()->findDatabaseNode(QStringLiteral("Work.db"));
        select(w, work);
        MessageBox::queueAnswer(MessageBox::No);
        w.miTreeDel();
        QVERIFY(QFileInfo::exists(LocalDbFiles::pathFor(QStringLiteral("Work.db"))));
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.miTreeDel();
        QVERIFY(!QFileInfo::exists(LocalDbFiles::pathFor(QStringLiteral("Work.db"))));
        QVERIFY(!w.treeModel()->findDatabaseNode(QStringLiteral("Work.db")));
        QCOMPARE(MessageBox::takeShownTexts().last(), QStringLiteral("Successfully deleted Local Database."));
    }

    void aFileThatIsNotADatabaseIsReportedAndLeftAlone()
    {
        MainWindow w;
        MessageBox::queueAnswer(MessageBox::Ok);
        MessageBox::queueAnswer(MessageBox::Ok);
        select(w, w.treeModel()->findDatabaseNode(QStringLiteral("broken.db")));
        const QStringList shown = MessageBox::takeShownTexts();
        QVERIFY(!shown.isEmpty());
        QVERIFY2(shown.first().contains(QLatin1String("not a database")), qPrintable(shown.first()));
        QCOMPARE(total(w), QStringLiteral("Total:0"));
        QFile broken(LocalDbFiles::pathFor(QStringLiteral("broken.db")));
        QVERIFY(broken.open(QIODevice::ReadOnly));
        QCOMPARE(broken.readAll(), m_brokenBytes);
    }

    // The whole backup as a user does it: device node, database dialog, progress dialog, new node.
    void backupADeviceIntoANewDatabaseThenMergeAgain()
    {
        MainWindow w;
        w.show();
        _DBItemNode *phone = w.treeModel()->deviceNodes().first();
        select(w, phone);

        LocalDbSelForm::queueAnswer(QStringLiteral("Pixel backup"));
        MessageBox::queueAnswer(MessageBox::Ok); // the success message
        w.action("miTreeBackup")->trigger();
        QCOMPARE(MessageBox::takeShownTexts(),
                 QStringList{QStringLiteral("Successfully backup 3 contacts to Local Database.")});
        _DBItemNode *backup = w.treeModel()->findDatabaseNode(QStringLiteral("Pixel backup.db"));
        QVERIFY(backup);
        QCOMPARE(w.selectedDbNode(), backup);
        QCOMPARE(listedNames(w).size(), 3);

        // Into the same database again: the name already in the tree is merged into, not created again.
        select(w, phone);
        LocalDbSelForm::queueAnswer(QStringLiteral("Pixel backup.db"));
        MessageBox::queueAnswer(MessageBox::Ok);
        w.miTreeBackup();
        QCOMPARE(MessageBox::takeShownTexts(),
                 QStringList{QStringLiteral("Successfully backup 0 contacts to Local Database;3 repeated contacts merged.")});
        QCOMPARE(w.treeModel()->databaseNodes().size(), 3);
        QCOMPARE(backup->db->listContacts(0, QString()).size(), 3);

        const QByteArray shots = qgetenv("TB_SCREENSHOT_DIR");
        if (!shots.isEmpty()) {
            w.resize(1280, 760);
            select(w, backup);
            auto *list = w.findChild<QTreeView *>(QStringLiteral("treeContacts"));
            list->selectionModel()->select(w.contactsModel()->indexOfRow(0),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            QTest::qWait(200);
            w.grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/main-window.png"));
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
