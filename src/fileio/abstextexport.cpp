#include "fileio/abstextexport.h"

#include "fileio/vcard.h"

#include <QHash>
#include <QRegularExpression>
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
    // Every value has a column of its own: the second mobile number of a contact goes under "Tel:Mobile 2",
    // its home address under "Addr:Home 2:…", as address-book exports number theirs. A custom label is
    // written beside its value ("Tel:Other 2:Label").
    QList<QPair<QString, QString>> out;
    QHash<QString, int> seen; // column name (without number) → values of that name so far
    const auto numbered = [&seen](const QString &name) {
        const int n = ++seen[name];
        return n == 1 ? name : name + u' ' + QString::number(n);
    };
    const auto part = [&out](const QString &name, const DataRow &row, int n) {
        const QString value = row.text(col(n));
        if (!value.isEmpty())
            out.append({name, value});
    };
    const auto value = [&](const QString &name, const DataRow &row, const QString &text) {
        const QString column = numbered(name);
        out.append({column, text});
        if (!row.text(col(3)).isEmpty())
            out.append({column + u":Label"_s, row.text(col(3))});
    };
    for (auto it = contact.entities.cbegin(); it != contact.entities.cend(); ++it) {
        for (const DataRow &row : it.value()) {
            switch (it.key()) {
            case ENTITY_NAME:
                // The name the contact is shown by, when it is not the one its parts make (a vCard's FN).
                if (!contact.full_name.isEmpty() && contact.full_name != vcard::composedName(row))
                    out.append({u"Display Name"_s, contact.full_name});
                part(u"Prefix"_s, row, 5);
                part(u"First Name"_s, row, 2);
                part(u"Middle Name"_s, row, 4);
                part(u"Last Name"_s, row, 3);
                part(u"Suffix"_s, row, 6);
                break;
            case ENTITY_PHONE:
                value(coded(u"Tel:"_s, LabelFamily::Phone, row, col(2)), row, row.text(col(1)));
                break;
            case ENTITY_EMAIL:
                value(coded(u"Email:"_s, LabelFamily::Email, row, col(2)), row, row.text(col(1)));
                break;
            case ENTITY_NICKNAME:
                out.append({numbered(u"Nickname"_s), row.text(col(1))});
                break;
            case ENTITY_EVENT:
                value(coded(u"Date:"_s, LabelFamily::Event, row, col(2)), row, row.text(col(1)));
                break;
            case ENTITY_GROUP:
                out.append({numbered(u"Category"_s), row.text(col(2))});
                break;
            case ENTITY_IM:
                out.append({numbered(coded(u"IM:"_s, LabelFamily::ImProtocol, row, col(5))), row.text(col(1))});
                break;
            case ENTITY_NOTE:
                out.append({numbered(u"Notes"_s), row.text(col(1))});
                break;
            case ENTITY_ORGANIZATION: {
                const int n = ++seen[u"Company"_s];
                const QString suffix = n == 1 ? QString() : u' ' + QString::number(n);
                part(u"Company"_s + suffix, row, 1);
                part(u"Department"_s + suffix, row, 5);
                part(u"Job Title"_s + suffix, row, 4);
                break;
            }
            case ENTITY_RELATION:
                value(coded(u"Rel:"_s, LabelFamily::Relation, row, col(2)), row, row.text(col(1)));
                break;
            case ENTITY_ADDRESS: {
                const QString prefix = numbered(coded(u"Addr:"_s, LabelFamily::Address, row, col(2)));
                part(prefix + u":Country"_s, row, 10);
                part(prefix + u":State"_s, row, 8);
                part(prefix + u":City"_s, row, 7);
                part(prefix + u":Street"_s, row, 4);
                part(prefix + u":Postcode"_s, row, 9);
                part(prefix + u":POBox"_s, row, 5);
                part(prefix + u":Extended"_s, row, 6);
                part(prefix + u":Label"_s, row, 3);
                break;
            }
            case ENTITY_WEBSITE:
                value(coded(u"Url:"_s, LabelFamily::Website, row, col(2)), row, row.text(col(1)));
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
    static const QHash<QString, int> fixed = {{u"Display Name"_s, 5}, {u"Prefix"_s, 10},    {u"First Name"_s, 20},
                                              {u"Middle Name"_s, 30}, {u"Last Name"_s, 40}, {u"Suffix"_s, 50},
                                              {u"Nickname"_s, 51},    {u"Category"_s, 60},  {u"Company"_s, 70},
                                              {u"Department"_s, 80},  {u"Job Title"_s, 90}, {u"Notes"_s, 800}};
    if (const auto it = fixed.constFind(name); it != fixed.cend())
        return it.value();
    // The numbered ones ("Category 2", "Company 2") beside their first.
    static const QRegularExpression numberedName(u"^(.+) \\d+$"_s);
    if (const QRegularExpressionMatch m = numberedName.match(name); m.hasMatch())
        if (const auto it = fixed.constFind(m.captured(1)); it != fixed.cend())
            return it.value();
    if (name.startsWith(u"Tel:"))
        return 100;
    if (name.startsWith(u"Email:"))
        return 200;
    if (name.startsWith(u"Date:"))
        return 300;
    if (name.startsWith(u"Addr:")) {
        static const std::pair<const char16_t *, int> parts[] = {
            {u":Country", 401},  {u":State", 402}, {u":City", 403},     {u":Street", 404},
            {u":Postcode", 405}, {u":POBox", 406}, {u":Extended", 407}, {u":Label", 408}};
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
