// The simulated iPhone's store: copies that share records until one changes them (every sync session works on a
// copy), changes applied whole or not at all, and the file of a big store written late but complete.

#include "simstore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace simplist;
using namespace Qt::StringLiterals;

namespace {

Plist record(const char *kind, std::initializer_list<std::pair<const char *, const char *>> fields)
{
    Plist r = Plist::dict();
    plist_dict_set_item(r.get(), simrecords::kEntityNameKey, plist_new_string(kind));
    for (const auto &[key, value] : fields)
        plist_dict_set_item(r.get(), key, plist_new_string(value));
    return r;
}

// A store of `contacts` contacts with a phone each: ids 1, 3, 5, … are Contacts, 2, 4, 6, … their phones.
SimStore storeOf(int contacts)
{
    SimStore store;
    for (int i = 0; i < contacts; ++i) {
        const QByteArray name = "Person " + QByteArray::number(i);
        const QByteArray phone = "+47 " + QByteArray::number(40000000 + i);
        store.addContact(record(simrecords::kContact, {{"first name", name.constData()}}),
                         {record("com.apple.contacts.Phone Number", {{"value", phone.constData()}})});
    }
    return store;
}

// The changes of one batch, as the computer sends them.
Plist changes(std::initializer_list<std::pair<QString, Plist>> entries)
{
    Plist d = Plist::dict();
    for (const auto &[key, value] : entries)
        plist_dict_set_item(d.get(), key.toUtf8().constData(), plist_copy(value.get()));
    return d;
}

Plist deletion()
{
    return Plist(plist_new_string(simrecords::kEmptyParameter));
}

QJsonObject readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

class TestSimStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordsIterateInOrderAcrossChunks()
    {
        SimRecords records;
        QList<quint64> expected;
        for (quint64 id : {5000ull, 1ull, 513ull, 512ull, 70000ull, 2ull, 1024ull}) {
            records.insert(id, record(simrecords::kContact, {}));
            expected.append(id);
        }
        records.insert(513, record(simrecords::kContact, {{"first name", "Again"}})); // replaces, no second entry
        records.remove(512);
        records.remove(70000); // the last of its chunk
        records.remove(4);     // not there
        expected.removeAll(512);
        expected.removeAll(70000);
        std::sort(expected.begin(), expected.end());
        QList<quint64> seen;
        for (auto it = records.begin(); it != records.end(); ++it)
            seen.append(it.key());
        QCOMPARE(seen, expected);
        QCOMPARE(records.size(), expected.size());
        QCOMPARE(stringItem(records.node(513), "first name"), u"Again");
        QVERIFY(!records.contains(70000));
    }

    // A session's copy that deletes a contact (which rewrites the "contact" list of a record in a chunk the
    // copies share) and adds one leaves the store it was copied from as it was.
    void changesOfACopyLeaveTheOriginal()
    {
        SimStore original = storeOf(1500);
        // A phone of two contacts: deleting one of them narrows its list, in place.
        original.addContact(record(simrecords::kContact, {{"first name", "Shared"}}), {});
        Plist both = record("com.apple.contacts.Phone Number", {{"value", "+1 555 0100"}});
        plist_t refs = plist_new_array();
        plist_array_append_item(refs, plist_new_string("1"));
        plist_array_append_item(refs, plist_new_string("3001"));
        plist_dict_set_item(both.get(), "contact", refs);
        original.records.insert(original.nextId++, both);
        const QJsonObject before = original.toJson();

        SimStore staged = original;
        QHash<QString, QString> sessionMap;
        QMap<QString, QString> remapped;
        QString error;
        const Plist batch = changes({{u"1"_s, deletion()},
                                     {u"-new"_s, record(simrecords::kContact, {{"first name", "New"}})},
                                     {u"-phone"_s, [] {
                                          Plist p = record("com.apple.contacts.Phone Number", {{"value", "+47 1"}});
                                          plist_t c = plist_new_array();
                                          plist_array_append_item(c, plist_new_string("-new"));
                                          plist_dict_set_item(p.get(), "contact", c);
                                          return p;
                                      }()}});
        QVERIFY2(staged.applyChanges(batch.get(), sessionMap, &remapped, &error), qPrintable(error));

        QCOMPARE(original.toJson(), before);
        QVERIFY(!staged.records.contains(1));
        QVERIFY(!staged.records.contains(2)); // the deleted contact's own phone went along
        const QStringList stillNamed = {u"3001"_s};
        plist_t narrowed = staged.records.node(3002);
        QCOMPARE(string(plist_array_get_item(item(narrowed, "contact"), 0)), stillNamed.first());
        QCOMPARE(plist_array_get_size(item(narrowed, "contact")), 1u);
        QCOMPARE(remapped.value(u"-new"_s), u"3003"_s);
        QCOMPARE(remapped.value(u"-phone"_s), u"3004"_s);
        QCOMPARE(staged.records.size(), original.records.size() - 2 + 2);
    }

    void aRefusedBatchChangesNothing()
    {
        SimStore store = storeOf(600);
        const QJsonObject before = store.toJson();
        QHash<QString, QString> sessionMap;
        QMap<QString, QString> remapped;
        QString error;
        Plist orphan = record("com.apple.contacts.Email Address", {{"value", "a@example.com"}});
        plist_t refs = plist_new_array();
        plist_array_append_item(refs, plist_new_string("999999"));
        plist_dict_set_item(orphan.get(), "contact", refs);
        // The deletion and the new Contact come first; the record naming an unknown contact refuses the batch.
        const Plist batch = changes(
            {{u"3"_s, deletion()}, {u"-c"_s, record(simrecords::kContact, {{"first name", "X"}})}, {u"-e"_s, orphan}});
        QVERIFY(!store.applyChanges(batch.get(), sessionMap, &remapped, &error));
        QVERIFY(error.contains(u"999999"));
        QCOMPARE(store.toJson(), before);
        QVERIFY(sessionMap.isEmpty());
    }

    // A small store's file is written at once; a big one's later, and complete by the time the store goes.
    void theFileHoldsTheLastState()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"store.json"_s);
        QJsonObject expected;
        {
            SimStore store;
            QString error;
            QVERIFY2(store.open(path, QString(), &error), qPrintable(error));
            store.addContact(record(simrecords::kContact, {{"first name", "Small"}}), {});
            QVERIFY(store.save(&error));
            QCOMPARE(readFile(path), store.toJson());

            SimStore copy = store; // as a session's copy; it shares the writer
            for (int i = 0; i < int(SimStore::kPromptSaveRecords); ++i)
                copy.addContact(record(simrecords::kContact, {{"first name", "Big"}}),
                                {record("com.apple.contacts.URL", {{"value", "https://example.net/"}})});
            QVERIFY(copy.save(&error));
            store = copy;
            store.addContact(record(simrecords::kContact, {{"last name", "Last"}}), {});
            QVERIFY(store.save(&error));
            expected = store.toJson();
        }
        const QJsonObject written = readFile(path);
        QCOMPARE(written.value(u"nextId"_s), expected.value(u"nextId"_s));
        QCOMPARE(written.value(u"records"_s).toObject(), expected.value(u"records"_s).toObject());
        QCOMPARE(written.value(u"contacts"_s).toArray(), expected.value(u"contacts"_s).toArray());
        QCOMPARE(written.value(u"contacts"_s).toArray().last()[u"name"_s].toString(), u"Last"_s);
    }
};

QTEST_GUILESS_MAIN(TestSimStore)
#include "tst_simstore.moc"
