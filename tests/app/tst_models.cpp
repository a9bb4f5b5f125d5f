#include "app/datasourceselform.h"
#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/localdbselform.h"
#include "app/messagebox.h"
#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "temphome.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTest>

#include <functional>

using Tree = ItemModelMainTree;

namespace {

PLocalDb newDb(const QString &path)
{
    PLocalDb db(new LocalDb(path, PContactCombineRule(new LocalDbCombineRule)));
    db->createFromTemplate();
    return db;
}

// The texts of the message boxes shown while fn runs; at most one box is answered (with OK).
QStringList boxesShownBy(const std::function<void()> &fn)
{
    MessageBox::queueAnswer(MessageBox::Ok);
    fn();
    QStringList shown = MessageBox::takeShownTexts();
    if (shown.isEmpty()) { // the answer is still queued: use it up so it cannot leak into the next case
        MessageBox::information(nullptr, QStringLiteral("drain"));
        MessageBox::takeShownTexts();
    }
    return shown;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

pim::DataRow phone(const QString &number, const QVariant &type)
{
    return fixtures::row({{1, number}, {2, type}});
}

} // namespace

class TestModels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }

    // ---- ItemModelMainTree ----

    void treeKeepsItsShapeThroughEveryChange()
    {
        QTemporaryDir dir;
        Tree model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("Devices"));
        QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("Local Databases"));

        PLocalDb work = newDb(dir.filePath(QStringLiteral("Work.db")));
        const qint64 friends = work->findOrCreateGroup(QStringLiteral("Friends"));
        work->findOrCreateGroup(QStringLiteral("Colleagues"));
        auto *workNode = model.addDatabaseNode(work, QStringLiteral("Work.db"));
        auto *home = model.addDatabaseNode(newDb(dir.filePath(QStringLiteral("Home.db"))), QStringLiteral("Home.db"));
        model.addDeviceNode({}, newDb(dir.filePath(QStringLiteral("udid1"))), QStringLiteral("Ann's iPhone"),
                            QStringLiteral("udid1"), Tree::PlatformIos);

        // Groups come sorted by name and replace the previous children on every reload.
        model.reloadGroups(workNode);
        model.reloadGroups(workNode);
        const QModelIndex workIndex = model.indexOfNode(workNode);
        QCOMPARE(model.rowCount(workIndex), 2);
        QCOMPARE(model.index(0, 0, workIndex).data().toString(), QStringLiteral("Colleagues"));
        const QModelIndex friendsIndex = model.index(1, 0, workIndex);
        QCOMPARE(model.groupNodeOf(friendsIndex)->groupId, friends);
        QCOMPARE(model.dbNodeOf(friendsIndex), workNode);
        QCOMPARE(friendsIndex.parent(), workIndex);
        QCOMPARE(model.dbNodeOf(model.index(1, 0)), nullptr); // a root has no database

        // A database without groups gets none, and is marked as loaded.
        QVERIFY(!home->groupsLoaded);
        model.reloadGroups(home);
        QVERIFY(home->groupsLoaded);
        QCOMPARE(model.rowCount(model.indexOfNode(home)), 0);

        // Groups deleted in the database disappear on reload, and a selected group's index becomes invalid
        // rather than dangling.
        const QPersistentModelIndex held(friendsIndex);
        for (const auto &group : work->listGroups())
            work->deleteGroup(group.first);
        model.reloadGroups(workNode);
        QCOMPARE(model.rowCount(workIndex), 0);
        QVERIFY(!held.isValid());

        model.removeDatabaseNode(home);
        QCOMPARE(model.databaseNodes(), QList<_DBItemNode *>{workNode});
        QCOMPARE(model.indexOfNode(workNode).row(), 0);
        QVERIFY(model.removeDeviceNode(QStringLiteral("udid1"), Tree::PlatformIos));
        QCOMPARE(model.rowCount(model.index(0, 0)), 0);
    }

    void deviceRemovalTakesTheFirstNodeOfThePlatform()
    {
        QTemporaryDir dir;
        Tree model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QString id = QStringLiteral("R58M");
        auto *android = model.addDeviceNode({}, newDb(dir.filePath(QStringLiteral("a"))), QStringLiteral("Pixel"), id,
                                            Tree::PlatformAndroid);
        model.addDeviceNode({}, newDb(dir.filePath(QStringLiteral("i1"))), QStringLiteral("One"), id,
                            Tree::PlatformIos);
        auto *ios2 = model.addDeviceNode({}, newDb(dir.filePath(QStringLiteral("i2"))), QStringLiteral("Two"), id,
                                         Tree::PlatformIos);
        QCOMPARE(model.deviceCount(Tree::PlatformIos), 2);
        QCOMPARE(model.deviceCount(Tree::PlatformAndroid), 1);

        QVERIFY(model.removeDeviceNode(id, Tree::PlatformIos));
        QCOMPARE(model.deviceNodes(), (QList<_DBItemNode *>{android, ios2}));
        QVERIFY(model.removeDeviceNode(id, Tree::PlatformAndroid));
        QCOMPARE(model.deviceNodes(), QList<_DBItemNode *>{ios2});
        QVERIFY(!model.removeDeviceNode(QStringLiteral("unknown")));
        QCOMPARE(model.deviceCount(Tree::PlatformIos), 1);
    }

    void removingADeviceNodeReleasesItsCache()
    {
        QTemporaryDir dir;
        Tree model;
        PLocalDb cache = newDb(dir.filePath(QStringLiteral("udid")));
        const QWeakPointer<LocalDb> weak = cache;
        model.addDeviceNode({}, cache, QStringLiteral("iPhone"), QStringLiteral("udid"), Tree::PlatformIos);

        // Work left open in the cache (as by an interrupted load) is abandoned with the connection.
        cache->beginTransaction();
        pim::Contact c = fixtures::person(QStringLiteral("Ann"), QStringLiteral("Lee"));
        cache->insertContact(c);
        QCOMPARE(cache->db().tranDepth(), 1);
        QVERIFY(model.removeDeviceNode(QStringLiteral("udid"), Tree::PlatformIos));
        QCOMPARE(cache->db().tranDepth(), 0);
        QCOMPARE(cache->findContactByName(QStringLiteral("Ann Lee")), 0);

        // The model keeps no reference of its own.
        cache.reset();
        QVERIFY(weak.isNull());
    }

    void removingADatabaseNodeKeepsItsFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Work.db"));
        Tree model;
        PLocalDb db = newDb(path);
        pim::Contact c = fixtures::person(QStringLiteral("Ann"), QStringLiteral("Lee"), QStringLiteral("555"));
        db->saveContactWithMerge(c);
        auto *node = model.addDatabaseNode(db, QStringLiteral("Work.db"));
        QCOMPARE(model.findDatabaseNode(QStringLiteral("Work.db")), node);
        db.reset();

        model.removeDatabaseNode(node);
        QVERIFY(!model.findDatabaseNode(QStringLiteral("Work.db")));
        QVERIFY(QFile::exists(path));
        LocalDb reopened(path, PContactCombineRule(new LocalDbCombineRule));
        QCOMPARE(reopened.listContacts(0, QString()).size(), 1);
    }

    // ---- LocalDbSelForm ----

    void localDbNameRules_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("fileName"); // empty: refused
        QTest::addColumn<QString>("warning");
        const QString invalid = QStringLiteral("Invalid Local Database name(can't contain \\ / : * ? \" < > |).");
        const QString empty = QStringLiteral("Select one Database or enter a new Database name");
        QTest::newRow("suffix added") << "Work"
                                      << "Work.db" << QString();
        QTest::newRow("suffix kept") << "Work.db"
                                     << "Work.db" << QString();
        QTest::newRow("suffix case-sensitive") << "Work.DB"
                                               << "Work.DB.db" << QString();
        QTest::newRow("inner spaces kept") << "My Work"
                                           << "My Work.db" << QString();
        QTest::newRow("colon") << "a:b" << QString() << invalid;
        QTest::newRow("slash") << "../x" << QString() << invalid;
        QTest::newRow("tab")
            << "a\tb" << QString()
            << QStringLiteral(
                   "Invalid Local Database name: it contains the invisible or direction-changing character U+0009.");
        QTest::newRow("spaces around a colon") << " : " << QString() << invalid;
        QTest::newRow("hidden file")
            << ".work" << QString()
            << QStringLiteral("Invalid Local Database name: a name starting with \".\" would make a hidden file.");
        QTest::newRow("empty") << "" << QString() << empty;
        QTest::newRow("spaces only") << "   " << QString() << empty;
    }

    void localDbNameRules()
    {
        QFETCH(QString, typed);
        QFETCH(QString, fileName);
        QFETCH(QString, warning);
        TempHome home;
        LocalDbSelForm form(nullptr, QString());
        auto *combo = form.findChild<QComboBox *>(QStringLiteral("cbLocalDbNames"));
        QVERIFY(combo);
        combo->setEditText(typed);
        const QStringList shown = boxesShownBy([&] { form.onBtnOkPress(); });
        QCOMPARE(shown, warning.isEmpty() ? QStringList() : QStringList{warning});
        QCOMPARE(form.result(), fileName.isEmpty() ? int(QDialog::Rejected) : int(QDialog::Accepted));
        QCOMPARE(form.selectedFileName(), fileName);
    }

    void localDbFormOffersTheDatabasesOldestFirst()
    {
        TempHome home;
        const QDir data(DataFolder::localDbDir());
        const QDateTime now = QDateTime::currentDateTime();
        const QList<QPair<QString, int>> files{
            {QStringLiteral("new.db"), 0}, {QStringLiteral("old.db"), -300}, {QStringLiteral("notes.txt"), -600}};
        for (const auto &[name, age] : files) {
            QFile f(data.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.setFileTime(now.addSecs(age), QFileDevice::FileModificationTime));
        }
        QVERIFY(data.mkdir(QStringLiteral("folder.db")));

        LocalDbSelForm form(nullptr, QStringLiteral("Pixel-backup.db"));
        auto *combo = form.findChild<QComboBox *>(QStringLiteral("cbLocalDbNames"));
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, (QStringList{QString(), QStringLiteral("old.db"), QStringLiteral("new.db")}));
        QCOMPARE(combo->currentText(), QStringLiteral("Pixel-backup.db"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Choose a Database for the Backup"));
    }

    // The headless path the window's own tests use: a refused name, then a good one; a null answer cancels.
    void localDbFormRunsOnQueuedAnswers()
    {
        TempHome home;
        LocalDbSelForm::queueAnswer(QStringLiteral("a|b"));
        LocalDbSelForm::queueAnswer(QStringLiteral("Pixel-backup"));
        MessageBox::queueAnswer(MessageBox::Ok);
        LocalDbSelForm accepted(nullptr, QString());
        QCOMPARE(accepted.exec(), int(QDialog::Accepted));
        QCOMPARE(accepted.selectedFileName(), QStringLiteral("Pixel-backup.db"));
        QCOMPARE(MessageBox::takeShownTexts().size(), 1);

        LocalDbSelForm::queueAnswer(QString());
        LocalDbSelForm cancelled(nullptr, QStringLiteral("x"));
        QCOMPARE(cancelled.exec(), int(QDialog::Rejected));
        QCOMPARE(cancelled.selectedFileName(), QString());
    }

    // ---- DataSourceSelForm ----

    void dataSourceFormWithoutCandidatesWarns()
    {
        DataSourceSelForm form;
        form.setDeviceCandidates(QStringLiteral("Select an iPhone device to continue."), {});
        QVERIFY(form.findChild<QLabel *>(QStringLiteral("btnOpenOther"))->isHidden());
        QCOMPARE(form.findChild<QLabel *>(QStringLiteral("lbSelDevice"))->text(),
                 QStringLiteral("Select an iPhone device to continue."));
        const QStringList shown = boxesShownBy([&] { form.onBtnOkPressed(); });
        QCOMPARE(shown, QStringList{QStringLiteral("Please select one datasource.")});
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QCOMPARE(form.selectedNode(), nullptr);
    }

    void dataSourceFormReturnsTheChosenNode()
    {
        QTemporaryDir dir;
        Tree model;
        auto *a = model.addDeviceNode({}, newDb(dir.filePath(QStringLiteral("a"))), QStringLiteral("A"),
                                      QStringLiteral("a"), Tree::PlatformIos);
        auto *b = model.addDeviceNode({}, newDb(dir.filePath(QStringLiteral("b"))), QStringLiteral("B"),
                                      QStringLiteral("b"), Tree::PlatformIos);
        const QList<DataSourceSelForm::Candidate> candidates{{QIcon(), a->name, a}, {QIcon(), b->name, b}};

        const auto choose = [&](const QList<DataSourceSelForm::Candidate> &offered) -> _DBItemNode * {
            DataSourceSelForm form;
            form.setDeviceCandidates(QStringLiteral("p"), offered);
            return form.exec() == QDialog::Accepted ? form.selectedNode() : nullptr;
        };
        DataSourceSelForm::queueAnswer(1);
        QCOMPARE(choose(candidates), b);
        DataSourceSelForm::queueAnswer(-1);
        QCOMPARE(choose(candidates), nullptr);
    }

    // ---- ItemModelContacts ----

    void contactListColumns_data()
    {
        QTest::addColumn<QList<pim::DataRow>>("phones");
        QTest::addColumn<QString>("shown");
        const auto s = [](const char *t) { return QString::fromLatin1(t); };
        QTest::newRow("mobile after home") << QList{phone(s("111"), s("1")), phone(s("222"), s("2"))} << "222";
        QTest::newRow("mobile before home") << QList{phone(s("222"), s("2")), phone(s("111"), s("1"))} << "222";
        QTest::newRow("mobile as a number") << QList{phone(s("111"), 3), phone(s("222"), 2)} << "222";
        QTest::newRow("two work, no mobile") << QList{phone(s("333"), s("3")), phone(s("444"), s("3"))} << "333";
        QTest::newRow("untyped first") << QList{phone(s("555"), QVariant()), phone(s("666"), s("7"))} << "555";
        QTest::newRow("no phone") << QList<pim::DataRow>{} << "";
    }

    void contactListColumns()
    {
        QFETCH(QList<pim::DataRow>, phones);
        QFETCH(QString, shown);
        pim::Contact c = fixtures::person(QStringLiteral("Ann"), QStringLiteral("Lee"));
        for (const pim::DataRow &p : phones)
            c.addRow(pim::ENTITY_PHONE, p);
        c.addRow(pim::ENTITY_EMAIL, fixtures::row({{1, QStringLiteral("ann@work.example")}}));
        c.addRow(pim::ENTITY_EMAIL, fixtures::row({{1, QStringLiteral("ann@home.example")}}));
        c.addRow(pim::ENTITY_ADDRESS,
                 fixtures::row({{1, QStringLiteral("1 Main St\nSpringfield")}, {4, QStringLiteral("1 Main St")}}));

        ItemModelContacts model;
        model.setContacts({pim::Contact(), c});
        const QModelIndex row = model.indexOfRow(1);
        QCOMPARE(row.siblingAtColumn(0).data().toString(), QStringLiteral("Ann Lee"));
        QCOMPARE(row.siblingAtColumn(1).data().toString(), shown);
        QCOMPARE(row.siblingAtColumn(1).data(Qt::ToolTipRole).toString(), shown);
        QCOMPARE(row.siblingAtColumn(2).data().toString(), QStringLiteral("ann@work.example"));
        QCOMPARE(row.siblingAtColumn(3).data().toString(), QStringLiteral("1 Main St\nSpringfield"));
        QCOMPARE(model.contactAt(row.siblingAtColumn(2)).full_name, QStringLiteral("Ann Lee"));
        // The contact without rows shows empty texts.
        QCOMPARE(model.indexOfRow(0).siblingAtColumn(1).data().toString(), QString());
    }

    void contactListPhotos_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("decoded");
        QImage red(36, 30, QImage::Format_RGB32);
        red.fill(Qt::red);
        QTest::newRow("jpeg") << encoded(red, "JPEG") << true;
        QTest::newRow("png") << encoded(red, "PNG") << true;
        QTest::newRow("neither") << QByteArray("\xff\xd8 not really an image") << false;
        QTest::newRow("no bytes") << QByteArray() << false;
    }

    void contactListPhotos()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, decoded);
        pim::Contact c = fixtures::person(QStringLiteral("Ann"), QStringLiteral("Lee"));
        if (!bytes.isNull())
            c.addRow(pim::ENTITY_PHOTO, fixtures::row({{15, bytes}}));
        ItemModelContacts model;
        model.setContacts({c});

        const QImage shown = model.indexOfRow(0).data(Qt::DecorationRole).value<QPixmap>().toImage();
        if (decoded) {
            QCOMPARE(shown.size(), QSize(18, 15));
            const QColor centre = shown.pixelColor(9, 7);
            QVERIFY2(centre.red() > 200 && centre.green() < 60, qPrintable(centre.name()));
        } else {
            const QImage empty =
                QPixmap(QStringLiteral(":res/empty_contact.png")).scaledToWidth(18, Qt::SmoothTransformation).toImage();
            QVERIFY(!empty.isNull());
            QCOMPARE(shown, empty);
        }
        QVERIFY(!model.indexOfRow(0).siblingAtColumn(1).data(Qt::DecorationRole).isValid());
    }

    void contactListIsAFlatTable()
    {
        ItemModelContacts model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QImage red(18, 18, QImage::Format_RGB32);
        red.fill(Qt::red);
        QList<pim::Contact> contacts;
        for (int i = 0; i < 5; ++i) {
            contacts << fixtures::person(QStringLiteral("P%1").arg(i), QStringLiteral("Q"),
                                         QStringLiteral("55%1").arg(i));
            contacts.last().addRow(pim::ENTITY_PHOTO, fixtures::row({{15, encoded(red, "PNG")}}));
        }
        model.setContacts(contacts);
        for (int row = 0; row < 5; ++row)
            QCOMPARE(model.indexOfRow(row).data(Qt::DecorationRole).value<QPixmap>().toImage().pixelColor(9, 9),
                     QColor(Qt::red));

        // A new list never shows the photos decoded for the previous one.
        model.setContacts({fixtures::person(QStringLiteral("No"), QStringLiteral("Photo")), contacts.at(0)});
        const QImage empty =
            QPixmap(QStringLiteral(":res/empty_contact.png")).scaledToWidth(18, Qt::SmoothTransformation).toImage();
        QCOMPARE(model.indexOfRow(0).data(Qt::DecorationRole).value<QPixmap>().toImage(), empty);
        QVERIFY(!model.indexOfRow(2).isValid());
        QCOMPARE(model.contactAt(model.indexOfRow(1).siblingAtColumn(3)).full_name, QStringLiteral("P0 Q"));
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("E-Mail"));
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
        QCOMPARE(model.indexOfRow(1).data(Qt::SizeHintRole).toSize().height(), 25);

        model.clear();
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(!model.indexOfRow(0).isValid());
        QCOMPARE(model.contactAt(QModelIndex())._id, 0);
    }
};

QTEST_MAIN(TestModels)
#include "tst_models.moc"
