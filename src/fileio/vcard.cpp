#include "fileio/vcard.h"

#include "fileio/vcardmapper.h"
#include "fileio/vcardreader.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QtDebug>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace vcard {

ParseResult parseCards(const QByteArray &bytes)
{
    ParseResult result;
    result.errorOffset = detail::readCards(bytes, [&result](const detail::CardView &view) {
        Card card;
        card.reserve(qsizetype(view.size()));
        for (const detail::PropertyView &p : view) {
            Property property;
            property.name = QString::fromUtf8(p.name);
            for (qsizetype i = 0; i < p.paramCount; ++i) {
                const detail::ParamView &param = p.params[i];
                property.parameters.insert(QString::fromUtf8(param.name),
                                           param.hasValue ? QString::fromUtf8(param.value) : QString());
            }
            // TYPE written again (type=HOME;type=VOICE) is one list of values, as RFC 6350 reads it.
            QMap<QString, QStringList> repeated;
            for (qsizetype i = 0; i < p.allParamCount; ++i) {
                const detail::ParamView &param = p.allParams[i];
                if (param.hasValue && detail::equalsNoCase(param.name, QLatin1StringView("TYPE")))
                    repeated[QString::fromUtf8(param.name)].append(QString::fromUtf8(param.value));
            }
            for (auto it = repeated.cbegin(); it != repeated.cend(); ++it)
                if (it.value().size() > 1)
                    property.parameters.insert(it.key(), it.value().join(u','));
            property.value = QByteArray(p.value.data(), p.value.size()); // a null value stays null
            card.append(std::move(property));
        }
        result.cards.append(std::move(card));
    });
    return result;
}

namespace detail {

CardViews cardViews(const Card &card)
{
    CardViews views;
    // A QByteArray's bytes stay where they are when the vector holding it grows, so views of them stay valid.
    std::vector<qsizetype> firstParams;
    for (const Property &p : card) {
        const qsizetype first = qsizetype(views.params.size());
        for (auto it = p.parameters.cbegin(); it != p.parameters.cend(); ++it) {
            views.texts.push_back(it.key().toUtf8());
            const QByteArrayView name = views.texts.back();
            views.texts.push_back(it.value().toUtf8());
            views.params.push_back({name, views.texts.back(), !it.value().isNull()});
        }
        firstParams.push_back(first);
        views.texts.push_back(p.name.toUtf8());
        PropertyView view;
        view.name = views.texts.back();
        view.paramCount = canonicalParams(views.params.data() + first, qsizetype(views.params.size()) - first);
        views.params.resize(size_t(first + view.paramCount));
        view.value = p.value;
        view.kind = kindOf(view.name);
        views.card.push_back(view);
    }
    for (size_t i = 0; i < views.card.size(); ++i) {
        views.card[i].params = views.params.data() + firstParams[i];
        views.card[i].allParams = views.card[i].params;
        views.card[i].allParamCount = views.card[i].paramCount;
    }
    return views;
}

} // namespace detail

QString baseName(const Property &property)
{
    const qsizetype dot = property.name.lastIndexOf(u'.');
    return (dot < 0 ? property.name : property.name.mid(dot + 1)).toUpper();
}

QString valueText(const Property &property)
{
    const detail::CardViews views = detail::cardViews(Card{property});
    return detail::CardMapper().text(views.card.front());
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
    // Text between escapes and separators is taken in runs. An empty component is a null QString, as it
    // always was.
    QStringList parts;
    QString current;
    const QChar *data = value.constData();
    const qsizetype size = value.size();
    qsizetype run = 0; // start of the text not yet taken into current
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = data[i];
        if (c == u'\\' && i + 1 < size) {
            current.append(data + run, i - run);
            const QChar next = data[i + 1];
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
            run = i + 1;
            continue;
        }
        if (c == u';') {
            current.append(data + run, i - run);
            parts.append(current);
            current.clear();
            run = i + 1;
        }
    }
    current.append(data + run, size - run);
    if (!current.isEmpty())
        parts.append(current);
    return parts;
}

QVariant eventDate(const QString &text, bool withoutYear)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    // The date as written, in the extended (1980-02-29) or basic (19800229) form, with or without a time
    // (which a birthday does not need and the devices do not keep), or without a year (--0229, --02-29).
    static const QRegularExpression full(
        u"^(\\d{4})-?(\\d{2})-?(\\d{2})(?:[T ]\\d{2}(?::?\\d{2}(?::?\\d{2}(?:[.,]\\d+)?)?)?(?:Z|[+-]\\d{2}(?::?\\d{2})?)?)?$"_s);
    static const QRegularExpression yearless(u"^--(\\d{2})-?(\\d{2})$"_s);
    // The common extended form alone (1980-02-29, a year of four digits) is read without the expressions: a valid
    // date of that form is written back as it stands.
    if (trimmed.size() == 10 && trimmed[4] == u'-' && trimmed[7] == u'-') {
        int parts[3] = {0, 0, 0};
        bool digits = true;
        for (qsizetype i = 0; i < 10 && digits; ++i) {
            if (i == 4 || i == 7)
                continue;
            const char16_t c = trimmed[i].unicode();
            digits = c >= u'0' && c <= u'9';
            int &part = parts[i < 4 ? 0 : i < 7 ? 1 : 2];
            part = part * 10 + int(c - u'0');
        }
        if (digits && parts[0] >= 1000 && QDate(parts[0], parts[1], parts[2]).isValid())
            return withoutYear ? u"--"_s + trimmed.mid(5) : trimmed;
    }
    if (const QRegularExpressionMatch m = full.match(trimmed); m.hasMatch()) {
        const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        if (date.isValid())
            return withoutYear ? date.toString(u"--MM-dd"_s) : date.toString(u"yyyy-MM-dd"_s);
    }
    if (const QRegularExpressionMatch m = yearless.match(trimmed); m.hasMatch()) {
        // Checked against a leap year, so that --02-29 stands.
        if (QDate(2000, m.captured(1).toInt(), m.captured(2).toInt()).isValid())
            return u"--%1-%2"_s.arg(m.captured(1), m.captured(2));
    }
    // Anything else (free text) is kept as written rather than lost.
    return trimmed;
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

QList<pim::Contact> contactsFromBytes(const QByteArray &bytes, int *skippedLines)
{
    // Each card becomes its contact as soon as it has been read, so no card is kept.
    QList<pim::Contact> contacts;
    detail::CardMapper mapper;
    detail::readCards(
        bytes, [&](const detail::CardView &card) { contacts.append(mapper.contact(card)); }, skippedLines);
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
