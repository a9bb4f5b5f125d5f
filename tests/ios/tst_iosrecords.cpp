// The translation between the device's contact records and data rows, without a device: what a row becomes on the
// wire, what comes back when that record is read, and the identifiers under which new records travel.

#include "contactfixtures.h"
#include "iosrecords.h"

#include <QTest>

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
    if (batch.count() != 1 || !recordToRow(batch.item(batch.keys().first()), u"99"_s, &readType, &read)
        || readType != type)
        return DataRow();
    return read;
}

PlistCFType sentRecord(const PlistCFType &batch)
{
    return batch.count() == 1 ? batch.item(batch.keys().first()) : PlistCFType();
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

        // Codes the device has no word for travel as "other" and come back as 0; listed ones survive.
        for (int code : {4, 11, 12})
            QCOMPARE(roundTrip(ENTITY_RELATION, row({{1, u"Sam"_s}, {2, code}}), batch).text(u"data2"_s), u"0"_s);
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
        QCOMPARE(read.text(u"data1"_s), u"1980-02-29T00:00:00"_s);
        QCOMPARE(read.text(u"data2"_s), u"3"_s);

        // Of several birthdays the last readable one stands; text that is no date is never a birthday.
        c.addRow(ENTITY_EVENT, row({{1, u"19751224"_s}, {2, 3}}));
        c.addRow(ENTITY_EVENT, row({{1, u"at Christmas"_s}, {2, 3}}));
        batch = PlistCFType::newDict();
        contactToRecord(batch, c);
        QVERIFY(contactToBirthdayRow(batch.item(u"-8"_s), QString(), &read));
        QCOMPARE(read.text(u"data1"_s), u"1975-12-24T00:00:00"_s);
        c.entities[ENTITY_EVENT] = {row({{1, u"at Christmas"_s}, {2, 3}})};
        batch = PlistCFType::newDict();
        contactToRecord(batch, c);
        QVERIFY(batch.item(u"-8"_s).item(u"birthday"_s).isNull());

        // Other dates: a date value or ISO text becomes a Date record; text that is no date makes none.
        read = roundTrip(ENTITY_EVENT, row({{1, QDateTime(QDate(2011, 3, 5), QTime(0, 0))}, {2, 1}}), batch);
        QCOMPARE(read.text(u"data1"_s), u"2011-03-05T00:00:00"_s);
        QCOMPARE(read.text(u"data2"_s), u"1"_s);
        roundTrip(ENTITY_EVENT, row({{1, u"next spring"_s}, {2, 1}}), batch);
        QCOMPARE(batch.count(), 0);
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
        const DataRow name = row({{2, u"Zoë"_s}, {3, u"Adams"_s}, {4, u"Q"_s}, {5, u"Dr"_s}, {6, u"Jr"_s},
                                  {7, u"ゾーイ"_s}, {8, u"アダムス"_s}});
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
        const DataRow full = row({{2, 2}, {4, u"1 Main St"_s}, {5, u"PO 7"_s}, {7, u"Springfield"_s}, {8, u"IL"_s},
                                  {9, u"62701"_s}, {10, u"USA"_s}, {11, u"us"_s}});
        const DataRow read = roundTrip(ENTITY_ADDRESS, full, batch);
        for (int n : {2, 4, 7, 8, 9, 10, 11})
            QCOMPARE(read.text(u"data%1"_s.arg(n)), full.text(u"data%1"_s.arg(n)));
        QCOMPARE(read.text(u"data1"_s), u"1 Main St\nSpringfield, IL 62701\nUSA"_s);

        // Rows that make no record: a postcode alone (it formats to nothing), values without data1, and the
        // types that have no record of their own.
        roundTrip(ENTITY_ADDRESS, row({{9, u"62701"_s}}), batch);
        QCOMPARE(batch.count(), 0);
        for (int type : {int(ENTITY_PHONE), int(ENTITY_EMAIL), int(ENTITY_WEBSITE), int(ENTITY_RELATION), int(ENTITY_IM)})
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
