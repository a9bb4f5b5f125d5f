// An iPhone that falls silent while it sends its records, and one that is unplugged in the middle of a transfer:
// the user's cancel ends a silent read at once instead of after the library's 30-second wait, and a transfer that
// loses the phone keeps exactly the groups the phone committed, in the phone and in the cache alike.

#include "contactfixtures.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "ios/ioscontactcombinerule.h"
#include "ios/iossynctodevicethread.h"
#include "ios/iossynctopcthread.h"
#include "simiphones.h"
#include "temphome.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using fixtures::person;
using namespace Qt::StringLiterals;
using Outcome = ProgressObject::Outcome;

namespace {

const QString kUdid = u"00008030-00000000000000F1"_s;

const char kSeed[] = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna;;;\r\nTEL;TYPE=CELL:+1 555 0100\r\n"
                     "EMAIL;TYPE=WORK:anna@example.com\r\nEND:VCARD\r\n"
                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Cole;Mark;;;\r\nTEL;TYPE=HOME:+1 555 0101\r\nEND:VCARD\r\n"
                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Adams;Zoe;;;\r\nTEL:+44 20 7946 0000\r\nEND:VCARD\r\n";

// A simulated iPhone seeded from kSeed that libusbmuxd is pointed at while the object lives.
struct Phone : SimIphones
{
    explicit Phone(SimDeviceConfig config = {})
    {
        config.udid = kUdid;
        config.name = u"Fault iPhone"_s;
        config.seedPath = put(u"seed.vcf"_s, kSeed);
        if (!config.seedPath.isEmpty())
            start({config});
    }
    // Display name → phone numbers, from the phone's committed store.
    QMap<QString, QStringList> contents() const
    {
        QMap<QString, QStringList> out;
        for (const QJsonValue &c : sim.store(kUdid).value(u"contacts"_s).toArray()) {
            QStringList numbers;
            for (const QJsonValue &r : c[u"rows"_s].toArray())
                if (r[u"type"_s].toInt() == pim::ENTITY_PHONE)
                    numbers << r[u"fields"_s][u"value"_s].toString();
            numbers.sort();
            out.insert(c[u"name"_s].toString(), numbers);
        }
        return out;
    }
    // How many messages of this name the computer sent.
    int sent(const QString &name) const
    {
        int n = 0;
        for (const QJsonObject &e : sim.transcript())
            n += e[u"channel"_s] == u"mobilesync"_s && e[u"dir"_s] == u"in"_s && e[u"message"_s][0] == name;
        return n;
    }
};

// Display name → phone numbers, as the cache holds them.
QMap<QString, QStringList> cacheContents(LocalDb &cache)
{
    QMap<QString, QStringList> out;
    for (const pim::Contact &listed : cache.listContacts(0, QString())) {
        QStringList numbers;
        for (const pim::DataRow &r : cache.loadContact(listed._id).rows(pim::ENTITY_PHONE))
            numbers << r.text(u"data1"_s);
        numbers.sort();
        out.insert(listed.full_name, numbers);
    }
    return out;
}

bool load(LocalDb &cache)
{
    cache.createFromTemplate();
    ProgressObject progress;
    IOSSyncToPCThread reader(kUdid, &cache, &progress);
    reader.start();
    if (!reader.wait(60000))
        return false;
    QCoreApplication::sendPostedEvents(&progress);
    return progress.outcome() == Outcome::Succeeded;
}

// Unplugs the phone when the worker looks at its flag after the phone has taken a number of batches: the next
// message the worker sends meets a dead line.
class UnplugAfterBatches : public ProgressTarget
{
public:
    UnplugAfterBatches(Phone &phone, int batches) : m_phone(phone), m_batches(batches) {}
    QObject *progressObject() override { return &object; }
    bool finishedWithoutSuccess() const override
    {
        if (!m_unplugged && m_phone.sent(u"SDMessageProcessChanges"_s) >= m_batches)
            m_unplugged = m_phone.sim.detach(kUdid);
        return object.finishedWithoutSuccess();
    }
    ProgressObject object;

private:
    Phone &m_phone;
    const int m_batches;
    mutable bool m_unplugged = false;
};

} // namespace

class TestIosFaults : public QObject
{
    Q_OBJECT

    TempHome m_home; // finished sessions keep the phone's anchor in the data folder

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }

    void aSilentPhoneIsCancelledWhileLoading()
    {
        SimDeviceConfig config;
        config.fail = u"stall-mid-batch"_s;
        config.batchSize = 2;
        Phone phone(config);
        QVERIFY2(phone.started, qPrintable(phone.error));
        const QMap<QString, QStringList> before = phone.contents();
        QCOMPARE(before.size(), 3);

        LocalDb cache(phone.dir.filePath(u"cache"_s), PContactCombineRule(new IOSContactCombineRule));
        cache.createFromTemplate();
        ProgressObject progress;
        IOSSyncToPCThread reader(kUdid, &cache, &progress);
        reader.start();
        // The first batch is acknowledged; the second never comes.
        QVERIFY(QTest::qWaitFor([&] { return phone.sent(u"SDMessageAcknowledgeChangesFromDevice"_s) == 1; }, 20000));
        QTest::qWait(500);
        QVERIFY(!reader.isFinished());
        QElapsedTimer timer;
        timer.start();
        progress.cancel();
        QVERIFY(reader.wait(20000));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QCoreApplication::sendPostedEvents(&progress);
        QCOMPARE(progress.outcome(), Outcome::Cancelled);
        QVERIFY(cache.listContacts(0, QString()).isEmpty()); // the records of the first batch were rolled back
        QCOMPARE(phone.contents(), before);
        // The computer said goodbye rather than leaving the phone waiting.
        QTRY_COMPARE_WITH_TIMEOUT(phone.sent(u"DLMessageDisconnect"_s), 1, 5000);
    }

    void anUnpluggedPhoneKeepsTheGroupsItCommitted()
    {
        Phone phone;
        QVERIFY2(phone.started, qPrintable(phone.error));
        LocalDb cache(phone.dir.filePath(u"cache"_s), PContactCombineRule(new IOSContactCombineRule));
        QVERIFY(load(cache));
        const QMap<QString, QStringList> before = phone.contents();

        // 25 contacts go in groups of 10, each with its own session: Contact records, then the phone records. The
        // phone is pulled out before the second group's phone records.
        const QList<pim::Contact> contacts = fixtures::numberedPeople(25);
        {
            UnplugAfterBatches progress(phone, 3);
            IOSSyncToDeviceThread writer(kUdid, &cache, contacts, &progress);
            writer.start();
            QVERIFY(writer.wait(60000));
            QCoreApplication::sendPostedEvents(&progress.object);
            QCOMPARE(progress.object.outcome(), Outcome::Failed);
            QVERIFY2(progress.object.message().startsWith(u"mobilesync_"_s), qPrintable(progress.object.message()));
        }
        // The first group is on the phone and in the cache; the second, whose session never finished, in neither.
        QMap<QString, QStringList> expected = before;
        for (int i = 0; i < 10; ++i)
            expected.insert(contacts.at(i).full_name, {contacts.at(i).firstRow(pim::ENTITY_PHONE).text(u"data1"_s)});
        QCOMPARE(phone.contents(), expected);
        QCOMPARE(cacheContents(cache), expected);

        // Plugged in again and loaded afresh, the retry adds the other 15 and merges the first 10 without doubling.
        QVERIFY(phone.sim.attach(kUdid));
        QVERIFY(load(cache));
        ProgressObject progress;
        IOSSyncToDeviceThread writer(kUdid, &cache, contacts, &progress);
        writer.start();
        QVERIFY(writer.wait(60000));
        QCoreApplication::sendPostedEvents(&progress);
        QCOMPARE(progress.outcome(), Outcome::Succeeded);
        QCOMPARE(progress.message(), trKey("IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS_MERGED_%2").arg(15).arg(10));
        for (const pim::Contact &c : contacts)
            expected.insert(c.full_name, {c.firstRow(pim::ENTITY_PHONE).text(u"data1"_s)});
        QCOMPARE(phone.contents(), expected);
        QCOMPARE(cacheContents(cache), expected);
    }
};

QTEST_GUILESS_MAIN(TestIosFaults)
#include "tst_iosfaults.moc"
