#include "fileio/vcardreader.h"

#include "fileio/log.h"
#include "fileio/textencoding.h"
#include "fileio/vcardparser.h"

#include <QIODevice>
#include <QString>
#include <QtDebug>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vcard::detail {

namespace {

struct KindName
{
    const char *name;
    PropertyKind kind;
};

constexpr KindName kKinds[] = {{"VERSION", PropertyKind::Version},
                               {"FN", PropertyKind::FN},
                               {"N", PropertyKind::N},
                               {"PHOTO", PropertyKind::Photo},
                               {"TEL", PropertyKind::Tel},
                               {"EMAIL", PropertyKind::Email},
                               {"NICKNAME", PropertyKind::Nickname},
                               {"BDAY", PropertyKind::Bday},
                               {"X-EVENT", PropertyKind::XEvent},
                               {"CATEGORIES", PropertyKind::Categories},
                               {"X-IM", PropertyKind::XIm},
                               {"NOTE", PropertyKind::Note},
                               {"ORG", PropertyKind::Org},
                               {"TITLE", PropertyKind::Title},
                               {"X-REL", PropertyKind::XRel},
                               {"ADR", PropertyKind::Adr},
                               {"URL", PropertyKind::Url},
                               {"IMPP", PropertyKind::Impp},
                               {"X-SKYPE-USERNAME", PropertyKind::XImService},
                               {"X-SKYPE", PropertyKind::XImService},
                               {"X-JABBER", PropertyKind::XImService},
                               {"X-AIM", PropertyKind::XImService},
                               {"X-ICQ", PropertyKind::XImService},
                               {"X-MSN", PropertyKind::XImService},
                               {"X-YAHOO", PropertyKind::XImService},
                               {"X-GOOGLE-TALK", PropertyKind::XImService},
                               {"X-GTALK", PropertyKind::XImService},
                               {"X-QQ", PropertyKind::XImService},
                               {"X-GADUGADU", PropertyKind::XImService},
                               {"X-FACEBOOK", PropertyKind::XImService},
                               {"ANNIVERSARY", PropertyKind::Anniversary},
                               {"X-ANNIVERSARY", PropertyKind::Anniversary},
                               {"X-MS-ANNIVERSARY", PropertyKind::Anniversary},
                               {"X-EVOLUTION-ANNIVERSARY", PropertyKind::Anniversary},
                               {"X-KADDRESSBOOK-X-ANNIVERSARY", PropertyKind::Anniversary},
                               {"X-ABDATE", PropertyKind::XAbDate},
                               {"X-ABLABEL", PropertyKind::XAbLabel},
                               {"X-ABRELATEDNAMES", PropertyKind::XAbRelatedNames},
                               {"X-EVOLUTION-SPOUSE", PropertyKind::XNamedRelation},
                               {"X-EVOLUTION-MANAGER", PropertyKind::XNamedRelation},
                               {"X-EVOLUTION-ASSISTANT", PropertyKind::XNamedRelation},
                               {"X-MS-SPOUSE", PropertyKind::XNamedRelation},
                               {"X-MS-MANAGER", PropertyKind::XNamedRelation},
                               {"X-MS-ASSISTANT", PropertyKind::XNamedRelation},
                               {"X-SPOUSE", PropertyKind::XNamedRelation},
                               {"X-MANAGER", PropertyKind::XNamedRelation},
                               {"X-ASSISTANT", PropertyKind::XNamedRelation},
                               {"X-EVOLUTION-BLOG-URL", PropertyKind::XBlogUrl},
                               {"X-PHONETIC-FIRST-NAME", PropertyKind::XPhoneticFirst},
                               {"X-PHONETIC-LAST-NAME", PropertyKind::XPhoneticLast},
                               {"X-MS-IMADDRESS", PropertyKind::XImService},
                               {"X-GROUPWISE", PropertyKind::XImService},
                               {"LABEL", PropertyKind::Label}};

bool hasFourByteSequence(QByteArrayView utf8)
{
    for (const char c : utf8)
        if (uchar(c) >= 0xF0)
            return true;
    return false;
}

// QString's order (UTF-16 code units). For UTF-8 without characters beyond U+FFFF that is the byte order;
// those characters sort differently in UTF-16 (surrogates come before U+E000), so they go through QString.
bool nameLess(QByteArrayView a, QByteArrayView b)
{
    if (hasFourByteSequence(a) || hasFourByteSequence(b))
        return QString::fromUtf8(a) < QString::fromUtf8(b);
    const qsizetype n = std::min(a.size(), b.size());
    const int c = n > 0 ? std::memcmp(a.data(), b.data(), size_t(n)) : 0;
    return c < 0 || (c == 0 && a.size() < b.size());
}

// Collects the properties of the open card into reused buffers; see readCards. Without onCard it only counts
// the cards, keeping nothing of them.
class CardCollector
{
public:
    CardCollector(const VCardParser &parser, const std::function<void(const CardView &)> *onCard)
        : m_parser(parser), m_onCard(onCard)
    {
    }

    static void onPropertyStart(void *userData, const char *name, const VCardParam *params)
    {
        static_cast<CardCollector *>(userData)->propertyStart(name, params);
    }

    static void onValue(void *userData, const char *bytes, qsizetype length)
    {
        static_cast<CardCollector *>(userData)->value(bytes, length);
    }

    // Hands on the open card, if any.
    void finish();
    // The cards handed on (or counted) so far.
    qsizetype cards() const { return m_cards; }

private:
    // Offsets into m_text.
    struct Span
    {
        qsizetype start = -1; // -1: none (a parameter without value, a value never reported)
        qsizetype size = 0;
    };
    struct RawParam
    {
        Span name;
        Span value;
    };
    struct RawProperty
    {
        Span name;
        qsizetype firstParam = 0;
        qsizetype paramCount = 0;
        Span value;
        qsizetype firstFold = 0;
        qsizetype foldCount = 0;
        qsizetype firstView = 0; // its parameters in m_paramViews, made canonical
        qsizetype viewCount = 0;
        qsizetype firstRaw = 0; // its parameters in m_rawViews, as written

        PropertyKind kind = PropertyKind::Other;
    };

    void propertyStart(const char *name, const VCardParam *params);
    void value(const char *bytes, qsizetype length);
    Span appendText(const char *text);
    QByteArrayView view(Span span) const
    {
        return span.start < 0 ? QByteArrayView() : QByteArrayView(m_text.data() + span.start, span.size);
    }
    void removeFolds(RawProperty &property);

    const VCardParser &m_parser;
    const std::function<void(const CardView &)> *m_onCard; // null: count only
    qsizetype m_cards = 0;
    bool m_open = false;       // a card is open
    bool m_takesValue = false; // the property in progress belongs to the open card

    std::vector<char> m_text; // names, parameters (each ended by a NUL byte) and values of the open card
    std::vector<RawProperty> m_properties;
    std::vector<RawParam> m_params;
    std::vector<qsizetype> m_folds; // per property: where a folded line break left a space in its value
    std::vector<ParamView> m_paramViews;
    std::vector<ParamView> m_rawViews;
    CardView m_card;
};

void CardCollector::propertyStart(const char *name, const VCardParam *params)
{
    m_takesValue = false;
    // Property names are case-insensitive (RFC 2426/6350); files written as "begin:vcard" exist.
    if (qstricmp(name, "BEGIN") == 0) {
        finish();
        m_open = true;
        return;
    }
    if (qstricmp(name, "END") == 0) {
        finish();
        return;
    }
    if (!m_open || !m_onCard)
        return;
    RawProperty property;
    property.name = appendText(name);
    property.kind = kindOf(view(property.name));
    property.firstParam = qsizetype(m_params.size());
    for (const VCardParam *p = params; p->name; ++p) {
        RawParam param;
        param.name = appendText(p->name);
        if (p->value)
            param.value = appendText(p->value);
        m_params.push_back(param);
    }
    property.paramCount = qsizetype(m_params.size()) - property.firstParam;
    m_properties.push_back(property);
    m_takesValue = true;
}

CardCollector::Span CardCollector::appendText(const char *text)
{
    QByteArrayView bytes(text, qsizetype(std::strlen(text)));
    // Anything but ASCII is stored as QString::fromUtf8 reads it, so that equal texts are equal bytes.
    QByteArray normal;
    if (!isAscii(bytes)) {
        normal = QString::fromUtf8(bytes).toUtf8();
        bytes = normal;
    }
    const Span span{qsizetype(m_text.size()), bytes.size()};
    m_text.insert(m_text.end(), bytes.begin(), bytes.end());
    m_text.push_back('\0');
    return span;
}

void CardCollector::value(const char *bytes, qsizetype length)
{
    if (!m_takesValue || length == 0)
        return;
    RawProperty &property = m_properties.back();
    property.value = {qsizetype(m_text.size()), length};
    m_text.insert(m_text.end(), bytes, bytes + length);
    const QList<qsizetype> &folds = m_parser.foldSpaces();
    property.firstFold = qsizetype(m_folds.size());
    property.foldCount = folds.size();
    m_folds.insert(m_folds.end(), folds.cbegin(), folds.cend());
}

void CardCollector::removeFolds(RawProperty &property)
{
    if (property.value.start < 0)
        return;
    // One pass: the pieces between the fold spaces move down once each, so a value folded over millions of
    // lines costs its length, not its length times its folds. The positions come in ascending order.
    char *value = m_text.data() + property.value.start;
    const qsizetype size = property.value.size;
    qsizetype read = 0;
    qsizetype write = 0;
    for (qsizetype k = 0; k < property.foldCount; ++k) {
        const qsizetype at = m_folds[size_t(property.firstFold + k)];
        if (at < read || at >= size || value[at] != ' ')
            continue;
        std::memmove(value + write, value + read, size_t(at - read));
        write += at - read;
        read = at + 1;
    }
    std::memmove(value + write, value + read, size_t(size - read));
    property.value.size = write + (size - read);
}

void CardCollector::finish()
{
    if (!m_open)
        return;
    m_open = false;
    ++m_cards;
    if (!m_onCard)
        return;

    // vCard 3.0 and 4.0 writers fold anywhere (even inside a UTF-8 sequence), and their folds mean nothing
    // (RFC 2425/6350); the first VERSION decides.
    for (const RawProperty &p : m_properties) {
        if (p.kind != PropertyKind::Version)
            continue;
        const QByteArrayView version = view(p.value).trimmed();
        if (version == "3.0" || version == "4.0") {
            for (RawProperty &q : m_properties)
                removeFolds(q);
        }
        break;
    }

    // The parameters of every property first, then the properties pointing at them (the vector stands still).
    m_paramViews.clear();
    m_rawViews.clear();
    for (RawProperty &p : m_properties) {
        const qsizetype first = qsizetype(m_paramViews.size());
        p.firstRaw = qsizetype(m_rawViews.size());
        for (qsizetype k = 0; k < p.paramCount; ++k) {
            const RawParam &raw = m_params[size_t(p.firstParam + k)];
            m_paramViews.push_back({view(raw.name), view(raw.value), raw.value.start >= 0});
            m_rawViews.push_back(m_paramViews.back());
        }
        p.viewCount = canonicalParams(m_paramViews.data() + first, p.paramCount);
        m_paramViews.resize(size_t(first + p.viewCount));
        p.firstView = first;
    }
    m_card.clear();
    for (const RawProperty &p : m_properties) {
        PropertyView property;
        property.name = view(p.name);
        property.params = m_paramViews.data() + p.firstView;
        property.paramCount = p.viewCount;
        property.value = view(p.value);
        property.kind = p.kind;
        property.allParams = m_rawViews.data() + p.firstRaw;
        property.allParamCount = p.paramCount;
        m_card.push_back(property);
    }

    (*m_onCard)(m_card);

    m_text.clear();
    m_properties.clear();
    m_params.clear();
    m_folds.clear();
}

} // namespace

bool isAscii(QByteArrayView bytes)
{
    // Eight bytes at a time: values are mostly ASCII, and photos are long.
    const char *p = bytes.data();
    qsizetype n = bytes.size();
    quint64 high = 0;
    for (; n >= 8; p += 8, n -= 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        high |= word;
    }
    for (; n > 0; ++p, --n)
        high |= uchar(*p);
    return (high & 0x8080808080808080ULL) == 0;
}

bool equalsNoCase(QByteArrayView utf8, QLatin1StringView probe)
{
    if (isAscii(utf8))
        return utf8.size() == probe.size() &&
               (probe.isEmpty() || qstrnicmp(utf8.data(), probe.data(), size_t(probe.size())) == 0);
    // Unicode case folding: "ſ" (long s) folds to "s", the Kelvin sign to "k".
    return QString::fromUtf8(utf8).compare(probe, Qt::CaseInsensitive) == 0;
}

PropertyKind kindOf(QByteArrayView name)
{
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArrayView base = name.sliced(dot + 1);
    if (!isAscii(base)) {
        // Upper-casing some letters outside ASCII gives ASCII ones ("ı" gives "I").
        const QString upper = QString::fromUtf8(base).toUpper();
        for (const KindName &k : kKinds)
            if (upper == QLatin1StringView(k.name))
                return k.kind;
        return PropertyKind::Other;
    }
    char upper[32];
    if (base.size() > qsizetype(sizeof upper))
        return PropertyKind::Other;
    for (qsizetype i = 0; i < base.size(); ++i) {
        const char c = base[i];
        upper[i] = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    }
    const QByteArrayView folded(upper, base.size());
    for (const KindName &k : kKinds)
        if (folded == k.name)
            return k.kind;
    return PropertyKind::Other;
}

qsizetype canonicalParams(ParamView *params, qsizetype count)
{
    // Insertion in name order; a name written again replaces the value and keeps its place. Properties have a
    // few parameters, so this beats any container.
    qsizetype kept = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const ParamView p = params[i];
        qsizetype at = 0;
        while (at < kept && nameLess(params[at].name, p.name))
            ++at;
        if (at < kept && params[at].name == p.name) {
            params[at].value = p.value;
            params[at].hasValue = p.hasValue;
            continue;
        }
        std::move_backward(params + at, params + kept, params + kept + 1);
        params[at] = p;
        ++kept;
    }
    return kept;
}

namespace {

// The parser and the card collector over one input, fed in one go or piece by piece.
class CardReading
{
public:
    explicit CardReading(const std::function<void(const CardView &)> *onCard) : m_collector(m_parser, onCard)
    {
        m_parser.setUserData(&m_collector);
        m_parser.setPropertyStartCallback(&CardCollector::onPropertyStart);
        m_parser.setValueCallback(&CardCollector::onValue);
    }

    void feed(const char *bytes, qsizetype length, bool final)
    {
        if (!m_parser.feed(bytes, length, final))
            m_wellFormed = false;
        if (final)
            m_collector.finish();
    }

    qint64 finish(int *skippedLines) const
    {
        const qint64 errorOffset = m_wellFormed ? -1 : m_parser.errorOffset();
        if (!m_wellFormed)
            qCDebug(lcFileio, "vCard: %d malformed lines dropped, the first at byte %lld", m_parser.malformedLines(),
                    errorOffset);
        if (m_parser.droppedLines() > 0)
            qCDebug(lcFileio, "vCard: %d lines without \":\" dropped", m_parser.droppedLines());
        if (skippedLines)
            *skippedLines = m_parser.droppedLines() + (m_wellFormed ? 0 : m_parser.malformedLines());
        return errorOffset;
    }

    qsizetype cards() const { return m_collector.cards(); }

private:
    VCardParser m_parser;
    CardCollector m_collector;
    bool m_wellFormed = true;
};

// Reads up to `size` bytes at `into`; the number read, short only at the end of the input.
qsizetype readFully(QIODevice &device, char *into, qsizetype size)
{
    qsizetype total = 0;
    while (total < size) {
        const qint64 n = device.read(into + total, size - total);
        if (n < 0)
            throw std::runtime_error(device.errorString().toStdString());
        if (n == 0)
            break;
        total += qsizetype(n);
    }
    return total;
}

// readCards of the whole input, or a count of its cards (onCard null; the count goes to cards when given).
qint64 readBytes(const QByteArray &bytes, const std::function<void(const CardView &)> *onCard, int *skippedLines,
                 qsizetype *cards)
{
    // A byte order mark would make "BEGIN" of the first card unrecognisable; UTF-16 and UTF-32 files (Windows'
    // "Unicode" text) would read as nothing at all.
    QByteArray converted;
    const QByteArrayView text = fileio::asUtf8Text(bytes, converted);
    CardReading reading(onCard);
    reading.feed(text.data(), text.size(), true);
    if (cards)
        *cards = reading.cards();
    return reading.finish(skippedLines);
}

qint64 readDevice(QIODevice &device, const std::function<void(const CardView &)> *onCard, int *skippedLines,
                  qsizetype pieceSize, qsizetype *cards)
{
    pieceSize = std::max<qsizetype>(pieceSize, 16);
    QByteArray buffer(pieceSize, Qt::Uninitialized);
    qsizetype filled = readFully(device, buffer.data(), pieceSize);
    switch (fileio::detectEncoding(QByteArrayView(buffer.constData(), filled))) {
    case fileio::TextEncoding::Plain:
    case fileio::TextEncoding::Utf8Bom:
        break;
    default: {
        // Text in two or four bytes a character is converted as a whole: only editors write it, for small files.
        buffer.truncate(filled);
        for (qsizetype got = pieceSize; got == pieceSize;) {
            const qsizetype at = buffer.size();
            buffer.resize(at + pieceSize);
            got = readFully(device, buffer.data() + at, pieceSize);
            buffer.truncate(at + got);
        }
        return readBytes(buffer, onCard, skippedLines, cards);
    }
    }

    // Pieces are cut after a line feed, so that each line starts a piece or lies wholly inside one (the parser
    // looks at the start of the next line to end a quoted-printable soft line break); a line longer than a
    // piece goes on in the next one as it is.
    CardReading reading(onCard);
    qsizetype start = buffer.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    bool atEnd = filled < pieceSize;
    for (;;) {
        if (atEnd) {
            reading.feed(buffer.constData() + start, filled - start, true);
            break;
        }
        const char *begin = buffer.constData() + start;
        const void *lastFeed = memrchr(begin, '\n', size_t(filled - start));
        const qsizetype cut = lastFeed ? static_cast<const char *>(lastFeed) - buffer.constData() + 1 : filled;
        reading.feed(begin, cut - start, false);
        // The rest of the last line moves to the front, the next piece comes after it.
        const qsizetype carried = filled - cut;
        if (buffer.size() < carried + pieceSize)
            buffer.resize(carried + pieceSize);
        std::memmove(buffer.data(), buffer.constData() + cut, size_t(carried));
        const qsizetype got = readFully(device, buffer.data() + carried, pieceSize);
        filled = carried + got;
        atEnd = got < pieceSize;
        start = 0;
    }
    if (cards)
        *cards = reading.cards();
    return reading.finish(skippedLines);
}

} // namespace

qint64 readCards(const QByteArray &bytes, const std::function<void(const CardView &)> &onCard, int *skippedLines)
{
    return readBytes(bytes, &onCard, skippedLines, nullptr);
}

qint64 readCards(QIODevice &device, const std::function<void(const CardView &)> &onCard, int *skippedLines,
                 qsizetype pieceSize)
{
    return readDevice(device, &onCard, skippedLines, pieceSize, nullptr);
}

qsizetype countCards(QIODevice &device, int *skippedLines, qsizetype pieceSize)
{
    qsizetype cards = 0;
    readDevice(device, nullptr, skippedLines, pieceSize, &cards);
    return cards;
}

} // namespace vcard::detail
