#include "simstore.h"

#include "simvcard.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

using namespace simplist;

namespace simrecords {

int entityType(const QString &kind)
{
    static const QHash<QString, int> types = {
        {QString::fromLatin1(kContact), 1},
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

QString kindOf(plist_t record)
{
    return stringItem(record, kEntityNameKey);
}

bool isContact(const QMap<quint64, Plist> &records, const QString &id)
{
    bool ok = false;
    const quint64 n = id.toULongLong(&ok);
    return ok && records.contains(n) && kindOf(records.value(n).get()) == QLatin1String(kContact);
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

} // namespace

bool SimStore::open(const QString &path, const QString &seedPath, QString *error)
{
    m_path = path;
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
    return save(error);
}

bool SimStore::save(QString *error) const
{
    if (m_path.isEmpty())
        return true;
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("can not write %1: %2").arg(m_path, file.errorString());
        return false;
    }
    file.write(QJsonDocument(toJson()).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        *error = QStringLiteral("can not write %1: %2").arg(m_path, file.errorString());
        return false;
    }
    return true;
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
    QJsonArray contacts;
    for (auto it = records.begin(); it != records.end(); ++it) {
        const QString id = QString::number(it.key());
        recs.insert(id, simplist::toJson(it.value().get()));
        if (kindOf(it.value().get()) != QLatin1String(kContact))
            continue;
        QJsonObject fields = simplist::toJson(it.value().get()).toObject();
        fields.remove(QString::fromLatin1(kEntityNameKey));
        QJsonArray rows;
        for (auto r = records.begin(); r != records.end(); ++r) {
            if (!contactRefs(r.value().get()).contains(id))
                continue;
            QJsonObject rowFields = simplist::toJson(r.value().get()).toObject();
            rowFields.remove(QString::fromLatin1(kEntityNameKey));
            rowFields.remove(QStringLiteral("contact"));
            rows.append(QJsonObject{{QStringLiteral("id"), QString::number(r.key())},
                                    {QStringLiteral("type"), entityType(kindOf(r.value().get()))},
                                    {QStringLiteral("fields"), rowFields}});
        }
        contacts.append(QJsonObject{{QStringLiteral("id"), id},
                                    {QStringLiteral("name"), displayName(it.value().get())},
                                    {QStringLiteral("fields"), fields},
                                    {QStringLiteral("rows"), rows}});
    }
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
    QMap<quint64, Plist> next = records; // applied on success only
    quint64 nextFree = nextId;
    QHash<QString, QString> map = sessionMap;
    QMap<QString, QString> assigned;

    const auto knownId = [&](const QString &key) -> quint64 {
        bool ok = false;
        const quint64 n = key.toULongLong(&ok);
        return ok && next.contains(n) ? n : 0;
    };

    const QStringList keyList = keys(entities);
    QStringList contactKeys, otherKeys;
    for (const QString &key : keyList) {
        plist_t value = plist_dict_get_item(entities, key.toUtf8().constData());
        if (isString(value) && string(value) == QLatin1String(kEmptyParameter)) {
            // A deletion; a deleted Contact takes its own records along. Unknown identifiers are ignored.
            if (const quint64 id = knownId(key)) {
                const bool contact = kindOf(next.value(id).get()) == QLatin1String(kContact);
                next.remove(id);
                if (contact) {
                    for (auto it = next.begin(); it != next.end();) {
                        QStringList refs = contactRefs(it.value().get());
                        if (refs.removeAll(key) > 0 && refs.isEmpty()) {
                            it = next.erase(it);
                            continue;
                        }
                        if (!refs.isEmpty() && refs != contactRefs(it.value().get()))
                            setContactRefs(it.value().get(), refs);
                        ++it;
                    }
                }
            }
            continue;
        }
        if (!value || plist_get_node_type(value) != PLIST_DICT) {
            *error = QStringLiteral("record %1 is neither a dictionary nor a deletion").arg(key);
            return false;
        }
        const QString kind = kindOf(value);
        if (entityType(kind) == 0) {
            *error = QStringLiteral("record %1 has an unknown kind \"%2\"").arg(key, kind);
            return false;
        }
        if (const quint64 id = knownId(key); id && kindOf(next.value(id).get()) != kind) {
            *error = QStringLiteral("record %1 changes its kind to \"%2\"").arg(key, kind);
            return false;
        }
        (kind == QLatin1String(kContact) ? contactKeys : otherKeys) << key;
    }

    // Contacts first, so that the other records of this batch can name new Contacts by their temporary keys.
    for (const QString &key : std::as_const(contactKeys)) {
        Plist record(plist_copy(plist_dict_get_item(entities, key.toUtf8().constData())));
        quint64 id = knownId(key);
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
