// The translation between the device's contact records and data rows, without a device: what a row becomes on the
// wire, what comes back when that record is read, and the identifiers under which new records travel.

#include "contactfixtures.h"
#include "ios/iosrecords.h"
#include "scopedenv.h"

#include <QBuffer>
#include <QImage>
#include <QSet>
#include <QTest>

#include <ctime>
#include <tuple>

using fixtures::row;
using namespace pim;
using namespace iosrecords;
using namespace Qt::StringLiterals;

namespace {

// Writes one row of a contact with record identifier 17 and reads the record back. batch keeps what was sent.
DataRow roundTrip(int type, const DataRow &written, PlistCFType &batch)
{
    batch = PlistCFType::newDict();
    rowToRecord(batch, u"17"_s, type, -1, written);
    int readType = 0;
    DataRow read;
    if (batch.count() != 1 || !recordToRow(batch.item(batch.keys().first()), u"99"_s, &readType, &read) ||
        readType != type)
        return DataRow();
    return read;
}

PlistCFType sentRecord(const PlistCFType &batch)
{
    return batch.count() == 1 ? batch.item(batch.keys().first()) : PlistCFType();
}

// Seconds from 2001-01-01 00:00:00 UTC of a day's midnight in UTC, plus hours.
double secondsOf(const QDate &day, int hours = 0)
{
    return double(QDate(2001, 1, 1).daysTo(day)) * 86400.0 + hours * 3600.0;
}

PlistCFType str(const QString &text)
{
    return PlistCFType::fromString(text);
}

// A record of the phone's, as it would arrive.
PlistCFType phoneRecord(const char *kind, const QList<std::pair<QString, PlistCFType>> &fields)
{
    PlistCFType record = PlistCFType::newDict();
    record.setItem(QLatin1String(kRecordEntityName), PlistCFType::fromString(QLatin1String(kind)));
    for (const auto &[key, value] : fields)
        record.setItem(key, value);
    return record;
}

// The keys in which two records differ.
QStringList differingKeys(const PlistCFType &a, const PlistCFType &b)
{
    QSet<QString> keys;
    for (const PlistCFType &k : a.keys())
        keys.insert(k.toString());
    for (const PlistCFType &k : b.keys())
        keys.insert(k.toString());
    QStringList differing;
    for (const QString &k : keys)
        if (!a.item(k).sameAs(b.item(k)))
            differing << k;
    differing.sort();
    return differing;
}

} // namespace

class TestIosRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void labelsAndTypes()
    {
        // A custom label wins over the type code and comes back as the label with code 0.
        PlistCFType batch;
        DataRow read = roundTrip(ENTITY_PHONE, row({{1, u"555 0100"_s}, {2, 3}, {3, u"Boat"_s}}), batch);
        QCOMPARE(sentRecord(batch).item(u"label"_s).toString(), u"Boat"_s);
        QCOMPARE(sentRecord(batch).item(u"type"_s).toString(), u"other"_s);
        QCOMPARE(read.text(u"data3"_s), u"Boat"_s);
        QCOMPARE(read.text(u"data2"_s), u"0"_s);
        QCOMPARE(read.src_id, u"99"_s);

        // A type text the table does not list leaves the code unset rather than 0.
        PlistCFType phone = PlistCFType::newDict();
        phone.setItem(u"value"_s, PlistCFType::fromString(u"555"_s));
        phone.setItem(u"type"_s, PlistCFType::fromString(u"iPhone"_s));
        QVERIFY(!phoneRecordToRow(phone, u"5"_s).has(u"data2"_s));

        // Codes the device has no word for travel as the closest one it has (a domestic partner is a partner,
        // "referred by" a friend), as "other" when none is close; listed ones survive.
        for (auto [code, back] : {std::pair(4, 10), std::pair(11, 6), std::pair(12, 0)})
            QCOMPARE(roundTrip(ENTITY_RELATION, row({{1, u"Sam"_s}, {2, code}}), batch).text(u"data2"_s),
                     QString::number(back));
        for (int code : {2, 14})
            QCOMPARE(roundTrip(ENTITY_RELATION, row({{1, u"Sam"_s}, {2, code}}), batch).text(u"data2"_s),
                     QString::number(code));
        for (int code : {1, 4, 5})
            QCOMPARE(roundTrip(ENTITY_WEBSITE, row({{1, u"w.example"_s}, {2, code}}), batch).text(u"data2"_s),
                     QString::number(code));
        QCOMPARE(roundTrip(ENTITY_PHONE, row({{1, u"555"_s}, {2, 12}}), batch).text(u"data2"_s), u"12"_s);

        // IM services: listed protocols survive; Net Meeting and custom protocols send no service.
        DataRow im = roundTrip(ENTITY_IM, row({{1, u"me"_s}, {2, 2}, {5, 10}}), batch);
        QCOMPARE(im.text(u"data5"_s), u"10"_s);
        QCOMPARE(im.text(u"data2"_s), u"2"_s);
        for (const QVariant &protocol : {QVariant(9), QVariant(u"custom"_s)}) {
            im = roundTrip(ENTITY_IM, row({{1, u"me"_s}, {5, protocol}}), batch);
            QCOMPARE(sentRecord(batch).item(u"user"_s).toString(), u"me"_s);
            QVERIFY(sentRecord(batch).item(u"service"_s).isNull());
            QVERIFY(!im.has(u"data5"_s));
        }
    }

    void birthdaysAndDates()
    {
        Contact c;
        c._id = 8;
        const DataRow birthday = row({{1, u"1980-02-29"_s}, {2, 3}});
        c.addRow(ENTITY_EVENT, birthday);
        // A birthday makes no Date record; it travels in the Contact record.
        PlistCFType batch = PlistCFType::newDict();
        rowToRecord(batch, u"17"_s, ENTITY_EVENT, -3, birthday);
        QCOMPARE(batch.count(), 0);
        contactToRecord(batch, c);
        DataRow read;
        QVERIFY(contactToBirthdayRow(batch.item(u"-8"_s), u"8"_s, &read));
        QCOMPARE(read.text(u"data1"_s), u"1980-02-29"_s);
        QCOMPARE(read.text(u"data2"_s), u"3"_s);

        // Of several birthdays the last readable one stands; text that is no date is never a birthday.
        c.addRow(ENTITY_EVENT, row({{1, u"19751224"_s}, {2, 3}}));
        c.addRow(ENTITY_EVENT, row({{1, u"at Christmas"_s}, {2, 3}}));
        batch = PlistCFType::newDict();
        contactToRecord(batch, c);
        QVERIFY(contactToBirthdayRow(batch.item(u"-8"_s), QString(), &read));
        QCOMPARE(read.text(u"data1"_s), u"1975-12-24"_s);
        c.entities[ENTITY_EVENT] = {row({{1, u"at Christmas"_s}, {2, 3}})};
        batch = PlistCFType::newDict();
        contactToRecord(batch, c);
        QVERIFY(batch.item(u"-8"_s).item(u"birthday"_s).isNull());

        // Other dates: a date value or ISO text becomes a Date record; text that is no date makes none.
        read = roundTrip(ENTITY_EVENT, row({{1, QDateTime(QDate(2011, 3, 5), QTime(0, 0))}, {2, 1}}), batch);
        QCOMPARE(read.text(u"data1"_s), u"2011-03-05"_s);
        QCOMPARE(read.text(u"data2"_s), u"1"_s);
        roundTrip(ENTITY_EVENT, row({{1, u"next spring"_s}, {2, 1}}), batch);
        QCOMPARE(batch.count(), 0);
    }

    void datesInEveryZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("UTC") << QByteArray("UTC");
        QTest::newRow("Sydney") << QByteArray("Australia/Sydney"); // +11 in January, +10 in June
        QTest::newRow("Sao Paulo") << QByteArray("America/Sao_Paulo");
    }

    void datesInEveryZone()
    {
        QFETCH(QByteArray, zone);
        const ScopedTimeZone inZone(zone);

        // What the phone holds (midnight UTC, year 1604 for no year) and what the rows keep, both ways.
        const QList<std::pair<QDate, QString>> days = {
            {QDate(1900, 1, 1), u"1900-01-01"_s},  {QDate(1925, 1, 1), u"1925-01-01"_s},
            {QDate(1980, 6, 30), u"1980-06-30"_s}, {QDate(2080, 12, 31), u"2080-12-31"_s},
            {QDate(1604, 5, 17), u"--05-17"_s},    {QDate(1604, 2, 29), u"--02-29"_s}};
        for (const auto &[day, text] : days) {
            Contact c;
            c._id = 3;
            c.addRow(ENTITY_EVENT, row({{1, text}, {2, 3}}));
            const PlistCFType record = contactRecord(c);
            QCOMPARE(record.item(u"birthday"_s).toSeconds(), secondsOf(day));
            DataRow read;
            QVERIFY(contactToBirthdayRow(record, u"3"_s, &read));
            QCOMPARE(read.text(u"data1"_s), text);

            PlistCFType batch;
            const DataRow anniversary = roundTrip(ENTITY_EVENT, row({{1, text}, {2, 1}}), batch);
            QCOMPARE(sentRecord(batch).item(u"value"_s).toSeconds(), secondsOf(day));
            QCOMPARE(anniversary.text(u"data1"_s), text);
        }
        // Other ways of writing a date name the same day, whatever the zone.
        for (const QVariant &value :
             {QVariant(u"--0517"_s), QVariant(u"1980-06-30T00:00:00"_s), QVariant(u"19800630"_s),
              QVariant(QDate(1980, 6, 30)), QVariant(QDateTime(QDate(1980, 6, 30), QTime(0, 0)))}) {
            const double seconds = dateNode(value).toSeconds();
            QVERIFY2(seconds == secondsOf(QDate(1604, 5, 17)) || seconds == secondsOf(QDate(1980, 6, 30)),
                     qPrintable(value.toString()));
        }
        // A phone that keeps a birthday at noon UTC reads as that day.
        QCOMPARE(dateText(PlistCFType::fromSeconds(secondsOf(QDate(1975, 12, 24), 12))), u"1975-12-24"_s);
        QVERIFY(dateNode(u"--13-40"_s).isNull());
    }

    void phoneLabelsBothWays()
    {
        // The phone's own labels read as the codes they stand for, not as custom labels.
        const QList<std::tuple<int, const char *, QString, int>> tokens = {
            {ENTITY_PHONE, kPhoneKind, u"_$!<OtherFAX>!$_"_s, 13},
            {ENTITY_PHONE, kPhoneKind, u"iPhone"_s, 2},
            {ENTITY_PHONE, kPhoneKind, u"_$!<Main>!$_"_s, 12},
            {ENTITY_EMAIL, kEmailKind, u"_$!<Work>!$_"_s, 2},
            {ENTITY_WEBSITE, kUrlKind, u"_$!<HomePage>!$_"_s, 1},
            {ENTITY_RELATION, kRelatedNameKind, u"_$!<Sister>!$_"_s, 13},
        };
        for (const auto &[type, kind, label, code] : tokens) {
            const PlistCFType record =
                phoneRecord(kind, {{u"value"_s, str(u"x"_s)}, {u"label"_s, str(label)}, {u"type"_s, str(u"other"_s)}});
            int readType = 0;
            DataRow read;
            QVERIFY(recordToRow(record, u"9"_s, &readType, &read));
            QCOMPARE(read.text(u"data2"_s), QString::number(code));
            QVERIFY2(read.text(u"data3"_s).isEmpty(), qPrintable(label));
        }
        // A token the table does not know keeps its word as the custom label.
        const PlistCFType school =
            phoneRecord(kEmailKind, {{u"value"_s, str(u"a@b.example"_s)}, {u"label"_s, str(u"_$!<School>!$_"_s)}});
        QCOMPARE(emailRecordToRow(school, u"9"_s).text(u"data3"_s), u"School"_s);

        // Codes the phone knows only as a label of its own go as that label; codes it has no word for as the
        // closest one it has.
        PlistCFType batch;
        QCOMPARE(roundTrip(ENTITY_PHONE, row({{1, u"555"_s}, {2, 13}}), batch).text(u"data2"_s), u"13"_s);
        QCOMPARE(sentRecord(batch).item(u"label"_s).toString(), u"_$!<OtherFAX>!$_"_s);
        for (auto [code, type, back] : {std::tuple(17, "mobile", 2), std::tuple(10, "main", 12),
                                        std::tuple(18, "pager", 6), std::tuple(7, "other", 0)}) {
            QCOMPARE(roundTrip(ENTITY_PHONE, row({{1, u"555"_s}, {2, code}}), batch).text(u"data2"_s),
                     QString::number(back));
            QCOMPARE(sentRecord(batch).item(u"type"_s).toString(), QLatin1String(type));
        }
        QCOMPARE(roundTrip(ENTITY_WEBSITE, row({{1, u"blog.example"_s}, {2, 2}}), batch).text(u"data2"_s), u"1"_s);
    }

    void recordsSentBackKeepWhatTheRowsDoNotCarry()
    {
        // A company card as the phone gives it, with keys the rows have no place for.
        QByteArray photo(5000, 'p');
        const PlistCFType original =
            phoneRecord(kContactKind, {{u"display as company"_s, str(u"company"_s)},
                                       {u"company name"_s, str(u"Acme Ltd"_s)},
                                       {u"middle name yomi"_s, str(u"ミドル"_s)},
                                       {u"image"_s, PlistCFType::fromByteArray(photo)},
                                       {u"birthday"_s, PlistCFType::fromSeconds(secondsOf(QDate(1925, 1, 1), 12))},
                                       {u"notes"_s, str(u"gate code 4411"_s)}});
        Contact c = contactRecordToContact(original, u"7"_s);
        QCOMPARE(c.full_name, u"Acme Ltd"_s);
        QVERIFY(isCompanyCard(c));

        // Nothing edited: the phone's record comes back as it was, the photo as the unchanged marker.
        PlistCFType sent = contactRecord(c, original);
        QCOMPARE(differingKeys(sent, original), QStringList{u"image"_s});
        QCOMPARE(sent.item(u"image"_s).toString(), QLatin1String(kImageUnchangedMarker));

        // An edited note and a removed birthday change those keys alone.
        c.entities[ENTITY_NOTE].first().setValue(u"data1"_s, u"gate code 9922"_s);
        c.entities.remove(ENTITY_EVENT);
        sent = contactRecord(c, original);
        QCOMPARE(differingKeys(sent, original), (QStringList{u"birthday"_s, u"image"_s, u"notes"_s}));
        QCOMPARE(sent.item(u"display as company"_s).toString(), u"company"_s);
        QCOMPARE(sent.item(u"middle name yomi"_s).toString(), u"ミドル"_s);

        // A new photo goes as itself.
        c.entities[ENTITY_PHOTO].first().setValue(u"data15"_s, QByteArray(4000, 'q'));
        QCOMPARE(contactRecord(c, original).item(u"image"_s).toByteArray(), QByteArray(4000, 'q'));

        // A new company card from elsewhere is sent as a company; a person with a company as a person.
        Contact acme;
        acme.addRow(ENTITY_ORGANIZATION, row({{1, u"Acme"_s}}));
        QCOMPARE(contactRecord(acme).item(u"display as company"_s).toString(), u"company"_s);
        acme.addRow(ENTITY_NAME, row({{2, u"Ann"_s}}));
        QCOMPARE(contactRecord(acme).item(u"display as company"_s).toString(), u"person"_s);

        // A phone number naming two contacts, with the phone's own label: unchanged, it goes back as it was; a
        // new number changes "value" alone.
        PlistCFType refs = PlistCFType::newArray();
        refs.append(str(u"7"_s));
        refs.append(str(u"8"_s));
        const PlistCFType number = phoneRecord(kPhoneKind, {{u"value"_s, str(u"555 0100"_s)},
                                                            {u"label"_s, str(u"iPhone"_s)},
                                                            {u"type"_s, str(u"mobile"_s)},
                                                            {u"contact"_s, refs}});
        DataRow phone = phoneRecordToRow(number, u"12"_s);
        QVERIFY(differingKeys(rowRecord(u"7"_s, ENTITY_PHONE, phone, number), number).isEmpty());
        phone.setValue(u"data1"_s, u"555 0199"_s);
        QCOMPARE(differingKeys(rowRecord(u"7"_s, ENTITY_PHONE, phone, number), number), QStringList{u"value"_s});
    }

    void photosTheScreenCanShow()
    {
        // A photo larger than the phone takes goes scaled down; a small one as it is.
        QImage noise(900, 900, QImage::Format_RGB32);
        quint32 seed = 7;
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, (seed = seed * 1103515245u + 12345u) >> 8);
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && noise.save(&buffer, "PNG"));
        QVERIFY(png.size() > kMaxImageBytes);
        Contact c;
        c.addRow(ENTITY_PHOTO, row({{15, png}}));
        const QByteArray sent = contactRecord(c).item(u"image"_s).toByteArray();
        QVERIFY2(sent.size() <= kMaxImageBytes && sent.size() > 0, QByteArray::number(sent.size()).constData());
        QImage shown;
        QVERIFY(shown.loadFromData(sent));
        QCOMPARE(shown.width(), shown.height());
        QCOMPARE(imageForPhone(QByteArray(100, 'x')), QByteArray(100, 'x'));
    }

    void groupRecords()
    {
        PlistCFType members = PlistCFType::newArray();
        members.append(str(u"7"_s));
        members.append(str(QString()));
        members.append(str(u"9"_s));
        const PlistCFType group = phoneRecord(kGroupKind, {{u"name"_s, str(u"Climbing"_s)}, {u"members"_s, members}});
        QCOMPARE(groupName(group), u"Climbing"_s);
        QCOMPARE(groupMembers(group), (QStringList{u"7"_s, u"9"_s}));
        int type = 0;
        DataRow none;
        QVERIFY(!recordToRow(group, u"30"_s, &type, &none)); // no row of its own
    }

    void contactRecords()
    {
        // Without any row: only the kind and "display as company".
        PlistCFType batch = PlistCFType::newDict();
        Contact nameless;
        nameless._id = 5;
        contactToRecord(batch, nameless);
        const PlistCFType bare = batch.item(u"-5"_s);
        QCOMPARE(bare.count(), 2);
        QCOMPARE(kindOf(bare), QLatin1String(kContactKind));
        QCOMPARE(bare.item(u"display as company"_s).toString(), u"person"_s);
        DataRow none;
        QVERIFY(!contactToOrganizationRow(bare, QString(), &none));
        QVERIFY(!contactToNicknameRow(bare, QString(), &none));
        QVERIFY(!contactToPhotoRow(bare, QString(), &none));
        QVERIFY(!contactToNoteRow(bare, QString(), &none));

        // A contact the device knows, through its record and back.
        Contact c;
        c.src_id = u"41"_s;
        const DataRow name = row({{2, u"Zoë"_s},
                                  {3, u"Adams"_s},
                                  {4, u"Q"_s},
                                  {5, u"Dr"_s},
                                  {6, u"Jr"_s},
                                  {7, u"ゾーイ"_s},
                                  {8, u"アダムス"_s}});
        c.addRow(ENTITY_NAME, name);
        c.addRow(ENTITY_ORGANIZATION, row({{1, u"Acme"_s}, {4, u"Engineer"_s}}));
        c.addRow(ENTITY_NICKNAME, row({{1, u"Zo"_s}}));
        c.addRow(ENTITY_PHOTO, row({{15, QByteArray("\x89PNG\0\1", 6)}}));
        c.addRow(ENTITY_NOTE, row({{1, u"line 1\nline 2"_s}}));
        batch = PlistCFType::newDict();
        contactToRecord(batch, c);
        const PlistCFType record = batch.item(u"41"_s);
        QVERIFY(record.item(u"department"_s).isNull()); // an empty column sends no key

        const Contact read = contactRecordToContact(record, u"41"_s);
        QCOMPARE(read.full_name, u"Dr Zoë Q Adams Jr"_s);
        for (int n = 1; n <= 8; ++n) {
            const QString column = u"data%1"_s.arg(n);
            QCOMPARE(read.firstRow(ENTITY_NAME).text(column), n == 1 ? read.full_name : name.text(column));
        }
        const DataRow org = read.firstRow(ENTITY_ORGANIZATION);
        QCOMPARE(QStringList({org.text(u"data1"_s), org.text(u"data2"_s), org.text(u"data4"_s), org.text(u"data5"_s)}),
                 QStringList({u"Acme"_s, u"1"_s, u"Engineer"_s, QString()}));
        QCOMPARE(read.firstRow(ENTITY_NICKNAME).text(u"data1"_s), u"Zo"_s);
        QCOMPARE(read.firstRow(ENTITY_PHOTO).value(u"data15"_s).toByteArray(), QByteArray("\x89PNG\0\1", 6));
        QCOMPARE(read.firstRow(ENTITY_NOTE).text(u"data1"_s), u"line 1\nline 2"_s);
        QVERIFY(!read.hasRows(ENTITY_EVENT));
        for (const QList<DataRow> &rows : read.entities)
            QCOMPARE(rows.first().src_id, u"41"_s);
    }

    void addressesAndEmptyRows()
    {
        PlistCFType batch;
        const DataRow full = row({{2, 2},
                                  {4, u"1 Main St"_s},
                                  {5, u"PO 7"_s},
                                  {7, u"Springfield"_s},
                                  {8, u"IL"_s},
                                  {9, u"62701"_s},
                                  {10, u"USA"_s},
                                  {11, u"us"_s}});
        const DataRow read = roundTrip(ENTITY_ADDRESS, full, batch);
        for (int n : {2, 4, 7, 8, 9, 10, 11})
            QCOMPARE(read.text(u"data%1"_s.arg(n)), full.text(u"data%1"_s.arg(n)));
        QCOMPARE(read.text(u"data1"_s), u"1 Main St\nSpringfield, IL 62701\nUSA"_s);

        // Rows that make no record: a postcode alone (it formats to nothing), values without data1, and the
        // types that have no record of their own.
        roundTrip(ENTITY_ADDRESS, row({{9, u"62701"_s}}), batch);
        QCOMPARE(batch.count(), 0);
        for (int type :
             {int(ENTITY_PHONE), int(ENTITY_EMAIL), int(ENTITY_WEBSITE), int(ENTITY_RELATION), int(ENTITY_IM)})
            rowToRecord(batch, u"17"_s, type, -1, row({{1, QString()}, {2, 1}}));
        for (int type : {int(ENTITY_NAME), int(ENTITY_PHOTO), int(ENTITY_NICKNAME), int(ENTITY_GROUP), int(ENTITY_NOTE),
                         int(ENTITY_ORGANIZATION), 14})
            rowToRecord(batch, u"17"_s, type, -1, row({{1, u"x"_s}, {2, 1}}));
        QCOMPARE(batch.count(), 0);
    }

    void identifiers()
    {
        // A new row: "type/contact/-row id", naming its contact; the device's answer for that key names the row.
        PlistCFType batch = PlistCFType::newDict();
        rowToRecord(batch, u"17"_s, ENTITY_PHONE, -42, row({{1, u"555"_s}, {2, 2}}));
        QCOMPARE(batch.keys().first().toString(), u"3/17/-42"_s);
        QCOMPARE(contactRefs(batch.item(u"3/17/-42"_s)), QStringList{u"17"_s});
        QCOMPARE(rowIdOfRemapKey(u"3/17/-42"_s), 42);
        QCOMPARE(rowIdOfRemapKey(u"-42"_s), 0);
        QCOMPARE(rowIdOfRemapKey(u"3/-5/-42"_s), 0); // a contact the device does not know yet

        // A row the device knows goes under its own identifier.
        DataRow known = row({{1, u"555"_s}});
        known.src_id = u"88"_s;
        batch = PlistCFType::newDict();
        rowToRecord(batch, u"17"_s, ENTITY_PHONE, -42, known);
        QCOMPARE(batch.keys().first().toString(), u"88"_s);

        // A new contact: "-" and its _id.
        Contact c;
        c._id = 5;
        QCOMPARE(contactRecordId(c), u"-5"_s);
        QCOMPARE(contactIdOfRemapKey(u"-5"_s), 5);
        QCOMPARE(contactIdOfRemapKey(u"5"_s), 0);
        QCOMPARE(contactIdOfRemapKey(u"3/17/-5"_s), 0);
    }
};

QTEST_GUILESS_MAIN(TestIosRecords)
#include "tst_iosrecords.moc"
