#pragma once

// Small builders of contacts for tests.

#include "contacts/pim.h"

#include <QList>
#include <QString>
#include <QVariant>

namespace fixtures {

// A row from (column number, value) pairs.
inline pim::DataRow row(std::initializer_list<std::pair<int, QVariant>> values)
{
    pim::DataRow r;
    for (const auto &[n, value] : values)
        r.setValue(QStringLiteral("data%1").arg(n), value);
    return r;
}

// A contact with a name row (given, family) and, when given, a mobile phone.
inline pim::Contact person(const QString &given, const QString &family, const QString &mobile = QString())
{
    pim::Contact c;
    pim::DataRow name = row({{2, given}, {3, family}});
    name.setValue(QStringLiteral("data1"), pim::displayName(name));
    c.full_name = name.text(QStringLiteral("data1"));
    c.addRow(pim::ENTITY_NAME, name);
    if (!mobile.isEmpty())
        c.addRow(pim::ENTITY_PHONE, row({{1, mobile}, {2, QStringLiteral("2")}, {3, QString()}}));
    return c;
}

// count contacts "Person<i> Test" for i from 1, each with the mobile number "+1 555 2" and i in three digits.
inline QList<pim::Contact> numberedPeople(int count)
{
    QList<pim::Contact> list;
    for (int i = 1; i <= count; ++i)
        list << person(QStringLiteral("Person%1").arg(i), QStringLiteral("Test"),
                       QStringLiteral("+1 555 2%1").arg(i, 3, 10, QLatin1Char('0')));
    return list;
}

} // namespace fixtures
