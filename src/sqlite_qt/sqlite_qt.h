#pragma once

// The program's SQLite access component: one connection class, a statement value with ordered parameters and a
// cursor over a fully read result. Errors are thrown as Sqlite3Exception, whose what() is UTF-8 text carrying
// SQLite's own message.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// Version of this component's interface; start-up refuses to run with any other.
int sqlite_qt_version();
// The SQLite engine's own version text, for the About box.
const char *sqlite_qt_engine_version();

class Sqlite3Exception : public std::runtime_error
{
public:
    Sqlite3Exception(const QString &message, int code);
    // SQLite's primary result code (SQLITE_BUSY, SQLITE_CONSTRAINT, ...), 0 when the error is the component's own.
    int code() const { return m_code; }
    // Another connection held the file (SQLITE_BUSY): the same statement may succeed when tried again later.
    bool isBusy() const;
    // A progress handler or the step budget stopped the statement (SQLITE_INTERRUPT).
    bool isInterrupted() const;

private:
    int m_code;
};

// A statement text and its parameters; each add*Param binds the next "?" in call order.
class Sqlite3Sql
{
public:
    Sqlite3Sql() = default;
    Sqlite3Sql(const char *sql);
    Sqlite3Sql(const QString &sql);

    void appendSql(const QString &text);
    void addTextParam(const QString &value);
    void addIntParam(int value);
    void addInt64Param(qint64 value);
    void addBlobParam(const QByteArray &value);
    void addNullParam();

    const QString &sql() const { return m_sql; }
    const QVector<QVariant> &params() const { return m_params; }

private:
    QString m_sql;
    QVector<QVariant> m_params;
};

// A query result read in full when the query ran, so count() is known before the first moveNext().
// NULL columns read as empty text, 0 or empty bytes; a column name the result does not have throws.
class Sqlite3Cursor
{
public:
    Sqlite3Cursor();

    bool moveNext();
    int count() const;
    int columnCount() const;
    QStringList columnNames() const;

    QString getText(const QString &column) const;
    int getInt(const QString &column) const;
    qint64 getInt64(const QString &column) const;
    QByteArray getBlob(const QString &column) const;
    bool isNull(const QString &column) const;

    QString getText(int column) const;
    int getInt(int column) const;
    qint64 getInt64(int column) const;
    QByteArray getBlob(int column) const;
    bool isNull(int column) const;

    // Position of a column by name, -1 when the result has none.
    int columnIndex(const QString &column) const;

private:
    friend class Sqlite3DB;
    const QVariant &value(int column) const;
    int indexOrThrow(const QString &column) const;

    struct Result
    {
        QStringList names;
        QHash<QString, int> index;
        QVector<QVariant> cells; // rows × columns, row-major
        int rows = 0;
    };
    std::shared_ptr<Result> m_result;
    int m_row = -1;
};

// The current row of a query that Sqlite3DB::queryEach steps through; valid only during the call that receives
// it. The getters convert as Sqlite3Cursor's do (NULL reads as empty text, 0 or empty bytes).
class Sqlite3Row
{
public:
    int columnCount() const;
    // Position of a column by name (the first of that name), -1 when the result has none.
    int columnIndex(const QString &column) const;

    QString getText(int column) const;
    int getInt(int column) const;
    qint64 getInt64(int column) const;
    QByteArray getBlob(int column) const;
    bool isNull(int column) const;

private:
    friend class Sqlite3DB;
    explicit Sqlite3Row(sqlite3_stmt *stmt) : m_stmt(stmt) {}
    void checkColumn(int column) const;

    sqlite3_stmt *m_stmt;
};

class Sqlite3DB
{
public:
    // SQLite's open flags, as callers pass them.
    enum OpenFlag { OpenReadOnly = 1, OpenReadWrite = 2, OpenCreate = 4 };

    Sqlite3DB();
    virtual ~Sqlite3DB();
    Sqlite3DB(const Sqlite3DB &) = delete;
    Sqlite3DB &operator=(const Sqlite3DB &) = delete;

    // Opens an existing file (flags 2: read-write). A file is never created unless OpenCreate is given.
    void openThrow(const QString &path, int flags);
    bool isOpen() const { return m_db != nullptr; }
    void close();
    QString path() const { return m_path; }

    void executeThrow(const Sqlite3Sql &sql);
    Sqlite3Cursor queryThrow(const Sqlite3Sql &sql);
    // Runs a query and hands each row to onRow as it is stepped to, keeping nothing: for results too large to
    // hold as a whole next to what the caller builds from them. onRow may run other statements on this
    // connection; an exception from it ends the query and propagates.
    void queryEach(const Sqlite3Sql &sql, const std::function<void(const Sqlite3Row &)> &onRow);
    qint64 lastInsertId() const;
    int changes() const;

    // Called every few thousand steps of a running statement, on the thread running it; when it returns true
    // the statement stops and throws with SQLITE_INTERRUPT. Kept across openThrow; an empty function removes it.
    void setProgressHandler(const std::function<bool()> &handler);
    // The most virtual-machine steps all statements on this connection may take together from now on (0: no
    // limit); a statement that would go past it stops with SQLITE_INTERRUPT and a message saying so. For files
    // from outside, sized to the file: no real query needs more than a few thousand steps per byte.
    void setStepBudget(qint64 steps);
    // The longest text or blob a statement may make or read on this connection (SQLite's length limit);
    // a longer one fails the statement instead of taking the memory.
    void setLengthLimit(int bytes);
    // Checks that `table` is an ordinary table (not a view, a virtual table or one with computed columns) that
    // has every column named (names compared as SQLite does, ignoring ASCII case). Throws Sqlite3Exception
    // naming the file, the table and what is wrong. Reading a view or a computed column runs the file's own
    // SQL, which can be made to run for ever.
    void checkTable(const QString &table, const QStringList &columns);
    // Copies this open database into the file at `path` (created or replaced) with SQLite's online backup, all
    // pages in one step so that the copy is one consistent state; waits up to five seconds while another
    // connection holds a lock. Throws Sqlite3Exception; a failed copy may leave a partial file behind.
    void backupTo(const QString &path);

    // Transactions nest: the outermost level is a real transaction, inner levels are savepoints, so a failure at
    // any depth can be rolled back at that depth without touching the work of the levels around it.
    void beginTran();
    void commitTran();
    void rollbackTran();
    int tranDepth() const { return m_depth; }
    // False once SQLite has ended the transaction on its own (disk full, I/O error), whatever the depth says.
    bool inTransaction() const;

private:
    sqlite3_stmt *prepare(const Sqlite3Sql &sql);
    void bind(sqlite3_stmt *stmt, const Sqlite3Sql &sql);
    void execPlain(const char *sql);
    void execCached(const QString &sql);
    [[noreturn]] void fail(const QString &what, int rc) const;

    static int onProgress(void *self);

    sqlite3 *m_db = nullptr;
    QString m_path;
    std::function<bool()> m_progress;
    qint64 m_stepBudget = 0;
    qint64 m_stepsDone = 0;
    bool m_budgetSpent = false;
    int m_depth = 0;
    QHash<QString, sqlite3_stmt *> m_statements;
};
