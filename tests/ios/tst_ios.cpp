// The iOS cache's duplicate rule, through merge-saving into a real cache database.

#include "contactfixtures.h"
#include "contacts/localdb.h"
#include "ios/ioscontactcombinerule.h"

#include <QTemporaryDir>
#include <QTest>

using fixtures::person;
using fixtures::row;
using namespace pim;

class TestIos : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_n = 0;

    std::unique_ptr<LocalDb> newCache()
    {
        auto db = std::make_unique<LocalDb>(m_dir.filePath(QStringLiteral("cache%1").arg(++m_n)),
                                            PContactCombineRule(new IOSContactCombineRule));
        db->createFromTemplate();
        return db;
    }

private Q_SLOTS:
    // The whole table, written out as the device's records need it: "empty|identity|change|merge|single".
    void ruleTable_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("expected");
        const char *rows[] = {
            "||||0",
            "4|4|4|4,15|1",
            "1|1|1,2,3|1,2,3|0",
            "1|1|1,2,3|1,2,3|0",
            "1|1|1|1|1",
            "1|1,2|1,2,3|1,2,3|0",
            "||||0",
            "1|1,5|1,5,2,3|1,5,2,3|0",
            "1|1|1|1|1",
            "1,5,4|1,5,4|1,5,4|1,5,4|1",
            "1|1,2|1,2,3|1,2,3|0",
            "1|1|10,11,8,7,4,9,2,3|1,10,11,8,7,4,9,2,3|0",
            "1|1|1,2,3|1,2,3|0",
        };
        for (int type = 1; type <= 13; ++type)
            QTest::addRow("type %d", type) << type << QString::fromLatin1(rows[type - 1]);
        QTest::addRow("type 14") << 14 << QStringLiteral("||||0");
    }
    void ruleTable()
    {
        QFETCH(int, type);
        QFETCH(QString, expected);
        const IOSContactCombineRule rule;
        auto numbers = [](const QStringList &columns) {
            QStringList n;
            for (const QString &c : columns)
                n << c.mid(4);
            return n.join(QLatin1Char(','));
        };
        bool single = true;
        const QStringList merge = rule.mergeColumns(type, single);
        const QString actual =
            QStringList{numbers(rule.emptyTestColumns(type)), numbers(rule.identityColumns(type)),
                        numbers(rule.changeColumns(type)), numbers(merge), QString::number(int(single))}
                .join(QLatin1Char('|'));
        QCOMPARE(actual, expected);
    }

    void groupsAreNeverWrittenIntoACache()
    {
        auto cache = newCache();
        Contact c = person(QStringLiteral("Anna"), QStringLiteral("Berg"));
        c.addRow(ENTITY_GROUP, row({{1, QStringLiteral("3")}, {2, QStringLiteral("Friends")}}));
        const LocalDb::SaveResult r = cache->saveContactWithMerge(c);
        QVERIFY(!r.written.contains(ENTITY_GROUP));
        QVERIFY(cache->listGroups().isEmpty());
        QVERIFY(!cache->loadContact(r.stored._id).hasRows(ENTITY_GROUP));
    }

    // Each case stores a contact with one row, then merges the same contact with a second row of that type.
    void secondRowOfAType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<DataRow>("first");
        QTest::addColumn<DataRow>("second");
        QTest::addColumn<int>("rowsAfter");
        QTest::newRow("IM: custom protocol name is not part of the key")
            << int(ENTITY_IM)
            << row({{1, QStringLiteral("anna")}, {5, QStringLiteral("-1")}, {6, QStringLiteral("Matrix")}})
            << row({{1, QStringLiteral("anna")}, {5, QStringLiteral("-1")}, {6, QStringLiteral("Signal")}}) << 1;
        QTest::newRow("birthday and anniversary on one date are two events")
            << int(ENTITY_EVENT) << row({{1, QStringLiteral("1980-02-29")}, {2, QStringLiteral("3")}})
            << row({{1, QStringLiteral("1980-02-29")}, {2, QStringLiteral("1")}}) << 2;
        QTest::newRow("relations keyed by name and type")
            << int(ENTITY_RELATION) << row({{1, QStringLiteral("Bo")}, {2, QStringLiteral("2")}})
            << row({{1, QStringLiteral("Bo")}, {2, QStringLiteral("6")}}) << 2;
        QTest::newRow("one note per contact")
            << int(ENTITY_NOTE) << row({{1, QStringLiteral("first")}}) << row({{1, QStringLiteral("second")}}) << 1;
    }
    void secondRowOfAType()
    {
        QFETCH(int, type);
        QFETCH(DataRow, first);
        QFETCH(DataRow, second);
        QFETCH(int, rowsAfter);
        auto cache = newCache();
        Contact c = person(QStringLiteral("Anna"), QStringLiteral("Berg"));
        c.addRow(type, first);
        const qint64 id = cache->saveContactWithMerge(c).stored._id;

        Contact again = person(QStringLiteral("Anna"), QStringLiteral("Berg"));
        again.full_name = QStringLiteral("Anna Berg");
        again.entities[ENTITY_NAME].first().setValue(QStringLiteral("data3"), QStringLiteral("Renamed"));
        again.addRow(type, second);
        const LocalDb::SaveResult r = cache->saveContactWithMerge(again);
        QVERIFY(r.merged);
        QCOMPARE(r.stored._id, id);
        const Contact stored = cache->loadContact(id);
        QCOMPARE(stored.rows(type).size(), rowsAfter);
        // The name row of an existing contact is never changed by a merge.
        QCOMPARE(stored.firstRow(ENTITY_NAME).text(QStringLiteral("data3")), QStringLiteral("Berg"));
    }
};

QTEST_GUILESS_MAIN(TestIos)
#include "tst_ios.moc"
