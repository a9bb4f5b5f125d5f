#include "snapshots/snapshotstore.h"

#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "contacts/pim.h"
#include "core/datafolder.h"
#include "sqlite_qt/sqlite_qt.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

QString fileDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

qint64 fileSize(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

// Sortable and unique within the folder: the time to the millisecond, then a counter when that name is taken.
QString newId(const QString &folder, const QDateTime &now)
{
    const QString base = now.toString(u"yyyyMMdd-HHmmss-zzz"_s);
    QString id = base;
    for (int n = 1; QFile::exists(folder + u'/' + id + u".json"_s) || QFile::exists(folder + u'/' + id + u".db"_s); ++n)
        id = base + u'-' + QString::number(n).rightJustified(3, u'0');
    return id;
}

} // namespace

QString SnapshotInfo::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Android:
        return u"android"_s;
    case Kind::Ios:
        return u"ios"_s;
    case Kind::LocalDb:
        break;
    }
    return u"db"_s;
}

std::optional<SnapshotInfo::Kind> SnapshotInfo::kindFromName(const QString &name)
{
    for (Kind kind : {Kind::Android, Kind::Ios, Kind::LocalDb})
        if (kindName(kind) == name)
            return kind;
    return std::nullopt;
}

void backupDatabase(const QString &from, const QString &to)
{
    if (!QFileInfo(from).isFile())
        throw SnapshotError(QStringLiteral("There is no database at %1.").arg(from).toStdString());
    const QString part = to + u".part"_s;
    QFile::remove(part);
    try {
        Sqlite3DB source;
        source.openThrow(from, Sqlite3DB::OpenReadOnly);
        source.backupTo(part);
    } catch (const Sqlite3Exception &e) {
        QFile::remove(part);
        throw SnapshotError(e.what());
    }
    QFile::remove(to);
    if (!QFile::rename(part, to)) {
        QFile::remove(part);
        throw SnapshotError(QStringLiteral("cannot write %1").arg(to).toStdString());
    }
}

SnapshotStore::SnapshotStore() : SnapshotStore(DataFolder::root() + u"/snapshots"_s)
{
}

SnapshotStore::SnapshotStore(const QString &folder) : m_folder(folder)
{
}

QString SnapshotStore::settingsPath()
{
    return DataFolder::root() + u"/snapshots.ini"_s;
}

SnapshotStore::Limits SnapshotStore::limits()
{
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    Limits limits;
    bool ok = false;
    const int days = settings.value(u"snapshots/maxAgeDays"_s).toInt(&ok);
    if (ok && days >= 0)
        limits.maxAgeDays = days;
    const int count = settings.value(u"snapshots/maxPerDevice"_s).toInt(&ok);
    if (ok && count >= 1)
        limits.maxPerTarget = count;
    return limits;
}

void SnapshotStore::setLimits(const Limits &limits)
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(u"snapshots/maxAgeDays"_s, std::max(0, limits.maxAgeDays));
    settings.setValue(u"snapshots/maxPerDevice"_s, std::max(1, limits.maxPerTarget));
    settings.sync();
}

QString SnapshotStore::beforePath(const QString &id) const
{
    return m_folder + u'/' + id + u".db"_s;
}

QString SnapshotStore::afterPath(const QString &id) const
{
    return m_folder + u'/' + id + u".after.db"_s;
}

QString SnapshotStore::infoPath(const QString &id) const
{
    return m_folder + u'/' + id + u".json"_s;
}

SnapshotInfo SnapshotStore::take(SnapshotInfo::Kind kind, const QString &target, const QString &targetName,
                                 const QString &operation, const QString &dbPath)
{
    const auto fail = [&](const QString &why) {
        return SnapshotError(QStringLiteral("No snapshot of %1 could be kept, so nothing was written to it: %2")
                                 .arg(targetName, why)
                                 .toStdString());
    };
    if (!QDir().mkpath(m_folder) || !QFileInfo(m_folder).isDir())
        throw fail(QStringLiteral("cannot create the folder %1").arg(m_folder));

    SnapshotInfo info;
    info.time = QDateTime::currentDateTimeUtc();
    info.id = newId(m_folder, info.time);
    info.kind = kind;
    info.target = target;
    info.targetName = targetName;
    info.operation = operation;
    const QString copy = beforePath(info.id);
    try {
        backupDatabase(dbPath, copy);
        LocalDb db(copy, PContactCombineRule(new LocalDbCombineRule));
        db.openReadOnly();
        info.contacts = int(db.countContacts());
        db.close();
        info.sha256 = fileDigest(copy);
        if (info.sha256.isEmpty())
            throw SnapshotError("the copy cannot be read back");
        info.bytes = fileSize(copy);
        writeInfo(info);
    } catch (const std::exception &e) {
        remove(info.id);
        throw fail(QString::fromUtf8(e.what()));
    }
    try {
        prune(limits(), info.id);
    } catch (const std::exception &) {
        // Removing old snapshots is housekeeping; the new one is complete.
    }
    return info;
}

void SnapshotStore::recordAfter(SnapshotInfo &info, const QString &dbPath)
{
    const QString copy = afterPath(info.id);
    backupDatabase(dbPath, copy);
    const QString digest = fileDigest(copy);
    if (digest.isEmpty())
        throw SnapshotError("the copy after the write cannot be read back");
    info.afterSha256 = digest;
    info.bytes = fileSize(beforePath(info.id)) + fileSize(copy);
    writeInfo(info);
}

void SnapshotStore::writeInfo(const SnapshotInfo &info) const
{
    const QJsonObject o{{u"id"_s, info.id},
                        {u"kind"_s, SnapshotInfo::kindName(info.kind)},
                        {u"target"_s, info.target},
                        {u"targetName"_s, info.targetName},
                        {u"operation"_s, info.operation},
                        {u"time"_s, info.time.toString(Qt::ISODateWithMs)},
                        {u"contacts"_s, info.contacts},
                        {u"sha256"_s, info.sha256},
                        {u"afterSha256"_s, info.afterSha256}};
    QSaveFile file(infoPath(info.id));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(o).toJson()) < 0 || !file.commit())
        throw SnapshotError(
            QStringLiteral("cannot write %1: %2").arg(infoPath(info.id), file.errorString()).toStdString());
}

std::optional<SnapshotInfo> SnapshotStore::readInfo(const QString &id) const
{
    QFile file(infoPath(id));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    SnapshotInfo info;
    info.id = id;
    const QJsonObject o = QJsonDocument::fromJson(file.read(1 << 20)).object();
    const std::optional<SnapshotInfo::Kind> kind = SnapshotInfo::kindFromName(o.value(u"kind"_s).toString());
    info.time = QDateTime::fromString(o.value(u"time"_s).toString(), Qt::ISODateWithMs);
    if (!kind || o.value(u"id"_s).toString() != id || !info.time.isValid() ||
        o.value(u"target"_s).toString().isEmpty() || o.value(u"sha256"_s).toString().isEmpty()) {
        info.damaged = true;
        info.time = QFileInfo(file).lastModified().toUTC();
    } else {
        info.kind = *kind;
        info.target = o.value(u"target"_s).toString();
        info.targetName = o.value(u"targetName"_s).toString();
        info.operation = o.value(u"operation"_s).toString();
        info.contacts = o.value(u"contacts"_s).toInt();
        info.sha256 = o.value(u"sha256"_s).toString();
        info.afterSha256 = o.value(u"afterSha256"_s).toString();
    }
    info.bytes = fileSize(infoPath(id)) + fileSize(beforePath(id)) + fileSize(afterPath(id));
    return info;
}

QList<SnapshotInfo> SnapshotStore::listAll() const
{
    QList<SnapshotInfo> out;
    const QStringList names = QDir(m_folder).entryList({u"*.json"_s}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString &name : names)
        if (const std::optional<SnapshotInfo> info = readInfo(name.chopped(5)))
            out.append(*info);
    return out;
}

QList<SnapshotInfo> SnapshotStore::list(SnapshotInfo::Kind kind, const QString &target) const
{
    QList<SnapshotInfo> out;
    for (const SnapshotInfo &info : listAll())
        if (!info.damaged && info.kind == kind && (target.isEmpty() || info.target == target))
            out.append(info);
    return out;
}

std::optional<SnapshotInfo> SnapshotStore::find(const QString &id) const
{
    // An id is a file base name made by newId: nothing that could leave the folder.
    static const QRegularExpression valid(u"^[0-9]{8}-[0-9]{6}-[0-9]{3}(-[0-9]{3})?$"_s);
    if (!valid.match(id).hasMatch())
        return std::nullopt;
    return readInfo(id);
}

qint64 SnapshotStore::diskUse() const
{
    qint64 total = 0;
    for (const QFileInfo &file : QDir(m_folder).entryInfoList(QDir::Files))
        total += file.size();
    return total;
}

void SnapshotStore::remove(const QString &id) const
{
    QFile::remove(infoPath(id));
    QFile::remove(beforePath(id));
    QFile::remove(afterPath(id));
    QFile::remove(beforePath(id) + u".part"_s);
    QFile::remove(afterPath(id) + u".part"_s);
}

void SnapshotStore::prune(const Limits &limits, const QString &keepId)
{
    const QDateTime oldest = QDateTime::currentDateTimeUtc().addDays(-limits.maxAgeDays);
    QHash<QString, int> kept; // kind + target → snapshots kept so far, newest first
    for (const SnapshotInfo &info : listAll()) {
        if (info.id == keepId) {
            ++kept[SnapshotInfo::kindName(info.kind) + u'\n' + info.target];
            continue;
        }
        if (info.damaged)
            continue; // left for the user to see; never counted as one of the kept
        int &count = kept[SnapshotInfo::kindName(info.kind) + u'\n' + info.target];
        if ((limits.maxAgeDays > 0 && info.time < oldest) || count >= std::max(1, limits.maxPerTarget)) {
            remove(info.id);
            continue;
        }
        ++count;
    }
}

QList<pim::Contact> SnapshotStore::contacts(const SnapshotInfo &info, bool after) const
{
    const QString path = after ? afterPath(info.id) : beforePath(info.id);
    const QString expected = after ? info.afterSha256 : info.sha256;
    const auto damaged = [&](const QString &why) {
        return SnapshotDamaged(QStringLiteral("The snapshot %1 of %2 is damaged (%3); nothing was changed.")
                                   .arg(info.id, info.targetName.isEmpty() ? info.target : info.targetName, why)
                                   .toStdString());
    };
    if (info.damaged)
        throw damaged(u"its description cannot be read"_s);
    if (!QFileInfo(path).isFile())
        throw damaged(u"its database file is missing"_s);
    if (expected.isEmpty() || fileDigest(path) != expected)
        throw damaged(u"its database file was altered"_s);
    try {
        LocalDb db(path, PContactCombineRule(new LocalDbCombineRule));
        db.openReadOnly();
        QList<pim::Contact> out = db.listContacts(0, QString());
        db.close();
        return out;
    } catch (const std::exception &e) {
        throw damaged(QString::fromUtf8(e.what()));
    }
}
