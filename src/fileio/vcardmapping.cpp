// The mapping between vCard properties and the rows of a contact, both ways.

#include "contacts/contactname.h"
#include "contacts/ioslabels.h"
#include "fileio/log.h"
#include "fileio/vcard.h"
#include "fileio/vcardmapper.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QStringDecoder>
#include <QtDebug>

#include <array>
#include <optional>

using namespace Qt::StringLiterals;
using namespace pim;

namespace vcard {

namespace {

// "TYPE" words of the relation and website codes, read without regard to case and written as they are.
struct TypeText
{
    int code;
    const char *text;
};

constexpr TypeText kRelationTypes[] = {{1, "assistant"}, {2, "brother"},  {3, "child"},   {4, "dompartner"},
                                       {5, "father"},    {6, "friend"},   {7, "manager"}, {8, "mother"},
                                       {9, "parent"},    {10, "partner"}, {11, "ref"},    {12, "relative"},
                                       {13, "sister"},   {14, "spouse"}};
// Website words are written in capitals: KDE's reader takes URL kinds only in capitals.
constexpr TypeText kWebsiteTypes[] = {{1, "HOMEPAGE"}, {2, "BLOG"}, {3, "PROFILE"},
                                      {4, "HOME"},     {5, "WORK"}, {6, "FTP"}};

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
        qCDebug(lcFileio, "vCard: PHOTO that is no picture but a reference ignored");
    return {};
}

const QStringList &organizationColumns()
{
    static const QStringList columns{col(1), col(4), col(5)};
    return columns;
}

const QStringList &addressColumns()
{
    static const QStringList columns{col(4), col(5), col(6), col(7), col(8), col(9), col(10)};
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
    case ENTITY_GROUP:
        return row.text(col(2)).isEmpty();
    case ENTITY_ORGANIZATION:
        return rowEmpty(row, organizationColumns());
    case ENTITY_ADDRESS:
        return rowEmpty(row, addressColumns());
    case ENTITY_IM:
        return row.text(col(1)).trimmed().isEmpty();
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

// The group of a property name: "item1" of "item1.TEL"; empty without one.
QByteArrayView groupOf(QByteArrayView name)
{
    const qsizetype dot = name.lastIndexOf('.');
    return dot > 0 ? name.first(dot) : QByteArrayView();
}

// The words of one TYPE value or bare parameter name, as kindWords takes them: split on ",", trimmed, lower
// case, quotes removed (vCard 4.0 quotes lists: TYPE="work,voice"), Evolution's "x-evolution-" and the "x-"
// prefix removed, empty ones left out.
void appendKindWords(QByteArrayView text, QStringList &words)
{
    for (const QString &part : QString::fromUtf8(text).split(u',')) {
        QString word = part.trimmed().toLower().remove(u'"');
        if (word.startsWith(u"x-evolution-"))
            word = word.mid(12);
        else if (word.startsWith(u"x-"))
            word = word.mid(2);
        if (!word.isEmpty())
            words.append(word);
    }
}

// The text a parameter gives kind words from: a TYPE value, or the name of a parameter written without "=";
// false for any other parameter.
bool kindText(const ParamView &param, QByteArrayView &text)
{
    if (detail::equalsNoCase(param.name, "TYPE"_L1))
        text = param.value;
    else if (!param.hasValue)
        text = param.name;
    else
        return false;
    return true;
}

// The kind words of a property: every TYPE value (lists split on ","; TYPE written again adds its values), and
// every parameter written without "=" (vCard 2.1: TEL;WORK;FAX). "pref", "voice" and "internet" stay in the
// list but decide nothing below.
QStringList kindWords(const PropertyView &p)
{
    QStringList words;
    QByteArrayView text;
    for (qsizetype i = 0; i < p.allParamCount; ++i)
        if (kindText(p.allParams[i], text))
            appendKindWords(text, words);
    return words;
}

// The kind words that decide the codes of phones, e-mail addresses, postal addresses and URLs, as bits of a
// KindSet, so that those properties (most of a card) are read without making a string per word.
enum Kind : quint32 {
    KindWork,
    KindHome,
    KindAssistant,
    KindCallback,
    KindRadio,
    KindTelex,
    KindTlx,
    KindTty,
    KindTtyTdd,
    KindTdd,
    KindTextphone,
    KindMms,
    KindIsdn,
    KindCar,
    KindCompany,
    KindPager,
    KindFax,
    KindCell,
    KindMobile,
    KindIphone,
    KindPcs,
    KindMain,
    KindHomepage,
    KindHomePageDash,
    KindBlog,
    KindProfile,
    KindFtp,
    KindCount
};
constexpr const char *kKindNames[KindCount] = {
    "work",   "home",      "assistant", "callback", "radio",    "telex",     "tlx",   "tty",     "ttytdd",
    "tdd",    "textphone", "mms",       "isdn",     "car",      "company",   "pager", "fax",     "cell",
    "mobile", "iphone",    "pcs",       "main",     "homepage", "home-page", "blog",  "profile", "ftp"};
constexpr qsizetype kLongestKindWord = 12 + 9; // "x-evolution-" and "textphone"

class KindSet
{
public:
    bool has(Kind kind) const { return m_bits & (1u << kind); }
    bool hasAny(std::initializer_list<Kind> kinds) const
    {
        for (Kind kind : kinds)
            if (has(kind))
                return true;
        return false;
    }
    // A word as kindWords gives it.
    void add(QStringView word)
    {
        for (quint32 k = 0; k < KindCount; ++k)
            if (word == QLatin1StringView(kKindNames[k]))
                m_bits |= 1u << k;
    }
    // A word in lower-case ASCII, quotes removed, prefix not yet removed.
    void addAscii(QByteArrayView word)
    {
        if (word.startsWith("x-evolution-"))
            word = word.sliced(12);
        else if (word.startsWith("x-"))
            word = word.sliced(2);
        for (quint32 k = 0; k < KindCount; ++k)
            if (word == kKindNames[k])
                m_bits |= 1u << k;
    }

private:
    quint32 m_bits = 0;
};

bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The kinds of a property, as kindWords would name them. ASCII text (nearly all) is split, trimmed and lowered
// in place; other text goes through kindWords' own steps, since Unicode lowering turns some letters outside
// ASCII into ASCII ones (the Kelvin sign into "k").
KindSet kindSet(const PropertyView &p)
{
    KindSet set;
    QByteArrayView text;
    QStringList words;
    for (qsizetype i = 0; i < p.allParamCount; ++i) {
        if (!kindText(p.allParams[i], text))
            continue;
        if (!detail::isAscii(text)) {
            words.clear();
            appendKindWords(text, words);
            for (const QString &word : std::as_const(words))
                set.add(word);
            continue;
        }
        qsizetype start = 0;
        while (start <= text.size()) {
            qsizetype end = text.indexOf(',', start);
            if (end < 0)
                end = text.size();
            qsizetype from = start;
            qsizetype to = end;
            while (from < to && isAsciiSpace(text[from]))
                ++from;
            while (to > from && isAsciiSpace(text[to - 1]))
                --to;
            char word[kLongestKindWord];
            qsizetype length = 0;
            for (qsizetype k = from; k < to && length <= kLongestKindWord; ++k) {
                const char c = text[k];
                if (c == '"')
                    continue;
                if (length < kLongestKindWord)
                    word[length] = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
                ++length;
            }
            // Longer than any known word with its prefix: no kind.
            if (length <= kLongestKindWord)
                set.addAscii(QByteArrayView(word, length));
            start = end + 1;
        }
    }
    return set;
}

// The phone code that best fits the whole set of words: the special kinds first, then pager, fax and mobile
// with work or home deciding between their variants, then main, home, work. Nothing decisive: Other.
int phoneCode(KindSet w)
{
    const bool work = w.has(KindWork);
    const bool home = w.has(KindHome);
    if (w.has(KindAssistant))
        return 19;
    if (w.has(KindCallback))
        return 8;
    if (w.has(KindRadio))
        return 14;
    if (w.hasAny({KindTelex, KindTlx}))
        return 15;
    if (w.hasAny({KindTty, KindTtyTdd, KindTdd, KindTextphone}))
        return 16;
    if (w.has(KindMms))
        return 20;
    if (w.has(KindIsdn))
        return 11;
    if (w.has(KindCar))
        return 9;
    if (w.has(KindCompany))
        return 10;
    if (w.has(KindPager))
        return work ? 18 : 6;
    if (w.has(KindFax))
        return work ? 4 : home ? 5 : 13;
    if (w.hasAny({KindCell, KindMobile, KindIphone, KindPcs}))
        return work ? 17 : 2;
    if (w.has(KindMain))
        return 12;
    if (home)
        return 1;
    if (work)
        return 3;
    return 0;
}

// E-mail: an address without a kind is Other, as other readers take it; except "TYPE=internet" in lower case
// alone, which this program wrote for its Home addresses.
int emailCode(KindSet w, bool ownHome)
{
    if (w.has(KindHome))
        return 1;
    if (w.has(KindWork))
        return 2;
    if (w.hasAny({KindCell, KindMobile}))
        return 4;
    return ownHome ? 1 : 0;
}

int addressCode(KindSet w)
{
    if (w.has(KindHome))
        return 1;
    if (w.has(KindWork))
        return 2;
    return 0;
}

int websiteCode(KindSet w)
{
    static const std::pair<Kind, int> kinds[] = {{KindHomepage, 1}, {KindHomePageDash, 1}, {KindBlog, 2},
                                                 {KindProfile, 3},  {KindHome, 4},         {KindWork, 5},
                                                 {KindFtp, 6}};
    for (const auto &[kind, code] : kinds)
        if (w.has(kind))
            return code;
    return 0;
}

int relationCode(const QStringList &w)
{
    for (const QString &word : w)
        for (const TypeText &t : kRelationTypes)
            if (word == QLatin1StringView(t.text))
                return t.code;
    return 0;
}

// The IM protocol code of a service name (X-SERVICE-TYPE, an X- property, an IMPP scheme or this program's
// own X-IM type); -1 for a service without a code.
int imProtocol(QString service)
{
    service = service.toLower().remove(u' ').remove(u'-').remove(u'_');
    static const std::pair<const char16_t *, int> services[] = {
        {u"aim", 1},       {u"msn", 2},    {u"msnim", 2},     {u"windowslive", 2}, {u"yahoo", 3},
        {u"ymsgr", 3},     {u"skype", 4},  {u"qq", 5},        {u"googletalk", 6},  {u"gtalk", 6},
        {u"icq", 7},       {u"jabber", 8}, {u"xmpp", 8},      {u"netmeeting", 9},  {u"netmetting", 9},
        {u"gadugadu", 10}, {u"gg", 10},    {u"facebook", 11}, {u"other", 0}};
    for (const auto &[name, code] : services)
        if (service == QStringView(name))
            return code;
    return -1;
}

// The account of an IM URI without its scheme: "goim?screenname=jo" (aim), "sendIM?jo" (ymsgr),
// "chat?contact=jo" (msnim) and "jo?call" (skype) all give "jo".
QString imHandle(QString rest)
{
    const qsizetype question = rest.indexOf(u'?');
    if (question < 0)
        return rest;
    const QString before = rest.left(question);
    QString query = rest.mid(question + 1);
    if (before.compare(u"goim"_s, Qt::CaseInsensitive) == 0 || before.compare(u"sendIM"_s, Qt::CaseInsensitive) == 0 ||
        before.compare(u"chat"_s, Qt::CaseInsensitive) == 0 || before.isEmpty()) {
        const qsizetype equals = query.indexOf(u'=');
        if (equals >= 0)
            query = query.mid(equals + 1);
        return query.section(u'&', 0, 0);
    }
    return before;
}

QString withoutScheme(const QString &value, QStringView scheme)
{
    return value.startsWith(scheme, Qt::CaseInsensitive) ? value.mid(scheme.size()).trimmed() : value;
}

// Apple marks a date given without a year by the parameter X-APPLE-OMIT-YEAR (and writes year 1604).
bool omitsYear(const PropertyView &p)
{
    return findParam(p, "X-APPLE-OMIT-YEAR"_L1) != nullptr;
}

// The values of a CATEGORIES list: split on "," that is not escaped, each unescaped and trimmed, the empty
// ones left out.
QStringList splitList(const QString &value, bool textEscapes)
{
    QStringList out;
    QString current;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == u'\\' && textEscapes && i + 1 < value.size()) {
            current += c;
            current += value.at(++i);
            continue;
        }
        if (c == u',') {
            out.append(current);
            current.clear();
            continue;
        }
        current += c;
    }
    out.append(current);
    QStringList names;
    for (const QString &part : std::as_const(out)) {
        const QString name = (textEscapes ? unescapeText(part) : part).trimmed();
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}

// The entity type of a label family, for the table of the phone's own labels.
int entityOfFamily(LabelFamily family)
{
    switch (family) {
    case LabelFamily::Phone:
        return ENTITY_PHONE;
    case LabelFamily::Email:
        return ENTITY_EMAIL;
    case LabelFamily::Address:
        return ENTITY_ADDRESS;
    case LabelFamily::Event:
        return ENTITY_EVENT;
    case LabelFamily::Website:
        return ENTITY_WEBSITE;
    case LabelFamily::Relation:
        return ENTITY_RELATION;
    default:
        return 0;
    }
}

// Rows a card holds twice (Apple writes an IM account as IMPP and as X-AIM; this program writes anniversaries
// under two names) are kept once. Types of which a card may hold the same value twice on purpose are left.
void dropRepeats(int type, QList<DataRow> &rows)
{
    if (type != ENTITY_IM && type != ENTITY_EVENT && type != ENTITY_GROUP)
        return;
    QSet<QString> seen;
    rows.removeIf([&seen](const DataRow &row) {
        QString key;
        for (int n : {1, 2, 3, 5, 6})
            key += row.text(col(n)) + u'\x1f';
        if (seen.contains(key))
            return true;
        seen.insert(key);
        return false;
    });
}

// A text value as vCard 3.0 writes it: "\", ",", ";" and line breaks escaped, so that readers take a note
// with commas or several lines whole.
QString escapedText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\\' || c == u',' || c == u';') {
            out += u'\\';
            out += c;
        } else if (c == u'\r') {
            out += u"\\n"_s;
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
        } else if (c == u'\n') {
            out += u"\\n"_s;
        } else {
            out += c;
        }
    }
    return out;
}

// TYPE words of the phone codes, as both KDE's and Evolution's readers know them (Evolution's own words for
// the kinds vCard has no word for).
const char *phoneTypes(int code)
{
    switch (code) {
    case 1:
        return "HOME,VOICE";
    case 2:
        return "CELL";
    case 3:
        return "WORK,VOICE";
    case 4:
        return "WORK,FAX";
    case 5:
        return "HOME,FAX";
    case 6:
        return "PAGER";
    case 8:
        return "X-EVOLUTION-CALLBACK";
    case 9:
        return "CAR";
    case 10:
        return "X-EVOLUTION-COMPANY";
    case 11:
        return "ISDN";
    case 12:
        return "MAIN";
    case 13:
        return "FAX";
    case 14:
        return "X-EVOLUTION-RADIO";
    case 15:
        return "X-EVOLUTION-TELEX";
    case 16:
        return "X-EVOLUTION-TTYTDD";
    case 17:
        return "WORK,CELL";
    case 18:
        return "WORK,PAGER";
    case 19:
        return "X-EVOLUTION-ASSISTANT";
    case 20:
        return "X-MMS";
    default:
        return "VOICE";
    }
}

const char *emailTypes(int code)
{
    switch (code) {
    case 1:
        return "INTERNET,HOME";
    case 2:
        return "INTERNET,WORK";
    case 4:
        return "INTERNET,CELL";
    default:
        return "INTERNET,OTHER";
    }
}

// IM services: the X-SERVICE-TYPE and URI scheme of IMPP, and the X- property older readers know.
struct ImService
{
    int code;
    const char *service;
    const char *scheme;
    const char *property;
};
constexpr ImService kImServices[] = {{1, "AIM", "aim", "X-AIM"},       {2, "MSN", "msnim", "X-MSN"},
                                     {3, "Yahoo", "ymsgr", "X-YAHOO"}, {4, "Skype", "skype", "X-SKYPE"},
                                     {5, "QQ", "x-apple", "X-QQ"},     {6, "GoogleTalk", "xmpp", "X-GOOGLE-TALK"},
                                     {7, "ICQ", "icq", "X-ICQ"},       {8, "Jabber", "xmpp", "X-JABBER"},
                                     {9, "NetMeeting", "x-apple", ""}, {10, "GaduGadu", "x-apple", "X-GADUGADU"},
                                     {11, "Facebook", "xmpp", ""}};

template <typename Add> void appendIm(Card &card, const DataRow &row, const Add &add)
{
    Q_UNUSED(card);
    const QString handle = oneLine(row.text(col(1)));
    const QString custom = row.text(col(6));
    const ImService *known = nullptr;
    for (const ImService &s : kImServices)
        if (s.code == row.text(col(5)).toInt() && custom.isEmpty())
            known = &s;
    const char *kind = row.text(col(2)).toInt() == 2 ? "WORK" : row.text(col(2)).toInt() == 0 ? "OTHER" : "HOME";
    Property impp = property("IMPP", {{"TYPE", kind}}, QByteArray());
    const QString service = known ? QLatin1String(known->service) : custom.isEmpty() ? u"Other"_s : custom;
    impp.parameters.insert(u"X-SERVICE-TYPE"_s, service);
    impp.value = (QLatin1String(known ? known->scheme : "x-apple") + u':' + handle).toUtf8();
    add(impp, row.text(col(3)));
    if (known && *known->property)
        add(property(known->property, {{"TYPE", kind}}, escapedText(handle).toUtf8()), QString());
}

} // namespace

static bool isCjk(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3040 && u <= 0x30FF) || (u >= 0x3400 && u <= 0x9FFF) || (u >= 0xAC00 && u <= 0xD7AF) ||
            (u >= 0xF900 && u <= 0xFAFF))
            return true;
    }
    return false;
}

// The display name of an N value: given name first, except for Chinese, Japanese and Korean names, which
// are written family name first.
QString composedName(const DataRow &row)
{
    const QString family = row.text(col(3));
    const QString given = row.text(col(2));
    if (!isCjk(family + given))
        return displayName(row);
    QStringList parts;
    for (const QString &part : {row.text(col(5)), family, row.text(col(4)), given, row.text(col(6))})
        if (!part.isEmpty())
            parts.append(part);
    return parts.join(u' ');
}

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

CardMapper::CardMapper() : m_codecs(std::make_unique<Codecs>())
{
}

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

    // Apple and Google label a grouped value by an X-ABLabel in the same group ("item1.TEL" and
    // "item1.X-ABLabel"); the labels are gathered first, as the label may come before or after its value.
    QHash<QByteArray, QString> groupLabels;
    for (const PropertyView &p : card) {
        if (p.kind != PropertyKind::XAbLabel)
            continue;
        const QByteArrayView group = groupOf(p.name);
        if (!group.isEmpty())
            groupLabels.insert(group.toByteArray().toLower(), singleText(p).trimmed());
    }
    const auto labelOf = [&groupLabels](const PropertyView &p) {
        const QByteArrayView group = groupOf(p.name);
        return group.isEmpty() ? QString() : groupLabels.value(group.toByteArray().toLower());
    };
    // The kind from the property's TYPE words, then its label: an Apple token names a kind, other text is the
    // row's custom label (a label equal to the kind's own name is that kind).
    const auto applyKind = [&labelOf](DataRow &row, const PropertyView &p, LabelFamily family, int code) {
        row.setValue(col(2), code);
        const QString label = labelOf(p);
        if (label.isEmpty())
            return;
        // Apple's tokens ("_$!<Mobile>!$_") by the table the iPhone link uses; a token it does not know is the
        // word inside it ("_$!<School>!$_" is "School").
        const int token = ioslabels::codeOfFileLabel(entityOfFamily(family), label);
        if (token >= 0) {
            row.setValue(col(2), token);
            return;
        }
        const QString text = ioslabels::customLabelText(label);
        const QMap<int, QString> &table = labelTable(family);
        for (auto it = table.cbegin(); it != table.cend(); ++it)
            if (it.value().compare(text, Qt::CaseInsensitive) == 0) {
                row.setValue(col(2), it.key());
                return;
            }
        row.setValue(col(3), text);
    };

    Contact contact;
    QString formattedName;
    QString firstOrg, firstEmail, firstPhone; // what names a card that has neither N nor FN
    QString phonetic[2];                      // given and family name as spoken
    QList<std::pair<int, QString>> labels;    // formatted addresses (LABEL): kind code, text
    for (const PropertyView &p : card) {
        // Grouped names (Apple's and Google's "item1.TEL") map by the name after the group.
        switch (p.kind) {
        case PropertyKind::Other:
        case PropertyKind::Version:
        case PropertyKind::XAbLabel:
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
                row.setValue(col(columns[i]), parts.at(i).trimmed());
            row.setValue(col(1), composedName(row));
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
            row.setValue(col(1), withoutScheme(singleText(p).trimmed(), u"tel:"));
            applyKind(row, p, LabelFamily::Phone, phoneCode(kindSet(p)));
            if (firstPhone.isEmpty())
                firstPhone = row.text(col(1));
            break;
        }
        case PropertyKind::Email: {
            DataRow &row = newRow(contact, ENTITY_EMAIL);
            row.setValue(col(1), withoutScheme(singleText(p).trimmed(), u"mailto:"));
            applyKind(row, p, LabelFamily::Email, emailCode(kindSet(p), paramValue(p, "TYPE"_L1) == "internet"));
            if (firstEmail.isEmpty())
                firstEmail = row.text(col(1));
            break;
        }
        case PropertyKind::Nickname:
            singleRow(contact, ENTITY_NICKNAME).setValue(col(1), singleText(p));
            break;
        case PropertyKind::Bday: {
            DataRow &row = newRow(contact, ENTITY_EVENT);
            row.setValue(col(1), eventDate(singleText(p), omitsYear(p)));
            row.setValue(col(2), 3);
            break;
        }
        case PropertyKind::XEvent: {
            DataRow &row = newRow(contact, ENTITY_EVENT);
            row.setValue(col(1), eventDate(singleText(p), omitsYear(p)));
            row.setValue(col(2), kindWords(p).contains(u"anniversary"_s) ? 1 : 0);
            break;
        }
        case PropertyKind::Anniversary: {
            DataRow &row = newRow(contact, ENTITY_EVENT);
            row.setValue(col(1), eventDate(singleText(p), omitsYear(p)));
            row.setValue(col(2), 1);
            break;
        }
        case PropertyKind::XAbDate: {
            DataRow &row = newRow(contact, ENTITY_EVENT);
            row.setValue(col(1), eventDate(singleText(p), omitsYear(p)));
            applyKind(row, p, LabelFamily::Event, 0);
            break;
        }
        case PropertyKind::Categories:
            // One group per value: "Friends,Family" is two groups.
            for (const QString &name : splitList(text(p), transferOf(p) != Transfer::QuotedPrintable)) {
                DataRow &row = newRow(contact, ENTITY_GROUP);
                row.setValue(col(2), name);
            }
            break;
        case PropertyKind::XIm: {
            DataRow &row = newRow(contact, ENTITY_IM);
            row.setValue(col(2), 1);
            const QStringList words = kindWords(p);
            const int protocol = words.isEmpty() ? -1 : imProtocol(words.first());
            row.setValue(col(1), singleText(p).trimmed());
            if (protocol >= 0)
                row.setValue(col(5), protocol);
            break;
        }
        case PropertyKind::Impp:
        case PropertyKind::XImService: {
            DataRow &row = newRow(contact, ENTITY_IM);
            const QString value = singleText(p).trimmed();
            // The service: X-SERVICE-TYPE (Apple), else the property's own name (X-SKYPE), else the URI's scheme.
            QString service = QString::fromUtf8(paramValue(p, "X-SERVICE-TYPE"_L1)).trimmed();
            if (service.isEmpty() && p.kind == PropertyKind::XImService) {
                const QByteArrayView name = p.name.sliced(p.name.lastIndexOf('.') + 1);
                service = QString::fromUtf8(name.sliced(2)); // without "X-"
                if (service.endsWith(u"-USERNAME"_s, Qt::CaseInsensitive))
                    service.chop(9);
                if (service.compare(u"MS-IMADDRESS"_s, Qt::CaseInsensitive) == 0)
                    service = u"Other"_s; // Outlook's address of any service
                else if (service.compare(u"GROUPWISE"_s, Qt::CaseInsensitive) == 0)
                    service = u"GroupWise"_s;
            }
            const qsizetype colon = value.indexOf(u':');
            const bool uri = p.kind == PropertyKind::Impp && colon > 0;
            if (service.isEmpty() && uri)
                service = value.left(colon);
            row.setValue(col(1), uri ? imHandle(value.mid(colon + 1)) : value);
            const QStringList words = kindWords(p);
            row.setValue(col(2), words.contains(u"work"_s) ? 2 : words.contains(u"other"_s) ? 0 : 1);
            const int protocol = imProtocol(service);
            row.setValue(col(5), std::max(protocol, 0));
            if (protocol < 0 && !service.isEmpty())
                row.setValue(col(6), service);
            break;
        }
        case PropertyKind::Note: {
            // Several NOTE lines (phones write one per memo) are kept as one note, a line each.
            DataRow &row = singleRow(contact, ENTITY_NOTE);
            const QString held = row.text(col(1));
            const QString note = singleText(p);
            row.setValue(col(1), held.isEmpty() ? note : note.isEmpty() ? held : held + u'\n' + note);
            break;
        }
        case PropertyKind::Org: {
            // A second ORG is a second organization; TITLE belongs to the first.
            const bool another = !contact.entities.value(ENTITY_ORGANIZATION).isEmpty() &&
                                 !contact.entities.value(ENTITY_ORGANIZATION).first().text(col(1)).isEmpty();
            DataRow &row = another ? newRow(contact, ENTITY_ORGANIZATION) : singleRow(contact, ENTITY_ORGANIZATION);
            const QStringList parts = components(p);
            if (!parts.isEmpty())
                row.setValue(col(1), parts.at(0).trimmed());
            if (parts.size() > 1)
                row.setValue(col(5), parts.mid(1).join(u", "_s).trimmed());
            if (firstOrg.isEmpty())
                firstOrg = row.text(col(1));
            break;
        }
        case PropertyKind::Title:
            singleRow(contact, ENTITY_ORGANIZATION).setValue(col(4), singleText(p));
            break;
        case PropertyKind::XNamedRelation: {
            DataRow &row = newRow(contact, ENTITY_RELATION);
            row.setValue(col(1), singleText(p));
            const QByteArray name = p.name.sliced(p.name.lastIndexOf('.') + 1).toByteArray().toUpper();
            row.setValue(col(2), name.endsWith("SPOUSE") ? 14 : name.endsWith("MANAGER") ? 7 : 1);
            break;
        }
        case PropertyKind::XBlogUrl: {
            DataRow &row = newRow(contact, ENTITY_WEBSITE);
            row.setValue(col(1), singleText(p).trimmed());
            row.setValue(col(2), 2);
            break;
        }
        case PropertyKind::XPhoneticFirst:
        case PropertyKind::XPhoneticLast:
            phonetic[p.kind == PropertyKind::XPhoneticFirst ? 0 : 1] = singleText(p).trimmed();
            break;
        case PropertyKind::XRel:
        case PropertyKind::XAbRelatedNames: {
            DataRow &row = newRow(contact, ENTITY_RELATION);
            row.setValue(col(1), singleText(p));
            applyKind(row, p, LabelFamily::Relation, relationCode(kindWords(p)));
            break;
        }
        case PropertyKind::Adr: {
            DataRow &row = newRow(contact, ENTITY_ADDRESS);
            const QStringList parts = components(p);
            // Post office box, extended address (apartment, suite), street, city, region, postcode, country:
            // each in its own column, so that none takes another's place.
            static const int columns[] = {5, 6, 4, 7, 8, 9, 10};
            for (qsizetype i = 0; i < parts.size() && i < 7; ++i)
                row.setValue(col(columns[i]), parts.at(i).trimmed());
            applyKind(row, p, LabelFamily::Address, addressCode(kindSet(p)));
            // The formatted address shows the extended address and the PO box under the street.
            DataRow shown = row;
            QStringList lines;
            for (int n : {4, 6, 5})
                if (!row.text(col(n)).isEmpty())
                    lines.append(row.text(col(n)));
            shown.setValue(col(4), lines.join(u'\n'));
            row.setValue(col(1), addressText(shown));
            break;
        }
        case PropertyKind::Label: {
            const QString text = singleText(p).trimmed();
            if (!text.isEmpty())
                labels.append({addressCode(kindSet(p)), text});
            break;
        }
        case PropertyKind::Url: {
            DataRow &row = newRow(contact, ENTITY_WEBSITE);
            row.setValue(col(1), singleText(p).trimmed());
            applyKind(row, p, LabelFamily::Website, websiteCode(kindSet(p)));
            break;
        }
        }
    }

    // A formatted address stands for an address of its kind that the card does not give in parts (Evolution and
    // Outlook write both; some writers only the LABEL): its lines become the street.
    for (const auto &[code, text] : std::as_const(labels)) {
        bool given = false;
        for (const DataRow &row : contact.entities.value(ENTITY_ADDRESS))
            given = given || row.text(col(2)).toInt() == code;
        if (given)
            continue;
        DataRow &row = newRow(contact, ENTITY_ADDRESS);
        row.setValue(col(4), text);
        row.setValue(col(2), code);
        row.setValue(col(1), addressText(row));
    }

    if (contact.hasRows(ENTITY_NAME)) {
        DataRow &name = contact.entities[ENTITY_NAME].first();
        if (!phonetic[0].isEmpty())
            name.setValue(col(7), phonetic[0]);
        if (!phonetic[1].isEmpty())
            name.setValue(col(8), phonetic[1]);
    }
    // A card's FN is the name it is shown by (it keeps the order the writer chose: "山田 太郎").
    const QString fn = formattedName.trimmed();
    if (!fn.isEmpty() && contact.hasRows(ENTITY_NAME) && !contact.full_name.isEmpty()) {
        contact.entities[ENTITY_NAME].first().setValue(col(1), fn);
        contact.full_name = fn;
    }
    // A card without a usable N is a company contact when it has a company and its FN, if any, names that
    // company (as Apple, Google and Outlook write a company's card). Else it is named by its FN, else its
    // e-mail address or number (as the given name), rather than dropped as nameless.
    const QString company = firstOrg.trimmed();
    if (contact.full_name.isEmpty() && !company.isEmpty() &&
        (fn.isEmpty() || fn.compare(company, Qt::CaseInsensitive) == 0))
        makeCompanyContact(contact);
    if (contact.full_name.isEmpty()) {
        QString name = fn;
        for (const QString &candidate : {firstEmail, firstPhone})
            if (name.isEmpty())
                name = candidate.trimmed();
        if (!name.isEmpty()) {
            DataRow &row = singleRow(contact, ENTITY_NAME);
            row.setValue(col(2), name);
            row.setValue(col(1), displayName(row));
            contact.full_name = row.text(col(1));
        }
    }

    for (auto it = contact.entities.begin(); it != contact.entities.end();) {
        QList<DataRow> &rows = it.value();
        rows.removeIf([type = it.key()](const DataRow &row) { return valueless(type, row); });
        dropRepeats(it.key(), rows);
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
    // vCard 3.0 as RFC 2426 has it: text values escaped (no quoted-printable, which 3.0 does not have), every
    // kind written with TYPE words that other readers know, a custom label as Apple's grouped X-ABLabel.
    Card card;
    int groups = 0;
    // Appends the property, and with a label puts it in a new group "itemN" with that label beside it.
    const auto add = [&card, &groups](Property p, const QString &label) {
        if (label.isEmpty()) {
            card.append(std::move(p));
            return;
        }
        const QString group = u"item%1."_s.arg(++groups);
        p.name.prepend(group);
        card.append(std::move(p));
        card.append(property("", {kUtf8}, escapedText(label).toUtf8()));
        card.last().name = group + u"X-ABLabel"_s;
    };
    const auto typed = [](Property p, const char *types) {
        if (types && *types)
            p.parameters.insert(u"TYPE"_s, QLatin1String(types));
        return p;
    };

    card.append(property("VERSION", {}, "3.0"));
    card.append(property("FN", {kUtf8}, escapedText(contact.full_name).toUtf8()));
    // N is required in 3.0; a company's card has it empty, and says that it shows the company as Apple's
    // readers know it.
    if (!contact.hasRows(ENTITY_NAME))
        card.append(property("N", {}, ";;;;"));
    if (isCompanyContact(contact))
        card.append(property("X-ABShowAs", {}, "COMPANY"));
    QStringList groupNames;
    for (auto it = contact.entities.cbegin(); it != contact.entities.cend(); ++it) {
        const int type = it.key();
        for (const DataRow &row : it.value()) {
            const int code = row.text(col(2)).toInt();
            const QString label = row.text(col(3));
            switch (type) {
            case ENTITY_NAME: {
                QStringList parts;
                for (int n : {3, 2, 4, 5, 6})
                    parts.append(escapedText(row.text(col(n))));
                card.append(property("N", {kUtf8}, parts.join(u';').toUtf8()));
                if (!row.text(col(7)).isEmpty())
                    card.append(property("X-PHONETIC-FIRST-NAME", {kUtf8}, escapedText(row.text(col(7))).toUtf8()));
                if (!row.text(col(8)).isEmpty())
                    card.append(property("X-PHONETIC-LAST-NAME", {kUtf8}, escapedText(row.text(col(8))).toUtf8()));
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
            case ENTITY_PHONE:
                add(typed(property("TEL", {}, oneLine(row.text(col(1))).toUtf8()), phoneTypes(code)), label);
                break;
            case ENTITY_EMAIL:
                add(typed(property("EMAIL", {}, oneLine(row.text(col(1))).toUtf8()), emailTypes(code)), label);
                break;
            case ENTITY_NICKNAME:
                card.append(property("NICKNAME", {kUtf8}, escapedText(row.text(col(1))).toUtf8()));
                break;
            case ENTITY_EVENT: {
                const QString date = eventText(row.value(col(1)));
                if (date.isEmpty())
                    break;
                // A date without a year as Apple writes it: year 1604, marked as left out.
                const bool yearless = date.startsWith(u"--") && date.size() == 7;
                const QByteArray value = (yearless ? u"1604-"_s + date.mid(2) : escapedText(date)).toUtf8();
                const auto dated = [&](const char *name) {
                    Property p = property(name, {}, value);
                    if (yearless)
                        p.parameters.insert(u"X-APPLE-OMIT-YEAR"_s, u"1604"_s);
                    return p;
                };
                if (code == 3 && label.isEmpty()) {
                    card.append(dated("BDAY"));
                } else if (code == 1 && label.isEmpty()) {
                    // The 4.0 name, and the names 3.0 readers know it by.
                    card.append(dated("ANNIVERSARY"));
                    card.append(dated("X-ANNIVERSARY"));
                    card.append(dated("X-EVOLUTION-ANNIVERSARY"));
                } else {
                    add(dated("X-ABDATE"), !label.isEmpty() ? label
                                           : code == 1      ? u"_$!<Anniversary>!$_"_s
                                                            : u"_$!<Other>!$_"_s);
                }
                break;
            }
            case ENTITY_GROUP:
                if (!row.text(col(2)).isEmpty())
                    groupNames.append(row.text(col(2)));
                break;
            case ENTITY_IM:
                appendIm(card, row, add);
                break;
            case ENTITY_NOTE:
                card.append(property("NOTE", {kUtf8}, escapedText(row.text(col(1))).toUtf8()));
                break;
            case ENTITY_ORGANIZATION:
                if (!row.text(col(4)).isEmpty())
                    card.append(property("TITLE", {kUtf8}, escapedText(row.text(col(4))).toUtf8()));
                card.append(property("ORG", {kUtf8},
                                     (escapedText(row.text(col(1))) + u';' + escapedText(row.text(col(5)))).toUtf8()));
                break;
            case ENTITY_RELATION:
                add(typed(property("X-REL", {kUtf8}, escapedText(row.text(col(1))).toUtf8()),
                          textOf(kRelationTypes, code)),
                    label);
                break;
            case ENTITY_ADDRESS: {
                QStringList parts;
                for (int n : {5, 6, 4, 7, 8, 9, 10})
                    parts.append(escapedText(row.text(col(n))));
                add(typed(property("ADR", {kUtf8}, parts.join(u';').toUtf8()), code == 1   ? "HOME"
                                                                               : code == 2 ? "WORK"
                                                                                           : "OTHER"),
                    label);
                break;
            }
            case ENTITY_WEBSITE: {
                const char *text = textOf(kWebsiteTypes, code);
                add(typed(property("URL", {}, oneLine(row.text(col(1))).toUtf8()), text ? text : "OTHER"), label);
                break;
            }
            default:
                break; // other types are not written
            }
        }
    }
    if (!groupNames.isEmpty()) {
        QStringList escapedNames;
        for (const QString &name : std::as_const(groupNames))
            escapedNames.append(escapedText(name));
        card.append(property("CATEGORIES", {kUtf8}, escapedNames.join(u',').toUtf8()));
    }
    return card;
}

} // namespace vcard
