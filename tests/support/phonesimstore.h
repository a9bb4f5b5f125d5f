#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QMap>
#include <QStringList>

// What a phone-sim store file holds: name → the contact's rows other than its name, as "type:fields" sorted, so
// that two stores (or a store before and after a failed run) compare as maps.
inline QMap<QString, QStringList> phoneSimContents(const QString &store)
{
    QFile f(store);
    QMap<QString, QStringList> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QJsonValue &c : QJsonDocument::fromJson(f.readAll())[QStringLiteral("contacts")].toArray()) {
        QStringList rows;
        for (const QJsonValue &r : c[QStringLiteral("rows")].toArray()) {
            if (r[QStringLiteral("type")].toInt() == 1)
                continue;
            QStringList fields;
            for (const QJsonValue &v : r[QStringLiteral("fields")].toArray())
                fields << v.toString();
            rows << QStringLiteral("%1:%2").arg(r[QStringLiteral("type")].toInt()).arg(fields.join(u'|'));
        }
        rows.sort();
        out.insert(c[QStringLiteral("name")].toString(), rows);
    }
    return out;
}
