#pragma once

// vCard cards and their mapping to contacts: the middle layer between the byte-level parser (vcardparser.h)
// and the importer and exporter (vcardimport.h, vcardexport.h). Pure functions over bytes and values, so any
// thread may call them.

#include "contacts/pim.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace vcard {

// One line of a card.
struct Property
{
    QString name;                      // exactly as written, group prefix ("item1.") and case kept
    QMap<QString, QString> parameters; // a parameter written without "=" has the empty value
    QByteArray value;                  // after transfer decoding (quoted-printable, Base64), before the charset

    bool operator==(const Property &) const = default;
};

using Card = QList<Property>;

struct ParseResult
{
    QList<Card> cards;
    qint64 errorOffset = -1; // where the first malformed line was (it was dropped); -1 when there was none
};

// Splits a whole file into cards. A card starts at BEGIN and ends at END (names compared without regard to
// case); properties outside a card are ignored. The folds of a card that declares VERSION 3.0 or 4.0 are
// removed from its values entirely; elsewhere a fold reads as one space.
ParseResult parseCards(const QByteArray &bytes);

// The property's name without its group prefix, in upper case: "item1.tel" → "TEL".
QString baseName(const Property &property);
// The value bytes decoded with the codec named by CHARSET, or as the local 8-bit encoding when there is none
// or no codec has that name.
QString valueText(const Property &property);
// Text escapes of values that were not quoted-printable: \n and \N become a line feed, \\ \, \; \: their
// character; any other backslash stays.
QString unescapeText(const QString &text);
// The components of an N, ORG or ADR value, split on ";". With textEscapes the escapes above apply (an
// escaped ";" does not split); without, a backslash makes the next character literal. Empty components
// between separators stay; a last component is added only when it is not empty.
QStringList splitComponents(const QString &value, bool textEscapes);
// An event date as the import stores it, as text: "yyyy-MM-dd" for an ISO 8601 date (extended 1980-02-29 or
// basic 19800229 form, any time dropped), "--MM-dd" for a date without a year (--0229, or any date when
// withoutYear is set); other text is kept as written; an invalid variant for blank text.
QVariant eventDate(const QString &text, bool withoutYear = false);

// The display name of a name row: given name first, except for Chinese, Japanese and Korean names, which are
// written family name first ("山田 太郎").
QString composedName(const pim::DataRow &nameRow);

// The contact of one card; its full name is empty when the card has no usable name (N or FN).
pim::Contact contactFromCard(const Card &card);
// The properties of one contact as the exporter writes them (vCard 3.0).
Card cardFromContact(const pim::Contact &contact);
// One card as bytes: BEGIN, every property as NAME;KEY=VALUE…:VALUE with CRLF, END.
QByteArray cardBytes(const Card &card);
// Every byte outside "!"…"~", and "=", as "=" and two upper-case hexadecimal digits.
QByteArray quotedPrintable(const QByteArray &bytes);

// The front over the layers: a whole file to contacts (cards without a name included, with an empty full
// name), and contacts to a whole file.
// skippedLines, when given, receives the number of lines left out as unreadable.
QList<pim::Contact> contactsFromBytes(const QByteArray &bytes, int *skippedLines = nullptr);
QByteArray bytesFromContacts(const QList<pim::Contact> &contacts);

} // namespace vcard
