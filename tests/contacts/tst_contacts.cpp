// Contact model helpers, the local contact database and merge-saving.

#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "contacts/pim.h"
#include "contacts/workertransaction.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace pim;
using namespace Qt::StringLiterals;

namespace {

// A row from (column number, value) pairs.
DataRow mk(std::initializer_list<std::pair<int, QVariant>> values)
{
    DataRow row;
    for (const auto &[n, value] : values)
        row.setValue(u"data%1"_s.arg(n), value);
    return row;
}

DataRow nameRow(const QString &given, const QString &family)
{
    DataRow row = mk({{2, given}, {3, family}});
    row.setValue(u"data1"_s, displayName(row));
    return row;
}

Contact person(const QString &given, const QString &family)
{
    Contact c;
    c.addRow(ENTITY_NAME, nameRow(given, family));
    c.full_name = displayName(c.firstRow(ENTITY_NAME));
    return c;
}

PContactCombineRule localRule()
{
    return PContactCombineRule(new LocalDbCombineRule);
}

int rowCount(const QMap<int, QList<DataRow>> &rows)
{
    int n = 0;
    for (const QList<DataRow> &list : rows)
        n += int(list.size());
    return n;
}

qint64 scalar(LocalDb &db, const QString &sql)
{
    Sqlite3Cursor cursor = db.db().queryThrow(sql);
    return cursor.moveNext() ? cursor.getInt64(0) : -1;
}

// Every column the expected row names holds the same text (bytes for data15) in the actual row.
void compareColumns(const DataRow &actual, const DataRow &expected)
{
    for (auto it = expected.columns.cbegin(); it != expected.columns.cend(); ++it) {
        if (it.key() == u"data15")
            QCOMPARE(actual.value(it.key()).toByteArray(), it.value().toByteArray());
        else
            QCOMPARE(actual.text(it.key()), it.value().toString());
    }
}

} // namespace

class TestContacts : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

    // A fresh database made from the template, in its own file.
    std::unique_ptr<LocalDb> freshDb(PContactCombineRule rule = localRule())
    {
        auto db = std::make_unique<LocalDb>(m_dir.filePath(u"db%1.db"_s.arg(++m_files)), rule);
        db->createFromTemplate();
        return db;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void displayName_data()
    {
        QTest::addColumn<DataRow>("row");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all parts") << mk({{5, u"Dr"_s}, {2, u"John"_s}, {4, u"Q"_s}, {3, u"Smith"_s}, {6, u"Jr"_s}})
                                   << u"Dr John Q Smith Jr"_s;
        QTest::newRow("empty middle and suffix")
            << mk({{5, u"Dr"_s}, {2, u"John"_s}, {4, u""_s}, {3, u"Smith"_s}}) << u"Dr John Smith"_s;
        QTest::newRow("family only") << mk({{3, u"Smith"_s}}) << u"Smith"_s;
    }
    void displayName()
    {
        QFETCH(DataRow, row);
        QFETCH(QString, expected);
        QCOMPARE(pim::displayName(row), expected);
    }

    void addressText_data()
    {
        QTest::addColumn<DataRow>("row");
        QTest::addColumn<QString>("expected");
        QTest::newRow("city and postcode")
            << mk({{4, u"1 Main St"_s}, {7, u"Springfield"_s}, {9, u"12345"_s}}) << u"1 Main St\nSpringfield, 12345"_s;
        QTest::newRow("postcode without city")
            << mk({{4, u"1 Main St"_s}, {9, u"12345"_s}, {10, u"USA"_s}}) << u"1 Main St\nUSA"_s;
        QTest::newRow("full")
            << mk({{4, u"1 Main St"_s}, {7, u"Springfield"_s}, {8, u"IL"_s}, {9, u"62701"_s}, {10, u"USA"_s}})
            << u"1 Main St\nSpringfield, IL 62701\nUSA"_s;
        QTest::newRow("city alone") << mk({{7, u"Paris"_s}}) << u"Paris"_s;
        QTest::newRow("region and postcode") << mk({{8, u"Bavaria"_s}, {9, u"80331"_s}}) << u"Bavaria 80331"_s;
    }
    void addressText()
    {
        QFETCH(DataRow, row);
        QFETCH(QString, expected);
        QCOMPARE(pim::addressText(row), expected);
    }

    void summaryLine_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<DataRow>("row");
        QTest::addColumn<QString>("expected");
        QTest::newRow("phone code 7") << int(ENTITY_PHONE) << mk({{1, u"555"_s}, {2, u"7"_s}}) << u":555"_s;
        QTest::newRow("phone custom label")
            << int(ENTITY_PHONE) << mk({{1, u"555"_s}, {2, u"2"_s}, {3, u"Boss"_s}}) << u"Boss:555"_s;
        QTest::newRow("phone integer code") << int(ENTITY_PHONE) << mk({{1, u"555"_s}, {2, 12}}) << u"Main:555"_s;
        QTest::newRow("e-mail no code") << int(ENTITY_EMAIL) << mk({{1, u"a@b.c"_s}}) << u"Other:a@b.c"_s;
        QTest::newRow("e-mail code 3") << int(ENTITY_EMAIL) << mk({{1, u"a@b.c"_s}, {2, u"3"_s}}) << u":a@b.c"_s;
        QTest::newRow("birthday") << int(ENTITY_EVENT) << mk({{1, u"1980-02-29"_s}, {2, u"3"_s}})
                                  << u"Birthday:1980-02-29"_s;
        QTest::newRow("im QQ") << int(ENTITY_IM) << mk({{1, u"jd"_s}, {2, u"1"_s}, {5, u"5"_s}}) << u"Home:jd(QQ)"_s;
        QTest::newRow("im custom protocol")
            << int(ENTITY_IM) << mk({{1, u"jd"_s}, {2, u"2"_s}, {5, u"5"_s}, {6, u"Signal"_s}}) << u"Work:jd(Signal)"_s;
        QTest::newRow("organization") << int(ENTITY_ORGANIZATION)
                                      << mk({{1, u"Acme"_s}, {2, u"1"_s}, {4, u"CTO"_s}, {5, u""_s}})
                                      << u"Work:CTO Acme"_s;
        QTest::newRow("address") << int(ENTITY_ADDRESS)
                                 << mk({{2, u"1"_s}, {4, u"1 Main St"_s}, {7, u"Springfield"_s}, {10, u"USA"_s}})
                                 << u"<b>Home</b><br/>1 Main St<br/>Springfield<br/>USA"_s;
        QTest::newRow("relation") << int(ENTITY_RELATION) << mk({{1, u"Bo"_s}, {2, u"14"_s}}) << u"Spouse:Bo"_s;
        QTest::newRow("website") << int(ENTITY_WEBSITE) << mk({{1, u"https://b"_s}, {2, u"2"_s}})
                                 << u"Blog:https://b"_s;
        QTest::newRow("note") << int(ENTITY_NOTE) << mk({{1, u" line\nnext "_s}}) << u" line\nnext "_s;
    }
    void summaryLine()
    {
        QFETCH(int, type);
        QFETCH(DataRow, row);
        QFETCH(QString, expected);
        QCOMPARE(pim::summaryLine(type, row), expected);
    }

    void summaryLineHtmlEscapesValues()
    {
        const DataRow address = mk({{2, u"0"_s}, {3, u"<Lab>"_s}, {4, u"A & B"_s}, {10, u"X"_s}});
        QCOMPARE(summaryLineHtml(ENTITY_ADDRESS, address), u"<b>&lt;Lab&gt;</b><br/>A &amp; B<br/>X"_s);
        QCOMPARE(summaryLineHtml(ENTITY_NOTE, mk({{1, u"<script>"_s}})), u"&lt;script&gt;"_s);
    }

    void rowsEqual_data()
    {
        QTest::addColumn<DataRow>("a");
        QTest::addColumn<DataRow>("b");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<bool>("equal");
        const QStringList one{u"data1"_s};
        const QStringList three{u"data1"_s, u"data2"_s, u"data3"_s};
        QTest::newRow("number vs text") << mk({{2, 3}}) << mk({{2, u"3"_s}}) << QStringList{u"data2"_s} << true;
        QTest::newRow("text vs number") << mk({{2, u"3"_s}}) << mk({{2, 3}}) << QStringList{u"data2"_s} << true;
        QTest::newRow("number vs other text") << mk({{2, 3}}) << mk({{2, u"x"_s}}) << QStringList{u"data2"_s} << false;
        QTest::newRow("both absent") << DataRow() << DataRow() << one << true;
        QTest::newRow("absent vs empty text") << DataRow() << mk({{1, u""_s}}) << one << false;
        QTest::newRow("empty text vs absent") << mk({{1, u""_s}}) << DataRow() << one << false;
        QTest::newRow("other label, identity")
            << mk({{1, u"5"_s}, {3, u"A"_s}}) << mk({{1, u"5"_s}, {3, u"B"_s}}) << one << true;
        QTest::newRow("other label, all")
            << mk({{1, u"5"_s}, {3, u"A"_s}}) << mk({{1, u"5"_s}, {3, u"B"_s}}) << three << false;
        QTest::newRow("no columns") << mk({{1, u"a"_s}}) << mk({{1, u"b"_s}}) << QStringList() << true;
    }
    // The local rule's columns per type, as "empty|identity|change|merge|single"; the iOS rule builds on it.
    void localRuleTable_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("expected");
        const char *rows[] = {
            "||||0",
            "4|4|4|4,15|1",
            "1|1|1,2,3|1,2,3|0",
            "1|1|1,2,3|1,2,3|0",
            "1|1|1|1|1",
            "1|1|1,2,3|1,2,3|0",
            "1|1|1|1,2|1",
            "1|1,5,6|1,5,6,2,3|1,5,6,2,3|0",
            "1|1|1|1|0",
            "1,5,4|1,5,4|1,5,4|1,5,4|1",
            "1|1|1,2,3|1,2,3|0",
            "1|1|10,11,8,7,4,9,2,3|1,10,11,8,7,4,9,2,3|0",
            "1|1|1,2,3|1,2,3|0",
        };
        for (int type = 1; type <= 13; ++type)
            QTest::addRow("type %d", type) << type << QString::fromLatin1(rows[type - 1]);
        QTest::addRow("type 14") << 14 << u"||||0"_s;
    }
    void localRuleTable()
    {
        QFETCH(int, type);
        QFETCH(QString, expected);
        const LocalDbCombineRule rule;
        const auto numbers = [](const QStringList &columns) {
            QStringList n;
            for (const QString &c : columns)
                n << c.mid(4);
            return n.join(u',');
        };
        bool single = true;
        const QStringList merge = rule.mergeColumns(type, single);
        const QString actual =
            QStringList{numbers(rule.emptyTestColumns(type)), numbers(rule.identityColumns(type)),
                        numbers(rule.changeColumns(type)), numbers(merge), QString::number(int(single))}
                .join(u'|');
        QCOMPARE(actual, expected);
    }

    // Rows written by two saves into one contact: a row saved again keeps its place with its new state, rows
    // of another type with the same _id are separate, new rows follow in the order written.
    void addRowsByIdReplacesByIdWithinAType()
    {
        const auto withId = [](qint64 id, const QString &value) {
            DataRow row = mk({{1, value}});
            row._id = id;
            return row;
        };
        RowsByType into{{ENTITY_PHONE, {withId(1, u"111"_s), withId(2, u"222"_s)}}};
        addRowsById(
            into, {{ENTITY_PHONE, {withId(2, u"2222"_s), withId(5, u"555"_s)}}, {ENTITY_EMAIL, {withId(1, u"a@b"_s)}}});
        const auto values = [&into](int type) {
            QStringList list;
            for (const DataRow &row : into.value(type))
                list << u"%1=%2"_s.arg(row._id).arg(row.text(u"data1"_s));
            return list.join(u' ');
        };
        QCOMPARE(values(ENTITY_PHONE), u"1=111 2=2222 5=555"_s);
        QCOMPARE(values(ENTITY_EMAIL), u"1=a@b"_s);
    }

    void rowsEqual()
    {
        QFETCH(DataRow, a);
        QFETCH(DataRow, b);
        QFETCH(QStringList, columns);
        QFETCH(bool, equal);
        QCOMPARE(pim::rowsEqual(a, b, columns), equal);
    }

    void photoDigest_data()
    {
        QTest::addColumn<DataRow>("row");
        QTest::addColumn<QString>("digest");
        QTest::newRow("no bytes") << DataRow() << u"1B2M2Y8AsgTpgAmY7PhCfg=="_s;
        QTest::newRow("abc") << mk({{15, QByteArray("abc")}, {4, u"stale"_s}}) << u"kAFQmDzST7DWlj99KOF/cg=="_s;
    }
    void photoDigest()
    {
        QFETCH(DataRow, row);
        QFETCH(QString, digest);
        QCOMPARE(pim::photoDigest(row), digest);
    }

    void templateSchema()
    {
        auto db = freshDb();
        const QFile::Permissions perms = QFile::permissions(db->path());
        QVERIFY(perms.testFlags(QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(
            !(perms & (QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther)));

        Sqlite3Cursor master = db->db().queryThrow(Sqlite3Sql("select type,name from sqlite_master order by name"));
        QStringList objects;
        while (master.moveNext())
            objects << master.getText(u"type"_s) + u' ' + master.getText(u"name"_s);
        QCOMPARE(objects, (QStringList{u"table contact"_s, u"table contact_group"_s, u"table data"_s,
                                       u"index index_contacts_full_name"_s, u"index index_contacts_src_id"_s,
                                       u"index index_data_contact"_s, u"index index_data_data"_s,
                                       u"index index_data_src_id"_s, u"table sqlite_sequence"_s}));
        QCOMPARE(scalar(*db, u"PRAGMA page_size"_s), qint64(1024));
        Sqlite3Cursor enc = db->db().queryThrow(Sqlite3Sql("PRAGMA encoding"));
        QVERIFY(enc.moveNext());
        QCOMPARE(enc.getText(0), u"UTF-8"_s);
        QCOMPARE(scalar(*db, u"select (select count(*) from contact)+(select count(*) from data)"
                             u"+(select count(*) from contact_group)"_s),
                 qint64(0));
    }

    void createFromTemplateReplacesAndFails()
    {
        auto db = freshDb();
        Contact c = person(u"Ann"_s, u"Lee"_s);
        db->insertContact(c);
        // Rebuilt while the connection is open: the next use sees the empty copy, not the old file.
        db->createFromTemplate();
        QCOMPARE(scalar(*db, u"select count(*) from contact"_s), qint64(0));
        QVERIFY(db->removeFile());
        QVERIFY(!QFile::exists(db->path()));
        QVERIFY(!db->removeFile());

        LocalDb bad(m_dir.filePath(u"missing/dir/x.db"_s), localRule());
        try {
            bad.createFromTemplate();
            QFAIL("no error for a folder that does not exist");
        } catch (const std::runtime_error &e) {
            QVERIFY(qstrlen(e.what()) > 0);
        }
    }

    void rowRoundTrip_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<DataRow>("row");
        QTest::addColumn<DataRow>("updated");
        // Distinct values in every column, so a value written to the wrong column shows.
        auto numbered = [](const QString &prefix, int count) {
            DataRow r;
            for (int i = 1; i <= count; ++i)
                r.setValue(u"data%1"_s.arg(i), prefix + QString::number(i));
            return r;
        };
        QTest::newRow("address") << int(ENTITY_ADDRESS) << numbered(u"a"_s, 11) << numbered(u"b"_s, 11);
        QTest::newRow("name") << int(ENTITY_NAME) << numbered(u"n"_s, 8) << mk({{3, u"other"_s}});
        QTest::newRow("organization") << int(ENTITY_ORGANIZATION) << numbered(u"o"_s, 9)
                                      << mk({{9, u"x9"_s}, {7, u"x7"_s}});
        QTest::newRow("im") << int(ENTITY_IM) << mk({{1, u"h"_s}, {2, 1}, {3, u"l"_s}, {5, 5}, {6, u"p"_s}})
                            << mk({{1, u"h2"_s}, {6, u"p2"_s}});
        QTest::newRow("event date-time") << int(ENTITY_EVENT)
                                         << mk({{1, QDateTime(QDate(1980, 2, 29), QTime(23, 30))}, {2, 3}})
                                         << mk({{1, QDate(1999, 12, 31)}});
    }
    // Insert and update write exactly the type's columns, each where it belongs, and load reads them back.
    void rowRoundTrip()
    {
        QFETCH(int, type);
        QFETCH(DataRow, row);
        QFETCH(DataRow, updated);
        auto db = freshDb();
        Contact c = person(u"Ann"_s, u"Lee"_s);
        db->insertContact(c);
        row.src_id = u"r1"_s;
        db->insertRow(c._id, type, row);
        QVERIFY(row._id > 0);

        // Event dates given as date or date-time values are stored as their date; columns the type does not
        // store (the organization's data8) are neither written nor read.
        auto expectedOf = [type](DataRow r) {
            r.columns.removeIf([type](const auto &it) { return !storedColumns(type).contains(it.key()); });
            if (type == ENTITY_EVENT)
                r.setValue(u"data1"_s, r.value(u"data1"_s).toDate().toString(u"yyyy-MM-dd"_s));
            for (const QString &col : storedColumns(type)) {
                if (!r.has(col))
                    r.setValue(col, u""_s);
            }
            return r;
        };
        DataRow loaded = db->loadContact(c._id).firstRow(type);
        QCOMPARE(loaded._id, row._id);
        QCOMPARE(loaded.src_id, u"r1"_s);
        QCOMPARE(QSet<QString>(loaded.columns.keyBegin(), loaded.columns.keyEnd()),
                 QSet<QString>(storedColumns(type).cbegin(), storedColumns(type).cend()));
        compareColumns(loaded, expectedOf(row));

        updated._id = row._id;
        updated.src_id = u"r2"_s;
        db->updateRow(type, updated);
        loaded = db->loadContact(c._id).firstRow(type);
        QCOMPARE(loaded.src_id, u"r2"_s);
        compareColumns(loaded, expectedOf(updated)); // absent columns are written as empty text
        QCOMPARE(scalar(*db, u"select count(*) from data where data1 is null or data14 is null"_s), qint64(0));
    }

    void photoDigestRecomputed()
    {
        auto db = freshDb();
        Contact c = person(u"Ann"_s, u"Lee"_s);
        db->insertContact(c);
        DataRow photo = mk({{4, u"bogus"_s}, {15, QByteArray("abc")}});
        db->insertRow(c._id, ENTITY_PHOTO, photo);
        DataRow loaded = db->loadContact(c._id).firstRow(ENTITY_PHOTO);
        QCOMPARE(loaded.text(u"data4"_s), u"kAFQmDzST7DWlj99KOF/cg=="_s);
        QCOMPARE(loaded.value(u"data15"_s).toByteArray(), QByteArray("abc"));

        photo.setValue(u"data15"_s, QByteArray());
        db->updateRow(ENTITY_PHOTO, photo);
        loaded = db->loadContact(c._id).firstRow(ENTITY_PHOTO);
        QCOMPARE(loaded.text(u"data4"_s), u"1B2M2Y8AsgTpgAmY7PhCfg=="_s);
        QVERIFY(loaded.value(u"data15"_s).toByteArray().isEmpty());
    }

    void invalidTypeRefused()
    {
        auto db = freshDb();
        Contact c = person(u"Ann"_s, u"Lee"_s);
        db->insertContact(c);
        for (int type : {0, 14}) {
            DataRow row = mk({{1, u"x"_s}});
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, db->insertRow(c._id, type, row));
            row._id = 1;
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, db->updateRow(type, row));
        }
        QCOMPARE(scalar(*db, u"select count(*) from data"_s), qint64(0));
        QCOMPARE(db->loadContact(c._id + 100)._id, qint64(0));
    }

    void listContacts_data()
    {
        QTest::addColumn<bool>("inGroup");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("all, sorted by code unit")
            << false << QString() << QStringList{u"Bob"_s, u"Carl"_s, u"Zed Alpha"_s, u"anna"_s};
        QTest::newRow("e-mail in other case") << false << u"exa"_s << QStringList{u"Zed Alpha"_s};
        QTest::newRow("display name") << false << u"ANN"_s << QStringList{u"anna"_s};
        QTest::newRow("phone text") << false << u"0100"_s << QStringList{u"anna"_s};
        QTest::newRow("photo rows not searched") << false << u"1"_s << QStringList{u"anna"_s};
        QTest::newRow("group rows not searched") << false << u"2"_s << QStringList();
        QTest::newRow("percent is a wildcard") << false << u"z%a"_s << QStringList{u"Zed Alpha"_s};
        QTest::newRow("underscore is a wildcard") << false << u"_nn_"_s << QStringList{u"anna"_s};
        QTest::newRow("group") << true << QString() << QStringList{u"Carl"_s, u"anna"_s};
        QTest::newRow("group and keyword") << true << u"nn"_s << QStringList{u"anna"_s};
        QTest::newRow("no match") << false << u"zzz"_s << QStringList();
    }
    void listContacts()
    {
        QFETCH(bool, inGroup);
        QFETCH(QString, keyword);
        QFETCH(QStringList, names);
        auto db = freshDb();
        const qint64 other = db->findOrCreateGroup(u"Other"_s);
        const qint64 friends = db->findOrCreateGroup(u"Friends"_s);
        QCOMPARE(friends, qint64(2));
        auto add = [&db](Contact c) {
            db->insertContact(c);
            for (auto it = c.entities.begin(); it != c.entities.end(); ++it) {
                for (DataRow &row : it.value())
                    db->insertRow(c._id, it.key(), row);
            }
            return c._id;
        };
        Contact zed = person(u"Zed"_s, u"Alpha"_s);
        zed.addRow(ENTITY_EMAIL, mk({{1, u"zed@EXAMPLE.org"_s}}));
        add(zed);
        Contact anna = person(u"anna"_s, QString());
        anna.addRow(ENTITY_PHONE, mk({{1, u"555-0100"_s}, {2, u"2"_s}}));
        db->setContactGroup(add(anna), friends, u"Friends"_s);
        Contact bob = person(u"Bob"_s, QString());
        bob.addRow(ENTITY_PHOTO, mk({{15, QByteArray("1")}}));
        add(bob);
        db->db().executeThrow(Sqlite3Sql("update data set data1='1 exa z a' where type=2"));
        const qint64 carl = add(person(u"Carl"_s, QString()));
        db->setContactGroup(carl, other, u"Other"_s); // data1 "1", replaced below
        db->setContactGroup(carl, friends, u"Friends"_s);
        Contact empty;
        empty.full_name = u"Empty"_s;
        db->insertContact(empty);

        QStringList got;
        for (const Contact &c : db->listContacts(inGroup ? friends : 0, keyword)) {
            got << c.full_name;
            QVERIFY(c.rowCount() > 0);
        }
        QCOMPARE(got, names);
        // Counted by SQL, the same contacts the listing reads.
        QCOMPARE(db->countContacts(inGroup ? friends : 0, keyword), qint64(names.size()));
    }
    void groupsAndDeletes()
    {
        auto db = freshDb();
        const qint64 friends = db->findOrCreateGroup(u"Friends"_s);
        QCOMPARE(db->findOrCreateGroup(u"FRIENDS"_s), friends);
        // "_" and "%" in a group name are literal: no other group is taken for it.
        const qint64 abc = db->findOrCreateGroup(u"abc"_s);
        const qint64 aUc = db->findOrCreateGroup(u"a_c"_s);
        const qint64 pct = db->findOrCreateGroup(u"%"_s);
        QCOMPARE(QSet<qint64>({friends, abc, aUc, pct}).size(), 4);
        QCOMPARE(db->findOrCreateGroup(u"a_c"_s), aUc);
        const QList<QPair<qint64, QString>> groups = db->listGroups();
        QCOMPARE(groups.size(), 4);
        QCOMPARE(groups.first(), qMakePair(pct, u"%"_s));
        QCOMPARE(groups.last(), qMakePair(abc, u"abc"_s)); // "Friends" < "a_c" < "abc" by byte

        Contact a = person(u"Ann"_s, u"Lee"_s);
        db->insertContact(a);
        DataRow name = a.firstRow(ENTITY_NAME);
        db->insertRow(a._id, ENTITY_NAME, name);
        DataRow phone = mk({{1, u"1"_s}});
        db->insertRow(a._id, ENTITY_PHONE, phone);
        db->setContactGroup(a._id, abc, u"abc"_s);
        const DataRow member = db->setContactGroup(a._id, friends, u"Friends"_s);
        QCOMPARE(member.text(u"data1"_s), QString::number(friends));
        Contact loaded = db->loadContact(a._id);
        QCOMPARE(loaded.rows(ENTITY_GROUP).size(), 1);
        QCOMPARE(loaded.firstRow(ENTITY_GROUP)._id, member._id);
        QCOMPARE(loaded.firstRow(ENTITY_GROUP).text(u"data2"_s), u"Friends"_s);

        db->deleteRow(phone._id);
        QVERIFY(!db->loadContact(a._id).hasRows(ENTITY_PHONE));
        db->deleteGroup(friends);
        QCOMPARE(db->listGroups().size(), 3);
        QVERIFY(db->loadContact(a._id).hasRows(ENTITY_GROUP)); // membership rows stay
        db->deleteContact(a._id);
        QCOMPARE(db->loadContact(a._id)._id, qint64(0));
        QCOMPARE(scalar(*db, u"select count(*) from data"_s), qint64(0));
    }

    void mergeSave_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<DataRow>>("stored");
        QTest::addColumn<QList<DataRow>>("incoming");
        QTest::addColumn<int>("written");
        QTest::addColumn<QList<DataRow>>("expected"); // rows of the type afterwards, by the columns they name
        QTest::addColumn<bool>("idsKept");            // the stored rows keep their _id

        const DataRow mobile = mk({{1, u"555"_s}, {2, u"2"_s}, {3, u""_s}});
        QTest::newRow("phone already stored")
            << int(ENTITY_PHONE) << QList{mobile} << QList{mobile} << 0 << QList{mobile} << true;
        QTest::newRow("phone code as number")
            << int(ENTITY_PHONE) << QList{mobile} << QList{mk({{1, u"555"_s}, {2, 2}, {3, u""_s}})} << 0
            << QList{mobile} << true;
        QTest::newRow("phone new label updates in place")
            << int(ENTITY_PHONE) << QList{mobile} << QList{mk({{1, u"555"_s}, {2, u"0"_s}, {3, u"Boss"_s}})} << 1
            << QList{mk({{1, u"555"_s}, {2, u"0"_s}, {3, u"Boss"_s}})} << true;
        QTest::newRow("phone new number added")
            << int(ENTITY_PHONE) << QList{mobile} << QList{mk({{1, u"777"_s}, {2, u"1"_s}, {3, u""_s}})} << 1
            << QList{mobile, mk({{1, u"777"_s}, {2, u"1"_s}})} << true;
        QTest::newRow("empty label keeps stored label")
            << int(ENTITY_EMAIL) << QList{mk({{1, u"a@x"_s}, {2, u"0"_s}, {3, u"Private"_s}})}
            << QList{mk({{1, u"a@x"_s}, {2, u"0"_s}, {3, u""_s}})} << 0
            << QList{mk({{1, u"a@x"_s}, {2, u"0"_s}, {3, u"Private"_s}})} << true;

        const DataRow photoA = mk({{15, QByteArray("AAAA")}});
        const DataRow photoB = mk({{15, QByteArray("BBBB")}});
        DataRow photoAFull = photoA;
        photoAFull.setValue(u"data4"_s, pim::photoDigest(photoA));
        DataRow photoBFull = photoB;
        photoBFull.setValue(u"data4"_s, pim::photoDigest(photoB));
        QTest::newRow("same photo") << int(ENTITY_PHOTO) << QList{photoA} << QList{photoAFull} << 0 << QList{photoAFull}
                                    << true;
        QTest::newRow("second photo replaces in place")
            << int(ENTITY_PHOTO) << QList{photoA} << QList{photoB} << 1 << QList{photoBFull} << true;
        QTest::newRow("two photos into none keep one")
            << int(ENTITY_PHOTO) << QList<DataRow>() << QList{photoA, photoB} << 1 << QList{photoBFull} << true;
        QTest::newRow("two nicknames into none keep one")
            << int(ENTITY_NICKNAME) << QList<DataRow>() << QList{mk({{1, u"Al"_s}}), mk({{1, u"Big Al"_s}})} << 1
            << QList{mk({{1, u"Big Al"_s}})} << true;

        const DataRow qq = mk({{1, u"jd"_s}, {2, u"1"_s}, {3, u""_s}, {5, u"5"_s}, {6, u""_s}});
        QTest::newRow("im same handle other protocol added")
            << int(ENTITY_IM) << QList{qq}
            << QList{mk({{1, u"jd"_s}, {2, u"1"_s}, {3, u""_s}, {5, u"1"_s}, {6, u""_s}})} << 1
            << QList{qq, mk({{1, u"jd"_s}, {5, u"1"_s}})} << true;
        QTest::newRow("im same account new type")
            << int(ENTITY_IM) << QList{qq}
            << QList{mk({{1, u"jd"_s}, {2, u"2"_s}, {3, u""_s}, {5, u"5"_s}, {6, u""_s}})} << 1
            << QList{mk({{1, u"jd"_s}, {2, u"2"_s}, {5, u"5"_s}})} << true;

        QTest::newRow("organization overwritten by column")
            << int(ENTITY_ORGANIZATION) << QList{mk({{1, u"Acme"_s}, {4, u"CTO"_s}, {5, u"R&D"_s}, {7, u"ACM"_s}})}
            << QList{mk({{1, u"Globex"_s}, {4, u""_s}, {5, u"Labs"_s}})} << 1
            << QList{mk({{1, u"Globex"_s}, {4, u"CTO"_s}, {5, u"Labs"_s}, {7, u"ACM"_s}})} << true;
        QTest::newRow("new address keeps merge columns only")
            << int(ENTITY_ADDRESS) << QList<DataRow>()
            << QList{mk({{1, u"St\nX"_s}, {4, u"St"_s}, {5, u"PO 7"_s}, {6, u"Hood"_s}, {7, u"X"_s}})} << 1
            << QList{mk({{1, u"St\nX"_s}, {4, u"St"_s}, {5, u""_s}, {6, u""_s}, {7, u"X"_s}})} << true;
        QTest::newRow("name row never written")
            << int(ENTITY_NAME) << QList{nameRow(u"Jane"_s, u"Doe"_s)}
            << QList{mk({{1, u"Dr Jane Doe"_s}, {2, u"Jane"_s}, {3, u"Doe"_s}, {5, u"Dr"_s}})} << 0
            << QList{nameRow(u"Jane"_s, u"Doe"_s)} << true;
    }
    void mergeSave()
    {
        QFETCH(int, type);
        QFETCH(QList<DataRow>, stored);
        QFETCH(QList<DataRow>, incoming);
        QFETCH(int, written);
        QFETCH(QList<DataRow>, expected);
        QFETCH(bool, idsKept);

        auto db = freshDb();
        Contact jane = person(u"Jane"_s, u"Doe"_s);
        db->insertContact(jane);
        if (type != ENTITY_NAME) {
            DataRow name = jane.firstRow(ENTITY_NAME);
            db->insertRow(jane._id, ENTITY_NAME, name);
        }
        for (DataRow &row : stored)
            db->insertRow(jane._id, type, row);

        Contact source = person(u"Jane"_s, u"Doe"_s);
        source.src_id = u"device-1"_s;
        source.entities[type] = incoming;
        const LocalDb::SaveResult result = db->saveContactWithMerge(source);
        QVERIFY(result.merged);
        QCOMPARE(result.stored._id, jane._id);
        QCOMPARE(result.written.value(type).size(), written);
        QCOMPARE(result.written.size(), written ? 1 : 0);

        const QList<DataRow> rows = db->loadContact(jane._id).rows(type);
        QCOMPARE(rows.size(), expected.size());
        for (int i = 0; i < rows.size(); ++i)
            compareColumns(rows.at(i), expected.at(i));
        if (idsKept) {
            for (int i = 0; i < stored.size() && i < rows.size(); ++i)
                QCOMPARE(rows.at(i)._id, stored.at(i)._id);
        }
        // The stored contact of the result is what the database now holds.
        QCOMPARE(result.stored.rows(type).size(), rows.size());
        for (const DataRow &w : result.written.value(type))
            QVERIFY(std::any_of(rows.cbegin(), rows.cend(), [&w](const DataRow &r) { return r._id == w._id; }));
        QCOMPARE(scalar(*db, u"select count(*) from contact"_s), qint64(1));
    }

    void mergeNameMatching_data()
    {
        QTest::addColumn<QString>("storedName");
        QTest::addColumn<QString>("incomingName");
        QTest::addColumn<bool>("merged");
        QTest::newRow("ASCII case") << u"Anna Smith"_s << u"aNNA smith"_s << true;
        QTest::newRow("non-ASCII case") << u"\u00C9mile"_s << u"\u00E9mile"_s << false;
        QTest::newRow("percent") << u"Anna Smith"_s << u"Ann% Smith"_s << false;
        QTest::newRow("underscore") << u"Anna Smith"_s << u"Ann_ Smith"_s << false;
        QTest::newRow("literal percent") << u"100% Juice"_s << u"100% JUICE"_s << true;
        QTest::newRow("backslash") << u"a\\_b"_s << u"a\\_b"_s << true;
        QTest::newRow("backslash is no escape") << u"a_b"_s << u"a\\_b"_s << false;
        QTest::newRow("empty names") << QString() << QString() << false;
        QTest::newRow("ASCII folded, the rest exact") << u"\u00C9MILE Zola"_s << u"\u00C9mile zola"_s << true;
        QTest::newRow("trailing space") << u"Anna"_s << u"Anna "_s << false;
    }
    // The name lookup is served by an index on the case-folded name (no scan of the contact table), made once
    // per opening and made again when a rolled-back transaction took it away; among names that match it
    // finds the oldest contact, as a scan in table order does.
    void nameLookupUsesIndex()
    {
        auto db = freshDb();
        for (const QString &name : {u"zed"_s, u"ann lee"_s, u"ANN LEE"_s}) {
            Contact c;
            c.full_name = name;
            db->insertContact(c);
        }
        const QString indexCount = u"select count(*) from sqlite_master where name='index_contacts_full_name_nocase'"_s;
        QCOMPARE(scalar(*db, indexCount), qint64(0)); // opening alone does not write to the file

        db->beginTransaction();
        QCOMPARE(db->findContactByName(u"Ann Lee"_s), qint64(2));
        QCOMPARE(scalar(*db, indexCount), qint64(1));
        db->endTransaction(false);
        QCOMPARE(scalar(*db, indexCount), qint64(0));
        QCOMPARE(db->findContactByName(u"aNN lEE"_s), qint64(2));
        QCOMPARE(scalar(*db, indexCount), qint64(1));
        QCOMPARE(db->findContactByName(u"ann le"_s), qint64(0));

        Sqlite3Sql explain(
            "explain query plan select _id,src_id from contact where full_name=? collate nocase limit 1");
        explain.addTextParam(u"x"_s);
        Sqlite3Cursor plan = db->db().queryThrow(explain);
        QVERIFY(plan.moveNext());
        QVERIFY2(plan.getText(u"detail"_s).contains(u"USING INDEX index_contacts_full_name_nocase"_s),
                 qPrintable(plan.getText(u"detail"_s)));

        // A reopened file already has the index; another file at the same path gets its own.
        db->close();
        QCOMPARE(db->findContactByName(u"ZED"_s), qint64(1));
        db->createFromTemplate();
        QCOMPARE(db->findContactByName(u"ZED"_s), qint64(0));
        QCOMPARE(scalar(*db, indexCount), qint64(1));
    }

    // A listing reads every contact and row exactly as loading each contact does.
    void listedContactsEqualLoaded()
    {
        auto db = freshDb();
        const QByteArray photo = QByteArray::fromHex("ffd800") + "jpeg" + QByteArray(1, '\0') + "bytes";
        QList<qint64> ids;
        for (int i = 0; i < 3; ++i) {
            Contact c = person(u"P"_s + QString::number(2 - i), QString());
            c.src_id = u"c"_s + QString::number(i);
            db->insertContact(c);
            ids << c._id;
            for (int type = ENTITY_NAME; type <= ENTITY_WEBSITE; ++type) {
                DataRow row;
                row.src_id = u"s%1/%2"_s.arg(i).arg(type);
                for (const QString &column : storedColumns(type))
                    row.setValue(column, column == u"data15"_s ? QVariant(photo) : QVariant(column + u'x'));
                db->insertRow(c._id, type, row);
            }
        }
        const QList<Contact> listed = db->listContacts(0, QString());
        QCOMPARE(listed.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const Contact &got = listed.at(i);
            const Contact want = db->loadContact(ids.at(2 - i)); // sorted by name: P0, P1, P2
            QCOMPARE(got._id, want._id);
            QCOMPARE(got.full_name, want.full_name);
            QCOMPARE(got.src_id, want.src_id);
            QCOMPARE(got.entities.keys(), want.entities.keys());
            for (auto it = want.entities.cbegin(); it != want.entities.cend(); ++it) {
                const QList<DataRow> rows = got.rows(it.key());
                QCOMPARE(rows.size(), it.value().size());
                QCOMPARE(rows.first()._id, it.value().first()._id);
                QCOMPARE(rows.first().src_id, it.value().first().src_id);
                QCOMPARE(rows.first().columns.keys(), it.value().first().columns.keys());
                compareColumns(rows.first(), it.value().first());
            }
        }
        QCOMPARE(listed.first().firstRow(ENTITY_PHOTO).value(u"data15"_s).toByteArray(), photo);
    }

    void mergeNameMatching()
    {
        QFETCH(QString, storedName);
        QFETCH(QString, incomingName);
        QFETCH(bool, merged);
        auto db = freshDb();
        Contact first;
        first.full_name = storedName;
        first.addRow(ENTITY_PHONE, mk({{1, u"1"_s}}));
        const LocalDb::SaveResult a = db->saveContactWithMerge(first);
        QVERIFY(!a.merged);

        Contact second;
        second.full_name = incomingName;
        second.addRow(ENTITY_ORGANIZATION, mk({{1, u"Acme"_s}}));
        const LocalDb::SaveResult b = db->saveContactWithMerge(second);
        QCOMPARE(b.merged, merged);
        QCOMPARE(b.stored._id == a.stored._id, merged);
        QCOMPARE(scalar(*db, u"select count(*) from contact"_s), qint64(merged ? 1 : 2));
        QCOMPARE(db->loadContact(b.stored._id).full_name, merged ? storedName : incomingName);
    }

    // A new contact gets its name row, its rows and a group of this database; saving it again adds nothing.
    void mergeNewContactAndSaveTwice()
    {
        auto source = freshDb();
        const qint64 team = source->findOrCreateGroup(u"x"_s);
        Contact c = person(u"Bob"_s, u"Ray"_s);
        c.src_id = u"dev-1"_s;
        c.entities[ENTITY_NAME][0].src_id = u"row-1"_s;
        c.addRow(ENTITY_PHONE, mk({{1, u"111"_s}, {2, 2}}));
        c.addRow(ENTITY_PHONE, mk({{1, u"222"_s}, {2, 1}}));
        c.addRow(ENTITY_PHOTO, mk({{15, QByteArray("img")}}));
        c.addRow(ENTITY_GROUP, mk({{1, QString::number(team + 40)}, {2, u"Team"_s}}));
        c.addRow(ENTITY_ADDRESS, mk({{1, u"a"_s}, {10, u"c"_s}, {11, u"cc"_s}}));
        c.addRow(ENTITY_NOTE, mk({{1, u"n"_s}}));
        const LocalDb::SaveResult first = source->saveContactWithMerge(c);
        QVERIFY(!first.merged);
        QCOMPARE(first.stored.src_id, QString());
        QCOMPARE(first.written.value(ENTITY_NAME).size(), 1);
        QCOMPARE(first.written.value(ENTITY_NAME).first().src_id, QString());
        QCOMPARE(first.written.value(ENTITY_PHONE).size(), 2);
        const qint64 team2 = source->findOrCreateGroup(u"Team"_s);
        QCOMPARE(first.written.value(ENTITY_GROUP).first().text(u"data1"_s), QString::number(team2));
        QCOMPARE(source->loadContact(first.stored._id).rowCount(), 7);

        // A contact as a database holds it (all columns present) merges into a copy without any write.
        const Contact stored = source->loadContact(first.stored._id);
        auto target = freshDb();
        target->findOrCreateGroup(u"x"_s);
        QCOMPARE(rowCount(target->saveContactWithMerge(stored).written), 7);
        const LocalDb::SaveResult again = target->saveContactWithMerge(stored);
        QVERIFY(again.merged);
        QCOMPARE(again.written.keys(), QList<int>());
        QCOMPARE(scalar(*target, u"select count(*) from data"_s), qint64(7));
        QCOMPARE(scalar(*target, u"select count(*) from contact_group"_s), qint64(2));

        // Rows that lack columns are updated, never added again.
        source->saveContactWithMerge(c);
        QCOMPARE(scalar(*source, u"select count(*) from data"_s), qint64(7));
    }

    // The user's databases gather imports, backups and phones: a merge keeps what both namesakes carry, and
    // merging the same contact again writes nothing, whatever form its values arrive in.
    void userDatabaseMerge()
    {
        auto db = freshDb(PContactCombineRule(new UserDbCombineRule));
        Contact first = person(u"John"_s, u"Smith"_s);
        first.addRow(ENTITY_ORGANIZATION, mk({{1, u"Acme"_s}, {4, u"CTO"_s}}));
        first.addRow(ENTITY_PHONE, mk({{1, u"555"_s}, {2, 2}}));
        first.addRow(ENTITY_EVENT, mk({{1, QDateTime(QDate(1950, 1, 10), QTime(0, 0))}, {2, 3}}));
        first.addRow(ENTITY_GROUP, mk({{2, u"Friends"_s}}));
        first.addRow(ENTITY_NICKNAME, mk({{1, u"Jack"_s}}));
        first.addRow(ENTITY_ADDRESS,
                     mk({{1, u"1 Main St"_s}, {2, 1}, {4, u"1 Main St"_s}, {5, u"PO Box 9"_s}, {6, u"Apt 2"_s}}));
        const qint64 id = db->saveContactWithMerge(first).stored._id;

        // The stored date is the devices' text, so the same date as text or date-time adds nothing.
        QCOMPARE(db->loadContact(id).firstRow(ENTITY_EVENT).text(u"data1"_s), u"1950-01-10"_s);
        QCOMPARE(db->loadContact(id).firstRow(ENTITY_ADDRESS).text(u"data5"_s), u"PO Box 9"_s);
        QCOMPARE(rowCount(db->saveContactWithMerge(first).written), 0);
        Contact sameAgain = person(u"John"_s, u"Smith"_s);
        sameAgain.addRow(ENTITY_EVENT, mk({{1, u"1950-01-10"_s}, {2, 3}}));
        sameAgain.addRow(ENTITY_ORGANIZATION, mk({{1, u"Acme"_s}})); // part of what is stored
        sameAgain.addRow(ENTITY_GROUP, mk({{2, u"friends"_s}}));
        sameAgain.addRow(ENTITY_PHONE, mk({{1, u"555"_s}, {2, u"2"_s}, {3, u""_s}}));
        QCOMPARE(rowCount(db->saveContactWithMerge(sameAgain).written), 0);

        // A namesake brings another company, the same number as Work, a second group and nickname: all kept.
        Contact second = person(u"John"_s, u"Smith"_s);
        second.addRow(ENTITY_ORGANIZATION, mk({{1, u"Globex"_s}}));
        second.addRow(ENTITY_PHONE, mk({{1, u"555"_s}, {2, 3}}));
        second.addRow(ENTITY_GROUP, mk({{2, u"Golf"_s}}));
        second.addRow(ENTITY_NICKNAME, mk({{1, u"Johnny"_s}}));
        QCOMPARE(rowCount(db->saveContactWithMerge(second).written), 4);
        const Contact stored = db->loadContact(id);
        QCOMPARE(stored.rows(ENTITY_ORGANIZATION).size(), 2);
        QCOMPARE(stored.rows(ENTITY_ORGANIZATION).first().text(u"data4"_s), u"CTO"_s);
        QCOMPARE(stored.rows(ENTITY_PHONE).size(), 2);
        QCOMPARE(stored.rows(ENTITY_GROUP).size(), 2);
        QCOMPARE(stored.rows(ENTITY_NICKNAME).size(), 2);
        QCOMPARE(scalar(*db, u"select count(*) from contact"_s), qint64(1));
    }

    // One contact with many thousand rows merges in time linear in its rows, and a cancel reaches the loop.
    void mergeLargeContactLinearAndCancellable()
    {
        auto db = freshDb(PContactCombineRule(new UserDbCombineRule));
        Contact big = person(u"Many"_s, u"Numbers"_s);
        for (int i = 0; i < 16000; ++i)
            big.addRow(ENTITY_PHONE, mk({{1, QString::number(1000000 + i)}, {2, 2}}));
        QElapsedTimer timer;
        timer.start();
        const LocalDb::SaveResult saved = db->saveContactWithMerge(big);
        QCOMPARE(saved.written.value(ENTITY_PHONE).size(), 16000);
        QCOMPARE(rowCount(db->saveContactWithMerge(big).written), 0);
        QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(timer.elapsed())));

        Contact other = person(u"Other"_s, u"One"_s);
        other.entities[ENTITY_PHONE] = big.entities.value(ENTITY_PHONE);
        int asked = 0;
        QVERIFY_THROWS_EXCEPTION(LocalDb::MergeCancelled,
                                 db->saveContactWithMerge(other, [&asked] { return ++asked > 3; }));
        QCOMPARE(scalar(*db, u"select count(*) from contact"_s), qint64(1)); // rolled back
    }

    void mergeRollsBackOnFailure()
    {
        auto db = freshDb();
        Contact jane = person(u"Jane"_s, u"Doe"_s);
        jane.addRow(ENTITY_PHONE, mk({{1, u"555"_s}}));
        const qint64 janeId = db->saveContactWithMerge(jane).stored._id;
        db->db().executeThrow(Sqlite3Sql("create trigger guard before insert on data when new.data1='777' "
                                         "begin select raise(abort, 'phone 777 refused'); end"));

        Contact bob = person(u"Bob"_s, u"Ray"_s);
        bob.addRow(ENTITY_EMAIL, mk({{1, u"b@x"_s}}));
        bob.addRow(ENTITY_PHONE, mk({{1, u"777"_s}}));
        jane.entities[ENTITY_PHONE] = {mk({{1, u"555"_s}, {3, u"Home"_s}}), mk({{1, u"777"_s}})};

        // Inside an outer transaction only the failed save is undone.
        db->beginTransaction();
        Contact carl = person(u"Carl"_s, QString());
        db->saveContactWithMerge(carl);
        for (const Contact &c : {bob, jane}) {
            try {
                db->saveContactWithMerge(c);
                QFAIL("the save did not fail");
            } catch (const std::runtime_error &e) {
                QVERIFY2(QString::fromUtf8(e.what()).contains(u"phone 777 refused"_s), e.what());
            }
        }
        db->endTransaction(true);

        QCOMPARE(db->findContactByName(u"Bob Ray"_s), qint64(0));
        QVERIFY(db->findContactByName(u"Carl"_s) != 0);
        const Contact stored = db->loadContact(janeId);
        QCOMPARE(stored.rows(ENTITY_PHONE).size(), 1);
        QCOMPARE(stored.firstRow(ENTITY_PHONE).text(u"data3"_s), QString()); // the label update was undone
        QCOMPARE(scalar(*db, u"select count(*) from data where type=4"_s), qint64(0));
        QCOMPARE(db->db().tranDepth(), 0);
    }

    // Inside a caller's transaction a failed save takes back what it wrote to a stored contact: rows added and
    // overwritten, a group it made. When even that fails, the caller's transaction refuses to commit.
    void mergeUndoInsideTransaction()
    {
        auto db = freshDb();
        Contact jane = person(u"Jane"_s, u"Doe"_s);
        jane.addRow(ENTITY_PHONE, mk({{1, u"555"_s}}));
        const qint64 janeId = db->saveContactWithMerge(jane).stored._id;
        const qint64 rowsBefore = scalar(*db, u"select count(*) from data"_s);
        db->db().executeThrow(Sqlite3Sql("create trigger guard before insert on data when new.data1='777' "
                                         "begin select raise(abort, 'note 777 refused'); end"));
        Contact more = jane;
        more.entities[ENTITY_PHONE] = {mk({{1, u"555"_s}, {3, u"Home"_s}}), mk({{1, u"556"_s}})};
        more.addRow(ENTITY_GROUP, mk({{2, u"Climbers"_s}}));
        more.addRow(ENTITY_NOTE, mk({{1, u"777"_s}})); // notes come after phones and groups

        db->beginTransaction();
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, db->saveContactWithMerge(more));
        db->endTransaction(true);
        const Contact stored = db->loadContact(janeId);
        QCOMPARE(stored.rows(ENTITY_PHONE).size(), 1);
        QCOMPARE(stored.firstRow(ENTITY_PHONE).text(u"data3"_s), QString());
        QCOMPARE(scalar(*db, u"select count(*) from data"_s), rowsBefore);
        QCOMPARE(scalar(*db, u"select count(*) from contact_group"_s), qint64(0));

        db->db().executeThrow(Sqlite3Sql("create trigger keep before delete on data "
                                         "begin select raise(abort, 'no deletes'); end"));
        Contact bob = person(u"Bob"_s, u"Ray"_s);
        bob.addRow(ENTITY_NOTE, mk({{1, u"777"_s}}));
        db->beginTransaction();
        db->saveContactWithMerge(person(u"Carl"_s, u"Lund"_s));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, db->saveContactWithMerge(bob));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, db->endTransaction(true));
        db->endTransaction(false);
        QCOMPARE(db->db().tranDepth(), 0);
        QCOMPARE(db->findContactByName(u"Bob Ray"_s), qint64(0));
        QCOMPARE(db->findContactByName(u"Carl Lund"_s), qint64(0));

        // The next transaction commits as usual.
        db->beginTransaction();
        db->saveContactWithMerge(person(u"Dan"_s, u"Moe"_s));
        db->endTransaction(true);
        QVERIFY(db->findContactByName(u"Dan Moe"_s) != 0);
    }

    // A worker whose commit fails (here: another connection still reads the file) rolls back and leaves the
    // connection out of any transaction, so that its next transaction really reaches the file.
    void workerTransactionAfterAFailedCommit()
    {
        auto db = freshDb();
        db->db().executeThrow(Sqlite3Sql("pragma busy_timeout=0"));
        LocalDb reader(db->path(), localRule());
        reader.beginTransaction();
        reader.listContacts(0, QString()); // holds the shared lock until its transaction ends
        {
            WorkerTransaction transaction(db.get(), "test");
            transaction.begin();
            db->saveContactWithMerge(person(u"Ann"_s, u"Lee"_s));
            QVERIFY_THROWS_EXCEPTION(std::exception, transaction.commit());
        }
        QCOMPARE(db->db().tranDepth(), 0);
        reader.endTransaction(true);

        WorkerTransaction transaction(db.get(), "test");
        transaction.begin();
        db->saveContactWithMerge(person(u"Bo"_s, u"Kim"_s));
        transaction.commit();
        LocalDb other(db->path(), localRule());
        QCOMPARE(other.findContactByName(u"Ann Lee"_s), qint64(0));
        QVERIFY(other.findContactByName(u"Bo Kim"_s) != 0);
    }
};

QTEST_GUILESS_MAIN(TestContacts)
#include "tst_contacts.moc"
