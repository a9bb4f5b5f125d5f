#include "sqlite_qt/sqlite_qt.h"

#include <QLocale>

#include <sqlite3.h>

int sqlite_qt_version()
{
    return 8;
}

const char *sqlite_qt_engine_version()
{
    return sqlite3_libversion();
}

Sqlite3Exception::Sqlite3Exception(const QString &message, int code)
    : std::runtime_error(message.toUtf8().toStdString()), m_code(code)
{
}

bool Sqlite3Exception::isBusy() const
{
    return m_code == SQLITE_BUSY;
}

bool Sqlite3Exception::isInterrupted() const
{
    return m_code == SQLITE_INTERRUPT;
}

// ---------------------------------------------------------------------------------------------------------------
// Sqlite3Sql

Sqlite3Sql::Sqlite3Sql(const char *sql) : m_sql(QString::fromUtf8(sql))
{
}

Sqlite3Sql::Sqlite3Sql(const QString &sql) : m_sql(sql)
{
}

void Sqlite3Sql::appendSql(const QString &text)
{
    m_sql += text;
}

void Sqlite3Sql::addTextParam(const QString &value)
{
    // A null QString would bind NULL; callers mean text, so bind empty text instead.
    m_params.append(QVariant(value.isNull() ? QStringLiteral("") : value));
}

void Sqlite3Sql::addIntParam(int value)
{
    m_params.append(QVariant(value));
}

void Sqlite3Sql::addInt64Param(qint64 value)
{
    m_params.append(QVariant(value));
}

void Sqlite3Sql::addBlobParam(const QByteArray &value)
{
    m_params.append(QVariant(value));
}

void Sqlite3Sql::addNullParam()
{
    m_params.append(QVariant());
}

// ---------------------------------------------------------------------------------------------------------------
// Sqlite3Cursor

Sqlite3Cursor::Sqlite3Cursor() : m_result(std::make_shared<Result>())
{
}

bool Sqlite3Cursor::moveNext()
{
    if (m_row < m_result->rows)
        ++m_row;
    return m_row < m_result->rows;
}

int Sqlite3Cursor::count() const
{
    return m_result->rows;
}

int Sqlite3Cursor::columnCount() const
{
    return int(m_result->names.size());
}

QStringList Sqlite3Cursor::columnNames() const
{
    return m_result->names;
}

int Sqlite3Cursor::columnIndex(const QString &column) const
{
    return m_result->index.value(column, -1);
}

int Sqlite3Cursor::indexOrThrow(const QString &column) const
{
    const int i = columnIndex(column);
    if (i < 0)
        throw Sqlite3Exception(QStringLiteral("Sqlite3Cursor: no column named \"%1\" in the result.").arg(column), 0);
    return i;
}

const QVariant &Sqlite3Cursor::value(int column) const
{
    if (m_row < 0 || m_row >= m_result->rows)
        throw Sqlite3Exception(QStringLiteral("Sqlite3Cursor: no current row."), 0);
    if (column < 0 || column >= columnCount())
        throw Sqlite3Exception(QStringLiteral("Sqlite3Cursor: column %1 out of range.").arg(column), 0);
    return m_result->cells.at(qsizetype(m_row) * columnCount() + column);
}

QString Sqlite3Cursor::getText(int column) const
{
    const QVariant &v = value(column);
    if (v.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(v.toByteArray());
    return v.isNull() ? QStringLiteral("") : v.toString();
}

int Sqlite3Cursor::getInt(int column) const
{
    return int(getInt64(column));
}

qint64 Sqlite3Cursor::getInt64(int column) const
{
    const QVariant &v = value(column);
    if (v.typeId() == QMetaType::QString) // SQLite's own text-to-integer conversion: leading digits, else 0
        return v.toString().trimmed().toLongLong();
    return v.toLongLong();
}

QByteArray Sqlite3Cursor::getBlob(int column) const
{
    const QVariant &v = value(column);
    if (v.typeId() == QMetaType::QString)
        return v.toString().toUtf8();
    return v.toByteArray();
}

bool Sqlite3Cursor::isNull(int column) const
{
    return value(column).isNull();
}

QString Sqlite3Cursor::getText(const QString &column) const
{
    return getText(indexOrThrow(column));
}

int Sqlite3Cursor::getInt(const QString &column) const
{
    return getInt(indexOrThrow(column));
}

qint64 Sqlite3Cursor::getInt64(const QString &column) const
{
    return getInt64(indexOrThrow(column));
}

QByteArray Sqlite3Cursor::getBlob(const QString &column) const
{
    return getBlob(indexOrThrow(column));
}

bool Sqlite3Cursor::isNull(const QString &column) const
{
    return isNull(indexOrThrow(column));
}

// ---------------------------------------------------------------------------------------------------------------
// Sqlite3Row

int Sqlite3Row::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

int Sqlite3Row::columnIndex(const QString &column) const
{
    const QByteArray name = column.toUtf8();
    for (int c = 0; c < columnCount(); ++c) {
        if (name == sqlite3_column_name(m_stmt, c))
            return c;
    }
    return -1;
}

void Sqlite3Row::checkColumn(int column) const
{
    if (column < 0 || column >= columnCount())
        throw Sqlite3Exception(QStringLiteral("Sqlite3Row: column %1 out of range.").arg(column), 0);
}

QString Sqlite3Row::getText(int column) const
{
    checkColumn(column);
    if (sqlite3_column_type(m_stmt, column) == SQLITE_FLOAT) // the text Sqlite3Cursor gives
        return QString::number(sqlite3_column_double(m_stmt, column), 'g', QLocale::FloatingPointShortest);
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return size > 0 ? QString::fromUtf8(text, size) : QStringLiteral("");
}

int Sqlite3Row::getInt(int column) const
{
    return int(getInt64(column));
}

qint64 Sqlite3Row::getInt64(int column) const
{
    checkColumn(column);
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(m_stmt, column);
    case SQLITE_FLOAT:
        return qRound64(sqlite3_column_double(m_stmt, column)); // as QVariant converts it for the cursor
    case SQLITE_TEXT:
        return getText(column).trimmed().toLongLong(); // as Sqlite3Cursor reads text
    case SQLITE_BLOB:
        return getBlob(column).toLongLong();
    default:
        return 0;
    }
}

QByteArray Sqlite3Row::getBlob(int column) const
{
    checkColumn(column);
    if (sqlite3_column_type(m_stmt, column) == SQLITE_FLOAT)
        return getText(column).toUtf8();
    const auto *blob = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return size > 0 ? QByteArray(blob, size) : QByteArray();
}

bool Sqlite3Row::isNull(int column) const
{
    checkColumn(column);
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

// ---------------------------------------------------------------------------------------------------------------
// Sqlite3DB

namespace {

// Resets a cached statement whatever way the caller leaves.
struct StatementReset
{
    sqlite3_stmt *stmt;
    ~StatementReset()
    {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
};

constexpr int kMaxCachedStatements = 64;

} // namespace

Sqlite3DB::Sqlite3DB() = default;

Sqlite3DB::~Sqlite3DB()
{
    close();
}

void Sqlite3DB::fail(const QString &what, int rc) const
{
    QString message = what;
    if (m_db && (rc & 0xff) == SQLITE_INTERRUPT && m_budgetSpent) {
        message += QStringLiteral(": stopped after %1 million steps, more than a file of this size can need "
                                  "(a damaged or hostile file)")
                       .arg(m_stepsDone / 1000000);
    } else if (m_db) {
        message += QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(m_db));
    } else {
        message += QStringLiteral(": ") + QString::fromUtf8(sqlite3_errstr(rc));
    }
    throw Sqlite3Exception(message, rc & 0xff);
}

namespace {
// Steps between two calls of a progress handler: a few thousand per millisecond.
constexpr int kProgressSteps = 10000;
} // namespace

void Sqlite3DB::openThrow(const QString &path, int flags)
{
    close();
    int sqliteFlags = 0;
    if (flags & OpenReadWrite)
        sqliteFlags |= SQLITE_OPEN_READWRITE;
    else
        sqliteFlags |= SQLITE_OPEN_READONLY;
    if (flags & OpenCreate)
        sqliteFlags |= SQLITE_OPEN_CREATE;
    sqliteFlags |= SQLITE_OPEN_FULLMUTEX;

    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, sqliteFlags, nullptr);
    if (rc != SQLITE_OK) {
        const QString message =
            QStringLiteral("Sqlite3DB::openThrow, cannot open \"%1\": %2")
                .arg(path, db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc)));
        sqlite3_close_v2(db);
        throw Sqlite3Exception(message, rc & 0xff);
    }
    sqlite3_extended_result_codes(db, 1);
    // A worker and the window never write the same file at once, but a second process might: wait briefly.
    sqlite3_busy_timeout(db, 5000);
    if (m_progress || m_stepBudget > 0)
        sqlite3_progress_handler(db, kProgressSteps, &Sqlite3DB::onProgress, this);
    m_db = db;
    m_path = path;
    m_depth = 0;
}

void Sqlite3DB::backupTo(const QString &path)
{
    if (!m_db)
        fail(QStringLiteral("Sqlite3DB::backupTo, no database is open"), SQLITE_MISUSE);
    Sqlite3DB target;
    target.openThrow(path, OpenReadWrite | OpenCreate);
    sqlite3_backup *backup = sqlite3_backup_init(target.m_db, "main", m_db, "main");
    if (!backup)
        target.fail(QStringLiteral("Sqlite3DB::backupTo \"%1\"").arg(path), sqlite3_errcode(target.m_db));
    int rc = sqlite3_backup_step(backup, -1);
    for (int tries = 0; (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && tries < 50; ++tries) {
        sqlite3_sleep(100);
        rc = sqlite3_backup_step(backup, -1);
    }
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE)
        throw Sqlite3Exception(
            QStringLiteral("Sqlite3DB::backupTo \"%1\": %2").arg(path, QString::fromUtf8(sqlite3_errstr(rc))),
            rc & 0xff);
}

int Sqlite3DB::onProgress(void *self)
{
    auto *db = static_cast<Sqlite3DB *>(self);
    db->m_stepsDone += kProgressSteps;
    if (db->m_stepBudget > 0 && db->m_stepsDone > db->m_stepBudget) {
        db->m_budgetSpent = true;
        return 1;
    }
    return db->m_progress && db->m_progress() ? 1 : 0;
}

void Sqlite3DB::setStepBudget(qint64 steps)
{
    m_stepBudget = steps;
    m_stepsDone = 0;
    m_budgetSpent = false;
    // The budget needs the handler even without a cancel function.
    if (m_db)
        sqlite3_progress_handler(m_db, kProgressSteps, &Sqlite3DB::onProgress, this);
}

void Sqlite3DB::setProgressHandler(const std::function<bool()> &handler)
{
    m_progress = handler;
    const bool wanted = m_progress || m_stepBudget > 0;
    if (m_db)
        sqlite3_progress_handler(m_db, wanted ? kProgressSteps : 0, wanted ? &Sqlite3DB::onProgress : nullptr, this);
}

void Sqlite3DB::setLengthLimit(int bytes)
{
    if (!m_db)
        throw Sqlite3Exception(QStringLiteral("Sqlite3DB: the database is not open."), 0);
    sqlite3_limit(m_db, SQLITE_LIMIT_LENGTH, bytes);
}

void Sqlite3DB::checkTable(const QString &table, const QStringList &columns)
{
    const auto refuse = [this, &table](const QString &what) {
        throw Sqlite3Exception(
            QStringLiteral("\"%1\" is not a database of the expected kind: %2 %3.").arg(m_path, table, what),
            SQLITE_CORRUPT);
    };
    Sqlite3Sql kind("select type, sql from sqlite_master where name=? collate nocase and type in ('table','view')");
    kind.addTextParam(table);
    const Sqlite3Cursor found = queryThrow(kind);
    Sqlite3Cursor row = found;
    if (!row.moveNext())
        refuse(QStringLiteral("is missing"));
    if (row.getText(0) != QLatin1String("table"))
        refuse(QStringLiteral("is a view, not a table"));
    if (row.getText(1).trimmed().startsWith(QLatin1String("create virtual"), Qt::CaseInsensitive))
        refuse(QStringLiteral("is a virtual table"));

    // table_xinfo lists computed columns too, with "hidden" 2 or 3.
    QStringList present;
    Sqlite3Sql info("select name, hidden from pragma_table_xinfo(?)");
    info.addTextParam(table);
    Sqlite3Cursor cols = queryThrow(info);
    while (cols.moveNext()) {
        if (cols.getInt(1) == 2 || cols.getInt(1) == 3)
            refuse(QStringLiteral("has the computed column \"%1\"").arg(cols.getText(0)));
        present.append(cols.getText(0).toLower());
    }
    for (const QString &column : columns) {
        if (!present.contains(column.toLower()))
            refuse(QStringLiteral("has no column \"%1\"").arg(column));
    }
}

void Sqlite3DB::close()
{
    if (!m_db)
        return;
    for (sqlite3_stmt *stmt : std::as_const(m_statements))
        sqlite3_finalize(stmt);
    m_statements.clear();
    // An open transaction is abandoned: SQLite rolls it back when the connection closes.
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_depth = 0;
}

sqlite3_stmt *Sqlite3DB::prepare(const Sqlite3Sql &sql)
{
    if (!m_db)
        throw Sqlite3Exception(QStringLiteral("Sqlite3DB: the database is not open."), 0);
    if (sqlite3_stmt *cached = m_statements.value(sql.sql()))
        return cached;

    const QByteArray text = sql.sql().toUtf8();
    sqlite3_stmt *stmt = nullptr;
    const char *tail = nullptr;
    const int rc = sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &stmt, &tail);
    if (rc != SQLITE_OK)
        fail(QStringLiteral("Sqlite3DB, prepare \"%1\" failed").arg(sql.sql()), rc);
    if (!stmt) // only white space or a comment
        throw Sqlite3Exception(QStringLiteral("Sqlite3DB, empty statement \"%1\".").arg(sql.sql()), 0);
    if (tail && QByteArray(tail).trimmed().size() > 0) {
        sqlite3_finalize(stmt);
        throw Sqlite3Exception(QStringLiteral("Sqlite3DB, more than one statement in \"%1\".").arg(sql.sql()), 0);
    }
    if (m_statements.size() >= kMaxCachedStatements) {
        for (sqlite3_stmt *old : std::as_const(m_statements))
            sqlite3_finalize(old);
        m_statements.clear();
    }
    m_statements.insert(sql.sql(), stmt);
    return stmt;
}

void Sqlite3DB::bind(sqlite3_stmt *stmt, const Sqlite3Sql &sql)
{
    const int expected = sqlite3_bind_parameter_count(stmt);
    if (expected != sql.params().size())
        throw Sqlite3Exception(QStringLiteral("Sqlite3DB, \"%1\" has %2 parameters but %3 were given.")
                                   .arg(sql.sql())
                                   .arg(expected)
                                   .arg(sql.params().size()),
                               SQLITE_RANGE);
    int i = 1;
    for (const QVariant &p : sql.params()) {
        int rc = SQLITE_OK;
        switch (p.typeId()) {
        case QMetaType::Int:
            rc = sqlite3_bind_int(stmt, i, p.toInt());
            break;
        case QMetaType::LongLong:
            rc = sqlite3_bind_int64(stmt, i, p.toLongLong());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = p.toByteArray();
            rc = sqlite3_bind_blob64(stmt, i, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::QString: {
            const QByteArray utf8 = p.toString().toUtf8();
            rc = sqlite3_bind_text64(stmt, i, utf8.constData(), sqlite3_uint64(utf8.size()), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
            break;
        }
        default:
            rc = sqlite3_bind_null(stmt, i);
            break;
        }
        if (rc != SQLITE_OK)
            fail(QStringLiteral("Sqlite3DB, bind parameter %1 of \"%2\" failed").arg(i).arg(sql.sql()), rc);
        ++i;
    }
}

void Sqlite3DB::executeThrow(const Sqlite3Sql &sql)
{
    sqlite3_stmt *stmt = prepare(sql);
    StatementReset reset{stmt};
    bind(stmt, sql);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("Sqlite3DB, execute \"%1\" failed").arg(sql.sql()), rc);
}

Sqlite3Cursor Sqlite3DB::queryThrow(const Sqlite3Sql &sql)
{
    sqlite3_stmt *stmt = prepare(sql);
    StatementReset reset{stmt};
    bind(stmt, sql);

    Sqlite3Cursor cursor;
    Sqlite3Cursor::Result &result = *cursor.m_result;
    const int columns = sqlite3_column_count(stmt);
    for (int c = 0; c < columns; ++c) {
        const QString name = QString::fromUtf8(sqlite3_column_name(stmt, c));
        result.names.append(name);
        // With duplicate names ("d.*, c.src_id") the first column of a name wins, as SQLite's own lookups do.
        if (!result.index.contains(name))
            result.index.insert(name, c);
    }

    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_INTEGER:
                result.cells.append(QVariant(qint64(sqlite3_column_int64(stmt, c))));
                break;
            case SQLITE_FLOAT:
                result.cells.append(QVariant(sqlite3_column_double(stmt, c)));
                break;
            case SQLITE_TEXT: {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, c));
                result.cells.append(QVariant(QString::fromUtf8(text, sqlite3_column_bytes(stmt, c))));
                break;
            }
            case SQLITE_BLOB: {
                const auto *blob = static_cast<const char *>(sqlite3_column_blob(stmt, c));
                result.cells.append(QVariant(QByteArray(blob, sqlite3_column_bytes(stmt, c))));
                break;
            }
            default:
                result.cells.append(QVariant());
                break;
            }
        }
        ++result.rows;
    }
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("Sqlite3DB, query \"%1\" failed").arg(sql.sql()), rc);
    return cursor;
}

void Sqlite3DB::queryEach(const Sqlite3Sql &sql, const std::function<void(const Sqlite3Row &)> &onRow)
{
    sqlite3_stmt *stmt = prepare(sql);
    // Taken out of the cache while it is stepped, so that a statement run by onRow never resets it; put back
    // afterwards unless onRow cached another statement of the same text meanwhile.
    m_statements.remove(sql.sql());
    struct Release
    {
        Sqlite3DB &db;
        sqlite3_stmt *stmt;
        const QString &text;
        ~Release()
        {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
            if (db.m_db && !db.m_statements.contains(text) && db.m_statements.size() < kMaxCachedStatements)
                db.m_statements.insert(text, stmt);
            else
                sqlite3_finalize(stmt);
        }
    } release{*this, stmt, sql.sql()};
    bind(stmt, sql);

    const Sqlite3Row row(stmt);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        onRow(row);
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("Sqlite3DB, query \"%1\" failed").arg(sql.sql()), rc);
}

qint64 Sqlite3DB::lastInsertId() const
{
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

int Sqlite3DB::changes() const
{
    return m_db ? sqlite3_changes(m_db) : 0;
}

void Sqlite3DB::execPlain(const char *sql)
{
    if (!m_db)
        throw Sqlite3Exception(QStringLiteral("Sqlite3DB: the database is not open."), 0);
    char *error = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        const QString message = QStringLiteral("Sqlite3DB, \"%1\" failed: %2")
                                    .arg(QString::fromUtf8(sql), QString::fromUtf8(error ? error : ""));
        sqlite3_free(error);
        throw Sqlite3Exception(message, rc & 0xff);
    }
}

void Sqlite3DB::execCached(const QString &sql)
{
    // Prepared once and kept: a batch opens and releases a savepoint for every contact it saves.
    sqlite3_stmt *stmt = prepare(Sqlite3Sql(sql));
    StatementReset reset{stmt};
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        fail(QStringLiteral("Sqlite3DB, \"%1\" failed").arg(sql), rc);
}

void Sqlite3DB::beginTran()
{
    static const QString begin = QStringLiteral("BEGIN");
    if (m_depth == 0)
        execCached(begin);
    else
        execCached(QStringLiteral("SAVEPOINT tran_%1").arg(m_depth));
    ++m_depth;
}

void Sqlite3DB::commitTran()
{
    static const QString commit = QStringLiteral("COMMIT");
    if (m_depth <= 0)
        throw Sqlite3Exception(QStringLiteral("Sqlite3DB::commitTran, no transaction is open."), 0);
    if (m_depth == 1)
        execCached(commit);
    else
        execCached(QStringLiteral("RELEASE tran_%1").arg(m_depth - 1));
    --m_depth;
}

bool Sqlite3DB::inTransaction() const
{
    return m_db && !sqlite3_get_autocommit(m_db);
}

void Sqlite3DB::rollbackTran()
{
    if (m_depth <= 0)
        throw Sqlite3Exception(QStringLiteral("Sqlite3DB::rollbackTran, no transaction is open."), 0);
    --m_depth;
    if (m_depth == 0) {
        // SQLite may already have rolled back on its own (out of memory, disk full); that is not an error.
        if (sqlite3_get_autocommit(m_db))
            return;
        execPlain("ROLLBACK");
    } else {
        const QByteArray name = QStringLiteral("tran_%1").arg(m_depth).toUtf8();
        execPlain(("ROLLBACK TO " + name + "; RELEASE " + name).constData());
    }
}
