// The mapping between vCard properties and the rows of a contact, both ways.

#include "vcard.h"

#include <QDate>
#include <QDateTime>
#include <QtDebug>

#include <array>

using namespace Qt::StringLiterals;
using namespace pim;

namespace vcard {

namespace {

// "TYPE" texts of the type codes; the whole parameter value is compared exactly on import, and the same
// texts are written on export.
struct TypeText
{
    int code;
    const char *text;
};

constexpr TypeText kPhoneTypes[] = {{1, "home,voice"}, {2, "cell"},     {3, "work,voice"},
                                    {4, "work,fax"},   {5, "home,fax"}, {6, "pager"},
                                    {9, "car"},        {11, "isdn"},    {13, "fax"}};
constexpr TypeText kImTypes[] = {{1, "aim"},        {2, "msn"},        {3, "yahoo"},    {4, "skype"},
                                 {5, "qq"},         {6, "googletalk"}, {7, "icq"},      {8, "jabber"},
                                 {9, "netmetting"}, {10, "gadugadu"},  {11, "facebook"}};
constexpr TypeText kRelationTypes[] = {{1, "assistant"}, {2, "brother"},  {3, "child"},   {4, "dompartner"},
                                       {5, "father"},    {6, "friend"},   {7, "manager"}, {8, "mother"},
                                       {9, "parent"},    {10, "partner"}, {11, "ref"},    {12, "relative"},
                                       {13, "sister"},   {14, "spouse"}};
constexpr TypeText kWebsiteTypes[] = {{1, "homepage"}, {2, "blog"}, {3, "profile"},
                                      {4, "home"},     {5, "work"}, {6, "ftp"}};

template <std::size_t N> int codeOf(const TypeText (&table)[N], const QString &text, int otherwise)
{
    for (const TypeText &t : table)
        if (text == QLatin1String(t.text))
            return t.code;
    return otherwise;
}

template <std::size_t N> const char *textOf(const TypeText (&table)[N], int code)
{
    for (const TypeText &t : table)
        if (t.code == code)
            return t.text;
    return nullptr;
}

// The column names "data0" … "data15", made once: the mapping names columns for every value it sets.
const QString &col(int n)
{
    static const auto names = [] {
        std::array<QString, 16> texts;
        for (int k = 0; k < 16; ++k)
            texts[k] = u"data%1"_s.arg(k);
        return texts;
    }();
    return names[n];
}

// baseName() without its copies in the usual case, a name of upper-case ASCII letters, digits and "-"
// (the result is then the same text); any other name goes through baseName().
QString upperBaseName(const Property &property)
{
    const qsizetype dot = property.name.lastIndexOf(u'.');
    const QStringView base = QStringView(property.name).mid(dot + 1);
    for (const QChar c : base)
        if (c.unicode() >= 0x80 || (c >= u'a' && c <= u'z'))
            return baseName(property);
    return dot < 0 ? property.name : base.toString();
}

// The first row of a type, created when the contact has none: types a contact keeps once.
DataRow &singleRow(Contact &contact, int type)
{
    QList<DataRow> &rows = contact.entities[type];
    if (rows.isEmpty())
        rows.append(DataRow());
    return rows.first();
}

DataRow &newRow(Contact &contact, int type)
{
    QList<DataRow> &rows = contact.entities[type];
    rows.append(DataRow());
    return rows.last();
}

// The text of a single value: charset decoded, and text escapes undone unless it was quoted-printable.
QString singleText(const Property &p)
{
    const QString text = valueText(p);
    return isQuotedPrintable(p) ? text : unescapeText(text);
}

QStringList components(const Property &p)
{
    return splitComponents(valueText(p), !isQuotedPrintable(p));
}

// Picture bytes: a Base64 value, or a vCard 4.0 data: URI. Anything else is a reference to a picture
// elsewhere (a web address), not a picture; it yields nothing.
QByteArray photoBytes(const Property &p)
{
    if (isBase64(p))
        return p.value;
    const QByteArray text = p.value.trimmed();
    const qsizetype marker = text.indexOf(";base64,");
    if (text.size() > 5 && qstrnicmp(text.constData(), "data:", 5) == 0 && marker > 0)
        return QByteArray::fromBase64(text.mid(marker + 8));
    if (!text.isEmpty())
        qDebug("vCard: PHOTO that is no picture but a reference ignored");
    return {};
}

// Rows a card produced without a value (an empty EMAIL line, ADR:;;;;;;) are left out rather than stored
// as empty entries.
bool valueless(int type, const DataRow &row)
{
    switch (type) {
    case ENTITY_NAME:
        return false;
    case ENTITY_PHOTO:
        return row.value(col(15)).toByteArray().isEmpty();
    case ENTITY_GROUP:
        return row.text(col(2)).isEmpty();
    case ENTITY_ORGANIZATION:
        return rowEmpty(row, {col(1), col(4), col(5)});
    case ENTITY_ADDRESS:
        return rowEmpty(row, {col(4), col(7), col(8), col(9), col(10)});
    default:
        return valueEmpty(row.value(col(1)));
    }
}

// Export helpers. A line break inside a value that is written without quoted-printable would end the
// property early and corrupt the card; it is written as the escape \n, which the import reads back.
QString oneLine(QString text)
{
    text.replace(u"\r\n"_s, u"\\n"_s);
    text.replace(u'\r', u"\\n"_s);
    text.replace(u'\n', u"\\n"_s);
    return text;
}

// A component of N, ORG or ADR: ";" escaped.
QString escaped(const QString &text)
{
    QString out = text;
    out.replace(u';', u"\\;"_s);
    return out;
}

QString escapedLine(const QString &text)
{
    return oneLine(escaped(text));
}

Property property(const char *name, std::initializer_list<std::pair<const char *, const char *>> params,
                  const QByteArray &value)
{
    Property p;
    p.name = QLatin1String(name);
    for (const auto &[key, v] : params)
        p.parameters.insert(QLatin1String(key), QLatin1String(v));
    p.value = value;
    return p;
}

const std::pair<const char *, const char *> kUtf8{"CHARSET", "UTF-8"};

QString eventText(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QDateTime)
        return value.toDateTime().toString(Qt::ISODate);
    if (value.metaType().id() == QMetaType::QDate)
        return value.toDate().toString(Qt::ISODate);
    return value.toString();
}

} // namespace

Contact contactFromCard(const Card &card)
{
    Contact contact;
    QString formattedName;
    for (const Property &p : card) {
        // Grouped names (Apple's and Google's "item1.TEL") map by the name after the group.
        const QString name = upperBaseName(p);
        if (name == u"FN") {
            formattedName = singleText(p);
        } else if (name == u"N") {
            // Family name first, as every vCard writer puts it (RFC 2426:
            // Family;Given;Additional;Prefix;Suffix).
            DataRow &row = singleRow(contact, ENTITY_NAME);
            const QStringList parts = components(p);
            static const int columns[] = {3, 2, 4, 5, 6};
            for (qsizetype i = 0; i < parts.size() && i < 5; ++i)
                row.setValue(col(columns[i]), parts.at(i));
            row.setValue(col(1), displayName(row));
            contact.full_name = row.text(col(1));
        } else if (name == u"PHOTO") {
            const QByteArray bytes = photoBytes(p);
            if (!bytes.isEmpty())
                singleRow(contact, ENTITY_PHOTO).setValue(col(15), bytes);
        } else if (name == u"TEL") {
            DataRow &row = newRow(contact, ENTITY_PHONE);
            row.setValue(col(1), singleText(p));
            row.setValue(col(2), codeOf(kPhoneTypes, parameter(p, u"TYPE"_s), 2));
        } else if (name == u"EMAIL") {
            DataRow &row = newRow(contact, ENTITY_EMAIL);
            row.setValue(col(1), singleText(p));
            row.setValue(col(2), 1);
        } else if (name == u"NICKNAME") {
            singleRow(contact, ENTITY_NICKNAME).setValue(col(1), singleText(p));
        } else if (name == u"BDAY") {
            DataRow &row = newRow(contact, ENTITY_EVENT);
            row.setValue(col(1), eventDate(singleText(p)));
            row.setValue(col(2), 3);
        } else if (name == u"X-EVENT") {
            DataRow &row = newRow(contact, ENTITY_EVENT);
            row.setValue(col(1), eventDate(singleText(p)));
            row.setValue(col(2), parameter(p, u"TYPE"_s) == u"anniversary" ? 1 : 0);
        } else if (name == u"CATEGORIES") {
            singleRow(contact, ENTITY_GROUP).setValue(col(2), singleText(p));
        } else if (name == u"X-IM") {
            DataRow &row = newRow(contact, ENTITY_IM);
            row.setValue(col(2), 1);
            row.setValue(col(1), singleText(p));
            const int protocol = codeOf(kImTypes, parameter(p, u"TYPE"_s), -1);
            if (protocol >= 0)
                row.setValue(col(5), protocol);
        } else if (name == u"NOTE") {
            singleRow(contact, ENTITY_NOTE).setValue(col(1), singleText(p));
        } else if (name == u"ORG") {
            DataRow &row = singleRow(contact, ENTITY_ORGANIZATION);
            const QStringList parts = components(p);
            if (!parts.isEmpty())
                row.setValue(col(1), parts.at(0));
            if (parts.size() > 1)
                row.setValue(col(5), parts.at(1));
        } else if (name == u"TITLE") {
            singleRow(contact, ENTITY_ORGANIZATION).setValue(col(4), singleText(p));
        } else if (name == u"X-REL") {
            DataRow &row = newRow(contact, ENTITY_RELATION);
            row.setValue(col(1), singleText(p));
            row.setValue(col(2), codeOf(kRelationTypes, parameter(p, u"TYPE"_s), 0));
        } else if (name == u"ADR") {
            DataRow &row = newRow(contact, ENTITY_ADDRESS);
            const QStringList parts = components(p);
            // Components 3 to 7: street, city, region, postcode, country.
            static const int columns[] = {4, 7, 8, 9, 10};
            for (qsizetype i = 2; i < parts.size() && i < 7; ++i)
                row.setValue(col(columns[i - 2]), parts.at(i));
            // Components 1 and 2 (post office box, extended address) are kept only in place of a missing
            // street: some writers (older Google exports, Japanese phones) put the whole address there.
            if (row.text(col(4)).isEmpty()) {
                for (qsizetype i : {1, 0})
                    if (i < parts.size() && !parts.at(i).isEmpty()) {
                        row.setValue(col(4), parts.at(i));
                        break;
                    }
            }
            const QString type = parameter(p, u"TYPE"_s);
            row.setValue(col(2), type == u"home" ? 1 : type == u"work" ? 2 : 0);
            row.setValue(col(1), addressText(row));
        } else if (name == u"URL") {
            DataRow &row = newRow(contact, ENTITY_WEBSITE);
            row.setValue(col(1), singleText(p));
            row.setValue(col(2), codeOf(kWebsiteTypes, parameter(p, u"TYPE"_s), 0));
        }
    }

    // A card named by FN only (vCard 4.0 allows it; companies often are) keeps that name as the given name.
    if (contact.full_name.isEmpty() && !formattedName.trimmed().isEmpty()) {
        DataRow &row = singleRow(contact, ENTITY_NAME);
        row.setValue(col(2), formattedName.trimmed());
        row.setValue(col(1), displayName(row));
        contact.full_name = row.text(col(1));
    }

    for (auto it = contact.entities.begin(); it != contact.entities.end();) {
        QList<DataRow> &rows = it.value();
        rows.removeIf([type = it.key()](const DataRow &row) { return valueless(type, row); });
        it = rows.isEmpty() ? contact.entities.erase(it) : std::next(it);
    }
    return contact;
}

Card cardFromContact(const Contact &contact)
{
    Card card;
    card.append(property("VERSION", {}, "3.0"));
    card.append(property("FN", {kUtf8}, oneLine(contact.full_name).toUtf8()));
    for (auto it = contact.entities.cbegin(); it != contact.entities.cend(); ++it) {
        const int type = it.key();
        for (const DataRow &row : it.value()) {
            const int code = row.text(col(2)).toInt();
            switch (type) {
            case ENTITY_NAME: {
                QStringList parts;
                for (int n : {3, 2, 4, 5, 6})
                    parts.append(escapedLine(row.text(col(n))));
                card.append(property("N", {kUtf8}, parts.join(u';').toUtf8()));
                break;
            }
            case ENTITY_PHOTO: {
                const QByteArray base64 = row.value(col(15)).toByteArray().toBase64();
                QByteArray folded;
                for (qsizetype i = 0; i < base64.size(); i += 75) {
                    if (i > 0)
                        folded += "\r\n ";
                    folded += base64.mid(i, 75);
                }
                card.append(property("PHOTO", {{"ENCODING", "B"}, {"TYPE", "JPEG"}}, folded));
                break;
            }
            case ENTITY_PHONE: {
                Property p = property("TEL", {}, oneLine(row.text(col(1))).toLocal8Bit());
                if (const char *text = textOf(kPhoneTypes, code))
                    p.parameters.insert(u"TYPE"_s, QLatin1String(text));
                card.append(p);
                break;
            }
            case ENTITY_EMAIL:
                card.append(
                    property("EMAIL", {{"TYPE", "internet"}}, oneLine(row.text(col(1))).toLocal8Bit()));
                break;
            case ENTITY_NICKNAME:
                card.append(property("NICKNAME", {kUtf8}, oneLine(row.text(col(1))).toUtf8()));
                break;
            case ENTITY_EVENT: {
                const QByteArray value = oneLine(eventText(row.value(col(1)))).toLocal8Bit();
                if (code == 3)
                    card.append(property("BDAY", {}, value));
                else
                    card.append(property("X-EVENT", {{"TYPE", code == 1 ? "anniversary" : "other"}}, value));
                break;
            }
            case ENTITY_GROUP:
                card.append(property("CATEGORIES", {kUtf8}, oneLine(row.text(col(2))).toUtf8()));
                break;
            case ENTITY_IM: {
                Property p = property("X-IM", {kUtf8}, oneLine(row.text(col(1))).toUtf8());
                if (const char *text = textOf(kImTypes, row.text(col(5)).toInt()))
                    p.parameters.insert(u"TYPE"_s, QLatin1String(text));
                card.append(p);
                break;
            }
            case ENTITY_NOTE:
                card.append(property("NOTE", {kUtf8, {"ENCODING", "QUOTED-PRINTABLE"}},
                                     quotedPrintable(row.text(col(1)).toUtf8())));
                break;
            case ENTITY_ORGANIZATION:
                card.append(property("TITLE", {kUtf8}, oneLine(row.text(col(4))).toUtf8()));
                card.append(
                    property("ORG", {kUtf8},
                             (escapedLine(row.text(col(1))) + u';' + escapedLine(row.text(col(5))) + u";;"_s)
                                 .toUtf8()));
                break;
            case ENTITY_RELATION: {
                Property p = property("X-REL", {kUtf8}, oneLine(row.text(col(1))).toUtf8());
                if (const char *text = textOf(kRelationTypes, code))
                    p.parameters.insert(u"TYPE"_s, QLatin1String(text));
                card.append(p);
                break;
            }
            case ENTITY_ADDRESS: {
                QStringList parts;
                for (int n : {4, 7, 8, 9, 10})
                    parts.append(escaped(row.text(col(n))));
                const char *kind = code == 1 ? "home" : code == 2 ? "work" : "intl";
                card.append(property("ADR", {kUtf8, {"ENCODING", "QUOTED-PRINTABLE"}, {"TYPE", kind}},
                                     quotedPrintable((u";;"_s + parts.join(u';')).toUtf8())));
                break;
            }
            case ENTITY_WEBSITE: {
                const char *text = textOf(kWebsiteTypes, code);
                card.append(property("URL", {{"TYPE", text ? text : "other"}},
                                     oneLine(row.text(col(1))).toLocal8Bit()));
                break;
            }
            default:
                break; // other types are not written
            }
        }
    }
    return card;
}

} // namespace vcard
