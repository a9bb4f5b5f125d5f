// The iOS transfer threads against the simulated iPhone, through the real libimobiledevice: reading a phone into its
// cache, transferring contacts in groups with merging, sending one contact's edits and deletions, and the ways a
// run ends early. Results are checked in the phone's own store and on the wire as well as in the cache.

#include "contactfixtures.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "ios/ioscontactcombinerule.h"
#include "ios/iosrecords.h"
#include "ios/iossendchangesthread.h"
#include "ios/iossynctodevicethread.h"
#include "ios/iossynctopcthread.h"
#include "ios/mobiledevice.h"
#include "simiphones.h"
#include "temphome.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

using fixtures::person;
using fixtures::row;
using namespace pim;
using namespace Qt::StringLiterals;
using Outcome = ProgressObject::Outcome;

namespace {

const QString kUdid = u"00008030-001A2B3C4D5E6F70"_s;
const QString kErase = QLatin1String(iosrecords::kEmptyParameter);

// Records 1-8: Anna (1) with phone 2 and e-mail 3, Mark (4) with phone 5, Zoë (6) with phone 7 and address 8; Zoë's
// birthday and note are fields of her Contact record.
const char kSeed[] = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna;;;\r\nTEL;TYPE=CELL:+1 555 0100\r\n"
                     "EMAIL;TYPE=WORK:anna@example.com\r\nEND:VCARD\r\n"
                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Cole;Mark;;;\r\nTEL;TYPE=HOME:+1 555 0101\r\nEND:VCARD\r\n"
                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Adams;Zoë;;;\r\nTEL:+44 20 7946 0000\r\n"
                     "ADR;TYPE=HOME:;;1 Main St;Springfield;IL;62701;USA\r\nBDAY:1980-02-29\r\n"
                     "NOTE:Met in Leeds\r\nEND:VCARD\r\n";

// A simulated iPhone, seeded from kSeed or from a store written by hand, that libusbmuxd is pointed at while the
// object lives; and the phone's cache database.
struct Phone : SimIphones
{
    // Seeded from kSeed, or holding records (none at all when empty is set).
    explicit Phone(SimDeviceConfig config = {}, const QJsonObject &records = {}, bool empty = false)
    {
        config.udid = kUdid;
        config.name = u"Anna's iPhone"_s;
        if (records.isEmpty() && !empty)
            config.seedPath = put(u"seed.vcf"_s, kSeed);
        else
            config.storePath = put(u"store.json"_s, QJsonDocument(QJsonObject{{u"records"_s, records}}).toJson());
        if ((config.seedPath.isEmpty() && config.storePath.isEmpty()) || !start({config}))
            return;
        cache.createFromTemplate();
    }

    QJsonArray contacts() const { return sim.store(kUdid).value(u"contacts"_s).toArray(); }
    QJsonObject contact(const QString &name) const
    {
        for (const QJsonValue &c : contacts())
            if (c[u"name"_s].toString() == name)
                return c.toObject();
        return {};
    }
    QJsonObject record(const QString &id) const { return sim.store(kUdid)[u"records"_s][id].toObject(); }
    QJsonObject records() const { return sim.store(kUdid)[u"records"_s].toObject(); }
    // What the phone sent: its messages of one name, in order.
    QList<QJsonArray> sent(const QString &name) const
    {
        QList<QJsonArray> list;
        for (const QJsonObject &e : sim.transcript()) {
            const QJsonArray m = e[u"message"_s].toArray();
            if (e[u"channel"_s] == u"mobilesync"_s && e[u"dir"_s] == u"out"_s && m[0] == name)
                list << m;
        }
        return list;
    }
    // The computer's messages, session by session (each begins with SDMessageSyncDataClassWithDevice).
    QList<QList<QJsonArray>> sessions() const
    {
        QList<QList<QJsonArray>> list;
        for (const QJsonObject &e : sim.transcript()) {
            const QJsonArray m = e[u"message"_s].toArray();
            if (e[u"channel"_s] != u"mobilesync"_s || e[u"dir"_s] != u"in"_s)
                continue;
            if (m[0] == u"SDMessageSyncDataClassWithDevice"_s)
                list.append(QList<QJsonArray>());
            if (!list.isEmpty())
                list.last().append(m);
        }
        return list;
    }
    // The batches of records the computer sent in a session (-1: the last session), and whether it finished.
    QList<QJsonObject> batches(int session = -1) const
    {
        const QList<QList<QJsonArray>> all = sessions();
        QList<QJsonObject> list;
        for (const QJsonArray &m : all.value(session < 0 ? all.size() - 1 : session))
            if (m[0] == u"SDMessageProcessChanges"_s)
                list << m[2].toObject();
        return list;
    }
    bool finished(int session) const
    {
        for (const QJsonArray &m : sessions().value(session))
            if (m[0] == u"SDMessageFinishSessionOnDevice"_s)
                return true;
        return false;
    }

    LocalDb cache{dir.filePath(u"cache"_s), PContactCombineRule(new IOSContactCombineRule)};
};

// Runs a worker to its end and delivers what it posted.
void runToEnd(QThread &worker)
{
    worker.start();
    QVERIFY(worker.wait(120000));
    QCoreApplication::sendPostedEvents();
}

bool readPhone(Phone &phone)
{
    ProgressObject progress;
    IOSSyncToPCThread reader(kUdid, &phone.cache, &progress);
    runToEnd(reader);
    return progress.outcome() == Outcome::Succeeded;
}

Contact cached(LocalDb &cache, const QString &name)
{
    for (const Contact &c : cache.listContacts(0, QString()))
        if (c.full_name == name)
            return cache.loadContact(c._id);
    return Contact();
}

// The cache holds what the phone holds: the same contacts under their record identifiers, and every row that
// travels as a record of its own under that record's identifier.
void verifyCacheMatchesPhone(Phone &phone)
{
    QStringList cachedNames, phoneNames;
    for (const QJsonValue &c : phone.contacts())
        phoneNames << c[u"name"_s].toString();
    const QList<Contact> all = phone.cache.listContacts(0, QString());
    for (const Contact &c : all) {
        cachedNames << c.full_name;
        const QJsonObject onPhone = phone.contact(c.full_name);
        QCOMPARE(c.src_id, onPhone[u"id"_s].toString());
        QStringList rowIds;
        for (const QJsonValue &r : onPhone[u"rows"_s].toArray())
            rowIds << r[u"id"_s].toString();
        for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
            for (const DataRow &r : it.value())
                if (!iosrecords::kindOfEntityType(it.key()).isEmpty() &&
                    !iosrecords::travelsInContactRecord(it.key(), r))
                    QVERIFY2(rowIds.contains(r.src_id), qPrintable(c.full_name + u' ' + r.src_id));
    }
    cachedNames.sort();
    phoneNames.sort();
    QCOMPARE(cachedNames, phoneNames);
}

// The user cancels once the phone has received a number of batches from the computer.
class CancelAfterBatches : public ProgressTarget
{
public:
    CancelAfterBatches(const Phone &phone, int batches) : m_phone(phone), m_batches(batches) {}
    QObject *progressObject() override { return &object; }
    bool finishedWithoutSuccess() const override
    {
        int sent = 0;
        for (const QList<QJsonArray> &session : m_phone.sessions())
            for (const QJsonArray &m : session)
                sent += m[0] == u"SDMessageProcessChanges"_s;
        return object.finishedWithoutSuccess() || sent >= m_batches;
    }
    ProgressObject object;

private:
    const Phone &m_phone;
    const int m_batches;
};

QJsonObject recordJson(const char *kind, const char *key, const QString &value, const QStringList &contacts = {})
{
    QJsonObject r{{QLatin1String(iosrecords::kRecordEntityName), QLatin1String(kind)}, {QLatin1String(key), value}};
    if (!contacts.isEmpty())
        r.insert(u"contact"_s, QJsonArray::fromStringList(contacts));
    return r;
}

// A record of the phone's store as JSON, with any fields.
QJsonObject storeRecord(const char *kind, const QJsonObject &fields)
{
    QJsonObject r = fields;
    r.insert(QLatin1String(iosrecords::kRecordEntityName), QLatin1String(kind));
    return r;
}

QJsonObject dateJson(const char *utc)
{
    return QJsonObject{{u"$date"_s, QLatin1String(utc)}};
}

QJsonObject dataJson(const QByteArray &bytes)
{
    return QJsonObject{{u"$data"_s, QString::fromLatin1(bytes.toBase64())}};
}

// Keys of the phone's records whose values a session changed: "id:key" for each, sorted.
QStringList changedFields(const QJsonObject &before, const QJsonObject &after)
{
    QStringList changed;
    QStringList ids = before.keys() + after.keys();
    ids.removeDuplicates();
    for (const QString &id : ids) {
        const QJsonObject a = before[id].toObject();
        const QJsonObject b = after[id].toObject();
        QStringList keys = a.keys() + b.keys();
        keys.removeDuplicates();
        for (const QString &key : keys)
            if (a.value(key) != b.value(key))
                changed << id + u':' + key;
    }
    changed.sort();
    return changed;
}

// Runs a transfer of contacts to the phone to its end.
ProgressObject::Outcome transfer(Phone &phone, const QList<Contact> &contacts, QString *message = nullptr)
{
    ProgressObject progress;
    IOSSyncToDeviceThread writer(kUdid, &phone.cache, contacts, &progress);
    writer.start();
    writer.wait(120000);
    QCoreApplication::sendPostedEvents();
    if (message)
        *message = progress.message();
    return progress.outcome();
}

} // namespace

class TestIosTransfer : public QObject
{
    Q_OBJECT

    TempHome m_home; // the data folder, where the phone's anchor is kept

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }

    void emptyKindsAndEmptyPhones()
    {
        // One contact and nothing else: the phone still sends a batch for every kind, empty ones among them as
        // the empty-parameter string.
        {
            Phone phone({}, QJsonObject{{u"1"_s, recordJson(iosrecords::kContactKind, "first name", u"Solo"_s)}});
            QVERIFY2(phone.started, qPrintable(phone.error));
            ProgressObject progress;
            IOSSyncToPCThread reader(kUdid, &phone.cache, &progress);
            runToEnd(reader);
            QVERIFY2(progress.outcome() == Outcome::Succeeded, qPrintable(progress.message()));
            QCOMPARE(reader.contactCount(), 1);
            int emptyStrings = 0;
            for (const QJsonArray &batch : phone.sent(u"SDMessageProcessChanges"_s))
                emptyStrings += batch[2] == kErase;
            QVERIFY(emptyStrings >= 5);
        }
        // Nothing at all: an empty phone lists with no contacts.
        Phone empty({}, {}, true);
        QVERIFY2(empty.started, qPrintable(empty.error));
        QVERIFY(readPhone(empty));
        QVERIFY(empty.cache.listContacts(0, QString()).isEmpty());
        QCOMPARE(empty.sent(u"SDMessageProcessChanges"_s).first()[2], QJsonValue(QJsonObject()));
    }

    void roundTripChangesOnlyWhatWasEdited()
    {
        // A company card and a person with keys the rows have no place for: the company display, the reading
        // of a middle name, photos, a birthday at noon UTC before 1933, the phone's own labels, a group.
        const QByteArray photo(6000, 'p');
        const QJsonObject records{
            {u"1"_s, storeRecord(iosrecords::kContactKind, {{u"display as company"_s, u"company"_s},
                                                            {u"company name"_s, u"Acme Ltd"_s},
                                                            {u"image"_s, dataJson(photo)},
                                                            {u"notes"_s, u"gate 4411"_s}})},
            {u"2"_s, storeRecord(iosrecords::kContactKind, {{u"first name"_s, u"Ida"_s},
                                                            {u"last name"_s, u"Ng"_s},
                                                            {u"middle name yomi"_s, u"ミ"_s},
                                                            {u"image"_s, dataJson(photo + "2")},
                                                            {u"birthday"_s, dateJson("1925-01-01T12:00:00.000Z")}})},
            {u"3"_s, storeRecord(iosrecords::kPhoneKind, {{u"value"_s, u"555 0100"_s},
                                                          {u"label"_s, u"iPhone"_s},
                                                          {u"type"_s, u"mobile"_s},
                                                          {u"contact"_s, QJsonArray{u"2"_s}}})},
            {u"4"_s, storeRecord(iosrecords::kPhoneKind, {{u"value"_s, u"555 0101"_s},
                                                          {u"label"_s, u"_$!<OtherFAX>!$_"_s},
                                                          {u"type"_s, u"other"_s},
                                                          {u"contact"_s, QJsonArray{u"1"_s}}})},
            {u"5"_s, storeRecord(iosrecords::kGroupKind,
                                 {{u"name"_s, u"Climbing"_s}, {u"members"_s, QJsonArray{u"2"_s, u"1"_s}}})}};
        Phone phone({}, records);
        QVERIFY2(phone.started, qPrintable(phone.error));
        QVERIFY(readPhone(phone));

        Contact acme = cached(phone.cache, u"Acme Ltd"_s);
        Contact ida = cached(phone.cache, u"Ida Ng"_s);
        QCOMPARE(acme.src_id, u"1"_s);
        QCOMPARE(acme.firstRow(ENTITY_PHONE).text(u"data2"_s), u"13"_s);
        QCOMPARE(acme.firstRow(ENTITY_PHONE).text(u"data3"_s), QString());
        QCOMPARE(ida.firstRow(ENTITY_PHONE).text(u"data2"_s), u"2"_s);
        QCOMPARE(ida.firstRow(ENTITY_EVENT).text(u"data1"_s), u"1925-01-01"_s);
        QCOMPARE(ida.firstRow(ENTITY_GROUP).text(u"data2"_s), u"Climbing"_s);
        QCOMPARE(acme.firstRow(ENTITY_GROUP).text(u"data2"_s), u"Climbing"_s);

        // Edits: a note for Ida, a new fax number and a new note for Acme.
        const QJsonObject before = phone.records();
        const auto send = [&](Contact &contact, const QList<ChangeRecord> &changes) {
            ProgressObject progress;
            IOSSendChangesThread sender(kUdid, &phone.cache, contact, changes, {}, &progress);
            runToEnd(sender);
            return progress.outcome() == Outcome::Succeeded;
        };
        DataRow note = row({{1, u"belays well"_s}});
        ida.addRow(ENTITY_NOTE, note);
        QVERIFY(send(ida, {{ENTITY_NOTE, ACTION_ADDED, note}}));
        DataRow fax = acme.firstRow(ENTITY_PHONE);
        fax.setValue(u"data1"_s, u"555 0199"_s);
        DataRow acmeNote = acme.firstRow(ENTITY_NOTE);
        acmeNote.setValue(u"data1"_s, u"gate 9922"_s);
        acme.entities[ENTITY_NOTE] = {acmeNote};
        QVERIFY(send(acme, {{ENTITY_PHONE, ACTION_UPDATED, fax}, {ENTITY_NOTE, ACTION_UPDATED, acmeNote}}));

        // Only the edited fields changed on the phone: photos, company display, middle name reading, birthday,
        // labels and group are as they were.
        QCOMPARE(changedFields(before, phone.records()), (QStringList{u"1:notes"_s, u"2:notes"_s, u"4:value"_s}));
        QVERIFY(phone.sim.errors().isEmpty());

        // Read again, the phone's records give the same cache.
        QVERIFY(readPhone(phone));
        QCOMPARE(cached(phone.cache, u"Acme Ltd"_s).firstRow(ENTITY_PHOTO).value(u"data15"_s).toByteArray(), photo);
    }

    void datesInSydney()
    {
        const ScopedTimeZone sydney("Australia/Sydney");
        const QJsonObject records{
            {u"1"_s, storeRecord(iosrecords::kContactKind,
                                 {{u"first name"_s, u"Old"_s}, {u"birthday"_s, dateJson("1900-01-01T00:00:00.000Z")}})},
            {u"2"_s, storeRecord(iosrecords::kContactKind, {{u"first name"_s, u"Future"_s},
                                                            {u"birthday"_s, dateJson("2080-12-31T00:00:00.000Z")}})},
            {u"3"_s, storeRecord(iosrecords::kContactKind, {{u"first name"_s, u"Ageless"_s},
                                                            {u"birthday"_s, dateJson("1604-03-02T00:00:00.000Z")}})},
            {u"4"_s, storeRecord(iosrecords::kDateKind, {{u"value"_s, dateJson("1960-07-01T00:00:00.000Z")},
                                                         {u"label"_s, u"_$!<Anniversary>!$_"_s},
                                                         {u"contact"_s, QJsonArray{u"1"_s}}})}};
        Phone phone({}, records);
        QVERIFY2(phone.started, qPrintable(phone.error));
        QVERIFY(readPhone(phone));
        QCOMPARE(cached(phone.cache, u"Old"_s).rows(ENTITY_EVENT).size(), 2);
        for (const DataRow &event : cached(phone.cache, u"Old"_s).rows(ENTITY_EVENT))
            QCOMPARE(event.text(u"data1"_s), event.text(u"data2"_s) == u"3"_s ? u"1900-01-01"_s : u"1960-07-01"_s);
        QCOMPARE(cached(phone.cache, u"Future"_s).firstRow(ENTITY_EVENT).text(u"data1"_s), u"2080-12-31"_s);
        QCOMPARE(cached(phone.cache, u"Ageless"_s).firstRow(ENTITY_EVENT).text(u"data1"_s), u"--03-02"_s);

        // Written: the phone holds each birthday at midnight UTC, year 1604 for one without a year.
        Contact noYear = person(u"Nora"_s, u"Lane"_s, QString());
        noYear.addRow(ENTITY_EVENT, row({{1, u"--05-17"_s}, {2, 3}}));
        Contact early = person(u"Edda"_s, u"Moss"_s, QString());
        early.addRow(ENTITY_EVENT, row({{1, u"1925-01-01"_s}, {2, 3}}));
        QCOMPARE(transfer(phone, {noYear, early}), Outcome::Succeeded);
        QCOMPARE(phone.contact(u"Nora Lane"_s)[u"fields"_s][u"birthday"_s][u"$date"_s].toString(),
                 u"1604-05-17T00:00:00.000Z"_s);
        QCOMPARE(phone.contact(u"Edda Moss"_s)[u"fields"_s][u"birthday"_s][u"$date"_s].toString(),
                 u"1925-01-01T00:00:00.000Z"_s);
    }

    void largePhotosScaledDown()
    {
        Phone phone;
        QVERIFY2(phone.started, qPrintable(phone.error));
        QVERIFY(readPhone(phone));
        QImage noise(900, 900, QImage::Format_RGB32);
        quint32 seed = 11;
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, (seed = seed * 1103515245u + 12345u) >> 8);
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && noise.save(&buffer, "PNG"));
        QVERIFY(png.size() > iosrecords::kMaxImageBytes);
        Contact pictured = person(u"Pia"_s, u"Moor"_s, QString());
        pictured.addRow(ENTITY_PHOTO, row({{15, png}}));
        QCOMPARE(transfer(phone, {pictured}), Outcome::Succeeded);
        const QByteArray onPhone = QByteArray::fromBase64(
            phone.contact(u"Pia Moor"_s)[u"fields"_s][u"image"_s][u"$data"_s].toString().toLatin1());
        QVERIFY(!onPhone.isEmpty() && onPhone.size() <= iosrecords::kMaxImageBytes);
    }

    void untrustedThenTrusted()
    {
        SimDeviceConfig config;
        config.trustAfterSeconds = 8; // a pairing attempt takes the library about a second
        Phone phone(config);
        QVERIFY2(phone.started, qPrintable(phone.error));
        MobiledeviceSubscribe notifier;
        QSignalSpy paired(&notifier, &MobiledeviceSubscribe::devicePaired);
        QVERIFY(notifier.subscribe());

        // Before the tap: the user is told what to do, not a return code.
        QVERIFY(mobiledevice_is_trust_error(mobiledevice_trust_state(kUdid)));
        ProgressObject progress;
        IOSSyncToPCThread reader(kUdid, &phone.cache, &progress);
        runToEnd(reader);
        QCOMPARE(progress.outcome(), Outcome::Failed);
        QCOMPARE(progress.message(),
                 u"The iPhone does not trust this computer yet. Unlock the iPhone and tap Trust."_s);

        // The tap: usbmuxd says "Paired", and the phone reads.
        QVERIFY(paired.wait(10000));
        QCOMPARE(paired.first().first().toString(), kUdid);
        QCOMPARE(mobiledevice_trust_state(kUdid), 0);
        QVERIFY(readPhone(phone));
        QCOMPARE(phone.cache.listContacts(0, QString()).size(), 3);

        // Lockdown's other pairing errors say what to do as well.
        for (int code : {-17, -18, -21})
            QVERIFY(!mobiledevice_trust_text(code).isEmpty() && mobiledevice_is_trust_error(code));
        QVERIFY(mobiledevice_trust_text(-3).isEmpty());
    }

    void icloudPhoneWarnsAndStillSyncs()
    {
        SimDeviceConfig config;
        config.icloud = true;
        Phone phone(config);
        QVERIFY2(phone.started, qPrintable(phone.error));
        QVERIFY(mobiledevice_contacts_in_icloud(kUdid));
        ProgressObject progress;
        QStringList statuses;
        QObject::connect(&progress, &ProgressObject::progressChanged,
                         [&](const QString &status, int, const QString &) { statuses << status; });
        IOSSyncToPCThread reader(kUdid, &phone.cache, &progress);
        runToEnd(reader);
        QCOMPARE(progress.outcome(), Outcome::Succeeded);
        QCOMPARE(reader.contactCount(), 3); // its local store
        QCOMPARE(statuses.value(0), mobiledevice_icloud_warning());
        QCOMPARE(progress.message(), mobiledevice_icloud_warning());
        QVERIFY(mobiledevice_icloud_warning().contains(u"iCloud"_s));

        QString message;
        QCOMPARE(transfer(phone, fixtures::numberedPeople(1), &message), Outcome::Succeeded);
        QVERIFY2(message.endsWith(mobiledevice_icloud_warning()), qPrintable(message));
        QVERIFY(phone.contact(u"Person1 Test"_s).contains(u"id"_s)); // it went to the local store

        Phone plain;
        QVERIFY(!mobiledevice_contacts_in_icloud(kUdid));
    }

    void finishedSessionKeepsTheDeviceAnchor()
    {
        Phone phone;
        QVERIFY2(phone.started, qPrintable(phone.error));
        QFile::remove(deviceAnchorPath(kUdid));
        // A phone never synced with a computer resets; the anchor it gives at the finish is kept.
        QCOMPARE(transfer(phone, fixtures::numberedPeople(1)), Outcome::Succeeded);
        QCOMPARE(phone.sent(u"SDMessageSyncDataClassWithComputer"_s).last()[4], u"SDSyncTypeReset"_s);
        QVERIFY(!phone.sim.deviceAnchor(kUdid).isEmpty());
        QCOMPARE(MobilesyncAnchors::forContacts(kUdid).deviceAnchor, phone.sim.deviceAnchor(kUdid));

        // The next session names that anchor: a fast sync, not a slow one.
        const QString anchor = phone.sim.deviceAnchor(kUdid);
        QVERIFY(readPhone(phone));
        QCOMPARE(phone.sessions().last().first()[2], anchor);
        QCOMPARE(phone.sent(u"SDMessageSyncDataClassWithComputer"_s).last()[4], u"SDSyncTypeFast"_s);
        QCOMPARE(phone.sim.deviceAnchor(kUdid), anchor); // a read does not finish: the phone keeps its anchor
    }

    void readDevice_data()
    {
        QTest::addColumn<int>("batchSize");
        QTest::newRow("one batch, flagged as the last") << 20;
        QTest::newRow("three batches") << 3;
    }
    void readDevice()
    {
        QFETCH(int, batchSize);
        SimDeviceConfig config;
        config.batchSize = batchSize;
        Phone phone(config);
        QVERIFY2(phone.started, qPrintable(phone.error));

        ProgressObject progress;
        IOSSyncToPCThread reader(kUdid, &phone.cache, &progress);
        runToEnd(reader);
        QCOMPARE(progress.outcome(), Outcome::Succeeded);
        QCOMPARE(progress.status(), u"Loading contacts from device..."_s);
        QCOMPARE(reader.contactCount(), 3);
        verifyCacheMatchesPhone(phone);

        const Contact zoe = cached(phone.cache, u"Zoë Adams"_s);
        QCOMPARE(zoe.firstRow(ENTITY_NAME).src_id, u"6"_s);
        QCOMPARE(zoe.firstRow(ENTITY_EVENT).text(u"data1"_s).left(10), u"1980-02-29"_s);
        QCOMPARE(zoe.firstRow(ENTITY_NOTE).text(u"data1"_s), u"Met in Leeds"_s);
        QCOMPARE(zoe.firstRow(ENTITY_ADDRESS).text(u"data1"_s), u"1 Main St\nSpringfield, IL 62701\nUSA"_s);
        QCOMPARE(cached(phone.cache, u"Anna Berg"_s).firstRow(ENTITY_PHONE).text(u"data2"_s), u"2"_s);

        // The phone was asked to sync contacts with the computer; reading sends it no records.
        QCOMPARE(phone.sim.lockdownValue(kUdid, u"com.apple.mobile.tethered_sync"_s, u"Contacts"_s),
                 QJsonValue(QJsonObject{{u"DisableTethered"_s, false}}));
        QVERIFY(phone.batches().isEmpty());
        QVERIFY(phone.sim.errors().isEmpty());
    }

    void recordsBeforeTheirContact()
    {
        // Two records per batch, in identifier order: phone 1 and e-mail 2 come before their Contacts 3 and 4,
        // phone 5 names a Contact that never comes, URL 6 comes after its Contact, 7 is of a kind not synced.
        const QJsonObject records{
            {u"1"_s, recordJson(iosrecords::kPhoneKind, "value", u"111"_s, {u"3"_s})},
            {u"2"_s, recordJson(iosrecords::kEmailKind, "value", u"both@example.com"_s, {u"3"_s, u"4"_s})},
            {u"3"_s, recordJson(iosrecords::kContactKind, "first name", u"Ann"_s)},
            {u"4"_s, recordJson(iosrecords::kContactKind, "first name", u"Bob"_s)},
            {u"5"_s, recordJson(iosrecords::kPhoneKind, "value", u"555"_s, {u"9"_s})},
            {u"6"_s, recordJson(iosrecords::kUrlKind, "value", u"https://bob.example"_s, {u"4"_s})},
            {u"7"_s, recordJson("com.apple.contacts.Group", "name", u"Friends"_s)}};
        SimDeviceConfig config;
        config.batchSize = 2;
        Phone phone(config, records);
        QVERIFY2(phone.started, qPrintable(phone.error));

        ProgressObject progress;
        IOSSyncToPCThread reader(kUdid, &phone.cache, &progress);
        runToEnd(reader);
        QCOMPARE(progress.outcome(), Outcome::Succeeded);
        QCOMPARE(reader.orphanRowCount(), 1);
        const Contact ann = cached(phone.cache, u"Ann"_s);
        const Contact bob = cached(phone.cache, u"Bob"_s);
        QCOMPARE(ann.firstRow(ENTITY_PHONE).src_id, u"1"_s);
        QCOMPARE(ann.firstRow(ENTITY_EMAIL).src_id, u"2"_s);
        QCOMPARE(bob.firstRow(ENTITY_EMAIL).text(u"data1"_s), u"both@example.com"_s);
        QCOMPARE(bob.firstRow(ENTITY_WEBSITE).src_id, u"6"_s);
        QCOMPARE(ann.rowCount() + bob.rowCount(), 6); // two names, a phone, the e-mail twice, the URL
        QCOMPARE(phone.cache.listContacts(0, QString()).size(), 2);
    }

    void transferInGroupsOfTen()
    {
        Phone phone;
        QVERIFY2(phone.started, qPrintable(phone.error));
        QVERIFY(readPhone(phone));

        QList<Contact> contacts = fixtures::numberedPeople(25);
        contacts[11].addRow(ENTITY_EVENT, row({{1, u"1990-07-01"_s}, {2, 3}}));
        contacts[11].addRow(ENTITY_EMAIL, row({{1, u"p12@example.com"_s}, {2, 1}}));
        ProgressObject progress;
        IOSSyncToDeviceThread writer(kUdid, &phone.cache, contacts, &progress);
        runToEnd(writer);
        QCOMPARE(progress.message(), u"Successfully transferred 25 contacts to device."_s);
        QCOMPARE(writer.processedCount(), 25);
        QCOMPARE(writer.mergedCount(), 0);
        QCOMPARE(progress.value(), 100);

        // After the read, three finished sessions with 10, 10 and 5 new Contact records, then their other records.
        QCOMPARE(phone.sessions().size(), 4);
        QList<int> contactRecords;
        for (int s = 1; s <= 3; ++s) {
            QVERIFY(phone.finished(s));
            const QList<QJsonObject> sent = phone.batches(s);
            QCOMPARE(sent.size(), 2);
            contactRecords << int(sent.first().size());
            for (const QString &key : sent.first().keys())
                QVERIFY2(key.startsWith(u'-'), qPrintable(key));
        }
        QCOMPARE(contactRecords, (QList<int>{10, 10, 5}));
        QCOMPARE(phone.contacts().size(), 28);
        verifyCacheMatchesPhone(phone);
        const QJsonObject p12 = phone.contact(u"Person12 Test"_s);
        QCOMPARE(p12[u"fields"_s][u"birthday"_s][u"$date"_s].toString().left(10), u"1990-07-01"_s);
        QCOMPARE(p12[u"rows"_s].toArray().size(), 2); // phone and e-mail; the birthday is no record
        QVERIFY(phone.sim.errors().isEmpty());
    }

    void mergedContacts()
    {
        Phone phone;
        QVERIFY2(phone.started, qPrintable(phone.error));
        QVERIFY(readPhone(phone));

        // All already there: merged, nothing written, no session.
        ProgressObject unchanged;
        IOSSyncToDeviceThread same(kUdid, &phone.cache,
                                   {person(u"Anna"_s, u"Berg"_s, u"+1 555 0100"_s), person(u"mark"_s, u"cole"_s)},
                                   &unchanged);
        runToEnd(same);
        QCOMPARE(unchanged.message(),
                 u"Successfully transferred 0 contacts to device, with 2 repeated contacts merged."_s);
        QCOMPARE(phone.sessions().size(), 1);

        // Anna gets a note (a field of her Contact record), a new e-mail and a group (never a record); a contact
        // without a name gets a Contact record of its own before its phone is sent.
        Contact anna = person(u"Anna"_s, u"Berg"_s);
        anna.addRow(ENTITY_NOTE, row({{1, u"Prefers e-mail"_s}}));
        anna.addRow(ENTITY_EMAIL, row({{1, u"anna@home.example"_s}, {2, 1}}));
        anna.addRow(ENTITY_GROUP, row({{2, u"Friends"_s}}));
        Contact nameless;
        nameless.addRow(ENTITY_PHONE, row({{1, u"+1 555 0199"_s}, {2, 3}}));
        ProgressObject progress;
        IOSSyncToDeviceThread writer(kUdid, &phone.cache, {anna, nameless}, &progress);
        runToEnd(writer);
        QCOMPARE(progress.message(),
                 u"Successfully transferred 1 contacts to device, with 1 repeated contacts merged."_s);

        const QList<QJsonObject> sent = phone.batches();
        QCOMPARE(phone.sessions().size(), 2);
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0].size(), 2);
        QCOMPARE(sent[0][u"1"_s][u"first name"_s].toString(), u"Anna"_s);
        QCOMPARE(sent[1].size(), 2); // Anna's new e-mail and the nameless contact's phone
        for (const QString &key : sent[1].keys())
            QVERIFY2(key.startsWith(u"4/1/-"_s) || key.startsWith(u"3/"_s), qPrintable(key));
        const QJsonObject onPhone = phone.contact(u"Anna Berg"_s);
        QCOMPARE(onPhone[u"fields"_s][u"notes"_s].toString(), u"Prefers e-mail"_s);
        QCOMPARE(onPhone[u"rows"_s].toArray().size(), 3);
        QCOMPARE(phone.contacts().size(), 4);
        verifyCacheMatchesPhone(phone);
        QVERIFY(phone.sim.errors().isEmpty());
    }

    void sendEdits()
    {
        Phone phone;
        QVERIFY2(phone.started, qPrintable(phone.error));
        QVERIFY(readPhone(phone));
        LocalDb &cache = phone.cache;
        const auto send = [&](const Contact &contact, const QList<ChangeRecord> &changes,
                              const QList<Contact> &gone = {}) {
            ProgressObject progress;
            IOSSendChangesThread sender(kUdid, &cache, contact, changes, gone, &progress);
            runToEnd(sender);
            return progress.outcome() == Outcome::Succeeded ? sender.contact() : Contact();
        };

        // A new number for Anna's phone sends only its Phone Number record.
        const Contact anna = cached(cache, u"Anna Berg"_s);
        DataRow annaPhone = anna.firstRow(ENTITY_PHONE);
        annaPhone.setValue(u"data1"_s, u"+1 555 0111"_s);
        cache.updateRow(ENTITY_PHONE, annaPhone);
        QCOMPARE(send(anna, {{ENTITY_PHONE, ACTION_UPDATED, annaPhone}}).src_id, u"1"_s);
        QCOMPARE(phone.batches().size(), 1);
        QCOMPARE(phone.batches()[0].keys(), QStringList{u"2"_s});
        QCOMPARE(phone.record(u"2"_s)[u"value"_s].toString(), u"+1 555 0111"_s);

        // Deleting her e-mail sends its identifier with the empty parameter.
        const DataRow annaMail = anna.firstRow(ENTITY_EMAIL);
        cache.deleteRow(annaMail._id);
        send(anna, {{ENTITY_EMAIL, ACTION_DELETED, annaMail}});
        QCOMPARE(phone.batches(), (QList<QJsonObject>{{{u"3"_s, kErase}}}));
        QVERIFY(phone.record(u"3"_s).isEmpty());

        // A new given name for Zoë: her whole Contact record goes, so her birthday and note stay.
        Contact zoe = cached(cache, u"Zoë Adams"_s);
        DataRow zoeName = zoe.firstRow(ENTITY_NAME);
        zoeName.setValue(u"data2"_s, u"Zoey"_s);
        zoeName.setValue(u"data1"_s, displayName(zoeName));
        cache.updateRow(ENTITY_NAME, zoeName);
        zoe.entities[ENTITY_NAME] = {zoeName};
        zoe.full_name = displayName(zoeName);
        cache.updateContact(zoe);
        send(zoe, {{ENTITY_NAME, ACTION_UPDATED, zoeName}});
        QCOMPARE(phone.batches().size(), 1);
        QCOMPARE(phone.batches()[0].keys(), QStringList{u"6"_s});
        const QJsonObject zoey = phone.record(u"6"_s);
        QCOMPARE(zoey[u"first name"_s].toString(), u"Zoey"_s);
        QCOMPARE(zoey[u"notes"_s].toString(), u"Met in Leeds"_s);
        QCOMPARE(zoey[u"birthday"_s][u"$date"_s].toString().left(10), u"1980-02-29"_s);

        // A contact added in the editor: its Contact record under "-" and its _id, then its phone under the
        // identifier the phone gave the contact; both identifiers come back into the cache.
        Contact per = person(u"Per"_s, u"Hansen"_s);
        DataRow perName = per.firstRow(ENTITY_NAME);
        DataRow perPhone = row({{1, u"+47 555 01 234"_s}, {2, 2}});
        cache.insertContact(per);
        cache.insertRow(per._id, ENTITY_NAME, perName);
        cache.insertRow(per._id, ENTITY_PHONE, perPhone);
        per.entities[ENTITY_NAME] = {perName};
        per.addRow(ENTITY_PHONE, perPhone);
        const Contact sentPer =
            send(per, {{ENTITY_NAME, ACTION_ADDED, perName}, {ENTITY_PHONE, ACTION_ADDED, perPhone}});
        const QString perId = phone.contact(u"Per Hansen"_s)[u"id"_s].toString();
        QVERIFY(!perId.isEmpty());
        QCOMPARE(sentPer.src_id, perId);
        const QList<QJsonObject> sent = phone.batches();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0].keys(), QStringList{u"-%1"_s.arg(per._id)});
        QCOMPARE(sent[1].keys(), QStringList{u"3/%1/-%2"_s.arg(perId).arg(perPhone._id)});
        verifyCacheMatchesPhone(phone);

        // Deleting a contact alone sends no Contact record, only the deletion; its records go with it.
        const Contact mark = cached(cache, u"Mark Cole"_s);
        cache.deleteContact(mark._id);
        send(Contact(), {}, {mark});
        QCOMPARE(phone.batches(), (QList<QJsonObject>{{{u"4"_s, kErase}}}));
        QVERIFY(phone.record(u"5"_s).isEmpty());
        verifyCacheMatchesPhone(phone);
        QVERIFY(phone.sim.errors().isEmpty());
    }

    void deviceFailures()
    {
        {
            // The phone refuses the session: the group's merge is rolled back; edits meet the same refusal.
            SimDeviceConfig config;
            config.fail = u"refuse-start"_s;
            Phone phone(config);
            QVERIFY2(phone.started, qPrintable(phone.error));
            ProgressObject progress;
            IOSSyncToDeviceThread writer(kUdid, &phone.cache, fixtures::numberedPeople(3), &progress);
            runToEnd(writer);
            QCOMPARE(progress.outcome(), Outcome::Failed);
            QCOMPARE(progress.message(), u"mobiledevice_sync_start_throw: start failed. return -7. "
                                         "Contacts are synced with iCloud on this iPhone."_s);
            QVERIFY(phone.cache.listContacts(0, QString()).isEmpty());
            QCOMPARE(phone.contacts().size(), 3);

            ProgressObject editProgress;
            IOSSendChangesThread sender(kUdid, &phone.cache, Contact(), {}, {}, &editProgress);
            runToEnd(sender);
            QCOMPARE(editProgress.outcome(), Outcome::Failed);
            QCOMPARE(editProgress.message(), progress.message());
        }
        {
            // The line drops in the middle of the second batch of records: nothing read is kept.
            SimDeviceConfig config;
            config.fail = u"drop-mid-batch"_s;
            config.batchSize = 3;
            Phone phone(config);
            QVERIFY2(phone.started, qPrintable(phone.error));
            ProgressObject progress;
            IOSSyncToPCThread reader(kUdid, &phone.cache, &progress);
            runToEnd(reader);
            QCOMPARE(progress.outcome(), Outcome::Failed);
            QVERIFY2(progress.message().startsWith(u"mobilesync_receive_changes failed. return -"_s),
                     qPrintable(progress.message()));
            QVERIFY(phone.cache.listContacts(0, QString()).isEmpty());
        }
    }

    void cancelKeepsFinishedGroups()
    {
        Phone phone;
        QVERIFY2(phone.started, qPrintable(phone.error));
        QVERIFY(readPhone(phone));

        // Cancelled once the second group's Contact records were sent: the first group stays on the phone and in
        // the cache, the second is in neither, and the run ends without a message.
        CancelAfterBatches progress(phone, 3);
        IOSSyncToDeviceThread writer(kUdid, &phone.cache, fixtures::numberedPeople(25), &progress);
        runToEnd(writer);
        QCOMPARE(progress.object.outcome(), Outcome::Running);
        QCOMPARE(writer.processedCount(), 20);
        QCOMPARE(phone.sessions().size(), 3);
        QVERIFY(phone.finished(1));
        QVERIFY(!phone.finished(2));
        QCOMPARE(phone.batches(2).size(), 1);
        QCOMPARE(phone.contacts().size(), 13);
        verifyCacheMatchesPhone(phone);
    }
};

QTEST_GUILESS_MAIN(TestIosTransfer)
#include "tst_iostransfer.moc"
