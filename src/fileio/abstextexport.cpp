#include "abstextexport.h"

#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace pim;

namespace {

QString col(int n)
{
    return u"data%1"_s.arg(n);
}

// "Tel:" and the display string of the row's code in data2 (its custom label is not used).
QString coded(const QString &prefix, LabelFamily family, const DataRow &row, const QString &codeColumn)
{
    return prefix + labelTable(family).value(row.text(codeColumn).toInt());
}

} // namespace

QList<QPair<QString, QString>> AbsTextExport::cells(const Contact &contact)
{
    QList<QPair<QString, QString>> out;
    const auto part = [&out](const QString &name, const DataRow &row, int n) {
        const QString value = row.text(col(n));
        if (!value.isEmpty())
            out.append({name, value});
    };
    for (auto it = contact.entities.cbegin(); it != contact.entities.cend(); ++it) {
        for (const DataRow &row : it.value()) {
            switch (it.key()) {
            case ENTITY_NAME:
                part(u"Prefix"_s, row, 5);
                part(u"First Name"_s, row, 2);
                part(u"Middle Name"_s, row, 4);
                part(u"Last Name"_s, row, 3);
                part(u"Suffix"_s, row, 6);
                break;
            case ENTITY_PHONE:
                out.append({coded(u"Tel:"_s, LabelFamily::Phone, row, col(2)), row.text(col(1))});
                break;
            case ENTITY_EMAIL:
                out.append({coded(u"Email:"_s, LabelFamily::Email, row, col(2)), row.text(col(1))});
                break;
            case ENTITY_NICKNAME:
                out.append({u"Nickname"_s, row.text(col(1))});
                break;
            case ENTITY_EVENT:
                out.append({coded(u"Date:"_s, LabelFamily::Event, row, col(2)), row.text(col(1))});
                break;
            case ENTITY_GROUP:
                out.append({u"Category"_s, row.text(col(2))});
                break;
            case ENTITY_IM:
                out.append({coded(u"IM:"_s, LabelFamily::ImProtocol, row, col(5)), row.text(col(1))});
                break;
            case ENTITY_NOTE:
                out.append({u"Notes"_s, row.text(col(1))});
                break;
            case ENTITY_ORGANIZATION:
                part(u"Company"_s, row, 1);
                part(u"Department"_s, row, 5);
                part(u"Job Title"_s, row, 4);
                break;
            case ENTITY_RELATION:
                out.append({coded(u"Rel:"_s, LabelFamily::Relation, row, col(2)), row.text(col(1))});
                break;
            case ENTITY_ADDRESS: {
                const QString prefix = coded(u"Addr:"_s, LabelFamily::Address, row, col(2));
                part(prefix + u":Country"_s, row, 10);
                part(prefix + u":State"_s, row, 8);
                part(prefix + u":City"_s, row, 7);
                part(prefix + u":Street"_s, row, 4);
                part(prefix + u":Postcode"_s, row, 9);
                break;
            }
            case ENTITY_WEBSITE:
                out.append({coded(u"Url:"_s, LabelFamily::Website, row, col(2)), row.text(col(1))});
                break;
            default:
                break; // photos have no column
            }
        }
    }
    return out;
}

int AbsTextExport::columnRank(const QString &name)
{
    static const QHash<QString, int> fixed = {
        {u"Prefix"_s, 10},     {u"First Name"_s, 20}, {u"Middle Name"_s, 30}, {u"Last Name"_s, 40},
        {u"Suffix"_s, 50},     {u"Nickname"_s, 51},   {u"Category"_s, 60},    {u"Company"_s, 70},
        {u"Department"_s, 80}, {u"Job Title"_s, 90},  {u"Notes"_s, 800}};
    if (const auto it = fixed.constFind(name); it != fixed.cend())
        return it.value();
    if (name.startsWith(u"Tel:"))
        return 100;
    if (name.startsWith(u"Email:"))
        return 200;
    if (name.startsWith(u"Date:"))
        return 300;
    if (name.startsWith(u"Addr:")) {
        static const std::pair<const char16_t *, int> parts[] = {
            {u":Country", 401}, {u":State", 402}, {u":City", 403}, {u":Street", 404}, {u":Postcode", 405}};
        for (const auto &[suffix, rank] : parts)
            if (name.endsWith(QStringView(suffix)))
                return rank;
        return 1000;
    }
    if (name.startsWith(u"IM:"))
        return 500;
    if (name.startsWith(u"Rel:"))
        return 600;
    if (name.startsWith(u"Url:"))
        return 700;
    return 1000;
}

void AbsTextExport::scan(const QList<Contact> &contacts)
{
    for (const Contact &contact : contacts)
        for (const auto &cell : cells(contact))
            if (!m_seen.contains(cell.first)) {
                m_seen.insert(cell.first);
                m_columns.append(cell.first);
            }
}

QByteArray AbsTextExport::header(const QList<Contact> &contacts)
{
    // Columns in the order first met (by earlier scan() calls, then in these contacts), then sorted by rank;
    // columns of equal rank keep that order.
    scan(contacts);
    std::stable_sort(m_columns.begin(), m_columns.end(),
                     [](const QString &a, const QString &b) { return columnRank(a) < columnRank(b); });
    m_position.clear();
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        m_position.insert(m_columns.at(i), i);
    return formatHeader(m_columns);
}

QByteArray AbsTextExport::exportContact(const Contact &contact)
{
    QStringList row(m_columns.size());
    // When several rows fill the same column, the last one stands.
    for (const auto &cell : cells(contact)) {
        const auto it = m_position.constFind(cell.first);
        if (it != m_position.cend())
            row[it.value()] = cell.second;
    }
    return formatRow(row);
}
