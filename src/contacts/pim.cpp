#include "pim.h"

#include <QCryptographicHash>
#include <QMetaType>

#include <array>
#include <optional>

using namespace Qt::StringLiterals;

namespace pim {

DataRow Contact::firstRow(int type) const
{
    const auto it = entities.constFind(type);
    if (it == entities.constEnd() || it->isEmpty())
        return {};
    return it->first();
}

int Contact::rowCount() const
{
    int n = 0;
    for (const QList<DataRow> &list : entities)
        n += list.size();
    return n;
}

namespace {

using Table = QMap<int, QString>;

std::array<Table, 9> buildTables()
{
    std::array<Table, 9> t;
    t[int(LabelFamily::Phone)] = {
        {0, u"Other"_s},        {1, u"Home"_s},          {2, u"Mobile"_s},     {3, u"Work"_s},
        {4, u"Work Fax"_s},     {5, u"Home Fax"_s},      {6, u"Pager"_s},      {8, u"Callback"_s},
        {9, u"Car"_s},          {10, u"Company Main"_s}, {11, u"ISDN"_s},      {12, u"Main"_s},
        {13, u"Other Fax"_s},   {14, u"Radio"_s},        {15, u"Telex"_s},     {16, u"TTY TDD"_s},
        {17, u"Work Mobile"_s}, {18, u"Work Pager"_s},   {19, u"Assistant"_s}, {20, u"MMS"_s}};
    t[int(LabelFamily::Email)] = {{0, u"Other"_s}, {1, u"Home"_s}, {2, u"Work"_s}, {4, u"Mobile"_s}};
    t[int(LabelFamily::Event)] = {{0, u"Other"_s}, {1, u"Anniversary"_s}, {3, u"Birthday"_s}};
    t[int(LabelFamily::ImType)] = {{0, u"Other"_s}, {1, u"Home"_s}, {2, u"Work"_s}};
    t[int(LabelFamily::ImProtocol)] = {{0, u"Other"_s},       {1, u"AIM"_s},        {2, u"MSN"_s},
                                       {3, u"Yahoo"_s},       {4, u"Skype"_s},      {5, u"QQ"_s},
                                       {6, u"Google Talk"_s}, {7, u"ICQ"_s},        {8, u"Jabber"_s},
                                       {9, u"Net Meeting"_s}, {10, u"Gadu Gadu"_s}, {11, u"Facebook"_s}};
    t[int(LabelFamily::Organization)] = {{0, u"Other"_s}, {1, u"Work"_s}};
    t[int(LabelFamily::Relation)] = {{0, u"Other"_s},     {1, u"Assistant"_s},        {2, u"Brother"_s},
                                     {3, u"Child"_s},     {4, u"Domestic Partner"_s}, {5, u"Father"_s},
                                     {6, u"Friend"_s},    {7, u"Manager"_s},          {8, u"Mother"_s},
                                     {9, u"Parent"_s},    {10, u"Partner"_s},         {11, u"Referred by"_s},
                                     {12, u"Relative"_s}, {13, u"Sister"_s},          {14, u"Spouse"_s}};
    t[int(LabelFamily::Address)] = {{0, u"Other"_s}, {1, u"Home"_s}, {2, u"Work"_s}};
    t[int(LabelFamily::Website)] = {{0, u"Other"_s}, {1, u"Home page"_s}, {2, u"Blog"_s}, {3, u"Profile"_s},
                                    {4, u"Home"_s},  {5, u"Work"_s},      {6, u"FTP"_s}};
    return t;
}

std::array<QStringList, 14> buildColumns()
{
    const QStringList three{u"data1"_s, u"data2"_s, u"data3"_s};
    std::array<QStringList, 14> c;
    for (int i = 1; i <= 8; ++i)
        c[ENTITY_NAME] << u"data%1"_s.arg(i);
    c[ENTITY_PHOTO] = {u"data4"_s, u"data15"_s};
    c[ENTITY_PHONE] = c[ENTITY_EMAIL] = c[ENTITY_NICKNAME] = c[ENTITY_EVENT] = c[ENTITY_RELATION] =
        c[ENTITY_WEBSITE] = three;
    c[ENTITY_GROUP] = {u"data1"_s, u"data2"_s};
    c[ENTITY_IM] = {u"data1"_s, u"data2"_s, u"data3"_s, u"data5"_s, u"data6"_s};
    c[ENTITY_NOTE] = {u"data1"_s};
    c[ENTITY_ORGANIZATION] = {u"data1"_s, u"data2"_s, u"data3"_s, u"data4"_s,
                              u"data5"_s, u"data6"_s, u"data7"_s, u"data9"_s};
    for (int i = 1; i <= 11; ++i)
        c[ENTITY_ADDRESS] << u"data%1"_s.arg(i);
    return c;
}

// The table family whose label a summary line shows for a type; none for types without a label.
std::optional<LabelFamily> familyOf(int type)
{
    switch (type) {
    case ENTITY_PHONE:
        return LabelFamily::Phone;
    case ENTITY_EMAIL:
        return LabelFamily::Email;
    case ENTITY_EVENT:
        return LabelFamily::Event;
    case ENTITY_IM:
        return LabelFamily::ImType;
    case ENTITY_ORGANIZATION:
        return LabelFamily::Organization;
    case ENTITY_RELATION:
        return LabelFamily::Relation;
    case ENTITY_ADDRESS:
        return LabelFamily::Address;
    case ENTITY_WEBSITE:
        return LabelFamily::Website;
    default:
        return std::nullopt;
    }
}

QString summary(int type, const DataRow &row, bool html)
{
    const auto esc = [html](const QString &s) { return html ? s.toHtmlEscaped() : s; };
    const std::optional<LabelFamily> family = familyOf(type);
    const QString lbl = family ? esc(label(*family, row)) : QString();
    switch (type) {
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_EVENT:
    case ENTITY_RELATION:
    case ENTITY_WEBSITE:
        return u"%1:%2"_s.arg(lbl, esc(row.text(u"data1"_s)));
    case ENTITY_IM:
        return u"%1:%2(%3)"_s.arg(lbl, esc(row.text(u"data1"_s)), esc(label(LabelFamily::ImProtocol, row)));
    case ENTITY_ORGANIZATION: {
        QString text = row.text(u"data4"_s);
        for (const QString &col : {u"data5"_s, u"data1"_s}) {
            const QString part = row.text(col);
            if (!part.isEmpty())
                text += u' ' + part;
        }
        return u"%1:%2"_s.arg(lbl, esc(text.trimmed()));
    }
    case ENTITY_ADDRESS:
        return u"<b>%1</b><br/>%2"_s.arg(lbl, esc(addressText(row)).replace(u'\n', u"<br/>"_s));
    case ENTITY_NOTE:
        return esc(row.text(u"data1"_s));
    default:
        // Name, photo, nickname and group rows are never listed line by line.
        return {};
    }
}

} // namespace

const QMap<int, QString> &labelTable(LabelFamily family)
{
    static const std::array<Table, 9> tables = buildTables();
    return tables[int(family)];
}

QString label(LabelFamily family, const DataRow &row)
{
    const bool protocol = family == LabelFamily::ImProtocol;
    const QString custom = row.text(protocol ? u"data6"_s : u"data3"_s);
    if (!custom.isEmpty())
        return custom;
    // An absent or non-numeric code reads as 0, like any integer conversion of text.
    const int code = row.text(protocol ? u"data5"_s : u"data2"_s).toInt();
    return labelTable(family).value(code);
}

const QStringList &storedColumns(int type)
{
    static const std::array<QStringList, 14> columns = buildColumns();
    static const QStringList none;
    return isEntityType(type) ? columns[type] : none;
}

bool rowsEqual(const DataRow &a, const DataRow &b, const QStringList &columns)
{
    for (const QString &col : columns) {
        const QVariant va = a.value(col);
        QVariant vb = b.value(col);
        if (!va.isValid() || !vb.isValid()) {
            if (va.isValid() != vb.isValid())
                return false;
            continue;
        }
        if (va.metaType() != vb.metaType() && !vb.convert(va.metaType()))
            return false;
        if (va != vb)
            return false;
    }
    return true;
}

bool valueEmpty(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QByteArray)
        return value.toByteArray().isEmpty();
    return value.toString().isEmpty();
}

bool rowEmpty(const DataRow &row, const QStringList &columns)
{
    for (const QString &col : columns) {
        if (!valueEmpty(row.value(col)))
            return false;
    }
    return true;
}

QString displayName(const DataRow &nameRow)
{
    QString name = nameRow.text(u"data5"_s);
    for (const QString &col : {u"data2"_s, u"data4"_s, u"data3"_s, u"data6"_s}) {
        const QString part = nameRow.text(col);
        if (!part.isEmpty())
            name += u' ' + part;
    }
    return name.trimmed();
}

QString addressText(const DataRow &addressRow)
{
    const QString city = addressRow.text(u"data7"_s);
    const QString region = addressRow.text(u"data8"_s);
    const QString postcode = addressRow.text(u"data9"_s);
    const QString country = addressRow.text(u"data10"_s);

    QString text = addressRow.text(u"data4"_s);
    // The postcode is shown only on the line of a city or region.
    if (!city.isEmpty() || !region.isEmpty()) {
        text += u'\n';
        if (!city.isEmpty()) {
            text += city;
            if (!region.isEmpty() || !postcode.isEmpty())
                text += u',';
        }
        if (!region.isEmpty())
            text += u' ' + region;
        if (!postcode.isEmpty())
            text += u' ' + postcode;
    }
    if (!country.isEmpty())
        text += u'\n' + country;
    return text.trimmed();
}

QString photoDigest(const DataRow &photoRow)
{
    const QByteArray bytes = photoRow.value(u"data15"_s).toByteArray();
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toBase64());
}

QString summaryLine(int type, const DataRow &row)
{
    return summary(type, row, false);
}

QString summaryLineHtml(int type, const DataRow &row)
{
    return summary(type, row, true);
}

int phonePriority(const DataRow &phoneRow)
{
    switch (phoneRow.text(u"data2"_s).toInt()) {
    case 2:
        return 10; // Mobile
    case 12:
        return 20; // Main
    case 1:
        return 30; // Home
    case 3:
        return 40; // Work
    default:
        return 100;
    }
}

} // namespace pim
