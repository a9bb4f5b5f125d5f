#include "simstore.h"

#include "simvcard.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPair>
#include <QSaveFile>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

using namespace simplist;

namespace simrecords {

int entityType(const QString &kind)
{
    static const QHash<QString, int> types = {
        {QString::fromLatin1(kContact), 1},
        {QString::fromLatin1(kGroup), 7},
        {QStringLiteral("com.apple.contacts.Phone Number"), 3},
        {QStringLiteral("com.apple.contacts.Email Address"), 4},
        {QStringLiteral("com.apple.contacts.Street Address"), 12},
        {QStringLiteral("com.apple.contacts.URL"), 13},
        {QStringLiteral("com.apple.contacts.IM"), 8},
        {QStringLiteral("com.apple.contacts.Date"), 6},
        {QStringLiteral("com.apple.contacts.Related Name"), 11},
    };
    return types.value(kind, 0);
}

} // namespace simrecords

using namespace simrecords;

namespace {

qsizetype dataSize(plist_t node)
{
    uint64_t length = 0;
    plist_get_data_ptr(node, &length);
    return qsizetype(length);
}

} // namespace

namespace {

QString kindOf(plist_t record)
{
    return stringItem(record, kEntityNameKey);
}

bool isContactRecord(plist_t record)
{
    return record && kindOf(record) == QLatin1String(kContact);
}

bool isContact(const SimRecords &records, const QString &id)
{
    bool ok = false;
    const quint64 n = id.toULongLong(&ok);
    return ok && isContactRecord(records.node(n));
}

QStringList contactRefs(plist_t record)
{
    QStringList refs;
    plist_t array = item(record, "contact");
    if (array && plist_get_node_type(array) == PLIST_ARRAY)
        for (uint32_t i = 0, n = plist_array_get_size(array); i < n; ++i)
            refs << string(plist_array_get_item(array, i));
    return refs;
}

void setContactRefs(plist_t record, const QStringList &refs)
{
    plist_t array = plist_new_array();
    for (const QString &r : refs)
        plist_array_append_item(array, str(r));
    plist_dict_set_item(record, "contact", array);
}

// The name shown for a Contact record in the readable view.
QString displayName(plist_t contact)
{
    QStringList parts;
    for (const char *key : {"title", "first name", "middle name", "last name", "suffix"}) {
        const QString v = stringItem(contact, key);
        if (!v.isEmpty())
            parts << v;
    }
    return parts.isEmpty() ? stringItem(contact, "company name") : parts.join(QLatin1Char(' '));
}

// The readable view, one entry per Contact record in identifier order, each with its other records as rows (in
// identifier order too). The rows are found through an index of the "contact" references made in one pass.
template <typename Emit> void forEachReadableContact(const SimRecords &records, Emit emit)
{
    QHash<QString, QList<quint64>> rowsOf;
    for (auto it = records.begin(); it != records.end(); ++it) {
        for (const QString &ref : contactRefs(it.value().get())) {
            QList<quint64> &rows = rowsOf[ref];
            if (rows.isEmpty() || rows.last() != it.key()) // a record naming its contact twice is one row
                rows.append(it.key());
        }
    }
    for (auto it = records.begin(); it != records.end(); ++it) {
        plist_t contact = it.value().get();
        if (!isContactRecord(contact))
            continue;
        const QString id = QString::number(it.key());
        QJsonObject fields = simplist::toJson(contact).toObject();
        fields.remove(QString::fromLatin1(kEntityNameKey));
        QJsonArray rows;
        for (const quint64 rowId : rowsOf.value(id)) {
            plist_t row = records.node(rowId);
            QJsonObject rowFields = simplist::toJson(row).toObject();
            rowFields.remove(QString::fromLatin1(kEntityNameKey));
            rowFields.remove(QStringLiteral("contact"));
            rows.append(QJsonObject{{QStringLiteral("id"), QString::number(rowId)},
                                    {QStringLiteral("type"), entityType(kindOf(row))},
                                    {QStringLiteral("fields"), rowFields}});
        }
        emit(QJsonObject{{QStringLiteral("id"), id},
                         {QStringLiteral("name"), displayName(contact)},
                         {QStringLiteral("fields"), fields},
                         {QStringLiteral("rows"), rows}});
    }
}

// A store too big for one QJsonObject, whose insertions move every later member, written piece by piece: the same
// JSON value as the small stores' file, with the records in identifier order and each entry on one line.
bool writeLargeStore(const QString &path, const SimRecords &records, quint64 nextId, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("can not write %1: %2").arg(path, file.errorString());
        return false;
    }
    bool first = true;
    file.write("{\n    \"contacts\": [");
    forEachReadableContact(records, [&](const QJsonObject &contact) {
        file.write(first ? "\n        " : ",\n        ");
        file.write(QJsonDocument(contact).toJson(QJsonDocument::Compact));
        first = false;
    });
    file.write("\n    ],\n    \"nextId\": " + QByteArray::number(nextId) + ",\n    \"records\": {");
    first = true;
    for (auto it = records.begin(); it != records.end(); ++it) {
        file.write((first ? "\n        \"" : ",\n        \"") + QByteArray::number(it.key()) + "\": ");
        file.write(QJsonDocument(simplist::toJson(it.value().get()).toObject()).toJson(QJsonDocument::Compact));
        first = false;
    }
    file.write("\n    }\n}\n");
    if (!file.commit()) {
        *error = QStringLiteral("can not write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

SimRecords::const_iterator::const_iterator(Chunks::const_iterator chunk, Chunks::const_iterator end)
    : m_chunk(chunk), m_end(end)
{
    if (m_chunk != m_end)
        m_in = m_chunk->cbegin(); // chunks are never empty
}

SimRecords::const_iterator &SimRecords::const_iterator::operator++()
{
    if (++m_in == m_chunk->cend() && ++m_chunk != m_end)
        m_in = m_chunk->cbegin();
    return *this;
}

namespace {
constexpr int kChunkBits = 9; // 512 identifiers a chunk
}

plist_t SimRecords::node(quint64 id) const
{
    const auto chunk = m_chunks.constFind(id >> kChunkBits);
    if (chunk == m_chunks.cend())
        return nullptr;
    const auto record = chunk->constFind(id);
    return record == chunk->cend() ? nullptr : record->get();
}

plist_t SimRecords::mutableNode(quint64 id)
{
    if (!node(id))
        return nullptr;
    return m_chunks[id >> kChunkBits].find(id)->get(); // detaches the chunk from the copies that share it
}

void SimRecords::insert(quint64 id, Plist record)
{
    Chunk &chunk = m_chunks[id >> kChunkBits];
    const qsizetype before = chunk.size();
    chunk.insert(id, std::move(record));
    m_size += chunk.size() - before;
}

void SimRecords::remove(quint64 id)
{
    if (!node(id))
        return;
    const auto chunk = m_chunks.find(id >> kChunkBits);
    chunk->remove(id);
    --m_size;
    if (chunk->isEmpty())
        m_chunks.erase(chunk);
}

void SimRecords::clear()
{
    m_chunks.clear();
    m_size = 0;
}

// Writes the snapshots of one store file in the order they were taken: at once when asked to, or on a thread of its
// own once a second has passed without a newer one. The last snapshot is written when the writer goes.
class SimStore::Writer
{
public:
    explicit Writer(QString path) : m_path(std::move(path)) {}
    ~Writer()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        if (m_pending) {
            QString error;
            if (!write(*m_pending, m_pendingGeneration, &error))
                std::fprintf(stderr, "iphone-sim: %s\n", qPrintable(error));
        }
    }

    bool writeNow(const SimRecords &records, quint64 nextId, QString *error)
    {
        quint64 generation = 0;
        {
            std::lock_guard lock(m_mutex);
            generation = m_nextGeneration++;
            m_pending.reset(); // older than this one
        }
        return write({records, nextId}, generation, error);
    }

    void writeLater(const SimRecords &records, quint64 nextId)
    {
        {
            std::lock_guard lock(m_mutex);
            m_pending = Snapshot{records, nextId};
            m_pendingGeneration = m_nextGeneration++;
            m_postedAt = std::chrono::steady_clock::now();
            if (!m_thread.joinable())
                m_thread = std::thread([this] { loop(); });
        }
        m_wake.notify_all();
    }

private:
    struct Snapshot
    {
        SimRecords records;
        quint64 nextId = 1;
    };

    void loop()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            if (!m_pending) {
                m_wake.wait(lock);
                continue;
            }
            const auto due = m_postedAt + std::chrono::seconds(1);
            if (std::chrono::steady_clock::now() < due) {
                m_wake.wait_until(lock, due);
                continue;
            }
            const Snapshot snapshot = std::move(*m_pending);
            const quint64 generation = m_pendingGeneration;
            m_pending.reset();
            lock.unlock();
            QString error;
            if (!write(snapshot, generation, &error))
                std::fprintf(stderr, "iphone-sim: %s\n", qPrintable(error));
            lock.lock();
        }
    }

    // Writes a snapshot unless a newer one was written meanwhile.
    bool write(const Snapshot &snapshot, quint64 generation, QString *error)
    {
        std::lock_guard lock(m_fileMutex);
        if (generation < m_writtenGeneration)
            return true;
        m_writtenGeneration = generation;
        if (snapshot.records.size() > kPromptSaveRecords)
            return writeLargeStore(m_path, snapshot.records, snapshot.nextId, error);
        SimStore small;
        small.records = snapshot.records;
        small.nextId = snapshot.nextId;
        QSaveFile file(m_path);
        if (!file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("can not write %1: %2").arg(m_path, file.errorString());
            return false;
        }
        file.write(QJsonDocument(small.toJson()).toJson(QJsonDocument::Indented));
        if (!file.commit()) {
            *error = QStringLiteral("can not write %1: %2").arg(m_path, file.errorString());
            return false;
        }
        return true;
    }

    const QString m_path;
    std::mutex m_mutex; // everything below but the file
    std::condition_variable m_wake;
    std::optional<Snapshot> m_pending;
    quint64 m_pendingGeneration = 0;
    std::chrono::steady_clock::time_point m_postedAt;
    quint64 m_nextGeneration = 1;
    bool m_stop = false;
    std::thread m_thread;
    std::mutex m_fileMutex; // one write at a time, and m_writtenGeneration
    quint64 m_writtenGeneration = 0;
};

bool SimStore::open(const QString &path, const QString &seedPath, QString *error)
{
    m_path = path;
    m_writer = path.isEmpty() ? nullptr : std::make_shared<Writer>(path);
    records.clear();
    nextId = 1;
    QFile file(path);
    if (!path.isEmpty() && file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("can not read %1: %2").arg(path, file.errorString());
            return false;
        }
        const QByteArray bytes = file.readAll();
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
        if (!doc.isObject() && !bytes.trimmed().isEmpty()) {
            *error = QStringLiteral("%1 is not a JSON object: %2").arg(path, parseError.errorString());
            return false;
        }
        const QJsonObject stored = doc.object();
        const QJsonObject recs = stored.value(QStringLiteral("records")).toObject();
        for (auto it = recs.begin(); it != recs.end(); ++it) {
            bool ok = false;
            const quint64 id = it.key().toULongLong(&ok);
            Plist record = fromJson(it.value(), error);
            if (!ok || id == 0 || record.isNull() || plist_get_node_type(record.get()) != PLIST_DICT) {
                *error = QStringLiteral("%1: bad record %2 %3").arg(path, it.key(), *error);
                return false;
            }
            records.insert(id, std::move(record));
            nextId = qMax(nextId, id + 1);
        }
        nextId = qMax<quint64>(nextId, quint64(stored.value(QStringLiteral("nextId")).toDouble(1)));
    }
    if (records.isEmpty() && !seedPath.isEmpty()) {
        QFile seed(seedPath);
        if (!seed.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("can not read %1: %2").arg(seedPath, seed.errorString());
            return false;
        }
        for (SimVCardContact &c : simvcard::read(seed.readAll()))
            addContact(std::move(c.contact), std::move(c.others));
    }
    // Written at once whatever its size, so that the file is there as soon as the phone is.
    return !m_writer || m_writer->writeNow(records, nextId, error);
}

bool SimStore::save(QString *error) const
{
    if (!m_writer)
        return true;
    if (records.size() > kPromptSaveRecords) {
        m_writer->writeLater(records, nextId);
        return true;
    }
    return m_writer->writeNow(records, nextId, error);
}

quint64 SimStore::addContact(Plist contact, QList<Plist> others)
{
    const quint64 contactId = nextId++;
    plist_dict_set_item(contact.get(), kEntityNameKey, plist_new_string(kContact));
    records.insert(contactId, std::move(contact));
    for (Plist &other : others) {
        setContactRefs(other.get(), {QString::number(contactId)});
        records.insert(nextId++, std::move(other));
    }
    return contactId;
}

QJsonObject SimStore::toJson() const
{
    QJsonObject recs;
    for (auto it = records.begin(); it != records.end(); ++it)
        recs.insert(QString::number(it.key()), simplist::toJson(it.value().get()));
    QJsonArray contacts;
    forEachReadableContact(records, [&contacts](const QJsonObject &contact) { contacts.append(contact); });
    return QJsonObject{{QStringLiteral("nextId"), double(nextId)},
                       {QStringLiteral("records"), recs},
                       {QStringLiteral("contacts"), contacts}};
}

bool SimStore::applyChanges(plist_t entities, QHash<QString, QString> &sessionMap, QMap<QString, QString> *remapped,
                            QString *error)
{
    if (!entities || plist_get_node_type(entities) != PLIST_DICT) {
        *error = QStringLiteral("the changes are not a dictionary");
        return false;
    }
    SimRecords next = records; // applied on success only; shares the records until a chunk changes
    quint64 nextFree = nextId;
    QHash<QString, QString> map = sessionMap;
    QMap<QString, QString> assigned;

    const auto knownId = [&](const QString &key) -> quint64 {
        bool ok = false;
        const quint64 n = key.toULongLong(&ok);
        return ok && next.contains(n) ? n : 0;
    };

    QStringList contactKeys, otherKeys;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(entities, &iter);
    for (;;) {
        char *rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(entities, iter, &rawKey, &value);
        if (!rawKey)
            break;
        const QString key = QString::fromUtf8(rawKey);
        std::free(rawKey);
        if (isString(value) && string(value) == QLatin1String(kEmptyParameter)) {
            // A deletion; a deleted Contact takes its own records along. Unknown identifiers are ignored.
            if (const quint64 id = knownId(key)) {
                const bool contact = isContactRecord(next.node(id));
                next.remove(id);
                if (contact) {
                    QList<quint64> orphans;
                    QList<QPair<quint64, QStringList>> narrowed;
                    for (auto it = next.begin(); it != next.end(); ++it) {
                        const QStringList before = contactRefs(it.value().get());
                        QStringList refs = before;
                        if (refs.removeAll(key) == 0)
                            continue;
                        if (refs.isEmpty())
                            orphans.append(it.key());
                        else
                            narrowed.append({it.key(), refs});
                    }
                    for (const quint64 orphan : std::as_const(orphans))
                        next.remove(orphan);
                    for (const auto &[rowId, refs] : std::as_const(narrowed))
                        setContactRefs(next.mutableNode(rowId), refs);
                }
            }
            continue;
        }
        if (!value || plist_get_node_type(value) != PLIST_DICT) {
            std::free(iter);
            *error = QStringLiteral("record %1 is neither a dictionary nor a deletion").arg(key);
            return false;
        }
        const QString kind = kindOf(value);
        if (entityType(kind) == 0) {
            std::free(iter);
            *error = QStringLiteral("record %1 has an unknown kind \"%2\"").arg(key, kind);
            return false;
        }
        if (const quint64 id = knownId(key); id && kindOf(next.node(id)) != kind) {
            std::free(iter);
            *error = QStringLiteral("record %1 changes its kind to \"%2\"").arg(key, kind);
            return false;
        }
        (kind == QLatin1String(kContact) || kind == QLatin1String(kGroup) ? contactKeys : otherKeys) << key;
    }
    std::free(iter);

    // Contacts first, so that the other records of this batch can name new Contacts by their temporary keys.
    for (const QString &key : std::as_const(contactKeys)) {
        Plist record(plist_copy(plist_dict_get_item(entities, key.toUtf8().constData())));
        quint64 id = knownId(key);
        if (kindOf(record.get()) == QLatin1String(kContact)) {
            // The record sent replaces the phone's: a key it does not carry is gone. Its image is taken when it
            // is data of at most kMaxImageBytes (a larger one is ignored, leaving no photo); the unchanged
            // marker keeps the photo the phone has.
            plist_t image = plist_dict_get_item(record.get(), "image");
            if (isString(image) && string(image) == QLatin1String(kImageUnchangedMarker)) {
                plist_t old = id ? plist_dict_get_item(next.node(id), "image") : nullptr;
                if (old)
                    plist_dict_set_item(record.get(), "image", plist_copy(old));
                else
                    plist_dict_remove_item(record.get(), "image");
            } else if (image && (plist_get_node_type(image) != PLIST_DATA || dataSize(image) > kMaxImageBytes)) {
                plist_dict_remove_item(record.get(), "image");
            }
        }
        if (!id) {
            id = nextFree++;
            assigned.insert(key, QString::number(id));
            map.insert(key, QString::number(id));
        }
        next.insert(id, std::move(record));
    }
    for (const QString &key : std::as_const(otherKeys)) {
        Plist record(plist_copy(plist_dict_get_item(entities, key.toUtf8().constData())));
        const QStringList refs = contactRefs(record.get());
        if (refs.isEmpty()) {
            *error = QStringLiteral("record %1 names no contact").arg(key);
            return false;
        }
        QStringList resolved;
        for (const QString &ref : refs) {
            const QString target = isContact(next, ref) ? ref : map.value(ref);
            if (target.isEmpty() || !isContact(next, target)) {
                *error = QStringLiteral("record %1 names an unknown contact \"%2\"").arg(key, ref);
                return false;
            }
            resolved << target;
        }
        setContactRefs(record.get(), resolved);
        quint64 id = knownId(key);
        if (!id) {
            id = nextFree++;
            assigned.insert(key, QString::number(id));
            map.insert(key, QString::number(id));
        }
        next.insert(id, std::move(record));
    }

    records = std::move(next);
    nextId = nextFree;
    sessionMap = map;
    *remapped = assigned;
    return true;
}
