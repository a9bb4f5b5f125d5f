// A phone that fails in the middle of a session: it drops the connection, answers "$error:", or stops answering.
// Each run must end with an error (or, for the silent phone, with the user's cancel), leave its source as it was,
// leave the cache as it was before the run, and a retry on a working phone must bring everything across once.

#include "adbdgeneration.h"
#include "android/adbconnector.h"
#include "android/androidcontactsdb.h"
#include "android/androidlink.h"
#include "android/syncbackupthread.h"
#include "android/syncprotocol.h"
#include "android/syncrestorethread.h"
#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "core/texts.h"
#include "filehash.h"
#include "phonetestcase.h"
#include "simadbd.h"
#include "simandroidphone.h"
#include "simcompanion.h"
#include "simphone.h"
#include "temphome.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTest>

#include <memory>

using fixtures::person;
using Fail = SimCompanionConfig::Fail;
using Outcome = ProgressObject::Outcome;

namespace {

// A simulated phone whose companion app can be swapped for one with another fault; its contacts stay in the
// phone's store across the swap.
struct Phone
{
    explicit Phone(const QByteArray &seed)
        : phone(QStringLiteral("Fault Phone"), QStringLiteral("FAULT1")), adbd(&phone, adbdUnderTest())
    {
        phone.setPackages({QStringLiteral("com.tallowbrook.contactssync")});
        companion = std::make_unique<SimCompanion>(&phone);
        companion->seed(seed);
        QString error;
        adbd.listen(0, &error);
    }
    void setFault(Fail fail)
    {
        companion.reset(); // ends its sessions first
        SimCompanionConfig config;
        config.fail = fail;
        companion = std::make_unique<SimCompanion>(&phone, config);
        QString error;
        QVERIFY2(companion->loadStore(&error), qPrintable(error));
    }
    PAndroidConnector connector() const { return adbConnectorTo(adbd.port()); }
    // name → that contact's other rows, as "type:fields".
    QMap<QString, QStringList> contents() const { return simStoreContents(companion->store()); }
    int contactCount() const { return companion->store().contactCount(); }

    SimPhone phone;
    std::unique_ptr<SimCompanion> companion; // declared after the phone, before the adbd: ends in between
    SimAdbd adbd;
};

QByteArray cards(int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += "BEGIN:VCARD\nVERSION:3.0\nN:Seed" + QByteArray::number(i) + ";Test;;;\nTEL;TYPE=CELL:+1 555 " +
               QByteArray::number(100 + i) + "\nEND:VCARD\n";
    return out;
}

// name → its rows as the cache holds them ("type:data1"), to compare a cache before and after.
QMap<QString, QStringList> cacheContents(LocalDb &cache)
{
    QMap<QString, QStringList> out;
    for (const pim::Contact &listed : cache.listContacts(0, QString())) {
        const pim::Contact c = cache.loadContact(listed._id);
        QStringList rows;
        for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
            for (const pim::DataRow &r : it.value())
                rows << QStringLiteral("%1:%2:%3").arg(it.key()).arg(r.text(QStringLiteral("data1")), r.src_id);
        rows.sort();
        out.insert(c.full_name, rows);
    }
    return out;
}

// Starts a worker and waits until it ended, delivering what it posted; `during` runs while it works. Returns false
// when it did not end within the time.
bool runToEnd(QThread &worker, ProgressObject &progress, const std::function<void()> &during = {}, int ms = 30000)
{
    worker.start();
    if (during)
        during();
    const bool ended = QTest::qWaitFor([&] { return worker.isFinished(); }, ms);
    QCoreApplication::sendPostedEvents(&progress);
    return ended;
}

// Cancels as the user does and returns how long the worker took to end after it.
qint64 cancelAndTime(QThread &worker, ProgressObject &progress)
{
    QElapsedTimer timer;
    timer.start();
    progress.cancel();
    if (!QTest::qWaitFor([&] { return worker.isFinished(); }, 20000))
        return -1;
    return timer.elapsed();
}

bool loadInto(AndroidContactsDb &cache)
{
    cache.createFromTemplate();
    ProgressObject progress;
    SyncRestoreThread worker(&cache, simpleprotocol::nextSyncPort(), &progress);
    return runToEnd(worker, progress) && progress.outcome() == Outcome::Succeeded;
}

} // namespace

class TestDeviceFaults : public PhoneTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void transferFaultsLoseNothing_data()
    {
        QTest::addColumn<int>("fail");
        QTest::addColumn<QString>("message");   // empty: the phone falls silent and the user cancels
        QTest::addColumn<int>("phoneContacts"); // what the phone holds after the failed run
        QTest::newRow("drop mid-batch") << int(Fail::CloseMidBatch)
                                        << QStringLiteral("The remote host closed the connection") << 3;
        QTest::newRow("error reply") << int(Fail::ErrorReply)
                                     << QStringLiteral("Simulated failure: the contacts provider is not available.")
                                     << 3;
        // The first batch of 20 names was applied and answered; the second is never answered.
        QTest::newRow("stall") << int(Fail::StallMidRestore) << QString() << 23;
    }
    void transferFaultsLoseNothing()
    {
        QFETCH(int, fail);
        QFETCH(QString, message);
        QFETCH(int, phoneContacts);

        // The source: a local database of 45 contacts, two of them namesakes of the phone's.
        const QString sourcePath = home().filePath(QStringLiteral("source-%1.db").arg(fail));
        {
            LocalDb source(sourcePath, PContactCombineRule(new LocalDbCombineRule));
            source.createFromTemplate();
            for (int i = 0; i < 45; ++i)
                source.saveContactWithMerge(i < 2 ? person(QStringLiteral("Test"), QStringLiteral("Seed%1").arg(i),
                                                           QStringLiteral("+49 %1").arg(i))
                                                  : person(QStringLiteral("M%1").arg(i), QStringLiteral("Test"),
                                                           QStringLiteral("+44 %1").arg(i)));
        }
        LocalDb source(sourcePath, PContactCombineRule(new LocalDbCombineRule));
        const QList<pim::Contact> contacts = source.listContacts(0, QString());
        QCOMPARE(contacts.size(), 45);
        source.close();
        const QByteArray sourceBefore = fileHash(sourcePath);

        Phone phone(cards(3));
        AndroidContactsDb cache(AndroidLink::cachePath(QStringLiteral("faults-%1").arg(fail)),
                                PContactCombineRule(new LocalDbCombineRule), phone.connector());
        QVERIFY(loadInto(cache));
        const QMap<QString, QStringList> phoneBefore = phone.contents();
        const QMap<QString, QStringList> cacheBefore = cacheContents(cache);
        QCOMPARE(cacheBefore.size(), 3);

        phone.setFault(Fail(fail));
        {
            ProgressObject progress;
            SyncBackupThread worker(contacts, &cache, simpleprotocol::nextSyncPort(), &progress);
            qint64 afterCancel = 0;
            QVERIFY(runToEnd(worker, progress, [&] {
                if (!message.isEmpty())
                    return;
                // Cancel once the phone holds the first batch and sits on the second.
                QVERIFY(QTest::qWaitFor([&] { return phone.contactCount() == phoneContacts; }, 20000));
                QTest::qWait(300);
                QVERIFY(!worker.isFinished());
                afterCancel = cancelAndTime(worker, progress);
            }));
            if (message.isEmpty()) {
                QCOMPARE(progress.outcome(), Outcome::Cancelled);
                QVERIFY2(afterCancel >= 0 && afterCancel < 3000, qPrintable(QString::number(afterCancel)));
            } else {
                QCOMPARE(progress.outcome(), Outcome::Failed);
                QVERIFY2(progress.message().contains(message), qPrintable(progress.message()));
            }
        }
        // Nothing half-done: the source is untouched, the cache is as before the run, the phone holds what it
        // held plus the batches it answered.
        QCOMPARE(fileHash(sourcePath), sourceBefore);
        QCOMPARE(cacheContents(cache), cacheBefore);
        QCOMPARE(phone.contactCount(), phoneContacts);
        for (auto it = phoneBefore.cbegin(); it != phoneBefore.cend(); ++it)
            QCOMPARE(phone.contents().value(it.key()), it.value());

        // As the window does after a failure: the phone is loaded again, and the cache shows what it holds.
        phone.setFault(Fail::None);
        cache.close();
        QVERIFY(loadInto(cache));
        QCOMPARE(cacheContents(cache).keys(), phone.contents().keys());

        // The retry brings every contact across once, with its number; the two namesakes merged.
        {
            ProgressObject progress;
            SyncBackupThread worker(contacts, &cache, simpleprotocol::nextSyncPort(), &progress);
            QVERIFY(runToEnd(worker, progress));
            QCOMPARE(progress.outcome(), Outcome::Succeeded);
        }
        const QMap<QString, QStringList> after = phone.contents();
        QCOMPARE(phone.contactCount(), 46); // 3 of the phone's own + 43 new: no contact twice
        QCOMPARE(after.size(), 46);
        for (const pim::Contact &c : contacts) {
            const QString number = c.firstRow(pim::ENTITY_PHONE).text(QStringLiteral("data1"));
            QVERIFY2(after.value(c.full_name).filter(number).size() == 1, qPrintable(c.full_name));
        }
        for (auto it = phoneBefore.cbegin(); it != phoneBefore.cend(); ++it)
            for (const QString &row : it.value())
                QVERIFY(after.value(it.key()).contains(row));
        QCOMPARE(fileHash(sourcePath), sourceBefore);
        QCOMPARE(cacheContents(cache).keys(), after.keys());
    }

    void aSilentPhoneIsCancelledWhileLoading()
    {
        Phone phone(cards(30));
        phone.setFault(Fail::StallMidBatch);
        const QMap<QString, QStringList> phoneBefore = phone.contents();
        AndroidContactsDb cache(AndroidLink::cachePath(QStringLiteral("silent")),
                                PContactCombineRule(new LocalDbCombineRule), phone.connector());
        cache.createFromTemplate();
        ProgressObject progress;
        int received = 0;
        connect(&progress, &ProgressObject::progressChanged, this, [&](const QString &status, int, const QString &) {
            received += status == trKey("IDS_RECEIVING_CONTACTS_FROM_ANDROID");
        });
        SyncRestoreThread worker(&cache, simpleprotocol::nextSyncPort(), &progress);
        qint64 afterCancel = -1;
        QVERIFY(runToEnd(worker, progress, [&] {
            // Half of the first batch arrives, then nothing.
            QVERIFY(QTest::qWaitFor([&] { return received > 0; }, 20000));
            QTest::qWait(500);
            QVERIFY(!worker.isFinished());
            afterCancel = cancelAndTime(worker, progress);
        }));
        QVERIFY2(afterCancel >= 0 && afterCancel < 3000, qPrintable(QString::number(afterCancel)));
        QCOMPARE(progress.outcome(), Outcome::Cancelled);
        QVERIFY(cache.listContacts(0, QString()).isEmpty()); // the rows received were rolled back
        QCOMPARE(phone.contents(), phoneBefore);

        phone.setFault(Fail::None);
        cache.close();
        QVERIFY(loadInto(cache));
        QCOMPARE(cacheContents(cache).keys(), phoneBefore.keys());
    }
};

QTEST_GUILESS_MAIN(TestDeviceFaults)
#include "tst_devicefaults.moc"
