#include "contacts/localdb.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include "core/texts.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace pim;

namespace {

// The numbered column placeholders of a statement template: "%1,%2,…,%n", or for the eleven address columns
// "%0,%1,…,%10" (QString::arg reads "%10" as one placeholder, so filling them in order is safe). Each item is
// followed by the suffix ("=?" for assignments).
QString numberedPlaceholders(int count, const QString &suffix)
{
    const int first = count > 9 ? 0 : 1;
    QStringList items;
    for (int i = 0; i < count; ++i)
        items << u'%' + QString::number(first + i) + suffix;
    return items.join(u',');
}

// Fills the placeholders of a template with the column names, lowest number first.
QString fillColumns(QString sql, const QStringList &columns)
{
    for (const QString &column : columns)
        sql = sql.arg(column);
    return sql;
}

const QStringList &columnsOrThrow(int type, const char *operation)
{
    const QStringList &columns = storedColumns(type);
    // A type without columns would write a row nobody can read back: refuse it rather than store garbage.
    if (columns.isEmpty())
        throw std::runtime_error(
            u"LocalDb::%1, invalid entity type %2."_s.arg(QLatin1String(operation)).arg(type).toStdString());
    return columns;
}

// Binds the type's columns of a row in list order: a photo's digest recomputed from its bytes, the bytes as a
// blob, everything else as text (an absent column as empty text).
void bindColumns(Sqlite3Sql &sql, int type, const DataRow &row)
{
    for (const QString &column : storedColumns(type)) {
        if (column == u"data15") {
            sql.addBlobParam(row.value(column).toByteArray());
        } else if (type == ENTITY_PHOTO && column == u"data4") {
            sql.addTextParam(photoDigest(row));
        } else {
            const QVariant value = row.value(column);
            const int typeId = value.metaType().id();
            // Event dates that arrive as date or date-time values are stored in the devices' "yyyy-MM-dd"
            // form.
            if (type == ENTITY_EVENT && column == u"data1" && typeId == QMetaType::QDateTime)
                sql.addTextParam(value.toDateTime().toString(u"yyyy-MM-dd"_s));
            else if (type == ENTITY_EVENT && column == u"data1" && typeId == QMetaType::QDate)
                sql.addTextParam(value.toDate().toString(u"yyyy-MM-dd"_s));
            else
                sql.addTextParam(value.toString());
        }
    }
}

// Where the columns of a listing are in its result, found once from its first row.
struct ListColumns
{
    ListColumns() = default;
    explicit ListColumns(const Sqlite3Row &row)
        : contactId(row.columnIndex(u"contact_id"_s)), type(row.columnIndex(u"type"_s)), id(row.columnIndex(u"_id"_s)),
          srcId(row.columnIndex(u"src_id"_s)), fullName(row.columnIndex(u"full_name"_s)),
          contactSrcId(row.columnIndex(u"csrc_id"_s))
    {
        for (int n = 1; n < int(data.size()); ++n)
            data[n] = row.columnIndex(u"data"_s + QString::number(n));
    }

    // A data row of a type, as readRow reads it from a cursor.
    DataRow readRow(const Sqlite3Row &row, int entityType) const
    {
        DataRow result;
        result._id = row.getInt64(id);
        result.src_id = row.getText(srcId);
        const QStringList &names = storedColumns(entityType);
        const QList<int> &numbers = columnNumbers(entityType);
        for (qsizetype i = 0; i < names.size(); ++i) {
            const int number = numbers.at(i);
            if (number == 15)
                result.columns.insert(names.at(i), row.getBlob(data[15]));
            else
                result.columns.insert(names.at(i), row.getText(data[number]));
        }
        return result;
    }

    // The numbers N of the "dataN" columns a type stores, in storedColumns order.
    static const QList<int> &columnNumbers(int type)
    {
        static const std::array<QList<int>, 14> numbers = [] {
            std::array<QList<int>, 14> all;
            for (int t = 0; t < int(all.size()); ++t) {
                for (const QString &column : storedColumns(t))
                    all[t].append(QStringView(column).mid(4).toInt());
            }
            return all;
        }();
        static const QList<int> none;
        return type >= 0 && type < int(numbers.size()) ? numbers[type] : none;
    }

    int contactId = -1;
    int type = -1;
    int id = -1;
    int srcId = -1;
    int fullName = -1;
    int contactSrcId = -1;
    std::array<int, 16> data{}; // "dataN" at data[N]
};

// The insert and update statements of a type, built once: the statement cache of the connection is keyed by
// the text, so the same text must not be rebuilt for every row.
struct RowStatements
{
    QString insert;
    QString update;
};

const RowStatements &rowStatements(int type)
{
    static const std::array<RowStatements, 14> statements = [] {
        std::array<RowStatements, 14> all;
        for (int t = 0; t < int(all.size()); ++t) {
            const QStringList &columns = storedColumns(t);
            if (columns.isEmpty())
                continue;
            all[t].insert =
                fillColumns(u"insert into data(contact_id,type,src_id,"_s + numberedPlaceholders(columns.size(), {}) +
                                u") values(?,?,?,"_s + QStringList(columns.size(), u"?"_s).join(u',') + u')',
                            columns);
            all[t].update = fillColumns(u"update data set src_id=?,"_s + numberedPlaceholders(columns.size(), u"=?"_s) +
                                            u" where _id=?"_s,
                                        columns);
        }
        return all;
    }();
    return statements[type];
}

// A LIKE pattern that matches the text itself: the escape character and the wildcards are escaped with "\".
QString likeLiteral(QString text)
{
    text.replace(u'\\', u"\\\\"_s);
    text.replace(u'%', u"\\%"_s);
    text.replace(u'_', u"\\_"_s);
    return text;
}

// A keyword that is a phone number (digits, maybe a leading "+", with spaces, dashes, dots, slashes or brackets)
// without its punctuation; empty for any other keyword.
QString phoneDigits(const QString &keyword)
{
    QString digits;
    for (const QChar c : keyword) {
        if (c >= u'0' && c <= u'9')
            digits.append(c);
        else if (c == u'+' && digits.isEmpty())
            digits.append(c);
        else if (!QStringView(u" -()./").contains(c))
            return {};
    }
    return digits.size() > (digits.startsWith(u'+') ? 1 : 0) ? digits : QString();
}

// The group and keyword conditions of a listing, each appended as " and ID in (…)" on the contact id column
// named.
void appendListFilter(Sqlite3Sql &sql, const QString &idColumn, qint64 groupId, const QString &keyword)
{
    if (groupId != 0) {
        sql.appendSql(u" and "_s + idColumn +
                      u" in (select contact_id from data where type=? and %1=?)"_s.arg(u"data1"_s));
        sql.addIntParam(ENTITY_GROUP);
        sql.addTextParam(QString::number(groupId));
    }
    if (!keyword.isEmpty()) {
        const QString digits = phoneDigits(keyword);
        // The matching rows are found by their _id first: type and data1 are all that is tested, and both are in
        // index_data_data, whose scan reads a fraction of the pages of the table's (the rows' other columns, the
        // photos' first bytes). Only the rows found are looked up for their contact.
        if (digits.isEmpty()) {
            sql.appendSql(
                u" and "_s + idColumn +
                u" in (select contact_id from data where _id in (select _id from data where type not in (?,?) "
                "and data1 like ?))"_s);
        } else {
            // A number as typed ("07700900123", "+44 7700-900123") also finds the number as stored with other
            // spacing ("+44 7700 900123"): phone numbers are compared without their punctuation.
            sql.appendSql(
                u" and "_s + idColumn +
                u" in (select contact_id from data where _id in (select _id from data where type not in (?,?) "
                "and (data1 like ? or (type=? and "
                "replace(replace(replace(replace(replace(replace(data1,' ',''),'-',''),'(',''),')',''),'.',''),'/','')"
                " like ?))))"_s);
        }
        sql.addIntParam(ENTITY_GROUP);
        sql.addIntParam(ENTITY_PHOTO);
        sql.addTextParam(u'%' + keyword + u'%');
        if (!digits.isEmpty()) {
            sql.addIntParam(ENTITY_PHONE);
            sql.addTextParam(u'%' + digits + u'%');
        }
    }
}

// The order of a listing: by full name, UTF-16 code units compared; contacts of equal names keep their order.
void sortByName(QList<Contact> &contacts)
{
    std::stable_sort(contacts.begin(), contacts.end(),
                     [](const Contact &a, const Contact &b) { return a.full_name < b.full_name; });
}

// "In use" marks between processes: every process that has a database open holds a shared flock() on the
// file, one descriptor per file and process (flock locks belong to the descriptor, so connections of the same
// process never stand in each other's way). Deleting takes the lock exclusively first, which fails while another
// process holds it. These locks are independent of SQLite's own (fcntl) locks.
struct UseLocks
{
    struct Entry
    {
        int fd = -1;
        int users = 0;
    };
    QMutex mutex;
    QHash<QString, Entry> entries;

    static UseLocks &instance()
    {
        static UseLocks locks;
        return locks;
    }

    static QString key(const QString &path)
    {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        return canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
    }

    void acquire(const QString &path)
    {
        QMutexLocker lock(&mutex);
        Entry &entry = entries[key(path)];
        if (entry.users++ > 0)
            return;
        entry.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        // Waits for nothing: a delete running at this moment holds the lock for a few microseconds only, and a
        // database that cannot be marked is still usable.
        if (entry.fd >= 0 && ::flock(entry.fd, LOCK_SH | LOCK_NB) != 0) {
            ::close(entry.fd);
            entry.fd = -1;
        }
    }

    void release(const QString &path)
    {
        QMutexLocker lock(&mutex);
        const auto it = entries.find(key(path));
        if (it == entries.end() || --it->users > 0)
            return;
        if (it->fd >= 0)
            ::close(it->fd);
        entries.erase(it);
    }

    // Deletes the file unless another process has it open; throws std::runtime_error when it does.
    bool removeIfUnused(const QString &path)
    {
        QMutexLocker lock(&mutex);
        const auto it = entries.find(key(path));
        const bool own = it != entries.end() && it->fd >= 0;
        const int fd = own ? it->fd : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return QFile::remove(path);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (!own)
                ::close(fd);
            throw std::runtime_error(trKey("IDS_LOCALDB_IN_USE_%1").arg(QFileInfo(path).fileName()).toStdString());
        }
        const bool removed = QFile::remove(path);
        if (own)
            ::flock(fd, LOCK_SH);
        else
            ::close(fd);
        return removed;
    }
};

} // namespace

LocalDb::LocalDb(const QString &path, const PContactCombineRule &rule) : m_rule(rule), m_path(path)
{
}

LocalDb::~LocalDb()
{
    close(); // gives back the in-use mark too
}

void LocalDb::openIfNeeded()
{
    if (m_db.isOpen())
        return;
    m_db.openThrow(m_path, Sqlite3DB::OpenReadWrite);
    markInUse();
}

void LocalDb::markInUse()
{
    // The tables read must be plain tables: a view (or a computed column) named like them would run the file's
    // own SQL on every listing, which can be made endless.
    try {
        m_db.checkTable(u"contact"_s, {u"_id"_s, u"src_id"_s, u"full_name"_s});
        m_db.checkTable(u"data"_s, {u"_id"_s, u"contact_id"_s, u"type"_s, u"src_id"_s, u"data1"_s, u"data15"_s});
        m_db.checkTable(u"contact_group"_s, {u"_id"_s, u"name"_s});
    } catch (...) {
        m_db.close();
        throw;
    }
    UseLocks::instance().acquire(m_path);
    m_inUseMarked = true;
}

Sqlite3DB &LocalDb::db()
{
    openIfNeeded();
    return m_db;
}

void LocalDb::createFromTemplate()
{
    // A connection left open on the old file would keep writing to the removed copy.
    close();
    if (QFile::exists(m_path)) {
        QFile old(m_path);
        if (!old.remove())
            throw std::runtime_error(old.errorString().toStdString());
    }
    QFile templateFile(u":res/db.db"_s);
    if (!templateFile.copy(m_path))
        throw std::runtime_error(templateFile.errorString().toStdString());
    // The copy inherits the resource's read-only mode.
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
}

void LocalDb::beginTransaction()
{
    openIfNeeded();
    if (m_db.tranDepth() == 0)
        m_undoFailed = false;
    m_db.beginTran();
}

void LocalDb::endTransaction(bool commit)
{
    openIfNeeded();
    // Like a failed commit, this leaves the transaction open for the rollback that follows.
    if (commit && m_undoFailed && m_db.tranDepth() == 1)
        throw std::runtime_error("LocalDb: a failed save could not be taken back; nothing was stored.");
    if (!commit && m_db.tranDepth() == 1)
        m_undoFailed = false;
    if (commit) {
        m_db.commitTran();
    } else {
        m_db.rollbackTran();
        // The index may have been made inside the transaction just undone.
        m_nameIndexChecked = false;
    }
}

void LocalDb::close()
{
    if (m_db.isOpen())
        m_db.close();
    if (m_inUseMarked) {
        UseLocks::instance().release(m_path);
        m_inUseMarked = false;
    }
    // Another file may be at the path when the connection opens again.
    m_nameIndexChecked = false;
}

bool LocalDb::removeFile()
{
    close();
    return UseLocks::instance().removeIfUnused(m_path);
}

qint64 LocalDb::findContactByName(const QString &name)
{
    openIfNeeded();
    ensureNameIndex();
    // NOCASE equality is the wildcard-free LIKE match (ASCII letters folded, everything else exact), and unlike
    // LIKE it is served by the index instead of a scan of the whole table. Equal keys come in _id order, so the
    // first match is the oldest contact, as the scan found it.
    static const QString text = u"select _id,src_id from contact where full_name=? collate nocase limit 1"_s;
    Sqlite3Sql sql(text);
    sql.addTextParam(name);
    qint64 id = 0;
    m_db.queryEach(sql, [&id](const Sqlite3Row &row) { id = row.getInt64(0); });
    return id;
}

void LocalDb::ensureNameIndex()
{
    if (m_nameIndexChecked)
        return;
    m_nameIndexChecked = true;
    // Made on first use rather than at open, so that opening a database never writes to it; a file where it
    // cannot be made (read-only, busy) is still searched correctly, only by a scan.
    try {
        m_db.executeThrow(Sqlite3Sql("create index if not exists index_contacts_full_name_nocase on "
                                     "contact(full_name collate nocase)"));
    } catch (const Sqlite3Exception &) {
    }
}

void LocalDb::insertContact(Contact &contact)
{
    openIfNeeded();
    static const QString text = u"insert into contact(src_id,full_name) values(?,?)"_s;
    Sqlite3Sql sql(text);
    sql.addTextParam(contact.src_id);
    sql.addTextParam(contact.full_name);
    m_db.executeThrow(sql);
    contact._id = m_db.lastInsertId();
}

void LocalDb::updateContact(const Contact &contact)
{
    openIfNeeded();
    Sqlite3Sql sql("update contact set src_id=?, full_name=? where _id=?");
    sql.addTextParam(contact.src_id);
    sql.addTextParam(contact.full_name);
    sql.addInt64Param(contact._id);
    m_db.executeThrow(sql);
}

void LocalDb::setContactSrcId(qint64 contactId, const QString &srcId)
{
    openIfNeeded();
    Sqlite3Sql sql("update contact set src_id=? where _id=?");
    sql.addTextParam(srcId);
    sql.addInt64Param(contactId);
    m_db.executeThrow(sql);
}

void LocalDb::setRowSrcId(qint64 rowId, const QString &srcId)
{
    openIfNeeded();
    Sqlite3Sql sql("update data set src_id=? where _id=?");
    sql.addTextParam(srcId);
    sql.addInt64Param(rowId);
    m_db.executeThrow(sql);
}

void LocalDb::deleteRow(qint64 rowId)
{
    openIfNeeded();
    m_db.executeThrow(u"delete from data where _id=%1"_s.arg(rowId));
}

void LocalDb::deleteContact(qint64 contactId)
{
    openIfNeeded();
    m_db.executeThrow(u"delete from data where contact_id=%1"_s.arg(contactId));
    m_db.executeThrow(u"delete from contact where _id=%1"_s.arg(contactId));
}

void LocalDb::deleteGroup(qint64 groupId)
{
    openIfNeeded();
    m_db.executeThrow(u"delete from contact_group where _id=%1"_s.arg(groupId));
}

qint64 LocalDb::findOrCreateGroup(const QString &name)
{
    return findOrCreateGroup(name, nullptr);
}

qint64 LocalDb::findOrCreateGroup(const QString &name, bool *created)
{
    openIfNeeded();
    // Matched like contact names: ASCII case ignored, "%" and "_" literal, so "a_c" never lands in group
    // "abc".
    Sqlite3Sql find("select _id from contact_group where name like ? escape '\\'");
    find.addTextParam(likeLiteral(name));
    Sqlite3Cursor cursor = m_db.queryThrow(find);
    if (cursor.moveNext())
        return cursor.getInt64(u"_id"_s);
    Sqlite3Sql insert("insert into contact_group(name) values(?)");
    insert.addTextParam(name);
    m_db.executeThrow(insert);
    if (created)
        *created = true;
    return m_db.lastInsertId();
}

QList<QPair<qint64, QString>> LocalDb::listGroups()
{
    openIfNeeded();
    QList<QPair<qint64, QString>> groups;
    Sqlite3Cursor cursor = m_db.queryThrow(Sqlite3Sql("select * from contact_group order by name asc"));
    while (cursor.moveNext())
        groups.append({cursor.getInt64(u"_id"_s), cursor.getText(u"name"_s)});
    return groups;
}

DataRow LocalDb::setContactGroup(qint64 contactId, qint64 groupId, const QString &groupName)
{
    openIfNeeded();
    m_db.executeThrow(u"delete from data where type=%1 and contact_id=%2"_s.arg(ENTITY_GROUP).arg(contactId));
    Sqlite3Sql insert(u"insert into data(type,contact_id,%1,%2) values(?,?,?,?)"_s.arg(u"data1"_s, u"data2"_s));
    insert.addIntParam(ENTITY_GROUP);
    insert.addInt64Param(contactId);
    insert.addTextParam(QString::number(groupId));
    insert.addTextParam(groupName);
    m_db.executeThrow(insert);

    DataRow row;
    row._id = m_db.lastInsertId();
    row.setValue(u"data1"_s, QString::number(groupId));
    row.setValue(u"data2"_s, groupName);
    return row;
}

void LocalDb::insertRow(qint64 contactId, int type, DataRow &row)
{
    columnsOrThrow(type, "insertRow");
    openIfNeeded();
    Sqlite3Sql sql(rowStatements(type).insert);
    sql.addInt64Param(contactId);
    sql.addIntParam(type);
    sql.addTextParam(row.src_id);
    bindColumns(sql, type, row);
    m_db.executeThrow(sql);
    row._id = m_db.lastInsertId();
}

void LocalDb::updateRow(int type, const DataRow &row)
{
    columnsOrThrow(type, "updateRow");
    openIfNeeded();
    Sqlite3Sql sql(rowStatements(type).update);
    sql.addTextParam(row.src_id);
    bindColumns(sql, type, row);
    sql.addInt64Param(row._id);
    m_db.executeThrow(sql);
}

Contact LocalDb::loadContact(qint64 contactId)
{
    openIfNeeded();
    // Fixed statement texts with the id bound: merge-save loads every namesake it meets, and a text per id would
    // be compiled each time and crowd the statement cache.
    static const QString headText = u"select _id,src_id,full_name from contact where _id=?"_s;
    static const QString rowsText = u"select * from data where contact_id=?"_s;
    Contact contact;
    Sqlite3Sql head(headText);
    head.addInt64Param(contactId);
    bool found = false;
    m_db.queryEach(head, [&](const Sqlite3Row &row) {
        contact._id = row.getInt64(0);
        contact.src_id = row.getText(1);
        contact.full_name = row.getText(2);
        found = true;
    });
    if (!found)
        return Contact();

    Sqlite3Sql rows(rowsText);
    rows.addInt64Param(contactId);
    ListColumns columns;
    m_db.queryEach(rows, [&](const Sqlite3Row &row) {
        if (columns.contactId < 0)
            columns = ListColumns(row);
        const int type = row.getInt(columns.type);
        contact.addRow(type, columns.readRow(row, type));
    });
    return contact;
}

QList<Contact> LocalDb::listContacts(qint64 groupId, const QString &keyword)
{
    openIfNeeded();
    Sqlite3Sql sql("select d.*,c.full_name,c.src_id as csrc_id from data as d inner join contact as c on "
                   "d.contact_id=c._id");
    if (groupId != 0 || !keyword.isEmpty()) {
        sql.appendSql(u" where 1=1"_s);
        appendListFilter(sql, u"contact_id"_s, groupId, keyword);
    }
    sql.appendSql(u" order by contact_id asc"_s);

    // A whole database can be listed: the rows are turned into contacts as they are stepped to, reading only
    // the columns of each row's type, rather than first held as a full result of every column.
    QList<Contact> contacts;
    Contact current;
    ListColumns columns;
    m_db.queryEach(sql, [&](const Sqlite3Row &row) {
        if (columns.contactId < 0)
            columns = ListColumns(row);
        const qint64 contactId = row.getInt64(columns.contactId);
        if (contactId != current._id) {
            if (current._id != 0)
                contacts.append(std::move(current));
            current = Contact();
            current._id = contactId;
            current.full_name = row.getText(columns.fullName);
            current.src_id = row.getText(columns.contactSrcId);
        }
        const int type = row.getInt(columns.type);
        current.entities[type].append(columns.readRow(row, type));
    });
    if (current._id != 0)
        contacts.append(std::move(current));

    sortByName(contacts);
    return contacts;
}

QList<Contact> LocalDb::listContactHeads(qint64 groupId, const QString &keyword)
{
    openIfNeeded();
    // The contacts that listContacts' join yields: those with at least one data row, in contact id order.
    Sqlite3Sql sql("select c._id,c.full_name,c.src_id from contact as c where exists (select 1 from data where "
                   "contact_id=c._id)");
    appendListFilter(sql, u"c._id"_s, groupId, keyword);
    sql.appendSql(u" order by c._id asc"_s);
    QList<Contact> heads;
    m_db.queryEach(sql, [&heads](const Sqlite3Row &row) {
        Contact head;
        head._id = row.getInt64(0);
        if (head._id == 0) // listContacts takes id 0 for "no contact yet" and never lists it
            return;
        head.full_name = row.getText(1);
        head.src_id = row.getText(2);
        heads.append(std::move(head));
    });
    sortByName(heads);
    return heads;
}

QList<Contact> LocalDb::listContactHeadsPage(PageCursor &cursor, int limit)
{
    openIfNeeded();
    // index_contacts_full_name (full_name, then _id as in every index) serves both the start and the order.
    Sqlite3Sql sql("select c._id,c.full_name,c.src_id,c.full_name is null from contact as c where c._id<>0 and "
                   "exists (select 1 from data where contact_id=c._id)");
    if (cursor.id != 0 && cursor.nameNull) {
        sql.appendSql(u" and ((c.full_name is null and c._id>?) or c.full_name is not null)"_s);
        sql.addInt64Param(cursor.id);
    } else if (cursor.id != 0) {
        sql.appendSql(u" and c.full_name>=? and (c.full_name>? or c._id>?)"_s);
        sql.addTextParam(cursor.name);
        sql.addTextParam(cursor.name);
        sql.addInt64Param(cursor.id);
    }
    sql.appendSql(u" order by c.full_name,c._id limit ?"_s);
    sql.addIntParam(limit);
    QList<Contact> heads;
    heads.reserve(limit);
    m_db.queryEach(sql, [&heads, &cursor](const Sqlite3Row &row) {
        Contact head;
        head._id = row.getInt64(0);
        head.full_name = row.getText(1);
        head.src_id = row.getText(2);
        cursor.id = head._id;
        cursor.name = head.full_name;
        cursor.nameNull = row.getInt(3) != 0;
        heads.append(std::move(head));
    });
    return heads;
}

qint64 LocalDb::countContacts()
{
    return countContacts(0, QString());
}

qint64 LocalDb::countContacts(qint64 groupId, const QString &keyword)
{
    openIfNeeded();
    // The contacts listContactHeads yields, counted by SQLite: nothing is read into memory. The contacts are
    // walked in _id order (not along the smaller name index, which SQLite would pick), so that the lookups of
    // their rows in index_data_contact go forward through it instead of jumping about: six times less work for
    // a million contacts.
    Sqlite3Sql sql("select count(*) from contact as c not indexed where c._id<>0 and exists (select 1 from data "
                   "where contact_id=c._id)");
    appendListFilter(sql, u"c._id"_s, groupId, keyword);
    qint64 count = 0;
    m_db.queryEach(sql, [&count](const Sqlite3Row &row) { count = row.getInt64(0); });
    return count;
}

void LocalDb::readContactRows(std::span<Contact> contacts)
{
    if (contacts.empty())
        return;
    openIfNeeded();
    QString text = u"select * from data where contact_id in (?"_s;
    text.reserve(text.size() + qsizetype(contacts.size()) * 2 + 40);
    for (size_t i = 1; i < contacts.size(); ++i)
        text += u",?"_s;
    // Within a contact the rows come as listContacts' walk of index_data_contact gives them.
    text += u") order by contact_id,type,_id"_s;
    Sqlite3Sql sql(text);
    QHash<qint64, Contact *> byId;
    byId.reserve(qsizetype(contacts.size()));
    for (Contact &contact : contacts) {
        contact.entities.clear();
        sql.addInt64Param(contact._id);
        byId.insert(contact._id, &contact);
    }
    ListColumns columns;
    m_db.queryEach(sql, [&](const Sqlite3Row &row) {
        if (columns.contactId < 0)
            columns = ListColumns(row);
        Contact *contact = byId.value(row.getInt64(columns.contactId));
        if (!contact)
            return;
        const int type = row.getInt(columns.type);
        contact->entities[type].append(columns.readRow(row, type));
    });
}

void LocalDb::openReadOnly()
{
    close();
    m_db.openThrow(m_path, Sqlite3DB::OpenReadOnly);
    markInUse();
}

// What one merge-save wrote inside a caller's transaction, so that a failure can take exactly that back without
// a savepoint per contact (a savepoint copies every page the contact touches a second time).
struct LocalDb::SaveUndo
{
    qint64 newContact = 0;                 // a contact inserted by this save: it goes with all its rows
    QList<qint64> insertedRows;            // rows added to a stored contact
    QList<QPair<int, qint64>> updatedRows; // (type, _id) of stored rows overwritten
    QList<qint64> createdGroups;
    pim::Contact before; // the stored contact as it was, for the rows to put back
};

void LocalDb::undoSave(const SaveUndo &undo)
{
    // SQLite ends the whole transaction by itself after some errors (disk full, I/O): nothing is left to undo,
    // and the caller's rollback finds no transaction either.
    if (!m_db.inTransaction())
        return;
    try {
        if (undo.newContact != 0) {
            m_db.executeThrow(u"delete from data where contact_id=%1"_s.arg(undo.newContact));
            m_db.executeThrow(u"delete from contact where _id=%1"_s.arg(undo.newContact));
        }
        for (const qint64 id : undo.insertedRows)
            deleteRow(id);
        for (const auto &[type, id] : undo.updatedRows) {
            for (const DataRow &row : undo.before.entities.value(type)) {
                if (row._id == id) {
                    updateRow(type, row);
                    break;
                }
            }
        }
        for (const qint64 id : undo.createdGroups)
            deleteGroup(id);
    } catch (...) {
        // Half a contact must not be committed: the caller's transaction can only be rolled back now.
        m_undoFailed = true;
        throw;
    }
}

LocalDb::SaveResult LocalDb::saveContactWithMerge(const Contact &contact, const std::function<bool()> &cancelled)
{
    if (!m_rule)
        throw std::runtime_error("LocalDb::saveContactWithMerge, no duplicate rule.");
    openIfNeeded();
    // A nameless contact never matches: "like ''" would gather every nameless card into one contact.
    const qint64 existingId = contact.full_name.isEmpty() ? 0 : findContactByName(contact.full_name);

    // Alone, the save is a transaction of its own. Inside a caller's transaction (every worker saves a batch in
    // one) it remembers what it wrote and takes that back on failure.
    const bool own = m_db.tranDepth() == 0;
    SaveResult result;
    SaveUndo undo;
    if (own)
        m_db.beginTran();
    try {
        if (existingId != 0) {
            result.merged = true;
            result.stored = loadContact(existingId);
            undo.before = result.stored;
        } else {
            result.stored.full_name = contact.full_name;
            insertContact(result.stored);
            undo.newContact = result.stored._id;
            if (contact.hasRows(ENTITY_NAME)) {
                DataRow name = contact.firstRow(ENTITY_NAME);
                name.src_id.clear();
                insertRow(result.stored._id, ENTITY_NAME, name);
                result.stored.addRow(ENTITY_NAME, name);
                result.written[ENTITY_NAME].append(name);
            }
        }

        qint64 handled = 0;
        for (auto it = contact.entities.cbegin(); it != contact.entities.cend(); ++it) {
            const int type = it.key();
            QList<DataRow> stored = result.stored.entities.value(type);
            QList<DataRow> &written = result.written[type];
            QHash<qint64, qsizetype> writtenAt; // row _id → its place in written
            RowMerger merger(*m_rule, type, stored);
            for (const DataRow &incoming : it.value()) {
                // A card can hold many thousand rows: a cancel is heard between them.
                if (cancelled && (++handled & 0xFF) == 0 && cancelled())
                    throw MergeCancelled();
                MergeDecision decision = merger.merge(incoming);
                if (!decision.write)
                    continue;
                DataRow &row = decision.row;
                if (type == ENTITY_GROUP) {
                    bool created = false;
                    row.setValue(u"data1"_s, QString::number(findOrCreateGroup(row.text(u"data2"_s), &created)));
                    if (created)
                        undo.createdGroups.append(row.text(u"data1"_s).toLongLong());
                }
                if (row._id != 0) {
                    updateRow(type, row);
                    undo.updatedRows.append({type, row._id});
                } else {
                    insertRow(result.stored._id, type, row);
                    if (undo.newContact == 0)
                        undo.insertedRows.append(row._id);
                }
                stored[decision.storedIndex] = row;

                // A row written twice (a single type merged from two incoming rows) is reported once, as it
                // now is.
                const auto same = writtenAt.constFind(row._id);
                if (same != writtenAt.cend()) {
                    written[*same] = row;
                } else {
                    writtenAt.insert(row._id, written.size());
                    written.append(row);
                }
            }
            if (!stored.isEmpty())
                result.stored.entities[type] = stored;
            if (written.isEmpty())
                result.written.remove(type);
        }
        if (own)
            m_db.commitTran();
    } catch (const MergeCancelled &) {
        if (own)
            m_db.rollbackTran();
        else
            undoSave(undo);
        throw;
    } catch (const std::exception &e) {
        const std::string message = e.what();
        try {
            if (own)
                m_db.rollbackTran();
            else
                undoSave(undo);
        } catch (const std::exception &) {
            // The first error is the one to report.
        }
        throw std::runtime_error(message);
    }
    return result;
}
