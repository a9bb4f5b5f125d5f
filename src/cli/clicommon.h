#pragma once

#include <QList>
#include <QString>

#include <memory>

class LocalDb;
class QJsonDocument;
class QTextStream;
namespace pim {
struct Contact;
}

namespace cli {

void printJson(QTextStream &out, const QJsonDocument &doc);

// The file of an existing local database named as the user names it ("Work" or "Work.db"); throws when none.
QString existingDbPath(const QString &name);
// A local database of the user, with the local duplicate rule.
std::unique_ptr<LocalDb> openLocalDb(const QString &path);
// The database of that name, created from the template when it does not exist yet (as the window's database
// choice does). Throws UsageException for an empty or invalid name.
std::unique_ptr<LocalDb> openOrCreateLocalDb(const QString &name);

// "12,15,40" → ids; throws UsageException on anything else.
QList<qint64> parseIds(const QString &text);
// The contacts whose ids are listed, in the order listed; throws when an id is not among them.
QList<pim::Contact> selectContacts(const QList<pim::Contact> &all, const QList<qint64> &ids);

} // namespace cli
