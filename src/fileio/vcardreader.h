#pragma once

// Inside the card layer: a whole file read card by card. Each card is handed on as views into buffers that are
// reused for the next card, so no card is kept once it has been turned into what the caller wants (a contact,
// or a vcard::Card), and reading a card allocates nothing in the usual case.

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>

#include <functional>

class QIODevice;
#include <vector>

namespace vcard::detail {

// What a property's name says once its group prefix is gone and its case folded (as baseName() does); Other
// for every name the mapping does not read.
enum class PropertyKind : unsigned char {
    Other,
    Version,
    FN,
    N,
    Photo,
    Tel,
    Email,
    Nickname,
    Bday,
    XEvent,
    Categories,
    XIm,
    Note,
    Org,
    Title,
    XRel,
    Adr,
    Url,
    Impp,
    XImService,  // X-SKYPE-USERNAME, X-JABBER, X-AIM, X-ICQ, X-MSN, X-YAHOO, X-GOOGLE-TALK, X-QQ …
    Anniversary, // ANNIVERSARY and the X- forms of Microsoft, Evolution and others
    XAbDate,
    XAbLabel,
    XAbRelatedNames,
    XNamedRelation, // X-EVOLUTION-SPOUSE, X-MS-MANAGER …: a relation of the kind its name says
    XBlogUrl,       // X-EVOLUTION-BLOG-URL
    XPhoneticFirst,
    XPhoneticLast,
    Label // a formatted address (vCard 2.1 and 3.0)
};

// One parameter, as UTF-8. hasValue is false for a parameter written without "=".
struct ParamView
{
    QByteArrayView name;
    QByteArrayView value;
    bool hasValue = false;
};

// One property. Its parameters are the ones a QMap<QString, QString> of them holds: one per name (the last one
// written wins), ordered as their names are as QStrings. Texts are valid UTF-8 (anything else was replaced as
// QString::fromUtf8 replaces it). A null value is one that was never reported (empty, or rejected).
struct PropertyView
{
    QByteArrayView name;
    const ParamView *params = nullptr;
    qsizetype paramCount = 0;
    QByteArrayView value;
    PropertyKind kind = PropertyKind::Other;
    // Every parameter as written, in file order and with repeats (TYPE=HOME;TYPE=VOICE): what the kind of a
    // phone or address is read from.
    const ParamView *allParams = nullptr;
    qsizetype allParamCount = 0;
};

using CardView = std::vector<PropertyView>;

// The kind of a whole property name (UTF-8), group prefix included.
PropertyKind kindOf(QByteArrayView name);
// True when every byte is below 0x80.
bool isAscii(QByteArrayView bytes);
// The text equals the ASCII probe without regard to case, as QString::compare(…, Qt::CaseInsensitive) has it.
bool equalsNoCase(QByteArrayView utf8, QLatin1StringView probe);
// Sorts parameters into the order and uniqueness described at PropertyView; the names must be valid UTF-8.
// Returns the new count.
qsizetype canonicalParams(ParamView *params, qsizetype count);

// Parses a whole file and hands each card to onCard in file order; the views are valid during the call only.
// A card starts at BEGIN and ends at END (names compared without regard to case), at the next BEGIN or at
// the end of the input; properties outside a card are skipped. The folds of a card that declares VERSION 3.0
// or 4.0 are already taken out of its values. Returns the offset of the first malformed byte, -1 when none.
// skippedLines, when given, receives the number of lines left out (without ":", or malformed).
qint64 readCards(const QByteArray &bytes, const std::function<void(const CardView &)> &onCard,
                 int *skippedLines = nullptr);
// The same for the rest of a device, read a piece at a time: what is held is a piece, the line in progress and
// the open card, whatever the size of the input (text in UTF-16 or UTF-32 apart, which is read whole). The
// cards, offsets and counts are those of the whole input read at once. Throws std::runtime_error with the
// device's error text when reading fails.
qint64 readCards(QIODevice &device, const std::function<void(const CardView &)> &onCard, int *skippedLines = nullptr,
                 qsizetype pieceSize = qsizetype(1) << 20);
// The number of cards readCards would hand on, and its skipped lines, without keeping any card: the parser
// alone over the input.
qsizetype countCards(QIODevice &device, int *skippedLines = nullptr, qsizetype pieceSize = qsizetype(1) << 20);

} // namespace vcard::detail
