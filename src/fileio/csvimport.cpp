#include "fileio/csvimport.h"

#include "contacts/contactname.h"

#include "core/texts.h"
#include "fileio/csvrow.h"
#include "fileio/textencoding.h"
#include "fileio/vcard.h"

#include <QBuffer>
#include <QDate>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

using namespace Qt::StringLiterals;
using namespace pim;

namespace csv {

// Where the value of a named column goes.
struct Target
{
    int type = 0;       // entity type; 0: the column is not one of ours
    QString column;     // the row column receiving the value
    int code = 0;       // type code, written to codeColumn when not 0
    QString codeColumn; // empty: no code is written
    QString slot;       // columns of one type and code fill one row unless their slots differ
};

// One column of the opened file's header and what it holds.
struct Column
{
    Target target;
    // Numbered groups of Google exports ("Phone 2 - Label", "Phone 2 - Value"): the group's type and number,
    // and the row column of a value, or nothing for the label.
    int groupType = 0;
    int groupNumber = 0;
    QString groupColumn;
    bool groupLabel = false;
    // A whole display name ("Display Name", "Name"): the name the contact is shown by. "File As" (a sort
    // name, "Silva, Ana") only names a contact whose name columns give none.
    bool displayName = false;
    bool fileAs = false;
    // Thunderbird's birthday in three columns: "Birth Year" 1, "Birth Month" 2, "Birth Day" 3.
    int birthPart = 0;
};

struct ColumnPlan
{
    QList<Column> columns;
};

} // namespace csv

namespace {

using csv::Column;
using csv::Target;

QString col(int n)
{
    return u"data%1"_s.arg(n);
}

// The names of the program's own columns and of common address-book exports, compared exactly.
QHash<QString, Target> buildTable()
{
    QHash<QString, Target> table;
    const auto add = [&table](const QString &name, int type, int column, int code = 0, int codeColumn = 0,
                              const QString &slot = QString()) {
        table.insert(name, Target{type, col(column), code, codeColumn ? col(codeColumn) : QString(), slot});
    };
    const auto addCoded = [&add](const QString &prefix, LabelFamily family, int type, int codeColumn) {
        const QMap<int, QString> &labels = labelTable(family);
        for (auto it = labels.cbegin(); it != labels.cend(); ++it)
            add(prefix + it.value(), type, 1, it.key(), codeColumn);
    };

    // The program's own names.
    add(u"Prefix"_s, ENTITY_NAME, 5);
    add(u"First Name"_s, ENTITY_NAME, 2);
    add(u"Middle Name"_s, ENTITY_NAME, 4);
    add(u"Last Name"_s, ENTITY_NAME, 3);
    add(u"Suffix"_s, ENTITY_NAME, 6);
    addCoded(u"Tel:"_s, LabelFamily::Phone, ENTITY_PHONE, 2);
    addCoded(u"Email:"_s, LabelFamily::Email, ENTITY_EMAIL, 2);
    add(u"Nickname"_s, ENTITY_NICKNAME, 1, 1);
    addCoded(u"Date:"_s, LabelFamily::Event, ENTITY_EVENT, 2);
    add(u"Category"_s, ENTITY_GROUP, 2);
    addCoded(u"IM:"_s, LabelFamily::ImProtocol, ENTITY_IM, 5);
    add(u"Notes"_s, ENTITY_NOTE, 1);
    add(u"Company"_s, ENTITY_ORGANIZATION, 1, 0, 2);
    add(u"Department"_s, ENTITY_ORGANIZATION, 5, 0, 2);
    add(u"Job Title"_s, ENTITY_ORGANIZATION, 4, 0, 2);
    addCoded(u"Rel:"_s, LabelFamily::Relation, ENTITY_RELATION, 2);
    addCoded(u"Url:"_s, LabelFamily::Website, ENTITY_WEBSITE, 2);
    const QMap<int, QString> &addressLabels = labelTable(LabelFamily::Address);
    for (auto it = addressLabels.cbegin(); it != addressLabels.cend(); ++it) {
        const QString prefix = u"Addr:"_s + it.value();
        add(prefix + u":Country"_s, ENTITY_ADDRESS, 10, it.key(), 2);
        add(prefix + u":State"_s, ENTITY_ADDRESS, 8, it.key(), 2);
        add(prefix + u":City"_s, ENTITY_ADDRESS, 7, it.key(), 2);
        add(prefix + u":Street"_s, ENTITY_ADDRESS, 4, it.key(), 2);
        add(prefix + u":Postcode"_s, ENTITY_ADDRESS, 9, it.key(), 2);
        add(prefix + u":POBox"_s, ENTITY_ADDRESS, 5, it.key(), 2);
        add(prefix + u":Extended"_s, ENTITY_ADDRESS, 6, it.key(), 2);
    }

    // Outlook and Google.
    add(u"Title"_s, ENTITY_NAME, 5);
    add(u"Given Name"_s, ENTITY_NAME, 2);
    add(u"Additional Name"_s, ENTITY_NAME, 4);
    add(u"Family Name"_s, ENTITY_NAME, 3);
    add(u"Name Prefix"_s, ENTITY_NAME, 5);
    add(u"Name Suffix"_s, ENTITY_NAME, 6);
    add(u"Categories"_s, ENTITY_GROUP, 2);
    add(u"Group Membership"_s, ENTITY_GROUP, 2); // Google, older export
    add(u"Labels"_s, ENTITY_GROUP, 2);           // Google
    add(u"Web Page"_s, ENTITY_WEBSITE, 1, 1, 2);
    add(u"Birthday"_s, ENTITY_EVENT, 1, 3, 2);
    add(u"Anniversary"_s, ENTITY_EVENT, 1, 1, 2);
    add(u"E-mail Address"_s, ENTITY_EMAIL, 1, 1, 2);
    add(u"E-mail 2 Address"_s, ENTITY_EMAIL, 1, 2, 2);
    add(u"E-mail 3 Address"_s, ENTITY_EMAIL, 1, 0, 2);
    const std::pair<const char16_t *, int> phones[] = {{u"Primary Phone", 12},
                                                       {u"Home Phone", 1},
                                                       {u"Mobile Phone", 2},
                                                       {u"Pager", 6},
                                                       {u"Company Main Phone", 10},
                                                       {u"Business Phone", 3},
                                                       {u"Business Fax", 4},
                                                       {u"Assistant's Phone", 19},
                                                       {u"Other Phone", 0},
                                                       {u"Other Fax", 13},
                                                       {u"Home Fax", 5},
                                                       {u"Callback", 8},
                                                       {u"Car Phone", 9},
                                                       {u"ISDN", 11},
                                                       {u"Radio Phone", 14},
                                                       {u"TTY/TDD Phone", 16},
                                                       {u"Telex", 15}};
    for (const auto &[name, code] : phones)
        add(QString::fromUtf16(name), ENTITY_PHONE, 1, code, 2);
    // A second home or business number is a phone of its own, not more text of the first.
    add(u"Home Phone 2"_s, ENTITY_PHONE, 1, 1, 2, u"2"_s);
    add(u"Business Phone 2"_s, ENTITY_PHONE, 1, 3, 2, u"2"_s);
    const std::pair<const char16_t *, int> places[] = {{u"Home", 1}, {u"Business", 2}, {u"Other", 0}};
    for (const auto &[place, code] : places) {
        const QString p = QString::fromUtf16(place) + u' ';
        for (const QString &street : {u"Street"_s, u"Street 2"_s, u"Street 3"_s})
            add(p + street, ENTITY_ADDRESS, 4, code, 2);
        add(p + u"City"_s, ENTITY_ADDRESS, 7, code, 2);
        add(p + u"State"_s, ENTITY_ADDRESS, 8, code, 2);
        add(p + u"Postal Code"_s, ENTITY_ADDRESS, 9, code, 2);
        add(p + u"Country"_s, ENTITY_ADDRESS, 10, code, 2);
        add(p + u"Country/Region"_s, ENTITY_ADDRESS, 10, code, 2); // Outlook.com
        add(p + u"Address PO Box"_s, ENTITY_ADDRESS, 5, code, 2);  // Outlook
    }
    add(u"Spouse"_s, ENTITY_RELATION, 1, 14, 2);
    add(u"Children"_s, ENTITY_RELATION, 1, 3, 2);
    add(u"Manager's Name"_s, ENTITY_RELATION, 1, 7, 2);
    add(u"Assistant's Name"_s, ENTITY_RELATION, 1, 1, 2);
    add(u"Referred By"_s, ENTITY_RELATION, 1, 11, 2);

    // Current Google Contacts exports (the numbered groups are read apart).
    add(u"Organization Name"_s, ENTITY_ORGANIZATION, 1, 0, 2);
    add(u"Organization Title"_s, ENTITY_ORGANIZATION, 4, 0, 2);
    add(u"Organization Department"_s, ENTITY_ORGANIZATION, 5, 0, 2);
    add(u"Phonetic First Name"_s, ENTITY_NAME, 7);
    add(u"Phonetic Last Name"_s, ENTITY_NAME, 8);

    // Thunderbird.
    add(u"Primary Email"_s, ENTITY_EMAIL, 1, 1, 2);
    add(u"Secondary Email"_s, ENTITY_EMAIL, 1, 0, 2);
    add(u"Work Phone"_s, ENTITY_PHONE, 1, 3, 2);
    add(u"Mobile Number"_s, ENTITY_PHONE, 1, 2, 2);
    add(u"Fax Number"_s, ENTITY_PHONE, 1, 13, 2);
    add(u"Pager Number"_s, ENTITY_PHONE, 1, 6, 2);
    add(u"Home Address 2"_s, ENTITY_ADDRESS, 4, 1, 2);
    add(u"Home ZipCode"_s, ENTITY_ADDRESS, 9, 1, 2);
    add(u"Work Address"_s, ENTITY_ADDRESS, 4, 2, 2);
    add(u"Work Address 2"_s, ENTITY_ADDRESS, 4, 2, 2);
    add(u"Work City"_s, ENTITY_ADDRESS, 7, 2, 2);
    add(u"Work State"_s, ENTITY_ADDRESS, 8, 2, 2);
    add(u"Work ZipCode"_s, ENTITY_ADDRESS, 9, 2, 2);
    add(u"Work Country"_s, ENTITY_ADDRESS, 10, 2, 2);
    add(u"Organization"_s, ENTITY_ORGANIZATION, 1, 0, 2);
    add(u"Web Page 1"_s, ENTITY_WEBSITE, 1, 5, 2);
    add(u"Web Page 2"_s, ENTITY_WEBSITE, 1, 4, 2);

    // Roundcube (its other columns are Outlook's and Thunderbird's).
    add(u"Email Home"_s, ENTITY_EMAIL, 1, 1, 2);
    add(u"Email Work"_s, ENTITY_EMAIL, 1, 2, 2);
    add(u"Email Other"_s, ENTITY_EMAIL, 1, 0, 2);
    add(u"Home Mobile"_s, ENTITY_PHONE, 1, 2, 2);
    add(u"Phone Video"_s, ENTITY_PHONE, 1, 0, 2, u"video"_s); // no kind of its own: Other, beside Other Phone
    add(u"Home Zip"_s, ENTITY_ADDRESS, 9, 1, 2);
    add(u"Work Zip"_s, ENTITY_ADDRESS, 9, 2, 2);
    const std::pair<const char16_t *, int> services[] = {{u"IM Aim", 1},   {u"IM Msn", 2}, {u"IM Yahoo", 3},
                                                         {u"IM Skype", 4}, {u"IM Icq", 7}, {u"IM Jabber", 8}};
    for (const auto &[name, code] : services)
        add(QString::fromUtf16(name), ENTITY_IM, 1, code, 5);
    const std::pair<const char16_t *, int> websites[] = {{u"Website Home Page", 1},
                                                         {u"Website Blog", 2},
                                                         {u"Website Profile", 3},
                                                         {u"Website Work", 5},
                                                         {u"Website Other", 0}};
    for (const auto &[name, code] : websites)
        add(QString::fromUtf16(name), ENTITY_WEBSITE, 1, code, 2);

    // German Outlook.
    add(u"Vorname"_s, ENTITY_NAME, 2);
    add(u"Weitere Vornamen"_s, ENTITY_NAME, 4);
    add(u"Nachname"_s, ENTITY_NAME, 3);
    add(u"Firma"_s, ENTITY_ORGANIZATION, 1, 0, 2);
    add(u"Abteilung"_s, ENTITY_ORGANIZATION, 5, 0, 2);
    add(u"Position"_s, ENTITY_ORGANIZATION, 4, 0, 2);
    const std::pair<const char16_t *, int> germanPlaces[] = {{u"privat", 1}, {u"gesch\u00e4ftlich", 2}};
    for (const auto &[place, code] : germanPlaces) {
        const QString p = u' ' + QString::fromUtf16(place);
        add(u"Stra\u00dfe"_s + p, ENTITY_ADDRESS, 4, code, 2);
        add(u"Ort"_s + p, ENTITY_ADDRESS, 7, code, 2);
        add(u"Postleitzahl"_s + p, ENTITY_ADDRESS, 9, code, 2);
        add(u"Bundesland"_s + p, ENTITY_ADDRESS, 8, code, 2);
        add(u"Land"_s + p, ENTITY_ADDRESS, 10, code, 2);
    }
    add(u"Telefon gesch\u00e4ftlich"_s, ENTITY_PHONE, 1, 3, 2);
    add(u"Telefon privat"_s, ENTITY_PHONE, 1, 1, 2);
    add(u"Mobiltelefon"_s, ENTITY_PHONE, 1, 2, 2);
    add(u"Fax gesch\u00e4ftlich"_s, ENTITY_PHONE, 1, 4, 2);
    add(u"E-Mail-Adresse"_s, ENTITY_EMAIL, 1, 1, 2);
    add(u"E-Mail 2: Adresse"_s, ENTITY_EMAIL, 1, 2, 2);
    add(u"E-Mail 3: Adresse"_s, ENTITY_EMAIL, 1, 0, 2);
    add(u"Geburtstag"_s, ENTITY_EVENT, 1, 3, 2);
    add(u"Notizen"_s, ENTITY_NOTE, 1);
    add(u"Kategorien"_s, ENTITY_GROUP, 2);
    add(u"Webseite"_s, ENTITY_WEBSITE, 1, 1, 2);
    return table;
}

const QHash<QString, Target> &importTable()
{
    static const QHash<QString, Target> table = buildTable();
    return table;
}

// The groups of Google exports: "Phone 1 - Value", "E-mail 2 - Label", "Address 1 - City", …
int groupType(const QString &kind)
{
    static const QHash<QString, int> types = {{u"Phone"_s, ENTITY_PHONE},     {u"E-mail"_s, ENTITY_EMAIL},
                                              {u"Website"_s, ENTITY_WEBSITE}, {u"Relation"_s, ENTITY_RELATION},
                                              {u"Address"_s, ENTITY_ADDRESS}, {u"Organization"_s, ENTITY_ORGANIZATION}};
    return types.value(kind);
}

// The row column of a group's field; empty when the field is not kept ("Formatted", "Yomi Name", …).
QString groupField(int type, const QString &field)
{
    if (type == ENTITY_ADDRESS) {
        static const QHash<QString, int> fields = {{u"Street"_s, 4},  {u"Extended Address"_s, 6}, {u"PO Box"_s, 5},
                                                   {u"City"_s, 7},    {u"Region"_s, 8},           {u"Postal Code"_s, 9},
                                                   {u"Country"_s, 10}};
        const int n = fields.value(field);
        return n ? col(n) : QString();
    }
    if (type == ENTITY_ORGANIZATION) {
        static const QHash<QString, int> fields = {{u"Name"_s, 1},       {u"Title"_s, 4},
                                                   {u"Department"_s, 5}, {u"Job Description"_s, 6},
                                                   {u"Symbol"_s, 7},     {u"Location"_s, 9}};
        const int n = fields.value(field);
        return n ? col(n) : QString();
    }
    return field == u"Value" ? col(1) : QString();
}

Column planColumn(const QString &name, const QStringList &header)
{
    Column column;
    if (const auto it = importTable().constFind(name); it != importTable().cend()) {
        column.target = it.value();
        return column;
    }
    // This program's own numbered columns, written when a contact has several values of one kind ("Tel:Mobile
    // 2", "Addr:Home 2:Street", "Category 2"), and the custom label of a value ("Tel:Other 2:Label").
    static const QRegularExpression numbered(
        u"^(Tel|Email|Date|IM|Rel|Url|Addr):([^:]+?)(?: (\\d+))?(?::(Label|[A-Za-z]+))?$"_s);
    if (const QRegularExpressionMatch m = numbered.match(name); m.hasMatch()) {
        const bool address = m.captured(1) == u"Addr";
        const QString part = m.captured(4);
        const bool label = part == u"Label";
        if (address == (!part.isEmpty() && !label) || label) {
            const QString base = m.captured(1) + u':' + m.captured(2) + (address && !label ? u':' + part : QString());
            const QString probe = address && label ? m.captured(1) + u':' + m.captured(2) + u":Street"_s : base;
            if (const auto it = importTable().constFind(probe); it != importTable().cend()) {
                column.target = it.value();
                column.target.slot = m.captured(3);
                if (label)
                    column.target.column = col(3);
                return column;
            }
        }
    }
    static const QRegularExpression single(u"^(Category|Nickname|Notes|Company|Department|Job Title) (\\d+)$"_s);
    if (const QRegularExpressionMatch m = single.match(name); m.hasMatch()) {
        column.target = importTable().value(m.captured(1));
        column.target.slot = m.captured(2);
        return column;
    }
    static const QHash<QString, int> birthParts = {{u"Birth Year"_s, 1}, {u"Birth Month"_s, 2}, {u"Birth Day"_s, 3}};
    if (const int part = birthParts.value(name)) {
        column.birthPart = part;
        return column;
    }
    if (name == u"Display Name" || name == u"File As" || name == u"Name") {
        column.displayName = true;
        column.fileAs = name == u"File As";
        return column;
    }
    // Thunderbird's street column; Outlook writes a whole address under that name beside its street columns.
    if (name == u"Home Address" && !header.contains(u"Home Street"_s)) {
        column.target = Target{ENTITY_ADDRESS, col(4), 1, col(2), QString()};
        return column;
    }
    static const QRegularExpression group(u"^([A-Za-z-]+) (\\d+) - (.+)$"_s);
    const QRegularExpressionMatch m = group.match(name);
    if (!m.hasMatch())
        return column;
    const int type = groupType(m.captured(1));
    if (!type)
        return column;
    const QString field = m.captured(3);
    if (field == u"Label" || field == u"Type") {
        column.groupLabel = type != ENTITY_ORGANIZATION;
    } else {
        column.groupColumn = groupField(type, field);
    }
    if (column.groupLabel || !column.groupColumn.isEmpty()) {
        column.groupType = type;
        column.groupNumber = m.captured(2).toInt();
    }
    return column;
}

// The file's bytes as UTF-8: unchanged when they are valid UTF-8, else read as Windows-1252 (what Outlook and
// Excel write on a Western Windows) and converted; a UTF-8 byte order mark before them is kept.
QByteArray asUtf8(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(bytes); // decoding happens on the conversion to QString
    Q_UNUSED(decoded);
    if (!utf8.hasError())
        return bytes;
    const QByteArray bom("\xEF\xBB\xBF");
    const qsizetype skip = bytes.startsWith(bom) ? bom.size() : 0;
    QStringDecoder windows("windows-1252"); // needs ICU; Latin-1 without it differs only in 0x80-0x9F
    const QByteArrayView rest = QByteArrayView(bytes).sliced(skip);
    const QString text = windows.isValid() ? QString(windows.decode(rest)) : QString::fromLatin1(rest);
    return bytes.left(skip) + text.toUtf8();
}

// A German date ("29.2.1980") as ISO 8601 text; any other text as it is.
// A date in the forms contact files write it, as "yyyy-MM-dd" ("--MM-dd" without a year): 1976-04-01, 1976/4/1,
// 4/1/1976 (Outlook's month first, unless the first number cannot be a month), 1.4.1976, --04-01. Anything else
// is kept as written.
QString eventDate(const QString &text)
{
    const QString value = text.trimmed();
    static const QRegularExpression iso(u"^(\\d{4})[-/](\\d{1,2})[-/](\\d{1,2})(?:[T ].*)?$"_s);
    static const QRegularExpression slashed(u"^(\\d{1,2})/(\\d{1,2})/(\\d{4}|\\d{2})$"_s);
    static const QRegularExpression dotted(u"^(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4})$"_s);
    static const QRegularExpression yearless(u"^--(\\d{1,2})-(\\d{1,2})$"_s);
    QDate date;
    if (const auto isoMatch = iso.match(value); isoMatch.hasMatch()) {
        date = QDate(isoMatch.captured(1).toInt(), isoMatch.captured(2).toInt(), isoMatch.captured(3).toInt());
    } else if (const auto slashedMatch = slashed.match(value); slashedMatch.hasMatch()) {
        int month = slashedMatch.captured(1).toInt();
        int day = slashedMatch.captured(2).toInt();
        if (month > 12)
            std::swap(month, day);
        int year = slashedMatch.captured(3).toInt();
        if (slashedMatch.captured(3).size() == 2)
            year += year < 50 ? 2000 : 1900;
        date = QDate(year, month, day);
    } else if (const auto dottedMatch = dotted.match(value); dottedMatch.hasMatch()) {
        date = QDate(dottedMatch.captured(3).toInt(), dottedMatch.captured(2).toInt(), dottedMatch.captured(1).toInt());
    } else if (const auto yearlessMatch = yearless.match(value); yearlessMatch.hasMatch()) {
        const QDate leap(2000, yearlessMatch.captured(1).toInt(), yearlessMatch.captured(2).toInt());
        return leap.isValid() ? leap.toString(u"--MM-dd"_s) : value;
    }
    return date.isValid() ? date.toString(u"yyyy-MM-dd"_s) : value;
}

// The names of a group cell: Google joins them with " ::: " (its own "* myContacts" is every contact, no
// group), Outlook with ";", others with ",".
QStringList groupNames(const QString &value)
{
    QStringList names;
    for (const QString &part : value.split(QRegularExpression(u" ::: |;|,"_s))) {
        QString name = part.trimmed();
        if (name.startsWith(u"* "))
            name = name.mid(2).trimmed();
        if (name.isEmpty() || name == u"myContacts" || names.contains(name))
            continue;
        names.append(name);
    }
    return names;
}

void appendValue(DataRow &row, const QString &column, const QString &value)
{
    const QString held = row.text(column);
    row.setValue(column, held.isEmpty() ? value : held + u' ' + value);
}

// A Google label ("* Home", "Mobile ::: Work", "Cottage"): the first of its labels without the mark of the
// primary value, as the family's code when it names one, else as the row's custom label.
void applyLabel(DataRow &row, int type, int number, const QString &label)
{
    const std::optional<LabelFamily> family = labelFamilyOf(type);
    if (!family)
        return;
    QString text = label.section(u" ::: "_s, 0, 0).trimmed();
    if (text.startsWith(u"* "))
        text = text.mid(2).trimmed();
    if (text.isEmpty()) {
        // The first e-mail of a Google export without labels is taken as the home address.
        if (type == ENTITY_EMAIL && number == 1)
            row.setValue(col(2), 1);
        return;
    }
    const QMap<int, QString> &table = labelTable(*family);
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        if (it.value().compare(text, Qt::CaseInsensitive) == 0) {
            if (it.key() != 0)
                row.setValue(col(2), it.key());
            return;
        }
    }
    row.setValue(col(3), text);
}

} // namespace

CSVImport::CSVImport() = default;
CSVImport::~CSVImport() = default;

void CSVImport::open(const QString &path)
{
    m_count = 0;
    m_next = 0;
    m_data.close();
    m_data.setData(QByteArray());
    m_plan = std::make_unique<csv::ColumnPlan>();

    QFile source(path);
    if (!source.open(QIODevice::ReadOnly))
        throw std::runtime_error(source.errorString().toStdString());
    QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError)
        throw std::runtime_error(source.errorString().toStdString());
    source.close();
    m_warning.clear();
    // UTF-16 and UTF-32 (Excel's "Unicode text") are read as what they are, not byte by byte. Only the file's
    // text as UTF-8 is kept; its rows are read from it one at a time by next().
    {
        QByteArray wide;
        const QByteArrayView text = fileio::asUtf8Text(bytes, wide);
        if (text.size() != bytes.size())
            bytes = text.toByteArray();
    }
    m_data.setData(asUtf8(bytes));
    bytes.clear();
    QBuffer &file = m_data;
    file.open(QIODevice::ReadOnly);
    // The line of the file (from 1) where a byte offset lies, for messages.
    const auto lineAt = [&file](qint64 offset) { return 1 + QByteArrayView(file.data()).first(offset).count('\n'); };
    QStringList header;
    char separator = ',';
    bool unterminated = false;
    bool more = utf8CSVRow(header, file, true, separator, &unterminated);
    // A header that is one field holding semicolons is a file separated by semicolons.
    if (header.size() == 1 && header.first().contains(u';')) {
        separator = ';';
        header.clear();
        if (!file.seek(0))
            throw std::runtime_error(file.errorString().toStdString());
        more = utf8CSVRow(header, file, true, separator, &unterminated);
    }
    if (unterminated)
        throw std::runtime_error(trKey("IDS_CSV_QUOTE_NEVER_CLOSES_LINE_%1").arg(1).toStdString());
    m_separator = separator;
    m_firstRow = file.pos();

    // The rows are counted (and a quote that never closes found) without keeping them: a file of a million rows
    // held as lists of texts took several times the file's size.
    QStringList fields;
    while (more) {
        fields.clear();
        const qint64 rowStart = file.pos();
        more = utf8CSVRow(fields, file, false, separator, &unterminated);
        // A quote that never closes would swallow the rest of the file into one field: the rows before it are
        // imported, the rest is reported by the line where that quote's row begins.
        if (unterminated) {
            m_warning = trKey("IDS_CSV_QUOTE_NEVER_CLOSES_LINE_%1").arg(lineAt(rowStart));
            if (m_count == 0)
                throw std::runtime_error(m_warning.toStdString());
            break;
        }
        // A last row without a line feed is kept when it holds anything.
        if (more || std::any_of(fields.cbegin(), fields.cend(), [](const QString &f) { return !f.isEmpty(); }))
            ++m_count;
    }
    if (!file.seek(m_firstRow))
        throw std::runtime_error(file.errorString().toStdString());

    for (const QString &name : std::as_const(header))
        m_plan->columns.append(planColumn(name, header));
}

void CSVImport::close()
{
    m_data.close();
    m_data.setData(QByteArray());
}

void CSVImport::next(Contact &out)
{
    // The rows counted by open() come in the same order: each is read here, used and dropped.
    QStringList fields;
    utf8CSVRow(fields, m_data, false, m_separator);
    ++m_next;
    const QList<Column> &columns = m_plan->columns;
    const auto field = [&fields](qsizetype i) { return i < fields.size() ? fields.at(i) : QString(); };
    const auto groupKey = [](int type, int number) {
        return u"%1-g%2"_s.arg(type).arg(number, 3, 10, QLatin1Char('0'));
    };

    QHash<QString, QString> labels;
    for (qsizetype i = 0; i < columns.size(); ++i)
        if (columns.at(i).groupLabel)
            labels.insert(groupKey(columns.at(i).groupType, columns.at(i).groupNumber), field(i));

    // Rows by identifier: "type-code" for named columns, so that all columns of one type and code fill one
    // row; "type-gNNN" for the numbered groups of Google exports.
    QMap<QString, DataRow> rows;
    QString wholeName;
    QString sortName;
    QString firstEmail; // the first e-mail address and phone number in column order, to name a nameless row
    QString firstPhone;
    int birth[3] = {0, 0, 0}; // year, month, day
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const Column &column = columns.at(i);
        const QString value = field(i);
        if (value.isEmpty())
            continue;
        if (column.displayName) {
            if (column.fileAs) {
                if (sortName.isEmpty())
                    sortName = value;
            } else if (wholeName.isEmpty()) {
                wholeName = value;
            }
        } else if (column.birthPart) {
            birth[column.birthPart - 1] = value.trimmed().toInt();
        } else if (column.target.type == ENTITY_GROUP) {
            // One group per name in the cell.
            const QString key =
                u"%1-0#c%2s%3"_s.arg(ENTITY_GROUP).arg(i, 4, 10, QLatin1Char('0')).arg(column.target.slot);
            const QStringList names = groupNames(value);
            for (qsizetype n = 0; n < names.size(); ++n)
                rows[key + u".%1"_s.arg(n, 3, 10, QLatin1Char('0'))].setValue(col(2), names.at(n));
        } else if (column.target.type) {
            const Target &t = column.target;
            // Outlook writes "0/0/00" for a date it does not have.
            static const QRegularExpression noDate(u"^0+/0+/0+$"_s);
            if (t.type == ENTITY_EVENT && noDate.match(value).hasMatch())
                continue;
            if (t.type == ENTITY_EMAIL && firstEmail.isEmpty())
                firstEmail = value.trimmed();
            else if (t.type == ENTITY_PHONE && firstPhone.isEmpty())
                firstPhone = value.trimmed();
            const QString key = u"%1-%2"_s.arg(t.type).arg(t.code);
            DataRow &row = rows[t.slot.isEmpty() ? key : key + u'#' + t.slot];
            if (!t.codeColumn.isEmpty() && t.code != 0)
                row.setValue(t.codeColumn, t.code);
            appendValue(row, t.column, t.type == ENTITY_EVENT && t.column == col(1) ? eventDate(value) : value);
        } else if (!column.groupColumn.isEmpty()) {
            const QString key = groupKey(column.groupType, column.groupNumber);
            // Google joins the values of one label in one cell: "+1 555 ::: +1 666" are two phones.
            const bool several = column.groupType == ENTITY_PHONE || column.groupType == ENTITY_EMAIL ||
                                 column.groupType == ENTITY_WEBSITE;
            const QStringList parts = several ? value.split(u" ::: "_s) : QStringList{value};
            for (qsizetype p = 0; p < parts.size(); ++p) {
                const QString part = parts.at(p).trimmed();
                if (part.isEmpty())
                    continue;
                if (column.groupType == ENTITY_EMAIL && firstEmail.isEmpty())
                    firstEmail = part;
                else if (column.groupType == ENTITY_PHONE && firstPhone.isEmpty())
                    firstPhone = part;
                const QString partKey = several ? key + u".%1"_s.arg(p, 3, 10, QLatin1Char('0')) : key;
                const bool created = !rows.contains(partKey);
                DataRow &row = rows[partKey];
                if (created)
                    applyLabel(row, column.groupType, column.groupNumber, labels.value(key));
                appendValue(row, column.groupColumn, part);
            }
        }
    }

    if (birth[1] > 0 && birth[2] > 0) {
        const QDate date(birth[0] > 0 ? birth[0] : 2000, birth[1], birth[2]);
        if (date.isValid()) {
            DataRow &row = rows[u"%1-3#birth"_s.arg(ENTITY_EVENT)];
            row.setValue(col(1), date.toString(birth[0] > 0 ? u"yyyy-MM-dd"_s : u"--MM-dd"_s));
            row.setValue(col(2), 3);
        }
    }

    static const QRegularExpression typeOfKey(u"^(\\d+)\\-"_s);
    for (auto it = rows.begin(); it != rows.end(); ++it) {
        const int type = typeOfKey.match(it.key()).captured(1).toInt();
        DataRow &row = it.value();
        if (type == ENTITY_NAME) {
            // A display name column names the contact as it is shown; else the parts make the name.
            row.setValue(col(1), wholeName.trimmed().isEmpty() ? vcard::composedName(row) : wholeName.trimmed());
            out.full_name = row.text(col(1));
        } else if (type == ENTITY_ADDRESS) {
            row.setValue(col(1), addressText(row));
        } else if (type == ENTITY_IM) {
            row.setValue(col(2), 1);
        }
        out.addRow(type, row);
    }

    // A row without name parts is a company contact when it has a company and no display name other than
    // the company's. Else (a list entry, a bare address list) it is named by its whole display name, else its
    // first e-mail address, else its first phone number, as the given name, so that it is not dropped as
    // nameless.
    if (out.full_name.isEmpty()) {
        QString name = (!wholeName.isEmpty() ? wholeName : sortName).trimmed();
        const QString company = out.firstRow(ENTITY_ORGANIZATION).text(col(1)).trimmed();
        if (!company.isEmpty() && (name.isEmpty() || name.compare(company, Qt::CaseInsensitive) == 0) &&
            makeCompanyContact(out))
            return;
        if (name.isEmpty())
            name = !firstEmail.isEmpty() ? firstEmail : firstPhone;
        if (!name.isEmpty()) {
            QList<DataRow> &names = out.entities[ENTITY_NAME];
            if (names.isEmpty())
                names.append(DataRow());
            names.first().setValue(col(2), name);
            names.first().setValue(col(1), displayName(names.first()));
            out.full_name = names.first().text(col(1));
        }
    }
}
