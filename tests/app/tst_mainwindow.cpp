// The real window over real files under a temporary home: tree, list, search, deletes and a backup run
// through its dialogs and worker thread. Dialog answers are queued in advance.

#include "app/desktop.h"
#include "app/filedialogs.h"
#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/localdbselform.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "ios/ioscontactcombinerule.h"
#include "temphome.h"
#include "widgets/contacteditor.h"
#include "widgets/editcontactform.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
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
        QCOMPARE(MessageBox::takeShownTexts(),
                 QStringList{QStringLiteral(
                     "Delete the group \u201CFriends\u201D and its 2 contacts from \u201CWork.db\u201D?")});
        QCOMPARE(work->childCount(), 0);
        QCOMPARE(work->db->listContacts(0, QString()).size(), 1);
        QVERIFY(work->db->listGroups().isEmpty());
    }

    // Every deleting command asks a question that names what goes and how many, with "No" as the answer Enter
    // gives; the File menu's entry says what it will delete for the current selection. Answering "No" keeps all.
    void destructiveQuestionsNameTargetAndCount()
    {
        MainWindow w;
        ItemModelMainTree *tree = w.treeModel();
        _DBItemNode *work = tree->findDatabaseNode(QStringLiteral("Work.db"));
        _DBItemNode *phone = tree->deviceNodes().first();
        auto *list = w.findChild<QTreeView *>(QStringLiteral("treeContacts"));
        QAction *fileDelete = w.action("miFileDelete");
        const auto askedOnce = [](const QString &expected) {
            const QList<MessageBox::ShownBox> boxes = MessageBox::takeShownBoxes();
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes.first().text, expected);
            QCOMPARE(boxes.first().defaultButton, MessageBox::No);
        };

        select(w, work);
        QCOMPARE(fileDelete->text(), QStringLiteral("Delete Local Database"));
        MessageBox::queueAnswer(MessageBox::No);
        fileDelete->trigger();
        askedOnce(QStringLiteral("Delete the local database \u201CWork.db\u201D with its 3 contacts? Its file is "
                                 "removed from this computer."));
        QVERIFY(QFileInfo::exists(LocalDbFiles::pathFor(QStringLiteral("Work.db"))));

        // With contacts selected the same entry deletes those, not the database, and says so.
        list->selectionModel()->select(w.contactsModel()->indexOfRow(0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        list->selectionModel()->select(w.contactsModel()->indexOfRow(2),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(fileDelete->text(), QStringLiteral("Delete 2 selected contacts"));
        QCOMPARE(w.action("miFileBackup")->text(), QStringLiteral("Backup selected contacts"));
        MessageBox::queueAnswer(MessageBox::No);
        fileDelete->trigger();
        askedOnce(QStringLiteral("Delete the 2 selected contacts from \u201CWork.db\u201D?"));
        list->selectionModel()->select(w.contactsModel()->indexOfRow(1),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        MessageBox::queueAnswer(MessageBox::No);
        w.miContactDel();
        askedOnce(QStringLiteral("Delete the contact \u201COla Nordmann\u201D from \u201CWork.db\u201D?"));
        QCOMPARE(work->db->listContacts(0, QString()).size(), 3);

        select(w, work->child(0));
        QCOMPARE(fileDelete->text(), QStringLiteral("Delete Group and Its Contacts"));
        MessageBox::queueAnswer(MessageBox::No);
        fileDelete->trigger();
        askedOnce(QStringLiteral("Delete the group \u201CFriends\u201D and its 2 contacts from \u201CWork.db\u201D?"));
        QCOMPARE(work->db->listGroups().size(), 1);

        // A phone's contacts go from the phone too, and the question says so.
        select(w, phone);
        QCOMPARE(fileDelete->text(), QStringLiteral("Delete All Contacts on the Phone"));
        QCOMPARE(w.action("miFileBackup")->text(), QStringLiteral("Backup Contacts"));
        MessageBox::queueAnswer(MessageBox::No);
        fileDelete->trigger();
        askedOnce(QStringLiteral(
            "Delete all 3 contacts on \u201CPixel.db\u201D?<br/><br/>They are deleted on the phone as well."));
        QCOMPARE(phone->db->listContacts(0, QString()).size(), 3);

        // Names are shown as written, never as markup.
        LocalDb odd(LocalDbFiles::pathFor(QStringLiteral("R&D <team>.db")),
                    PContactCombineRule(new LocalDbCombineRule));
        odd.createFromTemplate();
        odd.close();
        MainWindow again;
        select(again, again.treeModel()->findDatabaseNode(QStringLiteral("R&D <team>.db")));
        MessageBox::queueAnswer(MessageBox::No);
        again.miTreeDel();
        askedOnce(QStringLiteral("Delete the local database \u201CR&amp;D &lt;team&gt;.db\u201D with its 0 contacts? "
                                 "Its file is removed from this computer."));
    }

    // The list follows the search field as the user types, without Enter; a number typed without its spaces finds
    // the number as stored; an empty result says so; clearing the field shows everything again.
    void searchAsYouType()
    {
        MainWindow w;
        w.show();
        select(w, w.treeModel()->deviceNodes().first());
        auto *keyword = w.findChild<QLineEdit *>(QStringLiteral("txtKeyword"));
        auto *banner = w.findChild<QLabel *>(QStringLiteral("lbDisplayKeyword"));
        QCOMPARE(listedNames(w).size(), 3);

        QTest::keyClicks(keyword, QStringLiteral("555"));
        QCOMPARE(listedNames(w).size(), 3); // not before typing pauses
        QTRY_COMPARE(listedNames(w), (QStringList{QStringLiteral("Anna Berg"), QStringLiteral("Mark Cole")}));
        QCOMPARE(banner->text(), QStringLiteral("Keyword:555"));

        keyword->selectAll();
        QTest::keyClicks(keyword, QStringLiteral("442079460"));
        QTRY_COMPARE(listedNames(w), QStringList{QStringLiteral("Zoë Adams")});
        keyword->selectAll();
        QTest::keyClicks(keyword, QStringLiteral("+1-555-0101"));
        QTRY_COMPARE(listedNames(w), QStringList{QStringLiteral("Mark Cole")});

        keyword->selectAll();
        QTest::keyClicks(keyword, QStringLiteral("zzz"));
        QTRY_COMPARE(total(w), QStringLiteral("Total:0"));
        QTRY_COMPARE(banner->text(), QStringLiteral("Keyword:zzz \u2014 no contacts match."));

        keyword->clear();
        QTRY_COMPARE(listedNames(w).size(), 3);
        QTRY_VERIFY(banner->isHidden());

        // Ctrl+F goes to the field from anywhere in the window.
        auto *list = w.findChild<QTreeView *>(QStringLiteral("treeContacts"));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(keyword->hasFocus());
    }

    // Contacts dragged from the list onto another database are copied there by the same worker as a backup,
    // after a question naming source and target; a drop onto the node they come from does nothing.
    void dragAndDropCopiesToTheNodeDroppedOn()
    {
        LocalDb home(LocalDbFiles::pathFor(QStringLiteral("Home.db")), PContactCombineRule(new LocalDbCombineRule));
        home.createFromTemplate();
        home.close();
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        _DBItemNode *work = w.treeModel()->findDatabaseNode(QStringLiteral("Work.db"));
        _DBItemNode *target = w.treeModel()->findDatabaseNode(QStringLiteral("Home.db"));
        select(w, work);
        auto *list = w.findChild<QTreeView *>(QStringLiteral("treeContacts"));
        list->selectionModel()->select(w.contactsModel()->indexOfRow(0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        list->selectionModel()->select(w.contactsModel()->indexOfRow(2),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        std::unique_ptr<QMimeData> dragged(w.contactsModel()->mimeData(list->selectionModel()->selectedRows()));
        QVERIFY(dragged);

        auto *treeView = w.findChild<QTreeView *>(QStringLiteral("treeMain"));
        const auto dropOn = [&](_ItemNode *node) {
            const QPoint at = treeView->visualRect(w.treeModel()->indexOfNode(node)).center();
            // As a drag does: it enters the tree, moves over the node, and is dropped there.
            QDragEnterEvent enter(at, Qt::CopyAction, dragged.get(), Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(treeView->viewport(), &enter);
            QDragMoveEvent move(at, Qt::CopyAction, dragged.get(), Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(treeView->viewport(), &move);
            QDropEvent drop(at, Qt::CopyAction, dragged.get(), Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(treeView->viewport(), &drop);
            return move.isAccepted();
        };

        QVERIFY(dropOn(work));
        QTest::qWait(50);
        QVERIFY(MessageBox::takeShownTexts().isEmpty()); // onto itself: nothing to ask
        QVERIFY(!dropOn(w.treeModel()->devicesRoot()));

        MessageBox::queueAnswer(MessageBox::No);
        QVERIFY(dropOn(target));
        QStringList asked; // the question comes once the drag has ended
        QTRY_VERIFY(!(asked += MessageBox::takeShownTexts()).isEmpty());
        // Asked with what the copy would change.
        QCOMPARE(asked, QStringList{QStringLiteral(
                            "Copy 2 contacts from \u201CWork.db\u201D to \u201CHome.db\u201D?<br/><br/>2 "
                            "contacts will be added, 0 merged into contacts already there and 0 "
                            "left unchanged.")});
        QCOMPARE(target->db->listContacts(0, QString()).size(), 0);

        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        QVERIFY(dropOn(target));
        QTRY_COMPARE(target->db->listContacts(0, QString()).size(), 2);
        QCOMPARE(MessageBox::takeShownTexts().last(),
                 QStringLiteral("Successfully backed up 2 contacts to the local database."));
        QCOMPARE(w.selectedDbNode(), target);
    }

    // Enter on a selected contact opens it for editing, as a double click does; Help with no browser says where
    // the help page is.
    void keyboardAndHelp()
    {
        MainWindow w;
        w.show();
        select(w, w.treeModel()->findDatabaseNode(QStringLiteral("Work.db")));
        auto *list = w.findChild<QTreeView *>(QStringLiteral("treeContacts"));
        list->selectionModel()->setCurrentIndex(w.contactsModel()->indexOfRow(2),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QString edited;
        EditContactForm::queueAnswer(
            [&edited](ContactEditor &editor) { edited = editor.field(QStringLiteral("txtLastName"))->text(); });
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(edited, QStringLiteral("Hansen"));

        // No browser and no mail program here.
        QList<QUrl> opened;
        Desktop::setOpener([&opened](const QUrl &url) {
            opened << url;
            return false;
        });
        MessageBox::queueAnswer(MessageBox::Ok);
        QVERIFY(w.action("miHelpHelp")->shortcut() == QKeySequence(QKeySequence::HelpContents));
        w.miHelpHelp();
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(QStringLiteral("help page is the file")), qPrintable(shown.first()));
        QVERIFY(QFileInfo::exists(DataFolder::root() + QStringLiteral("/help/index.html")));
        QVERIFY2(shown.first().contains(DataFolder::root().toHtmlEscaped()), qPrintable(shown.first()));
        MessageBox::queueAnswer(MessageBox::Ok);
        w.miHelpFeedback();
        QCOMPARE(
            MessageBox::takeShownTexts(),
            QStringList{QStringLiteral("No e-mail program could be opened. Please write to support@tallowbrook.com.")});
        MessageBox::queueAnswer(MessageBox::Ok);
        w.miToolsCheckForUpdate();
        QVERIFY(MessageBox::takeShownTexts().first().contains(
            QStringLiteral("https://www.tallowbrook.com/contact-mover/download")));
        QCOMPARE(opened.size(), 3);
        Desktop::setOpener({});
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
    // Every command of the menus, the tool bar and the context menus reaches the window's slot of its name; one
    // left without a slot would stay disabled whatever is selected.
    void everyCommandReachesItsSlot()
    {
        MainWindow w;
        const QList<QAction *> actions = w.findChildren<QAction *>();
        int commands = 0;
        for (const QAction *a : actions) {
            if (!a->objectName().startsWith(QStringLiteral("mi")))
                continue;
            ++commands;
            QVERIFY2(!a->property("unavailable").toBool(), qPrintable(a->objectName()));
            QCOMPARE(w.action(a->objectName().toLatin1().constData()), a);
        }
        QCOMPARE(commands, 44);
        QVERIFY(!w.action("miNoSuchCommand"));
    }

    // The File menu's commands act on the selected contacts when there are some, otherwise on the whole node
    // (or its selected group); the Contact and Tree commands always on theirs.
    void fileCommandsActOnTheSelectionElseTheNode()
    {
        MainWindow w;
        w.show();
        _DBItemNode *work = w.treeModel()->findDatabaseNode(QStringLiteral("Work.db"));
        select(w, work);
        auto *list = w.findChild<QTreeView *>(QStringLiteral("treeContacts"));
        const auto exported = [&](const char *command) {
            const QString path = QDir::home().filePath(QStringLiteral("out.csv"));
            QFile::remove(path);
            FileDialogs::queueAnswer(path, QStringLiteral("CSV Files(*.csv)"));
            MessageBox::queueAnswer(MessageBox::Ok);
            w.action(command)->trigger();
            MessageBox::takeShownTexts();
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return QStringList();
            const QByteArray content = file.readAll();
            QStringList names;
            for (const QString &name : {QStringLiteral("Ola"), QStringLiteral("Kari"), QStringLiteral("Per")})
                if (content.contains(name.toUtf8()))
                    names << name;
            return names;
        };

        QCOMPARE(exported("miFileExport"),
                 (QStringList{QStringLiteral("Ola"), QStringLiteral("Kari"), QStringLiteral("Per")}));
        const int perRow = int(listedNames(w).indexOf(QStringLiteral("Per Hansen")));
        list->selectionModel()->select(w.contactsModel()->indexOfRow(perRow),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QCOMPARE(w.action("miFileExport")->text(), w.action("miContactExport")->text());
        QCOMPARE(exported("miFileExport"), QStringList{QStringLiteral("Per")});
        QCOMPARE(exported("miContactExport"), QStringList{QStringLiteral("Per")});
        QCOMPARE(exported("miTreeExport").size(), 3);

        // With the group selected, the node's contacts are the group's members.
        select(w, work->child(0));
        QCOMPARE(exported("miFileExport"), (QStringList{QStringLiteral("Ola"), QStringLiteral("Kari")}));
    }

    void backupADeviceIntoANewDatabaseThenMergeAgain()
    {
        MainWindow w;
        w.show();
        _DBItemNode *phone = w.treeModel()->deviceNodes().first();
        select(w, phone);

        LocalDbSelForm::queueAnswer(QStringLiteral("Pixel backup"));
        MessageBox::queueAnswer(MessageBox::Yes); // the question with what will change
        MessageBox::queueAnswer(MessageBox::Ok);  // the success message
        w.action("miTreeBackup")->trigger();
        QCOMPARE(MessageBox::takeShownTexts().mid(1),
                 QStringList{QStringLiteral("Successfully backed up 3 contacts to the local database.")});
        _DBItemNode *backup = w.treeModel()->findDatabaseNode(QStringLiteral("Pixel backup.db"));
        QVERIFY(backup);
        QCOMPARE(w.selectedDbNode(), backup);
        QCOMPARE(listedNames(w).size(), 3);

        // Into the same database again: the name already in the tree is merged into, not created again.
        select(w, phone);
        LocalDbSelForm::queueAnswer(QStringLiteral("Pixel backup.db"));
        MessageBox::queueAnswer(MessageBox::Yes); // the question with what will change
        MessageBox::queueAnswer(MessageBox::Ok);
        w.miTreeBackup();
        QCOMPARE(MessageBox::takeShownTexts().mid(1),
                 QStringList{QStringLiteral(
                     "Successfully backed up 0 contacts to the local database; 3 repeated contacts merged.")});
        QCOMPARE(w.treeModel()->databaseNodes().size(), 3);
        QCOMPARE(backup->db->listContacts(0, QString()).size(), 3);

        const QByteArray shots = qgetenv("TB_SCREENSHOT_DIR");
        if (!shots.isEmpty()) {
            w.resize(1100, 700); // the size the window opens with
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
