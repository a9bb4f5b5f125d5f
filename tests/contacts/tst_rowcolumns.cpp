// The columns of a data row against the QMap<QString, QVariant> they replaced: the same answers, order, bytes
// and sharing, after any sequence of changes.

#include "contacts/pim.h"

#include <QDataStream>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

using namespace pim;
using namespace Qt::StringLiterals;

namespace {

using Map = QMap<QString, QVariant>;

QByteArray streamed(const auto &columns)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << columns;
    return bytes;
}

// Names as callers write them, with look-alikes of the numbered ones that are other columns.
const QStringList &names()
{
    static const QStringList all = [] {
        QStringList n;
        for (int i = 0; i <= 15; ++i)
            n << u"data%1"_s.arg(i);
        n << u"data16"_s << u"data01"_s << u"Data1"_s << u"mimetype"_s << u"data"_s << u"é"_s << QString();
        return n;
    }();
    return all;
}

QVariant randomValue(QRandomGenerator &random)
{
    switch (random.bounded(5)) {
    case 0:
        return QVariant(); // present, but invalid
    case 1:
        return int(random.bounded(30));
    case 2:
        return QByteArray(int(random.bounded(4)), 'x');
    default:
        return QString::number(random.bounded(1000));
    }
}

void compare(const RowColumns &actual, const Map &expected)
{
    QCOMPARE(actual.size(), expected.size());
    QCOMPARE(actual.keys(), expected.keys());
    QCOMPARE(actual.values(), expected.values());
    QCOMPARE(actual.toMap(), expected);
    QCOMPARE(streamed(actual), streamed(expected));
    auto e = expected.cbegin();
    for (auto it = actual.cbegin(); it != actual.cend(); ++it, ++e) {
        QCOMPARE(it.key(), e.key());
        QCOMPARE(it.value(), e.value());
    }
    for (const QString &name : names()) {
        QCOMPARE(actual.contains(name), expected.contains(name));
        QCOMPARE(actual.value(name), expected.value(name));
    }
    QCOMPARE(QSet<QString>(actual.keyBegin(), actual.keyEnd()), QSet<QString>(expected.keyBegin(), expected.keyEnd()));
}

} // namespace

class TestRowColumns : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Random inserts, replacements, removals and copies, each step checked against a QMap given the same steps;
    // a copy taken before a change keeps what it had.
    void behavesAsTheMap()
    {
        QRandomGenerator random(20261208);
        for (int round = 0; round < 300; ++round) {
            RowColumns columns;
            Map map;
            RowColumns snapshot;
            Map snapshotMap;
            for (int step = 0; step < 40; ++step) {
                const QString &name = names().at(int(random.bounded(int(names().size()))));
                switch (random.bounded(6)) {
                case 0:
                case 1:
                case 2: {
                    const QVariant v = randomValue(random);
                    const auto it = columns.insert(name, v);
                    QCOMPARE(it.key(), name);
                    QCOMPARE(it.value(), v);
                    map.insert(name, v);
                    break;
                }
                case 3:
                    QCOMPARE(columns.remove(name), map.remove(name));
                    break;
                case 4:
                    columns[name] = u"set"_s;
                    map[name] = u"set"_s;
                    break;
                default:
                    snapshot = columns;
                    snapshotMap = map;
                    break;
                }
                compare(columns, map);
                compare(snapshot, snapshotMap);
            }
            QCOMPARE(RowColumns(map), columns);
            QCOMPARE(columns == snapshot, map == snapshotMap);
        }
    }

    // The row's helpers read through the columns: an invalid value is present but not "had", and a copied row
    // changed later leaves the original alone.
    void rowHelpers()
    {
        DataRow row;
        row.setValue(u"data2"_s, 3);
        row.setValue(u"data1"_s, QVariant());
        QVERIFY(row.columns.contains(u"data1"_s));
        QVERIFY(!row.has(u"data1"_s));
        QCOMPARE(row.text(u"data2"_s), u"3"_s);
        QCOMPARE(row.columns.keys(), QStringList({u"data1"_s, u"data2"_s}));

        DataRow copy = row;
        copy.setValue(u"data2"_s, u"x"_s);
        copy.columns.remove(u"data1"_s);
        QCOMPARE(row.text(u"data2"_s), u"3"_s);
        QCOMPARE(row.columns.size(), 2);
        QCOMPARE(copy.columns.size(), 1);

        // Writing through a mutable iterator changes this row only.
        DataRow third = row;
        for (auto it = third.columns.begin(); it != third.columns.end(); ++it)
            it.value() = u"w"_s;
        QCOMPARE(third.text(u"data1"_s), u"w"_s);
        QCOMPARE(row.value(u"data1"_s), QVariant());

        // Many columns, more than a block first holds, in name order.
        DataRow wide;
        for (int n = 15; n >= 0; --n)
            wide.setValue(u"data%1"_s.arg(n), n);
        QCOMPARE(wide.columns.size(), 16);
        QCOMPARE(wide.columns.keys().first(), u"data0"_s);
        QCOMPARE(wide.columns.keys().at(2), u"data10"_s);
        QCOMPARE(wide.value(u"data15"_s), QVariant(15));
    }
};

QTEST_GUILESS_MAIN(TestRowColumns)
#include "tst_rowcolumns.moc"
