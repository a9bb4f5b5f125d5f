// The contact list of large nodes in the real window: the list arrives in pieces from a worker while the event
// loop runs, and ends up exactly as LocalDb::listContacts lists the node; newer selections and searches replace
// older listings; the window's own writes during a listing succeed; a writer holding the file is waited out.

#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "contacts/combinerule.h"
#include "contacts/contactlister.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "temphome.h"
#include "widgets/contactdisplayer.h"
#include "widgets/contacteditor.h"
#include "widgets/editcontactform.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QDataStream>
#include <QIODevice>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace {

constexpr int kLarge = 4000;
constexpr int kOther = 1500;
const QStringList kFamilies{u"Hansen"_s, u"Berg"_s, u"Cole"_s,    u"Dahl"_s,   u"Eriksen"_s, u"Fossum"_s,
                            u"Gran"_s,   u"Holm"_s, u"Iversen"_s, u"Jensen"_s, u"Karlsen"_s};

pim::DataRow makeRow(std::initializer_list<std::pair<int, QVariant>> values)
{
    pim::DataRow r;
    for (const auto &[n, value] : values)
        r.setValue(u"data%1"_s.arg(n), value);
    return r;
}

void store(LocalDb &db, const QString &given, const QString &family, int n, qint64 groupId)
{
    pim::Contact c;
    c.full_name = (given + u' ' + family).trimmed();
    db.insertContact(c);
    pim::DataRow name = makeRow({{1, c.full_name}, {2, given}, {3, family}});
    db.insertRow(c._id, pim::ENTITY_NAME, name);
    // Two phones in an order where the mobile comes second, so the list's choice among rows matters.
    pim::DataRow home = makeRow({{1, u"+47 22 %1"_s.arg(n, 6, 10, QLatin1Char('0'))}, {2, u"1"_s}});
    db.insertRow(c._id, pim::ENTITY_PHONE, home);
    pim::DataRow mobile = makeRow({{1, u"+47 9%1"_s.arg(n, 7, 10, QLatin1Char('0'))}, {2, u"2"_s}});
    db.insertRow(c._id, pim::ENTITY_PHONE, mobile);
    if (n % 3 == 0) {
        pim::DataRow mail = makeRow({{1, u"p%1@example.org"_s.arg(n)}, {2, u"1"_s}});
        db.insertRow(c._id, pim::ENTITY_EMAIL, mail);
    }
    if (n % 50 == 0) {
        pim::DataRow photo = makeRow({{15, QByteArray(3000, char(n % 251))}});
        db.insertRow(c._id, pim::ENTITY_PHOTO, photo);
    }
    if (groupId != 0 && n % 7 == 0) {
        pim::DataRow member = makeRow({{1, QString::number(groupId)}, {2, u"Friends"_s}});
        db.insertRow(c._id, pim::ENTITY_GROUP, member);
    }
}

// A database of `count` contacts whose name order differs from their id order, with a group, photos, contacts
// of equal names, names whose UTF-16 order differs from their code point order, a contact without rows and rows
// without a contact.
void fillDatabase(const QString &path, const QString &prefix, int count)
{
    LocalDb db(path, PContactCombineRule(new LocalDbCombineRule));
    db.createFromTemplate();
    db.beginTransaction();
    const qint64 friends = db.findOrCreateGroup(u"Friends"_s);
    for (int i = 0; i < count; ++i) {
        const int n = (i * 7919) % count;
        QString given = prefix + u"%1"_s.arg(n, 5, 10, QLatin1Char('0'));
        if (i % 400 == 1)
            given = prefix + u" Same"_s;
        else if (i == 2)
            given = QString::fromUcs4(U"\U0001F600 ") + prefix;
        else if (i == 3)
            given = QString::fromUcs4(U"\uFF21 ") + prefix;
        store(db, given, kFamilies.at(n % kFamilies.size()), n, friends);
    }
    pim::Contact empty;
    empty.full_name = prefix + u" Without Rows"_s;
    db.insertContact(empty);
    pim::DataRow orphan = makeRow({{1, prefix + u" orphan row"_s}});
    db.insertRow(999999, pim::ENTITY_NOTE, orphan);
    db.endTransaction(true);
}

// Every field of every contact, in order: two lists are the same when these bytes are.
QByteArray fingerprint(const QList<pim::Contact> &contacts)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    for (const pim::Contact &c : contacts) {
        out << c._id << c.src_id << c.full_name;
        for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
            for (const pim::DataRow &row : it.value())
                out << it.key() << row._id << row.src_id << row.columns;
    }
    return bytes;
}

QList<pim::Contact> listed(const QString &fileName, qint64 groupId = 0, const QString &keyword = QString())
{
    LocalDb db(LocalDbFiles::pathFor(fileName), PContactCombineRule(new LocalDbCombineRule));
    return db.listContacts(groupId, keyword);
}

QTreeView *view(MainWindow &w, const char *name)
{
    return w.findChild<QTreeView *>(QString::fromLatin1(name));
}

void select(MainWindow &w, const _ItemNode *node)
{
    view(w, "treeMain")
        ->selectionModel()
        ->select(w.treeModel()->indexOfNode(node), QItemSelectionModel::ClearAndSelect);
}

QString total(MainWindow &w)
{
    return w.findChild<QLabel *>(u"lbTotal"_s)->text();
}

QStringList selectedNames(MainWindow &w)
{
    QStringList names;
    for (const QModelIndex &index : view(w, "treeContacts")->selectionModel()->selectedRows())
        names << w.contactsModel()->contactAt(index).full_name;
    return names;
}

// Selects the node and returns once its first contacts are in the list while the rest is still being read. The
// event loop is turned one event at a time, so the first piece is seen as soon as it is posted; should a busy
// machine let the worker finish before that, the node is selected again.
bool selectAndCatchListing(MainWindow &w, const _ItemNode *node)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        select(w, w.treeModel()->databasesRoot());
        select(w, node);
        while (w.isListingContacts() && w.contactsModel()->rowCount() == 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (w.isListingContacts() && w.contactsModel()->rowCount() > 0)
            return true;
    }
    return false;
}

// Waits until the listing has ended, with a generous limit for a loaded machine.
bool listingEnds(MainWindow &w)
{
    return QTest::qWaitFor([&w] { return !w.isListingContacts(); }, 60000);
}

} // namespace

class TestContactListing : public QObject
{
    Q_OBJECT

    QTemporaryDir m_files;
    std::unique_ptr<TempHome> m_home;

private Q_SLOTS:
    void initTestCase()
    {
        installEnglishTranslation(*QCoreApplication::instance());
        fillDatabase(m_files.filePath(u"Large.db"_s), u"Person"_s, kLarge);
        fillDatabase(m_files.filePath(u"Other.db"_s), u"Other"_s, kOther);
        LocalDb small(m_files.filePath(u"Small.db"_s), PContactCombineRule(new LocalDbCombineRule));
        small.createFromTemplate();
        store(small, u"Tiny"_s, u"Hansen"_s, 1, 0);
        store(small, u"Wee"_s, u"Berg"_s, 2, 0);
    }
    void init()
    {
        m_home = std::make_unique<TempHome>();
        QDir().mkpath(DataFolder::localDbDir());
        for (const QString &name : {u"Large.db"_s, u"Other.db"_s, u"Small.db"_s}) {
            QVERIFY(QFile::copy(m_files.filePath(name), LocalDbFiles::pathFor(name)));
            QFile::setPermissions(LocalDbFiles::pathFor(name), QFile::ReadOwner | QFile::WriteOwner);
        }
    }
    void cleanup()
    {
        MessageBox::takeShownTexts();
        m_home.reset();
    }

    void selectingALargeNodeFillsTheListInPiecesAsListContactsListsIt()
    {
        MainWindow w;
        w.show();
        QAbstractItemModelTester tester(w.contactsModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        _DBItemNode *node = w.treeModel()->findDatabaseNode(u"Large.db"_s);
        QVERIFY(node);
        QStringList totalsWithRows;
        int pieces = 0;
        connect(w.contactsModel(), &QAbstractItemModel::rowsInserted, this, [&] {
            ++pieces;
            totalsWithRows << total(w);
        });

        select(w, node);
        // Back in the event loop before any contact is read: nothing of the listing is shown yet.
        QVERIFY(w.isListingContacts());
        QCOMPARE(w.contactsModel()->rowCount(), 0);
        QVERIFY(listingEnds(w));

        const QList<pim::Contact> expected = listed(u"Large.db"_s);
        QCOMPARE(expected.size(), kLarge);
        QCOMPARE(w.contactsModel()->rowCount(), kLarge);
        QVERIFY(fingerprint(w.contactsModel()->contacts()) == fingerprint(expected));
        QVERIFY2(pieces > 1, "the list was filled in one go");
        // A whole database is counted right after its first piece, so that its first rows never wait for the
        // count: the second piece finds the total shown.
        QCOMPARE(totalsWithRows.at(1), u"Total:%1"_s.arg(kLarge));
        QCOMPARE(total(w), u"Total:%1"_s.arg(kLarge));
        // As for a small node: the first row is current, nothing selected, the details pane empty.
        QCOMPARE(view(w, "treeContacts")->currentIndex().row(), 0);
        QVERIFY(selectedNames(w).isEmpty());
        QCOMPARE(w.findChild<ContactDisplayer *>()->contact()._id, 0);
        QCOMPARE(w.contactsModel()->data(w.contactsModel()->index(0, ItemModelContacts::ColumnPhone)).toString(),
                 ItemModelContacts::phoneText(expected.first()));

        // A group of the large node is listed the same way.
        _ItemNode *group = node->childCount() > 0 ? node->child(0) : nullptr;
        QVERIFY(group && group->name == u"Friends"_s);
        const qint64 groupId = static_cast<_GroupItemNode *>(group)->groupId;
        select(w, group);
        QVERIFY(listingEnds(w));
        const QList<pim::Contact> members = listed(u"Large.db"_s, groupId);
        QVERIFY(members.size() > ContactLister::readAtOnceLimit / 2);
        QVERIFY(fingerprint(w.contactsModel()->contacts()) == fingerprint(members));
        QCOMPARE(total(w), u"Total:%1"_s.arg(members.size()));
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }

    void aNewSelectionDuringAListingShowsOnlyTheNewNodesContacts()
    {
        MainWindow w;
        w.show();
        QAbstractItemModelTester tester(w.contactsModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        _DBItemNode *large = w.treeModel()->findDatabaseNode(u"Large.db"_s);
        _DBItemNode *other = w.treeModel()->findDatabaseNode(u"Other.db"_s);
        _DBItemNode *small = w.treeModel()->findDatabaseNode(u"Small.db"_s);

        QVERIFY(selectAndCatchListing(w, large));
        QStringList foreign;
        const auto check = connect(w.contactsModel(), &QAbstractItemModel::rowsInserted, this,
                                   [&](const QModelIndex &, int first, int last) {
                                       for (int row = first; row <= last; ++row) {
                                           const QString name = w.contactsModel()->contacts().at(row).full_name;
                                           if (!name.contains(u"Other"_s))
                                               foreign << name;
                                       }
                                   });
        select(w, other);
        QCOMPARE(w.contactsModel()->rowCount(), 0);
        QVERIFY(listingEnds(w));
        QCOMPARE(foreign, QStringList());
        QVERIFY(fingerprint(w.contactsModel()->contacts()) == fingerprint(listed(u"Other.db"_s)));
        QCOMPARE(total(w), u"Total:%1"_s.arg(kOther));
        disconnect(check);

        // A small node is listed at once; what the large listing still had in flight never reaches the list.
        select(w, large);
        QVERIFY(w.isListingContacts());
        select(w, small);
        QVERIFY(!w.isListingContacts());
        const QByteArray smallList = fingerprint(listed(u"Small.db"_s));
        QVERIFY(fingerprint(w.contactsModel()->contacts()) == smallList);
        QTest::qWait(500);
        QVERIFY(fingerprint(w.contactsModel()->contacts()) == smallList);
        QCOMPARE(total(w), u"Total:2"_s);

        // Selecting no node at all ends the listing too.
        QVERIFY(selectAndCatchListing(w, large));
        view(w, "treeMain")->selectionModel()->clearSelection();
        QVERIFY(!w.isListingContacts());
        QTest::qWait(300);
        QCOMPARE(w.contactsModel()->rowCount(), 0);
        QCOMPARE(total(w), u"Total:0"_s);
    }

    void aSearchDuringAListingShowsOnlyTheMatches()
    {
        MainWindow w;
        w.show();
        _DBItemNode *large = w.treeModel()->findDatabaseNode(u"Large.db"_s);
        QVERIFY(selectAndCatchListing(w, large));

        w.findChild<QLineEdit *>(u"txtKeyword"_s)->setText(u" hansen "_s);
        w.onBtnSearchPressed();
        QVERIFY(listingEnds(w));
        const QList<pim::Contact> expected = listed(u"Large.db"_s, 0, u"hansen"_s);
        QVERIFY(expected.size() > kLarge / 12 && expected.size() < kLarge / 10);
        QVERIFY(fingerprint(w.contactsModel()->contacts()) == fingerprint(expected));
        QCOMPARE(total(w), u"Total:%1"_s.arg(expected.size()));
        QCOMPARE(w.findChild<QLabel *>(u"lbDisplayKeyword"_s)->text(),
                 trKey("IDS_SEARCH_KEYWORKD_%1").arg(u"hansen"_s));
        // A search selects its first row and shows it, as for a small node.
        QCOMPARE(selectedNames(w), QStringList{expected.first().full_name});
        QCOMPARE(w.findChild<ContactDisplayer *>()->contact()._id, expected.first()._id);

        // An empty search lists the whole node again.
        w.findChild<QLineEdit *>(u"txtKeyword"_s)->setText(u"  "_s);
        w.onBtnSearchPressed();
        QVERIFY(listingEnds(w));
        QCOMPARE(w.contactsModel()->rowCount(), kLarge);
        QVERIFY(w.findChild<QLabel *>(u"lbDisplayKeyword"_s)->isHidden());
    }

    void theWindowsOwnWritesDuringAListingSucceedAndAreListed()
    {
        MainWindow w;
        w.show();
        _DBItemNode *large = w.treeModel()->findDatabaseNode(u"Large.db"_s);
        LocalDb &db = *large->db;
        QVERIFY(selectAndCatchListing(w, large));

        // Delete the first contact while the rest is still being read.
        const pim::Contact doomed = w.contactsModel()->contacts().first();
        view(w, "treeContacts")
            ->selectionModel()
            ->select(w.contactsModel()->indexOfRow(0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        w.action("miContactDel")->trigger();
        QCOMPARE(MessageBox::takeShownTexts(),
                 (QStringList{
                     trKey("Delete the contact %1 from %2?")
                         .arg(u"\u201C"_s + doomed.full_name.toHtmlEscaped() + u"\u201D"_s, u"\u201CLarge.db\u201D"_s),
                     trKey("IDS_SUC_DEL_CONTACTS")}));
        QCOMPARE(db.loadContact(doomed._id)._id, 0);

        // Add a contact whose name sorts last while the list is filled again: once its row arrives, it is the
        // selected one and stays in the details pane.
        QVERIFY(w.isListingContacts());
        EditContactForm::queueAnswer([](ContactEditor &e) {
            e.field(u"txtFirstName"_s)->setText(u"Zora"_s);
            e.field(u"txtLastName"_s)->setText(u"Zyx"_s);
        });
        w.action("miNewContact")->trigger();
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
        const qint64 added = db.findContactByName(u"Zora Zyx"_s);
        QVERIFY(added != 0);
        QVERIFY(w.isListingContacts());
        QCOMPARE(w.findChild<ContactDisplayer *>()->contact()._id, added);
        QVERIFY(listingEnds(w));

        const QList<pim::Contact> expected = listed(u"Large.db"_s);
        QCOMPARE(expected.size(), kLarge);
        QVERIFY(fingerprint(w.contactsModel()->contacts()) == fingerprint(expected));
        qsizetype zora = 0;
        while (zora < expected.size() && expected.at(zora)._id != added)
            ++zora;
        QVERIFY(zora > kLarge / 2); // far beyond the first piece
        QCOMPARE(selectedNames(w), QStringList{u"Zora Zyx"_s});
        QCOMPARE(view(w, "treeContacts")->currentIndex().row(), zora);
        QCOMPARE(w.findChild<ContactDisplayer *>()->contact()._id, added);
        QCOMPARE(total(w), u"Total:%1"_s.arg(kLarge));
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }

    // A connection holding the file (here the caller's own, in an exclusive transaction) keeps the listing
    // waiting, never failing; it then lists what was committed.
    void aListingWaitsOutAWriterAndSeesOnlyWhatItCommitted()
    {
        LocalDb db(LocalDbFiles::pathFor(u"Large.db"_s), PContactCombineRule(new LocalDbCombineRule));
        const QList<pim::Contact> before = db.listContacts(0, QString());
        db.db().executeThrow(Sqlite3Sql("begin exclusive"));
        for (int i = 0; i < 10; ++i)
            db.deleteContact(before.at(i * 300)._id);

        ContactLister lister;
        QSignalSpy counted(&lister, &ContactLister::counted);
        QSignalSpy finished(&lister, &ContactLister::finished);
        QList<pim::Contact> received;
        connect(&lister, &ContactLister::contactsListed, this,
                [&received](const QList<pim::Contact> &contacts) { received += contacts; });
        lister.start(db, 0, QString());
        QVERIFY(lister.isRunning());
        // Several times the reader's wait for a lock: it keeps trying.
        QTest::qWait(600);
        QVERIFY(lister.isRunning());
        QCOMPARE(counted.size(), 0);
        QCOMPARE(finished.size(), 0);

        db.db().executeThrow(Sqlite3Sql("commit"));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toString(), QString());
        QCOMPARE(counted.first().first().toInt(), kLarge - 10);
        QVERIFY(fingerprint(received) == fingerprint(db.listContacts(0, QString())));
    }

    // A whole database read in pages along the name index comes in the listing's order (UTF-16 code units, equal
    // names by id) where the index's byte order differs: runs of names with characters from U+E000 up across the
    // page boundaries, such names among plain ones, and NULL and empty names, which the index keeps apart.
    void pagesFollowTheListingsOrderWhereTheIndexDiffers()
    {
        const QString path = m_files.filePath(u"Order.db"_s);
        {
            LocalDb db(path, PContactCombineRule(new LocalDbCombineRule));
            db.createFromTemplate();
            db.beginTransaction();
            const QStringList marks{QString::fromUcs4(U"\U0001F600"), u"\uFF21"_s, u"\uE000"_s, u"\uFFFD"_s,
                                    QString::fromUcs4(U"\U00020000"), u"\uD55C"_s};
            for (int i = 0; i < 2600; ++i) {
                const int n = (i * 7919) % 2600;
                const QString mark = marks.at(n % marks.size());
                QString given;
                if (n < 1200)
                    given = u"Plain%1"_s.arg(n % 900, 4, 10, QLatin1Char('0')); // some names twice
                else if (n < 1500)
                    given = u"M"_s + mark + QString::number(n % 40);
                else
                    given = mark + QString::number(n % 700);
                store(db, given, QString(), n, 0);
            }
            db.db().executeThrow(Sqlite3Sql("update contact set full_name=null where _id%13=0 and _id<2000"));
            db.db().executeThrow(Sqlite3Sql("update contact set full_name='' where _id%11=0 and _id<2000"));
            db.endTransaction(true);
        }
        LocalDb db(path, PContactCombineRule(new LocalDbCombineRule));
        const QList<pim::Contact> expected = db.listContacts(0, QString());
        QCOMPARE(expected.size(), 2600);

        ContactLister lister;
        QSignalSpy counted(&lister, &ContactLister::counted);
        QSignalSpy finished(&lister, &ContactLister::finished);
        QList<pim::Contact> received;
        int pieces = 0;
        connect(&lister, &ContactLister::contactsListed, this, [&](const QList<pim::Contact> &contacts) {
            received += contacts;
            ++pieces;
        });
        lister.start(db, 0, QString());
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toString(), QString());
        QCOMPARE(counted.size(), 1);
        QCOMPARE(counted.first().first().toInt(), 2600);
        QVERIFY(pieces > 3);
        QCOMPARE(received.size(), expected.size());
        for (qsizetype i = 0; i < received.size(); ++i)
            QVERIFY2(received.at(i)._id == expected.at(i)._id,
                     qPrintable(u"place %1: %2 instead of %3"_s.arg(i).arg(received.at(i).full_name,
                                                                           expected.at(i).full_name)));
        QVERIFY(fingerprint(received) == fingerprint(expected));
    }

    void aFailingListingIsReportedAndEmptiesTheList()
    {
        MainWindow w;
        _DBItemNode *large = w.treeModel()->findDatabaseNode(u"Large.db"_s);
        select(w, large);
        QVERIFY(listingEnds(w));
        // The window's connection stays on the removed file; the listing's own connection finds none.
        QVERIFY(QFile::remove(LocalDbFiles::pathFor(u"Large.db"_s)));
        MessageBox::queueAnswer(MessageBox::Ok);
        w.findChild<QLineEdit *>(u"txtKeyword"_s)->setText(u"Hansen"_s);
        w.onBtnSearchPressed();
        QVERIFY(listingEnds(w));
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(u"cannot open"_s), qPrintable(shown.first()));
        QCOMPARE(w.contactsModel()->rowCount(), 0);
        QCOMPARE(total(w), u"Total:0"_s);
    }

    void closingTheWindowDuringAListingEndsItsWorker()
    {
        auto w = std::make_unique<MainWindow>();
        QVERIFY(selectAndCatchListing(*w, w->treeModel()->findDatabaseNode(u"Large.db"_s)));
        // Its worker is stopped and joined with the window; nothing it posted reaches a deleted object.
        w.reset();
        QTest::qWait(100);
    }
};

QTEST_MAIN(TestContactListing)
#include "tst_contactlisting.moc"
