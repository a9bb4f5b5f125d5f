#include "simcontacts.h"

#include <QDate>
#include <QHash>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

// Field kinds after the id: t text (Base64 of UTF-8 on the wire), w type word, d date yyyy-MM-dd, p photo
// (Base64 of the bytes on the wire and in the store).
QString kinds(int type)
{
    switch (type) {
    case 1:
        return u"ttttt"_s;
    case 2:
        return u"p"_s;
    case 3:
    case 4:
    case 5:
    case 11:
    case 13:
        return u"wtt"_s;
    case 6:
        return u"wtd"_s;
    case 7:
        return u"t"_s;
    case 8:
        return u"wtwtt"_s;
    case 9:
        return u"t"_s;
    case 10:
        return u"wtttt"_s;
    case 12:
        return u"wtttttt"_s;
    default:
        return {};
    }
}

// The words the app knows, per type (99: IM protocols).
const QHash<int, QSet<QString>> &words()
{
    static const QHash<int, QSet<QString>> w = {
        {3, {u"other"_s,    u"home"_s,   u"mobile"_s,       u"work"_s,       u"work fax"_s,  u"home fax"_s,  u"pager"_s,
             u"callback"_s, u"car"_s,    u"company main"_s, u"isdn"_s,       u"main"_s,      u"other fax"_s, u"radio"_s,
             u"telex"_s,    u"ttytdd"_s, u"work mobile"_s,  u"work pager"_s, u"assistant"_s, u"mms"_s}},
        {4, {u"other"_s, u"home"_s, u"work"_s, u"mobile"_s}},
        {5, {u"default"_s, u"other"_s, u"short"_s, u"init"_s}},
        {6, {u"other"_s, u"anniversary"_s, u"birthday"_s}},
        {8, {u"other"_s, u"home"_s, u"work"_s}},
        {99,
         {u"aim"_s, u"msn"_s, u"yahoo"_s, u"skype"_s, u"qq"_s, u"googletalk"_s, u"icq"_s, u"jabber"_s,
          u"netmeeting"_s}},
        {10, {u"other"_s, u"work"_s}},
        {11,
         {u"assistant"_s, u"brother"_s, u"child"_s, u"dom partner"_s, u"father"_s, u"friend"_s, u"manager"_s,
          u"mother"_s, u"parnet"_s, u"partner"_s, u"refby"_s, u"relative"_s, u"sister"_s, u"spouse"_s}},
        {12, {u"other"_s, u"home"_s, u"work"_s}},
        {13, {u"other"_s, u"homepage"_s, u"blog"_s, u"profile"_s, u"home"_s, u"work"_s, u"ftp"_s}},
    };
    return w;
}

int wordTable(int type, int field)
{
    return type == 8 && field == 2 ? 99 : type;
}

bool strictBase64(const QString &text, QByteArray *out)
{
    const auto r = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!r || text.size() % 4 != 0)
        return false;
    *out = r.decoded;
    return true;
}

} // namespace

int SimContactStore::fieldCount(int type)
{
    const QString k = kinds(type);
    return k.isEmpty() ? -1 : int(k.size());
}

QString SimContactStore::displayName(const QStringList &f)
{
    QStringList parts;
    for (int i : {0, 1, 2, 3, 4})
        if (!f.value(i).isEmpty())
            parts << f.value(i);
    return parts.join(u' ');
}

bool SimContactStore::parseId(const QString &text, Id *id)
{
    static const QRegularExpression re(
        QRegularExpression::anchoredPattern(u"(-?[0-9]{1,18})/(-?[0-9]{1,18})/(-?[0-9]{1,18})/(-?[0-9]{1,18})"_s));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return false;
    id->type = m.captured(1).toInt();
    id->contact = m.captured(2).toLongLong();
    id->raw = m.captured(3).toLongLong();
    id->data = m.captured(4).toLongLong();
    return true;
}

bool SimContactStore::checkFields(int type, const QStringList &fields, QString *error)
{
    const QString k = kinds(type);
    if (k.isEmpty()) {
        *error = u"unknown row type %1"_s.arg(type);
        return false;
    }
    if (fields.size() != k.size()) {
        *error = u"type %1 has %2 fields, not %3"_s.arg(type).arg(k.size()).arg(fields.size());
        return false;
    }
    for (int i = 0; i < k.size(); ++i) {
        const QString &f = fields.at(i);
        if (k.at(i) == u'w' && !f.isEmpty() && !words().value(wordTable(type, i)).contains(f)) {
            *error = u"unknown word \"%1\" for type %2"_s.arg(f).arg(type);
            return false;
        }
        if (k.at(i) == u'd' && !f.isEmpty() && !QDate::fromString(f, u"yyyy-MM-dd"_s).isValid()) {
            *error = u"bad date \"%1\""_s.arg(f);
            return false;
        }
        QByteArray ignored;
        if (k.at(i) == u'p' && !strictBase64(f, &ignored)) {
            *error = u"bad photo Base64"_s;
            return false;
        }
    }
    return true;
}

bool SimContactStore::fromWire(int type, const QStringList &wire, QStringList *fields, QString *error)
{
    const QString k = kinds(type);
    if (k.isEmpty()) {
        *error = u"unknown row type %1"_s.arg(type);
        return false;
    }
    if (wire.size() != k.size()) {
        *error = u"type %1 has %2 fields, not %3"_s.arg(type).arg(k.size()).arg(wire.size());
        return false;
    }
    fields->clear();
    for (int i = 0; i < k.size(); ++i) {
        if (k.at(i) != u't') {
            fields->append(wire.at(i));
            continue;
        }
        QByteArray bytes;
        if (!strictBase64(wire.at(i), &bytes)) {
            *error = u"field %1 is not Base64: \"%2\""_s.arg(i + 1).arg(wire.at(i).left(40));
            return false;
        }
        fields->append(QString::fromUtf8(bytes));
    }
    return checkFields(type, *fields, error);
}

QString SimContactStore::wireArgument(const SimRow &row)
{
    const QString k = kinds(row.type);
    QStringList out{row.id};
    for (int i = 0; i < k.size(); ++i) {
        const QString f = row.fields.value(i);
        out << (k.at(i) == u't' ? QString::fromLatin1(f.toUtf8().toBase64()) : f);
    }
    return out.join(u',');
}

bool SimContactStore::fromJson(const QJsonArray &contacts, QString *error)
{
    QList<SimContact> loaded;
    qint64 maxContact = 0, maxRaw = 100, maxData = 1000;
    QSet<qint64> ids;
    QSet<QString> rowIds;
    for (const QJsonValue &v : contacts) {
        const QJsonObject o = v.toObject();
        SimContact c;
        c.id = o.value(u"id"_s).toInteger();
        c.raw = o.value(u"raw"_s).toInteger(c.id + 100);
        if (c.id <= 0 || ids.contains(c.id)) {
            *error = u"contact without a positive unique \"id\""_s;
            return false;
        }
        ids.insert(c.id);
        for (const QJsonValue &rv : o.value(u"rows"_s).toArray()) {
            const QJsonObject ro = rv.toObject();
            SimRow r;
            r.type = ro.value(u"type"_s).toInt();
            for (const QJsonValue &f : ro.value(u"fields"_s).toArray())
                r.fields << f.toString();
            if (!checkFields(r.type, r.fields, error)) {
                *error = u"contact %1: %2"_s.arg(c.id).arg(*error);
                return false;
            }
            r.id = ro.value(u"id"_s).toString();
            Id id;
            if (r.id.isEmpty()) {
                r.id = u"%1/%2/%3/0"_s.arg(r.type).arg(c.id).arg(c.raw); // numbered below
            } else if (!parseId(r.id, &id) || id.type != r.type || id.contact != c.id || id.raw != c.raw ||
                       id.data <= 0 || rowIds.contains(r.id)) {
                *error = u"contact %1: bad row id \"%2\""_s.arg(c.id).arg(r.id);
                return false;
            } else {
                maxData = qMax(maxData, id.data);
            }
            rowIds.insert(r.id);
            c.rows.append(r);
        }
        maxContact = qMax(maxContact, c.id);
        maxRaw = qMax(maxRaw, c.raw);
        loaded.append(c);
    }
    m_contacts = loaded;
    m_nextContact = maxContact + 1;
    m_nextRaw = maxRaw + 1;
    m_nextData = maxData + 1;
    // Rows written without an id (hand-made stores) get one now; every contact gets its name row first.
    for (SimContact &c : m_contacts) {
        for (SimRow &r : c.rows)
            if (r.id.endsWith(u"/0"_s))
                r.id = newRowId(r.type, c);
        auto nameRow = std::find_if(c.rows.begin(), c.rows.end(), [](const SimRow &r) { return r.type == 1; });
        if (nameRow == c.rows.end()) {
            c.rows.prepend({newRowId(1, c), 1, QStringList(5, QString())});
        } else if (nameRow != c.rows.begin()) {
            const SimRow n = *nameRow;
            c.rows.erase(nameRow);
            c.rows.prepend(n);
        }
        c.name = displayName(c.rows.first().fields);
    }
    return true;
}

QJsonArray SimContactStore::toJson() const
{
    QJsonArray out;
    for (const SimContact &c : m_contacts) {
        QJsonArray rows;
        for (const SimRow &r : c.rows)
            rows.append(
                QJsonObject{{u"id"_s, r.id}, {u"type"_s, r.type}, {u"fields"_s, QJsonArray::fromStringList(r.fields)}});
        out.append(QJsonObject{{u"id"_s, c.id}, {u"raw"_s, c.raw}, {u"name"_s, c.name}, {u"rows"_s, rows}});
    }
    return out;
}

qint64 SimContactStore::addContact(const QList<QPair<int, QStringList>> &rows)
{
    SimContact c;
    c.id = m_nextContact++;
    c.raw = m_nextRaw++;
    QList<QPair<int, QStringList>> ordered = rows;
    auto name = std::find_if(ordered.begin(), ordered.end(), [](const auto &r) { return r.first == 1; });
    if (name == ordered.end()) {
        ordered.prepend({1, QStringList(5, QString())});
    } else {
        const auto n = *name;
        ordered.erase(name);
        ordered.prepend(n);
    }
    for (const auto &r : std::as_const(ordered)) {
        QString ignored;
        if (checkFields(r.first, r.second, &ignored))
            c.rows.append({newRowId(r.first, c), r.first, r.second});
    }
    c.name = displayName(c.rows.first().fields);
    m_contacts.append(c);
    return c.id;
}

SimContact *SimContactStore::contact(qint64 id)
{
    for (SimContact &c : m_contacts)
        if (c.id == id)
            return &c;
    return nullptr;
}

SimRow *SimContactStore::row(const QString &id, SimContact **owner)
{
    for (SimContact &c : m_contacts)
        for (SimRow &r : c.rows)
            if (r.id == id) {
                if (owner)
                    *owner = &c;
                return &r;
            }
    return nullptr;
}

QString SimContactStore::applyEnt(const QString &argument, QStringList *remaps)
{
    QStringList wire = argument.split(u',', Qt::KeepEmptyParts);
    const QString sentId = wire.takeFirst();
    Id id;
    if (!parseId(sentId, &id))
        return u"bad row id \"%1\""_s.arg(sentId);
    QStringList fields;
    QString error;
    if (!fromWire(id.type, wire, &fields, &error))
        return error;

    if (id.data >= 0) { // a row the phone has: update it in place
        SimContact *owner = nullptr;
        SimRow *r = row(sentId, &owner);
        if (!r)
            return u"no row %1 on the phone"_s.arg(sentId);
        r->fields = fields;
        if (r->type == 1)
            owner->name = displayName(fields);
        return {};
    }
    if (id.type == 1) { // a name row in the local form: a new contact
        SimContact c;
        c.id = m_nextContact++;
        c.raw = m_nextRaw++;
        c.rows.append({newRowId(1, c), 1, fields});
        c.name = displayName(fields);
        m_contacts.append(c);
        remaps->append(sentId + u"=>"_s + c.rows.first().id);
        return {};
    }
    SimContact *c = contact(id.contact);
    if (!c || c->raw != id.raw)
        return u"no raw contact %1/%2 on the phone"_s.arg(id.contact).arg(id.raw);
    // A contact is in one group at a time here: a group row replaces its membership.
    if (id.type == 7)
        c->rows.removeIf([](const SimRow &r) { return r.type == 7; });
    c->rows.append({newRowId(id.type, *c), id.type, fields});
    remaps->append(sentId + u"=>"_s + c->rows.last().id);
    return {};
}

QString SimContactStore::applyDel(const QString &argument)
{
    Id id;
    if (!parseId(argument, &id))
        return u"bad row id \"%1\""_s.arg(argument);
    if (id.data < 0)
        return {}; // a row the phone never had: nothing to delete
    // Only the exact id of a row the phone has deletes anything: a name row's id takes its whole contact, so an
    // id whose raw or row part is wrong must not remove a contact that merely shares the contact number.
    SimContact *owner = nullptr;
    if (!row(argument, &owner))
        return {};
    if (id.type == 1) {
        const qint64 contactId = owner->id;
        m_contacts.removeIf([contactId](const SimContact &c) { return c.id == contactId; });
        return {};
    }
    owner->rows.removeIf([&argument](const SimRow &r) { return r.id == argument; });
    return {};
}

QString SimContactStore::applyUngroup(const QString &argument)
{
    static const QRegularExpression re(QRegularExpression::anchoredPattern(u"[0-9]{1,18}"_s));
    if (!re.match(argument).hasMatch())
        return u"bad contact id \"%1\""_s.arg(argument);
    if (SimContact *c = contact(argument.toLongLong()))
        c->rows.removeIf([](const SimRow &r) { return r.type == 7; });
    return {};
}

// ---- vCard seed ----

namespace {

struct Property
{
    QString name;      // upper case, group prefix removed
    QStringList types; // upper case TYPE values and bare 2.1 parameters
    QMap<QString, QString> params;
    QString value; // raw value (escapes still in)
};

QString unescape(const QString &v)
{
    QString out;
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v.at(i) == u'\\' && i + 1 < v.size()) {
            const QChar n = v.at(++i);
            out += (n == u'n' || n == u'N') ? QChar(u'\n') : n;
        } else {
            out += v.at(i);
        }
    }
    return out;
}

// Splits at unescaped separators and unescapes each part.
QStringList components(const QString &v, QChar sep)
{
    QStringList parts;
    QString cur;
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v.at(i) == u'\\' && i + 1 < v.size()) {
            cur += v.at(i);
            cur += v.at(++i);
        } else if (v.at(i) == sep) {
            parts << unescape(cur);
            cur.clear();
        } else {
            cur += v.at(i);
        }
    }
    parts << unescape(cur);
    return parts;
}

QByteArray quotedPrintable(const QByteArray &in)
{
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in.at(i) == '=' && i + 2 < in.size()) {
            bool ok = false;
            const int b = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += char(b);
                i += 2;
                continue;
            }
        }
        out += in.at(i);
    }
    return out;
}

QList<QByteArray> unfold(const QByteArray &data)
{
    QList<QByteArray> lines;
    for (QByteArray line : data.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if ((line.startsWith(' ') || line.startsWith('\t')) && !lines.isEmpty()) {
            lines.last() += line.mid(1);
        } else if (!lines.isEmpty() && lines.last().toUpper().contains("QUOTED-PRINTABLE") &&
                   lines.last().endsWith('=')) {
            lines.last().chop(1); // a soft line break of quoted-printable
            lines.last() += line;
        } else {
            lines << line;
        }
    }
    return lines;
}

bool parseLine(const QByteArray &line, Property *p)
{
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return false;
    const QList<QByteArray> head = line.left(colon).split(';');
    QString name = QString::fromUtf8(head.first()).toUpper();
    if (name.contains(u'.'))
        name = name.section(u'.', -1);
    p->name = name;
    for (const QByteArray &param : head.mid(1)) {
        const QString s = QString::fromUtf8(param);
        const QString key = s.section(u'=', 0, 0).toUpper();
        const QString value = s.contains(u'=') ? s.section(u'=', 1) : QString();
        if (!s.contains(u'=')) {
            p->types << key;
        } else if (key == u"TYPE"_s) {
            for (const QString &t : value.split(u',', Qt::SkipEmptyParts))
                p->types << t.toUpper().remove(u'"');
        } else {
            p->params.insert(key, value.toUpper());
        }
    }
    QByteArray value = line.mid(colon + 1);
    if (p->params.value(u"ENCODING"_s) == u"QUOTED-PRINTABLE"_s || p->types.contains(u"QUOTED-PRINTABLE"_s))
        value = quotedPrintable(value);
    p->value = QString::fromUtf8(value);
    return true;
}

QString phoneWord(const QStringList &t)
{
    const bool fax = t.contains(u"FAX"_s);
    if (t.contains(u"CELL"_s))
        return t.contains(u"WORK"_s) ? u"work mobile"_s : u"mobile"_s;
    if (fax)
        return t.contains(u"WORK"_s) ? u"work fax"_s : t.contains(u"HOME"_s) ? u"home fax"_s : u"other fax"_s;
    if (t.contains(u"PAGER"_s))
        return t.contains(u"WORK"_s) ? u"work pager"_s : u"pager"_s;
    for (const auto &[type, word] : {std::pair{u"WORK"_s, u"work"_s},
                                     {u"HOME"_s, u"home"_s},
                                     {u"MAIN"_s, u"main"_s},
                                     {u"CAR"_s, u"car"_s},
                                     {u"ISDN"_s, u"isdn"_s},
                                     {u"MSG"_s, u"mms"_s}})
        if (t.contains(type))
            return word;
    return u"other"_s;
}

QString homeWorkWord(const QStringList &t)
{
    return t.contains(u"WORK"_s) ? u"work"_s : t.contains(u"HOME"_s) ? u"home"_s : u"other"_s;
}

QString dateOf(const QString &v)
{
    QDate d = QDate::fromString(v.left(10), u"yyyy-MM-dd"_s);
    if (!d.isValid())
        d = QDate::fromString(v.left(8), u"yyyyMMdd"_s);
    return d.isValid() ? d.toString(u"yyyy-MM-dd"_s) : QString();
}

} // namespace

QList<QList<QPair<int, QStringList>>> SimContactStore::parseVCards(const QByteArray &data)
{
    static const QHash<QString, QString> imProtocols = {{u"X-AIM"_s, u"aim"_s},
                                                        {u"X-MSN"_s, u"msn"_s},
                                                        {u"X-YAHOO"_s, u"yahoo"_s},
                                                        {u"X-SKYPE"_s, u"skype"_s},
                                                        {u"X-SKYPE-USERNAME"_s, u"skype"_s},
                                                        {u"X-QQ"_s, u"qq"_s},
                                                        {u"X-GOOGLE-TALK"_s, u"googletalk"_s},
                                                        {u"X-ICQ"_s, u"icq"_s},
                                                        {u"X-JABBER"_s, u"jabber"_s}};
    QList<QList<QPair<int, QStringList>>> cards;
    QList<QPair<int, QStringList>> rows;
    QString fn, title;
    int orgIndex = -1;
    bool inCard = false, hasName = false;
    for (const QByteArray &line : unfold(data)) {
        Property p;
        if (!parseLine(line, &p))
            continue;
        if (p.name == u"BEGIN"_s && p.value.trimmed().toUpper() == u"VCARD"_s) {
            inCard = true;
            rows.clear();
            fn.clear();
            title.clear();
            orgIndex = -1;
            hasName = false;
            continue;
        }
        if (!inCard)
            continue;
        if (p.name == u"END"_s) {
            if (!title.isEmpty()) {
                if (orgIndex < 0)
                    rows.append({10, {u"work"_s, QString(), QString(), QString(), title}});
                else
                    rows[orgIndex].second[4] = title;
            }
            if (!hasName) // vCard 4.0 allows a card with FN only
                rows.prepend({1, {QString(), fn, QString(), QString(), QString()}});
            cards.append(rows);
            inCard = false;
            continue;
        }
        const QString v = p.value;
        if (p.name == u"N"_s) {
            const QStringList n = components(v, u';');
            rows.prepend({1, {n.value(3), n.value(1), n.value(2), n.value(0), n.value(4)}});
            hasName = true;
            if (orgIndex >= 0)
                ++orgIndex;
        } else if (p.name == u"FN"_s) {
            fn = unescape(v);
        } else if (p.name == u"TEL"_s) {
            rows.append({3, {phoneWord(p.types), QString(), unescape(v)}});
        } else if (p.name == u"EMAIL"_s) {
            rows.append({4, {homeWorkWord(p.types), QString(), unescape(v)}});
        } else if (p.name == u"ADR"_s) {
            const QStringList a = components(v, u';');
            const QString street = QStringList{a.value(1), a.value(2)}.filter(QRegularExpression(u"."_s)).join(u'\n');
            rows.append(
                {12, {homeWorkWord(p.types), QString(), a.value(6), a.value(4), a.value(3), street, a.value(5)}});
        } else if (p.name == u"ORG"_s) {
            const QStringList o = components(v, u';');
            orgIndex = int(rows.size());
            rows.append({10, {u"work"_s, QString(), o.value(0), o.value(1), QString()}});
        } else if (p.name == u"TITLE"_s) {
            title = unescape(v);
        } else if (p.name == u"NOTE"_s) {
            rows.append({9, {unescape(v)}});
        } else if (p.name == u"BDAY"_s || p.name == u"ANNIVERSARY"_s || p.name == u"X-ANNIVERSARY"_s) {
            const QString d = dateOf(v.trimmed());
            if (!d.isEmpty())
                rows.append({6, {p.name == u"BDAY"_s ? u"birthday"_s : u"anniversary"_s, QString(), d}});
        } else if (p.name == u"URL"_s) {
            rows.append({13, {u"homepage"_s, QString(), unescape(v)}});
        } else if (p.name == u"NICKNAME"_s) {
            rows.append({5, {u"default"_s, QString(), unescape(v)}});
        } else if (p.name == u"CATEGORIES"_s) {
            for (const QString &g : components(v, u','))
                if (!g.trimmed().isEmpty())
                    rows.append({7, {g.trimmed()}});
        } else if (p.name == u"PHOTO"_s) {
            const QByteArray bytes = QByteArray::fromBase64(v.toLatin1());
            if (!bytes.isEmpty())
                rows.append({2, {QString::fromLatin1(bytes.toBase64())}});
        } else if (imProtocols.contains(p.name)) {
            rows.append({8, {u"other"_s, QString(), imProtocols.value(p.name), QString(), unescape(v)}});
        }
    }
    return cards;
}
