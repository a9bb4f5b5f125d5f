// Writing to Android phones: the transfer thread and the three modes of the change thread, against a phone that
// records every batch it receives, and whole transfers between simulated phones and from a local database,
// checked in the phones' stores.

#include "adb/adbtransport.h"
#include "adbdgeneration.h"
#include "android/adbconnector.h"
#include "android/androidcontactsdb.h"
#include "android/androidentity.h"
#include "android/androidlink.h"
#include "android/androidsendchangesthread.h"
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
#include "simandroidphone.h"
#include "temphome.h"
#include "vcardpeople.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QTest>

#include <sys/socket.h>

#include <functional>
#include <thread>

using fixtures::person;
using fixtures::row;

namespace {

QString b64(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toBase64());
}

// The restore side of a phone, played by script: records the lines of every batch and answers each with
// "$batch:" and a new id for every "$ent:" row sent in the local form (new contacts numbered from 1, their raw
// contact id 100 higher), items separated by blanks.
struct PhoneScript
{
    bool reply = true;    // false: never answers (the delete batch, or a silent phone)
    int closeAtBatch = 0; // > 0: closes the connection when this batch has been received, unanswered
    QString extraItems;   // appended to every reply
    bool remap = true;    // false: answers "$batch:" alone
};

class RecordingPhone
{
public:
    using Script = PhoneScript;

    explicit RecordingPhone(Script script = {}) : m_script(script)
    {
        QString error;
        m_listen = adbsocket::listenLoopback(0, &m_port, &error);
        m_thread = std::thread([this] { serve(); });
    }
    ~RecordingPhone() { join(); }

    quint16 port() const { return m_port; }
    // Waits until the program hung up; then the batches are complete.
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            adbsocket::closeFd(m_listen);
        m_listen = -1;
    }
    QList<QStringList> batches()
    {
        QMutexLocker lock(&m_mutex);
        return m_batches;
    }
    // The lines of every batch that begin with a prefix, batch by batch.
    QList<int> counts(const QString &prefix)
    {
        QList<int> n;
        for (const QStringList &b : batches())
            n << int(b.filter(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(prefix))).size());
        return n;
    }

private:
    void serve()
    {
        bool timedOut = false;
        const int fd = adbsocket::acceptOne(m_listen, 10000, &timedOut);
        if (fd < 0)
            return;
        timeval tv{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        QStringList batch;
        qint64 nextContact = 1, nextRow = 1000;
        for (;;) {
            QByteArray line;
            char c;
            qsizetype n = 0;
            while ((n = adbsocket::receive(fd, &c, 1)) == 1 && c != '\n')
                line += c;
            if (n != 1)
                break;
            const QString text = QString::fromUtf8(line);
            if (text == u"$batch:") {
                batch.clear();
                continue;
            }
            if (text != u"$end:") {
                batch << text;
                continue;
            }
            int number;
            {
                QMutexLocker lock(&m_mutex);
                m_batches << batch;
                number = int(m_batches.size());
            }
            if (number == m_script.closeAtBatch)
                break;
            if (!m_script.reply)
                continue;
            QStringList items;
            for (const QString &l : std::as_const(batch)) {
                const QString id = l.section(u',', 0, 0).mid(5);
                int type = 0;
                qint64 p2 = 0, p3 = 0, p4 = 0;
                if (!l.startsWith(u"$ent:") || !androidentity::parseRowId(id, &type, &p2, &p3, &p4) || p4 >= 0)
                    continue;
                if (type == 1) {
                    p2 = nextContact++;
                    p3 = p2 + 100;
                }
                items << id + QStringLiteral("=>") +
                             QStringLiteral("%1/%2/%3/%4").arg(type).arg(p2).arg(p3).arg(nextRow++);
            }
            const QString reply = QStringLiteral("$batch:") + (m_script.remap ? items.join(u' ') : QString()) +
                                  m_script.extraItems + u'\n';
            adbsocket::sendAll(fd, reply.toUtf8().constData(), reply.toUtf8().size());
        }
        adbsocket::closeFd(fd);
    }

    Script m_script;
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    QMutex m_mutex;
    QList<QStringList> m_batches;
};

// A phone whose sessions are at 127.0.0.1; counts the restore sessions asked for.
class LocalConnector : public IAndroidConnector
{
public:
    void prepare() override {}
    QString startBackup(int &) override { return QStringLiteral("127.0.0.1"); }
    QString startRestore(int &) override
    {
        ++restores;
        return QStringLiteral("127.0.0.1");
    }
    QString deviceLog() override { return {}; }
    int restores = 0;
};

// The simulated phone in this process, with the companion app, meeting the adbd generation under test.
struct SimulatedPhone : SimAndroidPhone
{
    explicit SimulatedPhone(const QString &name, SimCompanionConfig config = {})
        : SimAndroidPhone(name, config, adbdUnderTest())
    {
    }
};

struct Outcome
{
    ProgressObject::Outcome outcome = ProgressObject::Outcome::Running;
    QString message;
    int lastValue = -1;
};

// Runs a worker to its end through the real thread; `during` runs while it works.
Outcome finish(QThread &worker, ProgressObject &progress, const std::function<void()> &during = {})
{
    Outcome result;
    QObject::connect(&progress, &ProgressObject::progressChanged, &progress,
                     [&result](const QString &, int value, const QString &) { result.lastValue = value; });
    worker.start();
    if (during)
        during();
    if (!QTest::qWaitFor([&] { return worker.isFinished(); }, 30000))
        return result;
    QCoreApplication::sendPostedEvents(&progress);
    result.outcome = progress.outcome();
    result.message = progress.message();
    return result;
}

// Loads a phone into a fresh cache at path through the real reading thread.
bool loadInto(AndroidContactsDb &cache)
{
    cache.createFromTemplate();
    ProgressObject progress;
    SyncRestoreThread worker(&cache, simpleprotocol::nextSyncPort(), &progress);
    return finish(worker, progress).outcome == ProgressObject::Outcome::Succeeded;
}

} // namespace

class TestAndroidWrite : public PhoneTestCase
{
    Q_OBJECT
    int m_caches = 0;

    // An empty cache whose phone is at 127.0.0.1.
    std::unique_ptr<AndroidContactsDb> emptyCache(const QSharedPointer<LocalConnector> &connector)
    {
        auto cache = std::make_unique<AndroidContactsDb>(AndroidLink::cachePath(QStringLiteral("c%1").arg(++m_caches)),
                                                         PContactCombineRule(new LocalDbCombineRule), connector);
        cache->createFromTemplate();
        return cache;
    }

    // A contact that came from the phone: contact id cid, raw id cid + 100, a name row and a mobile number.
    static pim::Contact phoneContact(LocalDb &cache, const QString &given, qint64 cid, const QString &mobile)
    {
        pim::Contact c = person(given, QStringLiteral("Phone"), mobile);
        c.src_id = QStringLiteral("1/%1/%2/%3").arg(cid).arg(cid + 100).arg(cid * 10);
        cache.insertContact(c);
        pim::DataRow name = c.firstRow(pim::ENTITY_NAME);
        name.src_id = c.src_id;
        cache.insertRow(c._id, pim::ENTITY_NAME, name);
        pim::DataRow tel = c.firstRow(pim::ENTITY_PHONE);
        tel.src_id = QStringLiteral("3/%1/%2/%3").arg(cid).arg(cid + 100).arg(cid * 10 + 1);
        cache.insertRow(c._id, pim::ENTITY_PHONE, tel);
        return cache.loadContact(c._id);
    }

private Q_SLOTS:
    // ---- SyncBackupThread against the recording phone ----

    void allMergedOpensNoSession()
    {
        auto connector = QSharedPointer<LocalConnector>::create();
        auto cache = emptyCache(connector);
        phoneContact(*cache, QStringLiteral("Anna"), 7, QStringLiteral("555 0100"));
        ProgressObject progress;
        // Nothing listens on port 1: a session would fail.
        SyncBackupThread worker({person(QStringLiteral("Anna"), QStringLiteral("Phone"), QStringLiteral("555 0100"))},
                                cache.get(), 1, &progress);
        const Outcome r = finish(worker, progress);
        QCOMPARE(r.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(r.message,
                 QStringLiteral("Successfully transferred 0 contacts to Android, with 1 repeated contacts merged."));
        QCOMPARE(connector->restores, 0);
    }

    void newContactsGoInBatchesAndGetThePhonesIds()
    {
        auto connector = QSharedPointer<LocalConnector>::create();
        auto cache = emptyCache(connector);
        QList<pim::Contact> source;
        for (int i = 0; i < 45; ++i)
            source << person(QStringLiteral("P%1").arg(i), QStringLiteral("Test"), QStringLiteral("555 %1").arg(i));
        RecordingPhone phone;
        ProgressObject progress;
        SyncBackupThread worker(source, cache.get(), phone.port(), &progress);
        const Outcome r = finish(worker, progress);
        phone.join();
        QCOMPARE(r.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(r.message, QStringLiteral("Successfully transferred 45 contacts to Android."));
        QCOMPARE(r.lastValue, 100);
        // Name rows first (20, 20, 5), then the other rows in batches of 20 contacts.
        QCOMPARE(phone.counts(QStringLiteral("$ent:1/")), (QList<int>{20, 20, 5, 0, 0, 0}));
        QCOMPARE(phone.counts(QStringLiteral("$ent:3/")), (QList<int>{0, 0, 0, 20, 20, 5}));

        // Every contact carries the id the phone gave its name row, and its phone row hangs under that contact.
        const QList<pim::Contact> stored = cache->listContacts(0, QString());
        QCOMPARE(stored.size(), 45);
        QSet<QString> contactIds;
        for (const pim::Contact &c : stored) {
            qint64 p2 = 0, p3 = 0, rowP2 = 0, rowP3 = 0, rowP4 = 0;
            QVERIFY(androidentity::parseRowId(c.src_id, nullptr, &p2, &p3));
            QCOMPARE(c.firstRow(pim::ENTITY_NAME).src_id, c.src_id);
            QVERIFY(androidentity::parseRowId(c.firstRow(pim::ENTITY_PHONE).src_id, nullptr, &rowP2, &rowP3, &rowP4));
            QCOMPARE(rowP2, p2);
            QCOMPARE(rowP3, p3);
            QVERIFY(rowP4 > 0);
            contactIds.insert(c.src_id);
            // The phone row was sent under the phone's contact id, in the local form.
            const QRegularExpression sent(QStringLiteral("^\\$ent:3/%1/%2/-\\d+,").arg(p2).arg(p3));
            QCOMPARE(phone.batches().at(3 + int(p2 - 1) / 20).filter(sent).size(), 1);
        }
        QCOMPARE(contactIds.size(), 45);
    }

    void newContactsAreStoredAsMergeSaveStoresThem()
    {
        // Contacts the cache lacks are merged in memory and stored once the phone has named their rows: the cache
        // must hold what merge-save would have stored (namesakes merged, ASCII case ignored; repeated numbers
        // once; groups; a contact without a name row), and every row the phone created carries its id.
        QList<pim::Contact> source;
        pim::Contact anna = person(QStringLiteral("Anna"), QStringLiteral("Berg"), QStringLiteral("555 0100"));
        anna.addRow(pim::ENTITY_PHONE, row({{1, QStringLiteral("555 0100")}, {2, QStringLiteral("2")}}));
        anna.addRow(pim::ENTITY_EMAIL, row({{1, QStringLiteral("anna@example.org")}, {2, 1}}));
        anna.addRow(pim::ENTITY_GROUP, row({{2, QStringLiteral("Friends")}}));
        pim::Contact annaAgain = person(QStringLiteral("ANNA"), QStringLiteral("BERG"), QStringLiteral("555 0199"));
        annaAgain.full_name = QStringLiteral("ANNA BERG");
        annaAgain.addRow(pim::ENTITY_NOTE, row({{1, QStringLiteral("met at the fair")}}));
        pim::Contact bjoern =
            person(QStringLiteral("Bj\u00f6rn"), QStringLiteral("\u00c5s"), QStringLiteral("555 0200"));
        pim::Contact bjoernUpper =
            person(QStringLiteral("BJ\u00d6RN"), QStringLiteral("\u00c5S"), QStringLiteral("555 0201"));
        pim::Contact rowless;
        rowless.full_name = QStringLiteral("Rowless");
        rowless.addRow(pim::ENTITY_EMAIL, row({{1, QStringLiteral("rowless@example.org")}, {2, 1}}));
        source << anna << bjoern << rowless << annaAgain << bjoernUpper;

        auto connector = QSharedPointer<LocalConnector>::create();
        auto cache = emptyCache(connector);
        RecordingPhone phone;
        ProgressObject progress;
        SyncBackupThread worker(source, cache.get(), phone.port(), &progress);
        const Outcome r = finish(worker, progress);
        phone.join();
        QCOMPARE(r.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(r.message,
                 QStringLiteral("Successfully transferred 4 contacts to Android, with 1 repeated contacts merged."));

        LocalDb reference(home().path() + QStringLiteral("/reference.db"), PContactCombineRule(new LocalDbCombineRule));
        reference.createFromTemplate();
        for (const pim::Contact &c : std::as_const(source))
            reference.saveContactWithMerge(c);

        // Each contact as text: name, then every row's type and columns, rows of a type in stored order.
        const auto describe = [](const QList<pim::Contact> &contacts) {
            QStringList out;
            for (const pim::Contact &c : contacts) {
                out << c.full_name;
                for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
                    for (const pim::DataRow &d : it.value()) {
                        QStringList cols;
                        for (int n = 1; n <= 15; ++n)
                            cols << d.text(QStringLiteral("data%1").arg(n));
                        out << QStringLiteral("  %1: %2").arg(it.key()).arg(cols.join(u'|'));
                    }
            }
            return out;
        };
        const QList<pim::Contact> stored = cache->listContacts(0, QString());
        QCOMPARE(describe(stored), describe(reference.listContacts(0, QString())));
        QCOMPARE(cache->listGroups().size(), 1);

        // Every row of a contact on the phone has the phone's id under that contact's id; the contact without a
        // name row never went to the phone.
        for (const pim::Contact &c : stored) {
            qint64 p2 = 0, p3 = 0;
            if (c.full_name == QStringLiteral("Rowless")) {
                QVERIFY(c.src_id.isEmpty());
                QVERIFY(c.firstRow(pim::ENTITY_EMAIL).src_id.isEmpty());
                continue;
            }
            QVERIFY2(androidentity::parseRowId(c.src_id, nullptr, &p2, &p3), qPrintable(c.full_name));
            for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
                for (const pim::DataRow &d : it.value()) {
                    qint64 rowP2 = 0, rowP3 = 0, rowP4 = 0;
                    QVERIFY2(androidentity::parseRowId(d.src_id, nullptr, &rowP2, &rowP3, &rowP4),
                             qPrintable(d.src_id));
                    QCOMPARE(rowP2, p2);
                    QVERIFY(rowP4 > 0);
                }
        }
        // Sent once each: three new contacts' name rows, then their other rows.
        QCOMPARE(phone.counts(QStringLiteral("$ent:1/")), (QList<int>{3, 0}));
    }

    void mergesNamelessContactsAndStrayRemaps()
    {
        auto connector = QSharedPointer<LocalConnector>::create();
        auto cache = emptyCache(connector);
        const pim::Contact old = phoneContact(*cache, QStringLiteral("Old"), 50, QStringLiteral("555 5000"));
        const qint64 oldPhoneRow = old.firstRow(pim::ENTITY_PHONE)._id;

        pim::Contact oldAgain = person(QStringLiteral("Old"), QStringLiteral("Phone"), QStringLiteral("555 5000"));
        oldAgain.addRow(pim::ENTITY_EMAIL, row({{1, QStringLiteral("old@example.org")}, {2, 1}}));
        pim::Contact nameless;
        nameless.full_name = QStringLiteral("Nameless");
        nameless.addRow(pim::ENTITY_PHONE, row({{1, QStringLiteral("999 000")}, {2, 2}}));
        const pim::Contact twin1 = person(QStringLiteral("Twin"), QStringLiteral("Lee"), QStringLiteral("111"));
        const pim::Contact twin2 = person(QStringLiteral("Twin"), QStringLiteral("Lee"), QStringLiteral("222"));

        // The phone also answers for a row nobody sent (the old contact's phone row): it must stay as it is.
        RecordingPhone::Script script;
        script.extraItems = QStringLiteral(" 3/50/150/-%1=>3/999/999/999").arg(oldPhoneRow);
        RecordingPhone phone(script);
        ProgressObject progress;
        SyncBackupThread worker({oldAgain, nameless, twin1, twin2}, cache.get(), phone.port(), &progress);
        const Outcome r = finish(worker, progress);
        phone.join();
        QCOMPARE(r.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(r.message,
                 QStringLiteral("Successfully transferred 2 contacts to Android, with 2 repeated contacts merged."));

        const QList<QStringList> batches = phone.batches();
        QCOMPARE(batches.size(), 2);
        // One new contact (the twins are one), sent once; the nameless contact never reaches the phone.
        QCOMPARE(batches.at(0).size(), 1);
        QVERIFY(batches.at(0).first().contains(b64(QStringLiteral("Twin"))));
        QVERIFY(!(batches.at(0) + batches.at(1)).join(u' ').contains(b64(QStringLiteral("999 000"))));
        // The old contact's new e-mail goes under its phone id; both twins' numbers under the new contact.
        QCOMPARE(batches.at(1).filter(QRegularExpression(QStringLiteral("^\\$ent:4/50/150/-\\d+,"))).size(), 1);
        QCOMPARE(batches.at(1).filter(QStringLiteral("$ent:3/1/101/-")).size(), 2);
        QCOMPARE(batches.at(1).size(), 3);

        QCOMPARE(cache->loadContact(old._id).firstRow(pim::ENTITY_PHONE).src_id, QStringLiteral("3/50/150/501"));
        QVERIFY(cache->loadContact(old._id).firstRow(pim::ENTITY_EMAIL).src_id.startsWith(QStringLiteral("4/50/150/")));
    }

    void failureAndCancelRollBack()
    {
        QList<pim::Contact> source;
        for (int i = 0; i < 25; ++i)
            source << person(QStringLiteral("P%1").arg(i), QStringLiteral("Test"), QStringLiteral("555 %1").arg(i));

        auto connector = QSharedPointer<LocalConnector>::create();
        auto cache = emptyCache(connector);
        RecordingPhone::Script closing;
        closing.closeAtBatch = 2;
        RecordingPhone phone(closing);
        ProgressObject progress;
        SyncBackupThread worker(source, cache.get(), phone.port(), &progress);
        const Outcome r = finish(worker, progress);
        QCOMPARE(r.outcome, ProgressObject::Outcome::Failed);
        QVERIFY2(r.message.contains(QStringLiteral("closed")), qPrintable(r.message));
        QVERIFY(cache->listContacts(0, QString()).isEmpty());

        auto cache2 = emptyCache(connector);
        RecordingPhone::Script silent;
        silent.reply = false;
        RecordingPhone quiet(silent);
        ProgressObject progress2;
        SyncBackupThread worker2(source, cache2.get(), quiet.port(), &progress2);
        const Outcome c = finish(worker2, progress2, [&] {
            QVERIFY(QTest::qWaitFor([&] { return !quiet.batches().isEmpty(); }, 10000));
            progress2.cancel();
        });
        QCOMPARE(c.outcome, ProgressObject::Outcome::Cancelled);
        QVERIFY(cache2->listContacts(0, QString()).isEmpty());
    }

    // ---- AndroidSendChangesThread ----

    void deleteAndGroupBatches()
    {
        auto connector = QSharedPointer<LocalConnector>::create();
        auto cache = emptyCache(connector);

        // Delete: a name row the phone never numbered goes as 1/0/0/-id.
        pim::Contact local = person(QStringLiteral("Local"), QStringLiteral("Only"));
        cache->insertContact(local);
        pim::DataRow localName = local.firstRow(pim::ENTITY_NAME);
        cache->insertRow(local._id, pim::ENTITY_NAME, localName);
        const pim::Contact onPhone = phoneContact(*cache, QStringLiteral("On"), 5, QStringLiteral("1"));
        pim::Contact noName;
        noName._id = 99;
        RecordingPhone deletes;
        ProgressObject progress;
        AndroidSendChangesThread del(&progress, cache.get(), deletes.port());
        del.setContactsToDelete({cache->loadContact(local._id), onPhone, noName});
        QCOMPARE(finish(del, progress).outcome, ProgressObject::Outcome::Succeeded);
        deletes.join();
        QCOMPARE(deletes.batches(), (QList<QStringList>{{QStringLiteral("$del:1/0/0/-%1").arg(localName._id),
                                                         QStringLiteral("$del:1/5/105/50")}}));

        // Groups: the last group removed is "$ungroup:" with the phone's contact id; a new membership is sent as a
        // group row and takes the phone's id; a contact the phone does not know is left out.
        const pim::Contact ungrouped = phoneContact(*cache, QStringLiteral("Ungrouped"), 12, QStringLiteral("2"));
        const pim::Contact grouped = phoneContact(*cache, QStringLiteral("Grouped"), 13, QStringLiteral("3"));
        const pim::DataRow golf = cache->setContactGroup(grouped._id, cache->findOrCreateGroup(QStringLiteral("Golf")),
                                                         QStringLiteral("Golf"));
        RecordingPhone groups;
        ProgressObject progress2;
        AndroidSendChangesThread regroup(&progress2, cache.get(), groups.port());
        regroup.setContactsToRegroup({ungrouped, cache->loadContact(grouped._id), cache->loadContact(local._id)});
        QCOMPARE(finish(regroup, progress2).outcome, ProgressObject::Outcome::Succeeded);
        groups.join();
        QCOMPARE(groups.batches(),
                 (QList<QStringList>{
                     {QStringLiteral("$ungroup:12"),
                      QStringLiteral("$ent:7/13/113/-%1,%2").arg(golf._id).arg(b64(QStringLiteral("Golf")))}}));
        QCOMPARE(cache->loadContact(grouped._id).firstRow(pim::ENTITY_GROUP).src_id, QStringLiteral("7/13/113/1000"));
    }

    void changesOfANewAndAStoredContact()
    {
        auto connector = QSharedPointer<LocalConnector>::create();
        auto cache = emptyCache(connector);

        // A contact the phone does not have: its name row first, then its other rows under the new id.
        pim::Contact added = person(QStringLiteral("New"), QStringLiteral("One"), QStringLiteral("777"));
        cache->insertContact(added);
        QList<pim::ChangeRecord> changes;
        for (int type : {int(pim::ENTITY_NAME), int(pim::ENTITY_PHONE)}) {
            pim::DataRow r = added.firstRow(type);
            cache->insertRow(added._id, type, r);
            changes.append({type, pim::ACTION_ADDED, r});
        }
        RecordingPhone phone;
        ProgressObject progress;
        AndroidSendChangesThread worker(&progress, cache.get(), phone.port());
        worker.setChanges(cache->loadContact(added._id), changes);
        QCOMPARE(finish(worker, progress).outcome, ProgressObject::Outcome::Succeeded);
        phone.join();
        QCOMPARE(phone.counts(QStringLiteral("$ent:1/%1/%1/-").arg(added._id)), (QList<int>{1, 0}));
        QCOMPARE(phone.counts(QStringLiteral("$ent:3/1/101/-%1,").arg(changes.at(1).row._id)), (QList<int>{0, 1}));
        const pim::Contact now = cache->loadContact(added._id);
        QCOMPARE(now.src_id, QStringLiteral("1/1/101/1000"));
        QCOMPARE(now.firstRow(pim::ENTITY_NAME).src_id, now.src_id);
        QCOMPARE(now.firstRow(pim::ENTITY_PHONE).src_id, QStringLiteral("3/1/101/1001"));

        // A stored contact: an updated row keeps its phone id, a deleted row goes by it.
        const pim::Contact stored = phoneContact(*cache, QStringLiteral("Kept"), 8, QStringLiteral("888"));
        pim::DataRow tel = stored.firstRow(pim::ENTITY_PHONE);
        tel.setValue(QStringLiteral("data1"), QStringLiteral("889"));
        RecordingPhone phone2;
        ProgressObject progress2;
        AndroidSendChangesThread worker2(&progress2, cache.get(), phone2.port());
        worker2.setChanges(stored, {{pim::ENTITY_PHONE, pim::ACTION_UPDATED, tel},
                                    {pim::ENTITY_PHONE, pim::ACTION_DELETED, stored.firstRow(pim::ENTITY_PHONE)}});
        QCOMPARE(finish(worker2, progress2).outcome, ProgressObject::Outcome::Succeeded);
        phone2.join();
        QCOMPARE(phone2.batches(),
                 (QList<QStringList>{{QStringLiteral("$ent:3/8/108/81,mobile,,%1").arg(b64(QStringLiteral("889"))),
                                      QStringLiteral("$del:3/8/108/81")}}));

        // A phone that does not say which id it gave the new contact fails the edit.
        pim::Contact another = person(QStringLiteral("Another"), QStringLiteral("One"));
        cache->insertContact(another);
        pim::DataRow name = another.firstRow(pim::ENTITY_NAME);
        cache->insertRow(another._id, pim::ENTITY_NAME, name);
        RecordingPhone::Script mute;
        mute.remap = false;
        RecordingPhone phone3(mute);
        ProgressObject progress3;
        AndroidSendChangesThread worker3(&progress3, cache.get(), phone3.port());
        worker3.setChanges(cache->loadContact(another._id), {{pim::ENTITY_NAME, pim::ACTION_ADDED, name}});
        const Outcome r = finish(worker3, progress3);
        QCOMPARE(r.outcome, ProgressObject::Outcome::Failed);
        QCOMPARE(r.message, QStringLiteral("receive $batch: command error, invalid command:$batch:"));
    }

    // ---- Whole transfers on simulated phones ----

    void androidToAndroidAndDatabaseToAndroid()
    {
        SimulatedPhone a(QStringLiteral("Phone A"));
        SimulatedPhone b(QStringLiteral("Phone B"));
        a.companion.seed(people::withMailAndGroup(25));
        // B already has Person3 with another number, and someone of its own.
        b.companion.seed("BEGIN:VCARD\nVERSION:3.0\nN:Person3;Test;;;\nTEL;TYPE=WORK:+1 555 9999\nEND:VCARD\n"
                         "BEGIN:VCARD\nVERSION:3.0\nN:Own;Bea;;;\nEMAIL:bea@example.org\nEND:VCARD\n");
        AndroidContactsDb cacheA(AndroidLink::cachePath(QStringLiteral("a")),
                                 PContactCombineRule(new LocalDbCombineRule), a.connector());
        AndroidContactsDb cacheB(AndroidLink::cachePath(QStringLiteral("b")),
                                 PContactCombineRule(new LocalDbCombineRule), b.connector());
        QVERIFY(loadInto(cacheA));
        QVERIFY(loadInto(cacheB));

        ProgressObject progress;
        SyncBackupThread worker(cacheA.listContacts(0, QString()), &cacheB, simpleprotocol::nextSyncPort(), &progress);
        const Outcome r = finish(worker, progress);
        QCOMPARE(r.outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(r.message,
                 QStringLiteral("Successfully transferred 24 contacts to Android, with 1 repeated contacts merged."));

        // B holds its own contacts and A's, Person3 once with both numbers.
        QMap<QString, QStringList> expected = a.contents();
        expected[QStringLiteral("Test Person3")] += QStringLiteral("3:work||+1 555 9999");
        expected[QStringLiteral("Test Person3")].sort();
        expected.insert(QStringLiteral("Bea Own"), {QStringLiteral("4:other||bea@example.org")});
        QCOMPARE(b.contents(), expected);
        QCOMPARE(a.companion.restoreSessions(), 0);

        // The ids in B's cache are the ones B gives when it is read afresh.
        const auto ids = [](LocalDb &db) {
            QMap<QString, QStringList> out;
            for (const pim::Contact &c : db.listContacts(0, QString())) {
                QStringList rowIds{c.src_id};
                for (const QList<pim::DataRow> &rows : c.entities)
                    for (const pim::DataRow &row : rows)
                        rowIds << row.src_id;
                rowIds.sort();
                out.insert(c.full_name, rowIds);
            }
            return out;
        };
        AndroidContactsDb fresh(AndroidLink::cachePath(QStringLiteral("b2")),
                                PContactCombineRule(new LocalDbCombineRule), b.connector());
        QVERIFY(loadInto(fresh));
        QCOMPARE(ids(cacheB), ids(fresh));

        // From a local database: merged again into B, the database untouched.
        LocalDb local(home().filePath(QStringLiteral("local.db")), PContactCombineRule(new LocalDbCombineRule));
        local.createFromTemplate();
        for (const pim::Contact &c : {person(QStringLiteral("Bea"), QStringLiteral("Own"), QStringLiteral("+49 1")),
                                      person(QStringLiteral("Carl"), QStringLiteral("Dee"), QStringLiteral("+49 2"))})
            local.saveContactWithMerge(c);
        const QList<pim::Contact> fromDb = local.listContacts(0, QString());
        local.close();
        const QByteArray before = fileHash(local.path());
        ProgressObject progress2;
        SyncBackupThread worker2(fromDb, &cacheB, simpleprotocol::nextSyncPort(), &progress2);
        QCOMPARE(finish(worker2, progress2).outcome, ProgressObject::Outcome::Succeeded);
        QCOMPARE(fileHash(local.path()), before);
        expected[QStringLiteral("Bea Own")] =
            QStringList{QStringLiteral("3:mobile||+49 1"), QStringLiteral("4:other||bea@example.org")};
        expected.insert(QStringLiteral("Carl Dee"), {QStringLiteral("3:mobile||+49 2")});
        QCOMPARE(b.contents(), expected);
    }

    void aPhoneThatDropsMidTransfer()
    {
        SimCompanionConfig dropping;
        dropping.fail = SimCompanionConfig::Fail::CloseMidRestore;
        SimulatedPhone b(QStringLiteral("Phone B"), dropping);
        AndroidContactsDb cache(AndroidLink::cachePath(QStringLiteral("drop")),
                                PContactCombineRule(new LocalDbCombineRule), b.connector());
        QVERIFY(loadInto(cache)); // reading works with this fault
        QList<pim::Contact> source;
        for (int i = 0; i < 25; ++i)
            source << person(QStringLiteral("P%1").arg(i), QStringLiteral("Test"), QStringLiteral("555 %1").arg(i));
        ProgressObject progress;
        SyncBackupThread worker(source, &cache, simpleprotocol::nextSyncPort(), &progress);
        const Outcome r = finish(worker, progress);
        QCOMPARE(r.outcome, ProgressObject::Outcome::Failed);
        QVERIFY(cache.listContacts(0, QString()).isEmpty()); // rolled back
        // The first batch reached the phone and stays there; a reload shows it.
        QCOMPARE(b.companion.store().contactCount(), 20);
        cache.close();
        QVERIFY(loadInto(cache));
        QCOMPARE(cache.listContacts(0, QString()).size(), 20);
    }
};

QTEST_GUILESS_MAIN(TestAndroidWrite)
#include "tst_androidwrite.moc"
