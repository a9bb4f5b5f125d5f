// The mapping between vCard properties and the rows of a contact, both ways.

#include "vcard.h"
#include "vcardmapper.h"

#include <QDate>
#include <QDateTime>
#include <QStringDecoder>
#include <QtDebug>

#include <array>
#include <optional>

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

using detail::ParamView;
using detail::PropertyKind;
using detail::PropertyView;

// A parameter as parameter() finds it: the exact name first, else the first name (in name order) equal to it
// without regard to case. Null when absent.
const ParamView *findParam(const PropertyView &p, QLatin1StringView name)
{
    const QByteArrayView bytes(name.data(), name.size());
    for (qsizetype i = 0; i < p.paramCount; ++i)
        if (p.params[i].name == bytes)
            return p.params + i;
    for (qsizetype i = 0; i < p.paramCount; ++i)
        if (detail::equalsNoCase(p.params[i].name, name))
            return p.params + i;
    return nullptr;
}

// The parameter's value as UTF-8; empty when absent or written without "=".
QByteArrayView paramValue(const PropertyView &p, QLatin1StringView name)
{
    const ParamView *param = findParam(p, name);
    return param ? param->value : QByteArrayView();
}

enum class Transfer { None, QuotedPrintable, Base64, EightBit };

// The same rule as the parser's: the value of ENCODING or the name of a bare parameter, the last match (in
// name order) winning.
Transfer transferOf(const PropertyView &p)
{
    Transfer transfer = Transfer::None;
    for (qsizetype i = 0; i < p.paramCount; ++i) {
        const ParamView &param = p.params[i];
        const QByteArrayView word = detail::equalsNoCase(param.name, "ENCODING"_L1) ? param.value : param.name;
        if (detail::equalsNoCase(word, "QUOTED-PRINTABLE"_L1))
            transfer = Transfer::QuotedPrintable;
        else if (detail::equalsNoCase(word, "BASE64"_L1) || detail::equalsNoCase(word, "B"_L1))
            transfer = Transfer::Base64;
        else if (detail::equalsNoCase(word, "8BIT"_L1))
            transfer = Transfer::EightBit;
    }
    return transfer;
}

// A "TYPE" text against a table: the whole value compared exactly.
template <std::size_t N> int codeOf(const TypeText (&table)[N], QByteArrayView text, int otherwise)
{
    for (const TypeText &t : table)
        if (text == t.text)
            return t.code;
    return otherwise;
}

// Picture bytes: a Base64 value, or a vCard 4.0 data: URI. Anything else is a reference to a picture
// elsewhere (a web address), not a picture; it yields nothing.
QByteArray photoBytes(const PropertyView &p)
{
    if (transferOf(p) == Transfer::Base64)
        return QByteArray(p.value.data(), p.value.size());
    const QByteArrayView text = p.value.trimmed();
    const qsizetype marker = text.indexOf(";base64,");
    if (text.size() > 5 && qstrnicmp(text.data(), "data:", 5) == 0 && marker > 0)
        return QByteArray::fromBase64(text.sliced(marker + 8).toByteArray());
    if (!text.isEmpty())
        qDebug("vCard: PHOTO that is no picture but a reference ignored");
    return {};
}

const QStringList &organizationColumns()
{
    static const QStringList columns{col(1), col(4), col(5)};
    return columns;
}

const QStringList &addressColumns()
{
    static const QStringList columns{col(4), col(7), col(8), col(9), col(10)};
    return columns;
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
    case ENTITY_EVENT: {
        // A date the import parsed has ISO 8601 text for every year from 1 to 9999; no need to make it.
        const QVariant date = row.value(col(1));
        if (date.metaType().id() == QMetaType::QDateTime) {
            const QDateTime dateTime = date.toDateTime();
            if (dateTime.isValid() && dateTime.date().year() >= 1 && dateTime.date().year() <= 9999)
                return false;
        }
        return valueEmpty(date);
    }
    case ENTITY_GROUP:
        return row.text(col(2)).isEmpty();
    case ENTITY_ORGANIZATION:
        return rowEmpty(row, organizationColumns());
    case ENTITY_ADDRESS:
        return rowEmpty(row, addressColumns());
    default:
        return valueEmpty(row.value(col(1)));
    }
}

// Texts in the local 8-bit encoding; ASCII reads the same in every encoding Qt has for it, and Latin-1 is the
// quickest way there.
QString fromLocal8Bit(QByteArrayView bytes)
{
    return !bytes.isEmpty() && detail::isAscii(bytes) ? QString::fromLatin1(bytes) : QString::fromLocal8Bit(bytes);
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

namespace detail {

// The codecs that CHARSET parameters named, by the parameter's text. Qt's own codecs are kept and reset
// before each value (a reset codec decodes as a new one does); others are made anew for every value.
struct CardMapper::Codecs
{
    struct Entry
    {
        QByteArray charset; // the parameter's text
        QByteArray name;    // as handed to the codec registry
        bool valid = false;
        bool builtIn = false;
        bool asciiIsLatin1 = false; // UTF-8 or Latin-1: ASCII bytes read as themselves
        std::optional<QStringDecoder> decoder;
    };
    std::vector<Entry> entries;

    Entry &entry(QByteArrayView charset)
    {
        for (Entry &e : entries)
            if (e.charset == charset)
                return e;
        Entry e;
        e.charset = charset.toByteArray();
        // As QString::toLatin1 has it: a character outside Latin-1 becomes "?".
        e.name = isAscii(charset) ? e.charset : QString::fromUtf8(charset).toLatin1();
        QStringDecoder decoder(e.name.constData());
        e.valid = decoder.isValid();
        const std::optional<QStringConverter::Encoding> encoding =
            QStringConverter::encodingForName(e.name.constData());
        e.builtIn = e.valid && encoding.has_value();
        e.asciiIsLatin1 = e.builtIn && (*encoding == QStringConverter::Utf8 || *encoding == QStringConverter::Latin1);
        if (e.builtIn)
            e.decoder.emplace(std::move(decoder));
        entries.push_back(std::move(e));
        return entries.back();
    }
};

CardMapper::CardMapper() : m_codecs(std::make_unique<Codecs>()) {}

CardMapper::~CardMapper() = default;

QString CardMapper::text(const PropertyView &p)
{
    const QByteArrayView charset = paramValue(p, "CHARSET"_L1);
    if (!charset.isEmpty()) {
        Codecs::Entry &codec = m_codecs->entry(charset);
        if (codec.asciiIsLatin1 && !p.value.isEmpty() && isAscii(p.value))
            return QString::fromLatin1(p.value);
        if (codec.builtIn) {
            codec.decoder->resetState();
            return codec.decoder->decode(p.value);
        }
        if (codec.valid) {
            QStringDecoder decoder(codec.name.constData());
            return decoder.decode(p.value);
        }
    }
    return fromLocal8Bit(p.value);
}

Contact CardMapper::contact(const CardView &card)
{
    // The text of a single value: charset decoded, and text escapes undone unless it was quoted-printable.
    const auto singleText = [this](const PropertyView &p) {
        const QString text = this->text(p);
        return transferOf(p) == Transfer::QuotedPrintable ? text : unescapeText(text);
    };
    const auto components = [this](const PropertyView &p) {
        return splitComponents(this->text(p), transferOf(p) != Transfer::QuotedPrintable);
    };
    const auto type = [](const PropertyView &p) { return paramValue(p, "TYPE"_L1); };

    Contact contact;
    QString formattedName;
    for (const PropertyView &p : card) {
        // Grouped names (Apple's and Google's "item1.TEL") map by the name after the group.
        switch (p.kind) {
        case PropertyKind::Other:
        case PropertyKind::Version:
            break;
        case PropertyKind::FN:
            formattedName = singleText(p);
            break;
        case PropertyKind::N: {
            // Family name first, as every vCard writer puts it (RFC 2426:
            // Family;Given;Additional;Prefix;Suffix).
            DataRow &row = singleRow(contact, ENTITY_NAME);
            const QStringList parts = components(p);
            static const int columns[] = {3, 2, 4, 5, 6};
            for (qsizetype i = 0; i < parts.size() && i < 5; ++i)
                row.setValue(col(columns[i]), parts.at(i));
            row.setValue(col(1), displayName(row));
            contact.full_name = row.text(col(1));
            break;
        }
        case PropertyKind::Photo: {
            const QByteArray bytes = photoBytes(p);
            if (!bytes.isEmpty())
                singleRow(contact, ENTITY_PHOTO).setValue(col(15), bytes);
            break;
        }
        case PropertyKind::Tel: {
            DataRow &row = newRow(contact, ENTITY_PHONE);
            row.setValue(col(1), singleText(p));
            row.setValue(col(2), codeOf(kPhoneTypes, type(p), 2));
            break;
        }
        case PropertyKind::Email: {
            DataRow &row = newRow(contact, ENTITY_EMAIL);
            row.setValue(col(1), singleText(p));
            row.setValue(col(2), 1);
            break;
        }
        case PropertyKind::Nickname:
            singleRow(contact, ENTITY_NICKNAME).setValue(col(1), singleText(p));
            break;
        case PropertyKind::Bday: {
            DataRow &row = newRow(contact, ENTITY_EVENT);
            row.setValue(col(1), eventDate(singleText(p)));
            row.setValue(col(2), 3);
            break;
        }
        case PropertyKind::XEvent: {
            DataRow &row = newRow(contact, ENTITY_EVENT);
            row.setValue(col(1), eventDate(singleText(p)));
            row.setValue(col(2), type(p) == "anniversary" ? 1 : 0);
            break;
        }
        case PropertyKind::Categories:
            singleRow(contact, ENTITY_GROUP).setValue(col(2), singleText(p));
            break;
        case PropertyKind::XIm: {
            DataRow &row = newRow(contact, ENTITY_IM);
            row.setValue(col(2), 1);
            row.setValue(col(1), singleText(p));
            const int protocol = codeOf(kImTypes, type(p), -1);
            if (protocol >= 0)
                row.setValue(col(5), protocol);
            break;
        }
        case PropertyKind::Note:
            singleRow(contact, ENTITY_NOTE).setValue(col(1), singleText(p));
            break;
        case PropertyKind::Org: {
            DataRow &row = singleRow(contact, ENTITY_ORGANIZATION);
            const QStringList parts = components(p);
            if (!parts.isEmpty())
                row.setValue(col(1), parts.at(0));
            if (parts.size() > 1)
                row.setValue(col(5), parts.at(1));
            break;
        }
        case PropertyKind::Title:
            singleRow(contact, ENTITY_ORGANIZATION).setValue(col(4), singleText(p));
            break;
        case PropertyKind::XRel: {
            DataRow &row = newRow(contact, ENTITY_RELATION);
            row.setValue(col(1), singleText(p));
            row.setValue(col(2), codeOf(kRelationTypes, type(p), 0));
            break;
        }
        case PropertyKind::Adr: {
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
            const QByteArrayView kind = type(p);
            row.setValue(col(2), kind == "home" ? 1 : kind == "work" ? 2 : 0);
            row.setValue(col(1), addressText(row));
            break;
        }
        case PropertyKind::Url: {
            DataRow &row = newRow(contact, ENTITY_WEBSITE);
            row.setValue(col(1), singleText(p));
            row.setValue(col(2), codeOf(kWebsiteTypes, type(p), 0));
            break;
        }
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

} // namespace detail

Contact contactFromCard(const Card &card)
{
    const detail::CardViews views = detail::cardViews(card);
    return detail::CardMapper().contact(views.card);
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
