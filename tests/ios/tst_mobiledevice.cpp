// The libimobiledevice layer against the simulated iPhone, through Debian's real libimobiledevice and libusbmuxd:
// device events, lockdown values, and whole mobilesync sessions for both device-link versions, with the failures
// a phone can cause.

#include "core/texts.h"
#include "ios/mobiledevice.h"
#include "simiphones.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kUdid = QStringLiteral("00008030-001A2B3C4D5E6F70");
const QString kRecordKind = QStringLiteral("com.apple.syncservices.RecordEntityName");

const char kSeed[] = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna;;;\r\nTEL;TYPE=CELL:+1 555 0100\r\n"
                     "EMAIL;TYPE=WORK:anna@example.com\r\nEND:VCARD\r\n"
                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Cole;Mark;;;\r\nTEL;TYPE=HOME:+1 555 0101\r\nEND:VCARD\r\n"
                     "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Adams;Zoë;;;\r\nTEL:+44 20 7946 0000\r\n"
                     "ADR;TYPE=HOME:;;1 Main St;Springfield;IL;62701;USA\r\nEND:VCARD\r\n";
constexpr int kSeedRecords = 8; // three Contacts, four phones and mails, one address

// A simulated iPhone on a socket of its own, which libusbmuxd is pointed at for the life of the object.
struct Phone : SimIphones
{
    explicit Phone(SimDeviceConfig config = {}, bool withNetworkDevice = false)
    {
        config.udid = kUdid;
        config.name = QStringLiteral("Anna's iPhone");
        config.seedPath = put(QStringLiteral("seed.vcf"), kSeed);
        if (config.seedPath.isEmpty())
            return;
        QList<SimDeviceConfig> devices{config};
        if (withNetworkDevice) {
            SimDeviceConfig wifi;
            wifi.udid = QStringLiteral("00008030-00FFEEDDCCBBAA99");
            wifi.name = QStringLiteral("Over Wi-Fi");
            wifi.network = true;
            devices << wifi;
        }
        start(devices);
    }

    QStringList contactNames() const
    {
        QStringList names;
        for (const QJsonValue &c : sim.store(kUdid).value(QStringLiteral("contacts")).toArray())
            names << c[QStringLiteral("name")].toString();
        return names;
    }
    QJsonObject contact(const QString &name) const
    {
        for (const QJsonValue &c : sim.store(kUdid).value(QStringLiteral("contacts")).toArray())
            if (c[QStringLiteral("name")].toString() == name)
                return c.toObject();
        return QJsonObject();
    }
    // The messages of one channel in one direction, by name (the first element of a device-link array).
    QList<QJsonArray> messages(const QString &direction) const
    {
        QList<QJsonArray> list;
        for (const QJsonObject &e : sim.transcript())
            if (e[QStringLiteral("channel")] == QLatin1String("mobilesync") && e[QStringLiteral("dir")] == direction)
                list << e[QStringLiteral("message")].toArray();
        return list;
    }
};

PlistCFType record(const QString &kind, std::initializer_list<std::pair<const char *, QString>> fields,
                   const QString &contact = QString())
{
    PlistCFType r = PlistCFType::newDict();
    r.setItem(kRecordKind, PlistCFType::fromString(kind));
    for (const auto &[key, value] : fields)
        r.setItem(QLatin1String(key), PlistCFType::fromString(value));
    if (!contact.isEmpty()) {
        PlistCFType contacts = PlistCFType::newArray();
        contacts.append(PlistCFType::fromString(contact));
        r.setItem(QStringLiteral("contact"), contacts);
    }
    return r;
}

QString messageOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const std::runtime_error &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

} // namespace

class TestMobiledevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }

    void emptyClientDoesNothing()
    {
        PlistCFType entities = PlistCFType::fromString(QStringLiteral("kept"));
        mobiledevice_sync_get_all_records_throw(nullptr);
        QCOMPARE(mobiledevice_sync_receive_changes_throw(nullptr, entities), false);
        QCOMPARE(entities.toString(), QStringLiteral("kept"));
        mobiledevice_sync_ready_to_send_throw(nullptr);
        QVERIFY(mobiledevice_sync_send_changes_throw(nullptr, PlistCFType::newDict(), false).isNull());
        mobiledevice_sync_finish_throw(nullptr);

        const MobilesyncAnchors anchors = MobilesyncAnchors::forContacts();
        QCOMPARE(anchors.dataClass, QStringLiteral("com.apple.Contacts"));
        QCOMPARE(anchors.deviceAnchor, QStringLiteral("---"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"))
                    .match(anchors.computerAnchor)
                    .hasMatch());
    }

    void onlyUsbDevicesAreReported()
    {
        // The library's own event shapes: a network device, a pairing event, then a USB device coming and going.
        MobiledeviceSubscribe direct;
        QSignalSpy added(&direct, &MobiledeviceSubscribe::newDevice);
        QSignalSpy removed(&direct, &MobiledeviceSubscribe::kickDevice);
        const QByteArray udid = kUdid.toLatin1();
        const idevice_event_t network{IDEVICE_DEVICE_ADD, udid.constData(), CONNECTION_NETWORK};
        const idevice_event_t paired{IDEVICE_DEVICE_PAIRED, udid.constData(), CONNECTION_USBMUXD};
        const idevice_event_t add{IDEVICE_DEVICE_ADD, udid.constData(), CONNECTION_USBMUXD};
        const idevice_event_t remove{IDEVICE_DEVICE_REMOVE, udid.constData(), CONNECTION_USBMUXD};
        for (const idevice_event_t *e : {&network, &paired, &add, &remove})
            MobiledeviceSubscribe::deviceEvent(e, &direct);
        QCOMPARE(added.count(), 1);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(added.first().first().toString(), kUdid);

        // Through libusbmuxd's event thread: the phone behind USB arrives, leaves, comes back; the one announced
        // over Wi-Fi never does.
        Phone phone({}, true);
        QVERIFY2(phone.started, qPrintable(phone.error));
        MobiledeviceSubscribe notifier;
        QSignalSpy arrived(&notifier, &MobiledeviceSubscribe::newDevice);
        QSignalSpy left(&notifier, &MobiledeviceSubscribe::kickDevice);
        QVERIFY(notifier.subscribe());
        QTRY_COMPARE(arrived.count(), 1);
        QCOMPARE(arrived.first().first().toString(), kUdid);
        QVERIFY(phone.sim.detach(kUdid));
        QTRY_COMPARE(left.count(), 1);
        QCOMPARE(left.first().first().toString(), kUdid);
        QVERIFY(phone.sim.attach(kUdid));
        QTRY_COMPARE(arrived.count(), 2);
        QTest::qWait(100);
        QCOMPARE(arrived.count(), 2);
    }

    void lockdownValues()
    {
        Phone phone;
        QVERIFY2(phone.started, qPrintable(phone.error));
        const PlistCFType all = mobiledevice_get_value(kUdid, QString(), QString());
        QVERIFY(all.isDict());
        QCOMPARE(all.item(QStringLiteral("DeviceName")).toString(), QStringLiteral("Anna's iPhone"));
        QCOMPARE(all.item(QStringLiteral("UniqueDeviceID")).toString(), kUdid);
        QCOMPARE(mobiledevice_get_value(kUdid, QString(), QStringLiteral("ProductVersion")).toString(),
                 QStringLiteral("16.7.8"));
        QVERIFY(mobiledevice_get_value(kUdid, QString(), QStringLiteral("NoSuchKey")).isNull());

        QVERIFY(mobiledevice_set_disable_tethered(kUdid, QStringLiteral("Contacts"), false));
        QCOMPARE(phone.sim.lockdownValue(kUdid, QStringLiteral("com.apple.mobile.tethered_sync"),
                                         QStringLiteral("Contacts")),
                 QJsonValue(QJsonObject{{QStringLiteral("DisableTethered"), false}}));

        const QString unknown = QStringLiteral("00008030-0000000000000000");
        QVERIFY(mobiledevice_get_value(unknown, QString(), QString()).isNull());
        QVERIFY(!mobiledevice_set_disable_tethered(unknown, QStringLiteral("Contacts"), false));
        QVERIFY(phone.sim.errors().isEmpty());
    }

    void wholeSession_data()
    {
        QTest::addColumn<int>("dlVersion");
        QTest::addColumn<bool>("readFirst");
        QTest::newRow("device link 400, read then write") << 400 << true;
        QTest::newRow("device link 300, read then write") << 300 << true;
        QTest::newRow("device link 400, write right after the start") << 400 << false;
        QTest::newRow("device link 300, write right after the start") << 300 << false;
    }

    void wholeSession()
    {
        QFETCH(int, dlVersion);
        QFETCH(bool, readFirst);
        SimDeviceConfig config;
        config.dlVersion = dlVersion;
        config.batchSize = 3;
        Phone phone(config);
        QVERIFY2(phone.started, qPrintable(phone.error));

        PMobilesyncClient client;
        mobiledevice_sync_start_throw(kUdid, MobilesyncAnchors::forContacts(), client);
        QVERIFY(client);
        QCOMPARE(client->deviceLinkVersion(), quint64(dlVersion));
        if (readFirst) {
            mobiledevice_sync_get_all_records_throw(client.get());
            QStringList ids;
            int batches = 0;
            bool more = true;
            while (more) {
                PlistCFType entities;
                more = mobiledevice_sync_receive_changes_throw(client.get(), entities);
                ++batches;
                for (const PlistCFType &key : entities.keys())
                    ids << key.toString();
                if (batches > 10)
                    QFAIL("the batches never end");
            }
            QCOMPARE(batches, 8); // the Contacts, then one batch for each of the seven other kinds
            QCOMPARE(ids.size(), kSeedRecords);
        }
        mobiledevice_sync_ready_to_send_throw(client.get());

        // A new contact under a temporary identifier, then its phone under the identifier the phone gave it.
        PlistCFType contacts = PlistCFType::newDict();
        contacts.setItem(QStringLiteral("-7"),
                         record(QStringLiteral("com.apple.contacts.Contact"),
                                {{"first name", QStringLiteral("Per")}, {"last name", QStringLiteral("Hansen")}}));
        const PlistCFType contactMap = mobiledevice_sync_send_changes_throw(client.get(), contacts, false);
        const QString perId = contactMap.item(QStringLiteral("-7")).toString();
        QVERIFY(!perId.isEmpty());

        // The new phone, a changed phone of Anna (record 2) and Mark (record 4) deleted.
        PlistCFType others = PlistCFType::newDict();
        const QString phoneKey = QStringLiteral("3/%1/-42").arg(perId);
        others.setItem(
            phoneKey, record(QStringLiteral("com.apple.contacts.Phone Number"),
                             {{"value", QStringLiteral("+47 555 01 234")}, {"type", QStringLiteral("mobile")}}, perId));
        others.setItem(QStringLiteral("2"),
                       record(QStringLiteral("com.apple.contacts.Phone Number"),
                              {{"value", QStringLiteral("+1 555 0199")}, {"type", QStringLiteral("mobile")}},
                              QStringLiteral("1")));
        others.setItem(QStringLiteral("4"), PlistCFType::fromString(QStringLiteral("___EmptyParameterString___")));
        const PlistCFType rowMap = mobiledevice_sync_send_changes_throw(client.get(), others, false);
        QCOMPARE(rowMap.count(), 1);
        QVERIFY(!rowMap.item(phoneKey).toString().isEmpty());

        // Nothing is committed before the finish.
        QCOMPARE(phone.contactNames().size(), 3);
        mobiledevice_sync_finish_throw(client.get());
        client.reset();

        QCOMPARE(phone.contactNames(),
                 (QStringList{QStringLiteral("Anna Berg"), QStringLiteral("Zoë Adams"), QStringLiteral("Per Hansen")}));
        const QJsonObject per = phone.contact(QStringLiteral("Per Hansen"));
        QCOMPARE(per[QStringLiteral("id")].toString(), perId);
        QCOMPARE(per[QStringLiteral("rows")][0][QStringLiteral("fields")][QStringLiteral("value")].toString(),
                 QStringLiteral("+47 555 01 234"));
        QCOMPARE(phone
                     .contact(QStringLiteral(
                         "Anna Berg"))[QStringLiteral("rows")][0][QStringLiteral("fields")][QStringLiteral("value")]
                     .toString(),
                 QStringLiteral("+1 555 0199"));
        QVERIFY2(phone.sim.errors().isEmpty(), qPrintable(phone.sim.errors().join(QLatin1Char('\n'))));

        // On the wire: the version accepted as announced, the data class version, the goodbye (which the phone
        // reads on its own thread).
        QTRY_COMPARE(phone.messages(QStringLiteral("in")).last()[0].toString(), QStringLiteral("DLMessageDisconnect"));
        const QList<QJsonArray> sent = phone.messages(QStringLiteral("in"));
        QCOMPARE(sent.first(),
                 (QJsonArray{QStringLiteral("DLMessageVersionExchange"), QStringLiteral("DLVersionsOk"), dlVersion}));
        QCOMPARE(sent[1][4].toInt(), 106);
    }

    void startFailures()
    {
        {
            SimDeviceConfig config;
            config.fail = QStringLiteral("refuse-start");
            Phone phone(config);
            QVERIFY2(phone.started, qPrintable(phone.error));
            PMobilesyncClient client;
            QCOMPARE(messageOf([&] { mobiledevice_sync_start_throw(kUdid, MobilesyncAnchors::forContacts(), client); }),
                     QStringLiteral("mobiledevice_sync_start_throw: start failed. return -7. "
                                    "Contacts are synced with iCloud on this iPhone."));
            QVERIFY(client); // stays with the caller, who frees it
        }
        {
            SimDeviceConfig config;
            config.fail = QStringLiteral("refuse-start-silent");
            Phone phone(config);
            QVERIFY2(phone.started, qPrintable(phone.error));
            PMobilesyncClient client;
            QCOMPARE(messageOf([&] { mobiledevice_sync_start_throw(kUdid, MobilesyncAnchors::forContacts(), client); }),
                     QStringLiteral("mobiledevice_sync_start_throw: start failed. return -7. "));
        }
        {
            SimDeviceConfig config;
            config.fail = QStringLiteral("pairing-pending");
            Phone phone(config);
            QVERIFY2(phone.started, qPrintable(phone.error));
            QVERIFY(mobiledevice_get_value(kUdid, QString(), QString()).isNull());
            PMobilesyncClient client;
            // What the user has to do, rather than the library's code.
            QCOMPARE(messageOf([&] { mobiledevice_sync_start_throw(kUdid, MobilesyncAnchors::forContacts(), client); }),
                     QStringLiteral("The iPhone does not trust this computer yet. Unlock the iPhone and tap Trust."));
            QVERIFY(!client);

            PMobilesyncClient none;
            QCOMPARE(messageOf([&] {
                         mobiledevice_sync_start_throw(QStringLiteral("00008030-0000000000000000"),
                                                       MobilesyncAnchors::forContacts(), none);
                     }),
                     QStringLiteral("mobiledevice_sync_start_throw: open device failed. return -3."));
        }
    }

    void failuresInsideTheSession()
    {
        {
            // The line goes dead halfway through the second batch: the receive fails at once, not after a timeout.
            SimDeviceConfig config;
            config.fail = QStringLiteral("drop-mid-batch");
            config.batchSize = 3;
            Phone phone(config);
            QVERIFY2(phone.started, qPrintable(phone.error));
            PMobilesyncClient client;
            mobiledevice_sync_start_throw(kUdid, MobilesyncAnchors::forContacts(), client);
            mobiledevice_sync_get_all_records_throw(client.get());
            PlistCFType entities;
            QVERIFY(mobiledevice_sync_receive_changes_throw(client.get(), entities));
            QElapsedTimer timer;
            timer.start();
            const QString message = messageOf([&] { mobiledevice_sync_receive_changes_throw(client.get(), entities); });
            QVERIFY2(message.startsWith(QLatin1String("mobilesync_receive_changes failed. return -")),
                     qPrintable(message));
            QVERIFY(timer.elapsed() < 5000);
        }
        {
            // A record that names a contact the phone does not know ends the session; nothing is committed.
            Phone phone;
            QVERIFY2(phone.started, qPrintable(phone.error));
            PMobilesyncClient client;
            mobiledevice_sync_start_throw(kUdid, MobilesyncAnchors::forContacts(), client);
            mobiledevice_sync_ready_to_send_throw(client.get());
            PlistCFType changes = PlistCFType::newDict();
            changes.setItem(QStringLiteral("-1"), record(QStringLiteral("com.apple.contacts.Contact"),
                                                         {{"first name", QStringLiteral("Kari")}}));
            changes.setItem(QStringLiteral("3/999/-5"),
                            record(QStringLiteral("com.apple.contacts.Phone Number"),
                                   {{"value", QStringLiteral("555")}}, QStringLiteral("999")));
            QCOMPARE(messageOf([&] { mobiledevice_sync_send_changes_throw(client.get(), changes, false); }),
                     QStringLiteral("mobilesync_remap_identifiers failed. return -8."));
            client.reset();
            QCOMPARE(phone.contactNames().size(), 3);
            QCOMPARE(phone.sim.errors().size(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestMobiledevice)
#include "tst_mobiledevice.moc"
