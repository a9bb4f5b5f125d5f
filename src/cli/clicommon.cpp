#include "cli/clicommon.h"

#include "cli/cli.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "contacts/pim.h"
#include "core/datafolder.h"
#include "core/texts.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QTextStream>

#include <stdexcept>

namespace cli {

void printJson(QTextStream &out, const QJsonDocument &doc)
{
    out << QString::fromUtf8(doc.toJson(QJsonDocument::Indented));
}

QString existingDbPath(const QString &name)
{
    const QString path = LocalDbFiles::pathFor(LocalDbFiles::fileNameFor(name));
    if (name.isEmpty() || !LocalDbFiles::isValidName(name) || !QFileInfo(path).isFile())
        throw std::runtime_error(QStringLiteral("There is no local database named \"%1\".").arg(name).toStdString());
    return path;
}

std::unique_ptr<LocalDb> openLocalDb(const QString &path)
{
    return std::make_unique<LocalDb>(path, PContactCombineRule(new UserDbCombineRule));
}

std::unique_ptr<LocalDb> openOrCreateLocalDb(const QString &name)
{
    if (name.trimmed().isEmpty())
        throw UsageException{trKey("IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME")};
    if (const QString problem = LocalDbFiles::nameProblem(name); !problem.isEmpty())
        throw UsageException{problem};
    const QString path = LocalDbFiles::pathFor(LocalDbFiles::fileNameFor(name));
    auto db = openLocalDb(path);
    if (!QFileInfo::exists(path)) {
        try {
            db->createFromTemplate();
        } catch (const std::exception &e) {
            throw std::runtime_error(trKey("IDS_CREATE_DB_FAIL_%1").arg(QString::fromUtf8(e.what())).toStdString());
        }
    }
    return db;
}

QList<qint64> parseIds(const QString &text)
{
    QList<qint64> ids;
    for (const QString &part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const qint64 id = part.trimmed().toLongLong(&ok);
        if (!ok || id <= 0)
            throw UsageException{QStringLiteral("\"%1\" is not a list of contact ids such as 3,7,12").arg(text)};
        ids.append(id);
    }
    return ids;
}

QList<pim::Contact> selectContacts(const QList<pim::Contact> &all, const QList<qint64> &ids)
{
    QHash<qint64, const pim::Contact *> byId;
    for (const pim::Contact &c : all)
        byId.insert(c._id, &c);
    QList<pim::Contact> selected;
    for (qint64 id : ids) {
        const pim::Contact *c = byId.value(id);
        if (!c)
            throw std::runtime_error(QStringLiteral("There is no contact %1.").arg(id).toStdString());
        selected.append(*c);
    }
    return selected;
}

} // namespace cli
