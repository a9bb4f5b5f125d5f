// PlistCFType over real libplist trees: parsing, the total accessors, ownership of inserted values, text rendering,
// keyed archives and dates.

#include "ios/plistcftype.h"

#include <plist/plist.h>

#include <QSet>
#include <QTest>
#include <QTimeZone>

#include <cstdlib>
#include <ctime>
#include <stdexcept>

class TestPlistCFType : public QObject
{
    Q_OBJECT

    static QByteArray binaryOf(const PlistCFType &value)
    {
        char *bytes = nullptr;
        uint32_t length = 0;
        plist_to_bin(static_cast<plist_t>(value.node()), &bytes, &length);
        const QByteArray result(bytes, qsizetype(length));
        plist_to_bin_free(bytes);
        return result;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A zone without daylight saving time, far from UTC, so that a mix-up of local and UTC shows.
        qputenv("TZ", "Asia/Kolkata");
        tzset();
    }

    void parsesBinaryOnlyFromSevenBytesOn()
    {
        PlistCFType dict = PlistCFType::newDict();
        dict.setItem(QStringLiteral("name"), PlistCFType::fromString(QStringLiteral("Zoë")));
        const QByteArray binary = binaryOf(dict);
        QVERIFY(binary.startsWith("bplist00"));
        QCOMPARE(PlistCFType::fromData(binary).item(QStringLiteral("name")).toString(), QStringLiteral("Zoë"));
        QCOMPARE(PlistCFType::fromData(dict.toXml()).item(QStringLiteral("name")).toString(), QStringLiteral("Zoë"));

        // Six bytes are taken for XML, which they are not.
        const PlistCFType six = PlistCFType::fromData(QByteArrayLiteral("bplist"));
        QVERIFY(six.isNull());
        QCOMPARE(six.type(), int(PlistCFType::TypeNone));
        QVERIFY(PlistCFType::fromData(QByteArrayLiteral("bplist00 but cut short")).isNull());
        QVERIFY(PlistCFType::fromData(QByteArray()).isNull());
    }

    void dictionariesWalkedAndWrittenInPlace()
    {
        // A batch of records as the phone sends them: walked once, each value a view of its own record.
        PlistCFType batch = PlistCFType::newDict();
        const QStringList ids = {QStringLiteral("1"), QStringLiteral("Zoë/2"), QStringLiteral("3")};
        for (const QString &id : ids) {
            PlistCFType record = PlistCFType::newDict();
            record.setItem(QStringLiteral("id"), PlistCFType::fromString(id));
            record.setItem(QStringLiteral("image"), PlistCFType::fromByteArray(QByteArray(3000, char(id.size()))));
            batch.setItem(id, record);
        }
        const PlistCFType parsed = PlistCFType::fromData(batch.toBinary());
        QStringList seen;
        parsed.forEachItem([&](const QString &key, const PlistCFType &record) {
            seen << key;
            QCOMPARE(record.item(QStringLiteral("id")).toString(), key);
            // A record inside the batch is written alone, as a copy of it would be.
            QCOMPARE(record.toBinary(), record.copy().toBinary());
            QCOMPARE(PlistCFType::fromData(record.toBinary()).item(QStringLiteral("image")).toByteArray().size(), 3000);
        });
        QCOMPARE(QSet<QString>(seen.cbegin(), seen.cend()), QSet<QString>(ids.cbegin(), ids.cend()));
        QCOMPARE(seen.size(), 3);

        // A visit that throws ends the walk; other kinds of node have nothing to walk.
        int visits = 0;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 parsed.forEachItem([&visits](const QString &, const PlistCFType &) {
                                     ++visits;
                                     throw std::runtime_error("stop");
                                 }));
        QCOMPARE(visits, 1);
        PlistCFType::newArray().forEachItem([&visits](const QString &, const PlistCFType &) { ++visits; });
        PlistCFType::fromString(QStringLiteral("x")).forEachItem([&visits](const QString &, const PlistCFType &) {
            ++visits;
        });
        QCOMPARE(visits, 1);
    }

    void accessorsGiveTheirDefaultsForOtherKinds()
    {
        const PlistCFType real(plist_new_real(2.75), true);
        const PlistCFType whole(plist_new_uint(70000), true);
        QCOMPARE(real.type(), int(PlistCFType::TypeNumber));
        QCOMPARE(whole.type(), int(PlistCFType::TypeNumber));
        QCOMPARE(real.toInt(5), 5);
        QCOMPARE(real.toUInt64(9), quint64(9));
        QCOMPARE(real.toDouble(1.5), 2.75);
        QCOMPARE(whole.toDouble(1.5), 1.5);
        QCOMPARE(whole.toInt(5), 70000);
        QCOMPARE(whole.toShort(5), short(70000 - 65536)); // cut to the width of the result

        const PlistCFType text = PlistCFType::fromString(QStringLiteral("x"));
        QCOMPARE(text.count(), 0);
        QCOMPARE(text.toBool(true), true);
        QVERIFY(text.toByteArray().isEmpty());
        QVERIFY(!text.toDateTime().isValid());
        QCOMPARE(text.uid(), quint32(0));
        QVERIFY(text.item(QStringLiteral("a")).isNull());

        PlistCFType dict = PlistCFType::newDict();
        dict.setItem(QStringLiteral("k"), PlistCFType::fromBool(true));
        QVERIFY(dict.item(0).isNull());
        QVERIFY(dict.toString().isEmpty());
        const QList<PlistCFType> keys = dict.keys();
        QCOMPARE(keys.size(), 1);
        QCOMPARE(keys.first().type(), int(PlistCFType::TypeString));
        QCOMPARE(keys.first().toString(), QStringLiteral("k"));
        QVERIFY(PlistCFType::newDict().keys().isEmpty());

        PlistCFType array = PlistCFType::newArray();
        array.append(text);
        QCOMPARE(array.count(), 1);
        QVERIFY(array.item(1).isNull());
        QVERIFY(array.item(-1).isNull());
        QVERIFY(PlistCFType::fromByteArray(QByteArray()).toByteArray().isEmpty());
        QCOMPARE(PlistCFType().toText(), QStringLiteral("NULL"));
    }

    void insertedValuesBelongToTheContainer()
    {
        PlistCFType value = PlistCFType::fromString(QStringLiteral("v"));
        {
            PlistCFType dict = PlistCFType::newDict();
            dict.setItem(QStringLiteral("a"), value);
            QCOMPARE(dict.item(QStringLiteral("a")).node(), value.node());
            QCOMPARE(value.toString(), QStringLiteral("v"));
            // Freeing the dictionary frees the node; were the value still its owner, dropping it below would free
            // the node a second time.
        }
        value = PlistCFType();

        // A value dropped before its container leaves the node in place.
        PlistCFType dict = PlistCFType::newDict();
        dict.setItem(QStringLiteral("b"), PlistCFType::fromByteArray(QByteArrayLiteral("\x01\x02")));
        QCOMPARE(dict.item(QStringLiteral("b")).toByteArray(), QByteArrayLiteral("\x01\x02"));
        // Replacing an entry frees the old node in the library and forgets its holder.
        dict.setItem(QStringLiteral("b"), PlistCFType::fromString(QStringLiteral("new")));
        QCOMPARE(dict.item(QStringLiteral("b")).toString(), QStringLiteral("new"));
        QCOMPARE(dict.count(), 1);

        // A node that already sits in another tree goes in as a copy; the other tree stays whole.
        PlistCFType other = PlistCFType::newDict();
        other.setItem(QStringLiteral("c"), PlistCFType::fromString(QStringLiteral("shared")));
        dict.setItem(QStringLiteral("c"), other.item(QStringLiteral("c")));
        QCOMPARE(other.count(), 1);
        QVERIFY(dict.item(QStringLiteral("c")).node() != other.item(QStringLiteral("c")).node());
        QCOMPARE(dict.item(QStringLiteral("c")).toString(), QStringLiteral("shared"));
        other = PlistCFType();
        QCOMPARE(dict.item(QStringLiteral("c")).toString(), QStringLiteral("shared"));

        // Values without a node and containers of the wrong kind change nothing.
        dict.setItem(QStringLiteral("d"), PlistCFType());
        dict.setItem(PlistCFType(), PlistCFType::fromBool(true));
        PlistCFType text = PlistCFType::fromString(QStringLiteral("t"));
        text.append(PlistCFType::fromBool(true));
        text.setItem(QStringLiteral("e"), PlistCFType::fromBool(true));
        QCOMPARE(dict.count(), 2);
        QCOMPARE(text.toString(), QStringLiteral("t"));
    }

    void rendersText()
    {
        PlistCFType array = PlistCFType::newArray();
        array.append(PlistCFType(plist_new_uint(1), true));
        array.append(PlistCFType::fromString(QStringLiteral("x")));
        QCOMPARE(array.toText(), QStringLiteral("[1, x]"));

        PlistCFType dict = PlistCFType::newDict();
        dict.setItem(QStringLiteral("a"), PlistCFType::fromBool(true));
        QCOMPARE(dict.toText(), QStringLiteral("{a : 1}"));
        // A key given as a value is the rendering of that value.
        dict.setItem(PlistCFType(plist_new_uint(7), true), PlistCFType::fromBool(false));
        QCOMPARE(dict.item(QStringLiteral("7")).toBool(true), false);

        QCOMPARE(PlistCFType(plist_new_real(1.0 / 3), true).toText(), QStringLiteral("0.333333"));
        QCOMPARE(PlistCFType::fromByteArray(QByteArrayLiteral("hi")).toText(), QStringLiteral("aGk="));
        QCOMPARE(PlistCFType(plist_new_uid(12), true).toText(), QStringLiteral("12"));
    }

    void flattensKeyedArchives()
    {
        QVERIFY(PlistCFType::newDict().archiveRootObject().isEmpty());
        QVERIFY(PlistCFType::newArray().archiveRootObject().isEmpty());

        // {$objects: ["$null", {Name: UID 2, Size: 42}, "Manifest.db"], $top: {root: UID 1}}
        PlistCFType root = PlistCFType::newDict();
        root.setItem(QStringLiteral("Name"), PlistCFType(plist_new_uid(2), true));
        root.setItem(QStringLiteral("Size"), PlistCFType(plist_new_uint(42), true));
        PlistCFType objects = PlistCFType::newArray();
        objects.append(PlistCFType::fromString(QStringLiteral("$null")));
        objects.append(root);
        objects.append(PlistCFType::fromString(QStringLiteral("Manifest.db")));
        PlistCFType top = PlistCFType::newDict();
        top.setItem(QStringLiteral("root"), PlistCFType(plist_new_uid(1), true));
        PlistCFType archive = PlistCFType::newDict();
        archive.setItem(QStringLiteral("$objects"), objects);
        archive.setItem(QStringLiteral("$top"), top);

        // Archives are binary; the flattened values are views into the parsed tree, which must stay alive.
        const PlistCFType parsed = PlistCFType::fromData(binaryOf(archive));
        const QHash<QString, PlistCFType> flat = parsed.archiveRootObject();
        QCOMPARE(flat.size(), 2);
        QCOMPARE(flat.value(QStringLiteral("Name")).toString(), QStringLiteral("Manifest.db"));
        QCOMPARE(flat.value(QStringLiteral("Size")).toInt(), 42);
    }

    void datesKeepTheirFields()
    {
        const QDateTime birthday(QDate(1980, 2, 29), QTime(0, 0), Qt::LocalTime);
        const PlistCFType node = PlistCFType::fromDateTime(birthday);
        QCOMPARE(node.type(), int(PlistCFType::TypeDate));
        QCOMPARE(node.toDateTime(), birthday);
        // Through a serialized form, with a sub-second part.
        const QDateTime meeting(QDate(2023, 11, 5), QTime(14, 7, 9, 250), Qt::LocalTime);
        PlistCFType dict = PlistCFType::newDict();
        dict.setItem(QStringLiteral("at"), PlistCFType::fromDateTime(meeting));
        QCOMPARE(PlistCFType::fromData(binaryOf(dict)).item(QStringLiteral("at")).toDateTime(), meeting);
        QCOMPARE(PlistCFType::fromDateTime(meeting).toText(), meeting.toString());
    }

    void datesFarFromTheEpochKeepTheirSeconds()
    {
        // 1900 and 2080 lie beyond the 32-bit seconds of libplist's own date calls (about 1933 to 2069); 1604 is
        // the year iOS gives a birthday without one.
        for (const QDate &day : {QDate(1900, 1, 1), QDate(1925, 1, 1), QDate(2080, 6, 15), QDate(1604, 5, 17)}) {
            const QDateTime midnight(day, QTime(0, 0), QTimeZone::utc());
            const double seconds = double(midnight.toSecsSinceEpoch() - 978307200);
            const PlistCFType node = PlistCFType::fromSeconds(seconds);
            bool ok = false;
            QCOMPARE(node.toSeconds(&ok), seconds);
            QVERIFY(ok);
            QCOMPARE(node.toDateTime(), midnight);
            QCOMPARE(PlistCFType::fromDateTime(midnight).toSeconds(), seconds);
            // Through both serialized forms, inside a record.
            PlistCFType record = PlistCFType::newDict();
            record.setItem(QStringLiteral("birthday"), node);
            QCOMPARE(PlistCFType::fromData(record.toBinary()).item(QStringLiteral("birthday")).toSeconds(), seconds);
            QCOMPARE(PlistCFType::fromData(record.toXml()).item(QStringLiteral("birthday")).toSeconds(), seconds);
        }
        bool ok = true;
        QCOMPARE(PlistCFType::fromString(QStringLiteral("1900-01-01")).toSeconds(&ok), 0.0);
        QVERIFY(!ok);
    }
};

QTEST_GUILESS_MAIN(TestPlistCFType)
#include "tst_plistcftype.moc"
