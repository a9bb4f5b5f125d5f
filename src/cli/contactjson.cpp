#include "cli/contactjson.h"

#include "contacts/pim.h"

#include <QJsonArray>

namespace cli {

QJsonObject contactToJson(const pim::Contact &contact)
{
    QJsonObject entities;
    for (auto it = contact.entities.constBegin(); it != contact.entities.constEnd(); ++it) {
        QJsonArray rows;
        for (const pim::DataRow &row : it.value()) {
            QJsonObject json{{QStringLiteral("_id"), row._id}, {QStringLiteral("src_id"), row.src_id}};
            for (auto col = row.columns.constBegin(); col != row.columns.constEnd(); ++col) {
                if (col.key() == QLatin1String("data15")) {
                    const QByteArray bytes = col.value().toByteArray();
                    if (!bytes.isEmpty())
                        json.insert(col.key(), QString::fromLatin1(bytes.toBase64()));
                    continue;
                }
                const QString text = col.value().toString();
                if (!text.isEmpty())
                    json.insert(col.key(), text);
            }
            rows.append(json);
        }
        entities.insert(QString::number(it.key()), rows);
    }
    return QJsonObject{{QStringLiteral("_id"), contact._id},
                       {QStringLiteral("src_id"), contact.src_id},
                       {QStringLiteral("full_name"), contact.full_name},
                       {QStringLiteral("entities"), entities}};
}

} // namespace cli
