#pragma once

// A readable, stable text form of contacts for golden files and comparisons: one line per contact and one per
// row, columns in name order, line breaks shown as \n, photo bytes as their size and MD5.

#include "contacts/pim.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QStringList>

namespace dump {

inline QString value(const QVariant &v)
{
    if (v.metaType().id() == QMetaType::QByteArray) {
        const QByteArray bytes = v.toByteArray();
        return QStringLiteral("<%1 bytes md5 %2>")
            .arg(bytes.size())
            .arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
    }
    QString text = v.metaType().id() == QMetaType::QDateTime ? v.toDateTime().toString(Qt::ISODate) : v.toString();
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return text;
}

inline QString row(int type, const pim::DataRow &r)
{
    QStringList columns;
    // data1 … data15 in number order, absent and empty columns left out.
    for (int n = 1; n <= 15; ++n) {
        const QString name = QStringLiteral("data%1").arg(n);
        if (r.has(name) && !pim::valueEmpty(r.value(name)))
            columns << name + QLatin1Char('=') + value(r.value(name));
    }
    return QStringLiteral("  %1: %2").arg(type).arg(columns.join(QLatin1String(" | ")));
}

inline QString contact(const pim::Contact &c)
{
    QStringList lines{QStringLiteral("contact: ") + value(c.full_name)};
    for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
        for (const pim::DataRow &r : it.value())
            lines << row(it.key(), r);
    return lines.join(QLatin1Char('\n'));
}

inline QString contacts(const QList<pim::Contact> &list)
{
    QStringList parts;
    for (const pim::Contact &c : list)
        parts << contact(c);
    return parts.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace dump
