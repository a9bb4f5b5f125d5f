#include "addressbookwriter.h"

#include "sqlite_qt/sqlite_qt.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {

// A subset of the iOS schema: every column the importer reads plus the ones that make a database look like
// the phone's (sort keys, dates, store id, guid).
const char *const kAddressBookSchema[] = {
    "CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key))",
    "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, Middle TEXT, "
    "FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, Organization TEXT, Department TEXT, Note TEXT, "
    "Kind INTEGER, Birthday TEXT, JobTitle TEXT, Nickname TEXT, Prefix TEXT, Suffix TEXT, FirstSort TEXT, "
    "LastSort TEXT, CreationDate INTEGER, ModificationDate INTEGER, CompositeNameFallback TEXT, "
    "ExternalIdentifier TEXT, StoreID INTEGER, DisplayName TEXT, guid TEXT)",
    "CREATE TABLE ABGroup (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT, StoreID INTEGER, guid TEXT)",
    "CREATE TABLE ABGroupMembers (UID INTEGER PRIMARY KEY, group_id INTEGER, member_type INTEGER, "
    "member_id INTEGER, UNIQUE(group_id, member_type, member_id))",
    "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER, identifier INTEGER, "
    "label INTEGER, value TEXT, guid TEXT)",
    "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value))",
    "CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT, UNIQUE(parent_id, key))",
    "CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value))",
    "CREATE INDEX ABMultiValueRecordIDIndex ON ABMultiValue(record_id)",
};

const char *const kImagesSchema[] = {
    "CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key))",
    "CREATE TABLE ABThumbnailImage (record_id INTEGER, format INTEGER, derived_from_format INTEGER, data BLOB, "
    "crop_x INTEGER, crop_y INTEGER, crop_width INTEGER, crop_height INTEGER, UNIQUE(record_id, format))",
    "CREATE TABLE ABFullSizeImage (record_id INTEGER, crop_x INTEGER, crop_y INTEGER, crop_width INTEGER, "
    "crop_height INTEGER, data BLOB, UNIQUE(record_id))",
};

void textOrNull(Sqlite3Sql &sql, const QString &value)
{
    if (value.isEmpty())
        sql.addNullParam();
    else
        sql.addTextParam(value);
}

// A fresh database in WAL mode with the given tables.
template <size_t N> void create(Sqlite3DB &db, const QString &path, const char *const (&schema)[N])
{
    QFile::remove(path);
    db.openThrow(path, Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
    db.executeThrow("PRAGMA page_size=4096");
    db.executeThrow("PRAGMA journal_mode=WAL");
    for (const char *statement : schema)
        db.executeThrow(statement);
}

// The row id of a text in a value table (labels, entry keys), added when missing.
qint64 rowIdOf(Sqlite3DB &db, QHash<QString, qint64> &cache, const char *table, const QString &value)
{
    const auto it = cache.constFind(value);
    if (it != cache.constEnd())
        return *it;
    Sqlite3Sql insert(u"INSERT INTO %1 (value) VALUES (?)"_s.arg(QLatin1String(table)));
    insert.addTextParam(value);
    db.executeThrow(insert);
    return cache[value] = db.lastInsertId();
}

} // namespace

void writeAddressBook(const QString &path, const QList<AbPerson> &people)
{
    Sqlite3DB db;
    create(db, path, kAddressBookSchema);
    db.beginTran();
    Sqlite3Sql version("INSERT INTO _SqliteDatabaseProperties (key, value) VALUES ('__CPRecordSequenceNumber', ?)");
    version.addTextParam(QString::number(people.size()));
    db.executeThrow(version);

    QHash<QString, qint64> labels;
    QHash<QString, qint64> entryKeys;
    const qint64 now = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).secsTo(QDateTime::currentDateTimeUtc());
    for (const AbPerson &p : people) {
        Sqlite3Sql insert("INSERT INTO ABPerson (First, Last, Middle, Organization, Department, Note, Kind, Birthday, "
                          "JobTitle, Nickname, Prefix, Suffix, FirstSort, LastSort, CreationDate, ModificationDate, "
                          "StoreID, guid) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,0,?)");
        for (const QString *v : {&p.first, &p.last, &p.middle, &p.organization, &p.department, &p.note})
            textOrNull(insert, *v);
        insert.addIntParam(p.isCompany ? 1 : 0);
        // Seconds since 2001 as text, the way the phone stores a birthday.
        textOrNull(insert, p.birthday.isValid() ? QString::number(abDateSeconds(p.birthday)) : QString());
        for (const QString *v : {&p.jobTitle, &p.nickname, &p.prefix, &p.suffix})
            textOrNull(insert, *v);
        textOrNull(insert, (p.first + u' ' + p.last).trimmed().toLower());
        textOrNull(insert, (p.last + u' ' + p.first).trimmed().toLower());
        insert.addInt64Param(now);
        insert.addInt64Param(now);
        insert.addTextParam(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u":ABPerson"_s);
        db.executeThrow(insert);
        const qint64 personId = db.lastInsertId();

        int identifier = 0;
        for (const AbPerson::MultiValue &mv : p.values) {
            Sqlite3Sql value("INSERT INTO ABMultiValue (record_id, property, identifier, label, value, guid) "
                             "VALUES (?,?,?,?,?,?)");
            value.addInt64Param(personId);
            value.addIntParam(mv.property);
            value.addIntParam(identifier++);
            if (mv.label.isNull())
                value.addNullParam();
            else
                value.addInt64Param(rowIdOf(db, labels, "ABMultiValueLabel", mv.label));
            // Addresses and IM accounts keep their parts in entries and an empty value.
            value.addTextParam(mv.entries.isEmpty() ? mv.value : QString(u""_s));
            value.addTextParam(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
            db.executeThrow(value);
            const qint64 uid = db.lastInsertId();
            for (const auto &[key, text] : mv.entries) {
                Sqlite3Sql entry("INSERT INTO ABMultiValueEntry (parent_id, key, value) VALUES (?,?,?)");
                entry.addInt64Param(uid);
                entry.addInt64Param(rowIdOf(db, entryKeys, "ABMultiValueEntryKey", key));
                entry.addTextParam(text);
                db.executeThrow(entry);
            }
        }
    }
    db.commitTran();
    db.close();
}

void writeAddressBookImages(const QString &path, const QList<AbPerson> &people)
{
    Sqlite3DB db;
    create(db, path, kImagesSchema);
    db.beginTran();
    // Person row ids follow the order of writeAddressBook(): 1, 2, 3 …
    qint64 personId = 0;
    for (const AbPerson &p : people) {
        ++personId;
        if (p.photo.isEmpty())
            continue;
        Sqlite3Sql insert("INSERT INTO ABFullSizeImage (record_id, crop_x, crop_y, crop_width, crop_height, data) "
                          "VALUES (?,0,0,0,0,?)");
        insert.addInt64Param(personId);
        insert.addBlobParam(p.photo);
        db.executeThrow(insert);
    }
    db.commitTran();
    db.close();
}
