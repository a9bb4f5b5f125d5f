#include "vcard.h"

#include "vcardparser.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QtDebug>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace vcard {

namespace {

// What the parser's callbacks build: the cards, and per property the spaces its folds left, which are taken
// out again once the card's version is known.
struct CardCollector
{
    struct Collected
    {
        Card card;
        QList<QList<qsizetype>> foldSpaces; // one entry per property
    };

    VCardParser *parser = nullptr;
    QList<Collected> cards;
    qsizetype current = -1;  // index of the open card; -1 outside a card
    bool takesValue = false; // the property in progress was appended to the open card

    static void onPropertyStart(void *userData, const char *name, const VCardParam *params)
    {
        auto *self = static_cast<CardCollector *>(userData);
        self->takesValue = false;
        // Property names are case-insensitive (RFC 2426/6350); files written as "begin:vcard" exist.
        if (qstricmp(name, "BEGIN") == 0) {
            self->cards.append(Collected());
            self->current = self->cards.size() - 1;
            return;
        }
        if (qstricmp(name, "END") == 0) {
            self->current = -1;
            return;
        }
        if (self->current < 0)
            return;
        Property property;
        property.name = QString::fromUtf8(name);
        for (const VCardParam *p = params; p->name; ++p)
            property.parameters.insert(QString::fromUtf8(p->name),
                                       p->value ? QString::fromUtf8(p->value) : QString());
        Collected &card = self->cards[self->current];
        card.card.append(property);
        card.foldSpaces.append(QList<qsizetype>());
        self->takesValue = true;
    }

    static void onValue(void *userData, const char *bytes, qsizetype length)
    {
        auto *self = static_cast<CardCollector *>(userData);
        if (!self->takesValue || length == 0)
            return;
        Collected &card = self->cards[self->current];
        card.card.last().value = QByteArray(bytes, length);
        card.foldSpaces.last() = self->parser->foldSpaces();
    }
};

// True when the card declares vCard 3.0 or 4.0, whose writers fold anywhere (even inside a UTF-8 sequence)
// and whose folds mean nothing (RFC 2425/6350).
bool foldsMeanNothing(const Card &card)
{
    for (const Property &p : card) {
        if (baseName(p) == u"VERSION") {
            const QByteArray version = p.value.trimmed();
            return version == "3.0" || version == "4.0";
        }
    }
    return false;
}

} // namespace

ParseResult parseCards(const QByteArray &bytes)
{
    VCardParser parser;
    CardCollector collector;
    collector.parser = &parser;
    parser.setUserData(&collector);
    parser.setPropertyStartCallback(&CardCollector::onPropertyStart);
    parser.setValueCallback(&CardCollector::onValue);
    const bool wellFormed = parser.feed(bytes.constData(), bytes.size(), true);

    ParseResult result;
    result.errorOffset = wellFormed ? -1 : parser.errorOffset();
    if (!wellFormed)
        qDebug("vCard: %d malformed lines dropped, the first at byte %lld", parser.malformedLines(),
               result.errorOffset);
    if (parser.droppedLines() > 0)
        qDebug("vCard: %d lines without \":\" dropped", parser.droppedLines());

    result.cards.reserve(collector.cards.size());
    for (CardCollector::Collected &collected : collector.cards) {
        if (foldsMeanNothing(collected.card)) {
            for (qsizetype i = 0; i < collected.card.size(); ++i) {
                QByteArray &value = collected.card[i].value;
                const QList<qsizetype> &spaces = collected.foldSpaces.at(i);
                for (auto it = spaces.crbegin(); it != spaces.crend(); ++it)
                    if (*it < value.size() && value.at(*it) == ' ')
                        value.remove(*it, 1);
            }
        }
        result.cards.append(std::move(collected.card));
    }
    return result;
}

QString baseName(const Property &property)
{
    const qsizetype dot = property.name.lastIndexOf(u'.');
    return (dot < 0 ? property.name : property.name.mid(dot + 1)).toUpper();
}

QString parameter(const Property &property, const QString &name)
{
    const auto exact = property.parameters.constFind(name);
    if (exact != property.parameters.cend())
        return exact.value();
    for (auto it = property.parameters.cbegin(); it != property.parameters.cend(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value();
    return {};
}

namespace {

enum class Transfer { None, QuotedPrintable, Base64, EightBit };

// The same rule as the parser's: the value of ENCODING or the name of a bare parameter, the last match
// winning.
Transfer transferOf(const Property &property)
{
    Transfer transfer = Transfer::None;
    for (auto it = property.parameters.cbegin(); it != property.parameters.cend(); ++it) {
        const QString word =
            it.key().compare(u"ENCODING"_s, Qt::CaseInsensitive) == 0 ? it.value() : it.key();
        if (word.compare(u"QUOTED-PRINTABLE"_s, Qt::CaseInsensitive) == 0)
            transfer = Transfer::QuotedPrintable;
        else if (word.compare(u"BASE64"_s, Qt::CaseInsensitive) == 0 ||
                 word.compare(u"B"_s, Qt::CaseInsensitive) == 0)
            transfer = Transfer::Base64;
        else if (word.compare(u"8BIT"_s, Qt::CaseInsensitive) == 0)
            transfer = Transfer::EightBit;
    }
    return transfer;
}

} // namespace

bool isQuotedPrintable(const Property &property)
{
    return transferOf(property) == Transfer::QuotedPrintable;
}

bool isBase64(const Property &property)
{
    return transferOf(property) == Transfer::Base64;
}

QString valueText(const Property &property)
{
    const QString charset = parameter(property, u"CHARSET"_s);
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.toLatin1().constData());
        if (decoder.isValid())
            return decoder.decode(property.value);
    }
    return QString::fromLocal8Bit(property.value);
}

QString unescapeText(const QString &text)
{
    if (!text.contains(u'\\'))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar next = text.at(i + 1);
        if (next == u'n' || next == u'N') {
            out += u'\n';
            ++i;
        } else if (next == u'\\' || next == u',' || next == u';' || next == u':') {
            out += next;
            ++i;
        } else {
            out += c; // not an escape: the backslash stays
        }
    }
    return out;
}

QStringList splitComponents(const QString &value, bool textEscapes)
{
    QStringList parts;
    QString current;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == u'\\' && i + 1 < value.size()) {
            const QChar next = value.at(i + 1);
            if (!textEscapes) {
                current += next;
                ++i;
            } else if (next == u'n' || next == u'N') {
                current += u'\n';
                ++i;
            } else if (next == u'\\' || next == u',' || next == u';' || next == u':') {
                current += next;
                ++i;
            } else {
                current += c;
            }
            continue;
        }
        if (c == u';') {
            parts.append(current);
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.isEmpty())
        parts.append(current);
    return parts;
}

QVariant eventDate(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    QDateTime date = QDateTime::fromString(trimmed, Qt::ISODate);
    if (!date.isValid()) {
        // The basic form, 19800229 or 19531015T231000Z, rewritten in the extended form Qt reads.
        static const QRegularExpression basic(
            u"^(\\d{4})(\\d{2})(\\d{2})(?:T(\\d{2})(\\d{2})(\\d{2})?(Z|[+-]\\d{2}(?::?\\d{2})?)?)?$"_s);
        const QRegularExpressionMatch m = basic.match(trimmed);
        if (m.hasMatch()) {
            QString extended = u"%1-%2-%3"_s.arg(m.captured(1), m.captured(2), m.captured(3));
            if (m.hasCaptured(4)) {
                extended += u"T%1:%2:%3"_s.arg(m.captured(4), m.captured(5),
                                               m.hasCaptured(6) ? m.captured(6) : u"00"_s);
                QString zone = m.captured(7);
                if (zone.size() == 5) // +hhmm
                    zone.insert(3, u':');
                extended += zone;
            }
            date = QDateTime::fromString(extended, Qt::ISODate);
        }
    }
    // A date that is no ISO 8601 date (--0229, free text) is kept as written rather than lost.
    return date.isValid() ? QVariant(date) : QVariant(trimmed);
}

QByteArray cardBytes(const Card &card)
{
    QByteArray out("BEGIN:VCARD\r\n");
    for (const Property &p : card) {
        out += p.name.toLatin1();
        for (auto it = p.parameters.cbegin(); it != p.parameters.cend(); ++it) {
            out += ';';
            out += it.key().toLatin1();
            out += '=';
            out += it.value().toLatin1();
        }
        out += ':';
        out += p.value;
        out += "\r\n";
    }
    out += "END:VCARD\r\n";
    return out;
}

QByteArray quotedPrintable(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < '!' || b > '~' || b == '=') {
            out += '=';
            out += digits[b >> 4];
            out += digits[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

QList<pim::Contact> contactsFromBytes(const QByteArray &bytes)
{
    QList<pim::Contact> contacts;
    for (const Card &card : parseCards(bytes).cards)
        contacts.append(contactFromCard(card));
    return contacts;
}

QByteArray bytesFromContacts(const QList<pim::Contact> &contacts)
{
    QByteArray out;
    for (const pim::Contact &contact : contacts)
        out += cardBytes(cardFromContact(contact));
    return out;
}

} // namespace vcard
