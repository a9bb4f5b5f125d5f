#include "sqlite_qt/sqlite_qt.h"

#include <QTemporaryDir>
#include <QTest>

#include <functional>

class TestSqliteQt : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;

    // A fresh file with one table; the component never creates files on its own (open flag 2).
    void makeDb(Sqlite3DB &db)
    {
        m_path = m_dir.filePath(QStringLiteral("t%1.db").arg(++m_counter));
        db.openThrow(m_path, Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
        db.executeThrow("create table t(_id integer primary key autoincrement, name text, n integer, b blob)");
    }
    int m_counter = 0;

    static int rows(Sqlite3DB &db) { return db.queryThrow("select * from t").count(); }
    static void insert(Sqlite3DB &db, const QString &name)
    {
        Sqlite3Sql sql("insert into t(name) values(?)");
        sql.addTextParam(name);
        db.executeThrow(sql);
    }

private Q_SLOTS:
    void versionIsEight() { QCOMPARE(sqlite_qt_version(), 8); }

    void openNeverCreatesAFile()
    {
        Sqlite3DB db;
        const QString missing = m_dir.filePath(QStringLiteral("missing.db"));
        try {
            db.openThrow(missing, Sqlite3DB::OpenReadWrite);
            QFAIL("opening a missing file must throw");
        } catch (const std::exception &e) {
            QVERIFY(QString::fromUtf8(e.what()).contains(missing));
        }
        QVERIFY(!db.isOpen());
        QVERIFY(!QFile::exists(missing));
    }

    void parametersBindInOrderAndReadBack()
    {
        Sqlite3DB db;
        makeDb(db);
        Sqlite3Sql sql("insert into t(name,n,b) values(?,?,?)");
        sql.addTextParam(QStringLiteral("Zoë 张"));
        sql.addInt64Param(Q_INT64_C(9007199254740993));
        sql.addBlobParam(QByteArray("\0\x01\xff", 3));
        db.executeThrow(sql);
        const qint64 id = db.lastInsertId();
        QCOMPARE(id, 1);

        Sqlite3Sql select("select _id, name as alias, n, b from t where _id=?");
        select.addInt64Param(id);
        Sqlite3Cursor c = db.queryThrow(select);
        QCOMPARE(c.count(), 1); // known before the first moveNext
        QVERIFY(c.moveNext());
        QCOMPARE(c.getText(QStringLiteral("alias")), QStringLiteral("Zoë 张"));
        QCOMPARE(c.getInt64(QStringLiteral("n")), Q_INT64_C(9007199254740993));
        QCOMPARE(c.getBlob(QStringLiteral("b")), QByteArray("\0\x01\xff", 3));
        QCOMPARE(c.getInt64(0), id);
        QVERIFY(!c.moveNext());
        QVERIFY(!c.moveNext());
    }

    void nullAndMissingColumns()
    {
        Sqlite3DB db;
        makeDb(db);
        db.executeThrow("insert into t(name) values(null)");
        Sqlite3Cursor c = db.queryThrow("select * from t");
        QVERIFY(c.moveNext());
        QVERIFY(c.isNull(QStringLiteral("name")));
        QCOMPARE(c.getText(QStringLiteral("name")), QString());
        QVERIFY(!c.getText(QStringLiteral("name")).isNull()); // empty text, never a null string
        QCOMPARE(c.getInt(QStringLiteral("n")), 0);
        QVERIFY(c.getBlob(QStringLiteral("b")).isEmpty());
        QVERIFY_THROWS_EXCEPTION(std::exception, c.getText(QStringLiteral("nosuch")));
        QVERIFY_THROWS_EXCEPTION(std::exception, c.getText(7));
    }

    void emptyResultAndCursorBeforeFirstRow()
    {
        Sqlite3DB db;
        makeDb(db);
        Sqlite3Cursor c = db.queryThrow("select * from t");
        QCOMPARE(c.count(), 0);
        QVERIFY_THROWS_EXCEPTION(std::exception, c.getText(QStringLiteral("name")));
        QVERIFY(!c.moveNext());
    }

    void errorsCarrySqliteMessage_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("params");
        QTest::addColumn<QString>("expected");
        QTest::newRow("syntax") << QStringLiteral("selec * from t") << 0 << QStringLiteral("syntax error");
        QTest::newRow("no table") << QStringLiteral("select * from nosuch") << 0 << QStringLiteral("no such table");
        QTest::newRow("too few params") << QStringLiteral("insert into t(name,n) values(?,?)") << 1
                                        << QStringLiteral("2 parameters but 1");
        QTest::newRow("constraint") << QStringLiteral("insert into t(_id) values(1)") << 0
                                    << QStringLiteral("UNIQUE constraint failed");
    }
    void errorsCarrySqliteMessage()
    {
        QFETCH(QString, sql);
        QFETCH(int, params);
        QFETCH(QString, expected);
        Sqlite3DB db;
        makeDb(db);
        db.executeThrow("insert into t(_id,name) values(1,'x')");
        Sqlite3Sql statement(sql);
        for (int i = 0; i < params; ++i)
            statement.addTextParam(QStringLiteral("v"));
        try {
            db.executeThrow(statement);
            QFAIL("statement must fail");
        } catch (const Sqlite3Exception &e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(expected), e.what());
        }
        // The connection stays usable after a failed statement.
        insert(db, QStringLiteral("after"));
        QCOMPARE(rows(db), 2);
    }

    void nestedTransactionsRollBackAtDepth()
    {
        Sqlite3DB db;
        makeDb(db);
        db.beginTran();
        insert(db, QStringLiteral("outer"));
        db.beginTran();
        insert(db, QStringLiteral("inner kept"));
        db.commitTran();
        db.beginTran();
        insert(db, QStringLiteral("inner dropped"));
        db.beginTran();
        insert(db, QStringLiteral("innermost dropped"));
        db.rollbackTran();
        db.rollbackTran();
        QCOMPARE(db.tranDepth(), 1);
        db.commitTran();
        QCOMPARE(db.tranDepth(), 0);

        // What the outermost commit keeps is on disk: a second connection sees it.
        Sqlite3DB other;
        other.openThrow(m_path, Sqlite3DB::OpenReadWrite);
        Sqlite3Cursor c = other.queryThrow("select name from t order by _id");
        QStringList names;
        while (c.moveNext())
            names << c.getText(QStringLiteral("name"));
        QCOMPARE(names, (QStringList{QStringLiteral("outer"), QStringLiteral("inner kept")}));
    }

    void outerRollbackDropsCommittedInnerLevels()
    {
        Sqlite3DB db;
        makeDb(db);
        db.beginTran();
        db.beginTran();
        insert(db, QStringLiteral("inner"));
        db.commitTran();
        db.rollbackTran();
        QCOMPARE(rows(db), 0);
        QVERIFY_THROWS_EXCEPTION(std::exception, db.commitTran());
        QVERIFY_THROWS_EXCEPTION(std::exception, db.rollbackTran());
    }

    void failureInsideInnerLevelIsRolledBackOnePerLevel()
    {
        // A worker's batch transaction around a per-contact transaction that fails half-way.
        Sqlite3DB db;
        makeDb(db);
        db.beginTran();
        insert(db, QStringLiteral("first contact"));
        db.beginTran();
        insert(db, QStringLiteral("half of second"));
        QVERIFY_THROWS_EXCEPTION(std::exception, db.executeThrow("insert into t(_id) values(1)"));
        db.rollbackTran();
        db.rollbackTran();
        QCOMPARE(db.tranDepth(), 0);
        QCOMPARE(rows(db), 0);
        // And the connection takes a new transaction afterwards.
        db.beginTran();
        insert(db, QStringLiteral("again"));
        db.commitTran();
        QCOMPARE(rows(db), 1);
    }

    void closeReleasesFileAndAbandonsTransaction()
    {
        Sqlite3DB db;
        makeDb(db);
        db.beginTran();
        insert(db, QStringLiteral("uncommitted"));
        db.close();
        QVERIFY(!db.isOpen());
        db.openThrow(m_path, Sqlite3DB::OpenReadWrite);
        QCOMPARE(db.tranDepth(), 0);
        QCOMPARE(rows(db), 0);
        db.close();
        QVERIFY(QFile::remove(m_path));
    }

    void cachedStatementsStayCorrectAcrossManyTexts()
    {
        Sqlite3DB db;
        makeDb(db);
        for (int i = 0; i < 200; ++i) {
            Sqlite3Sql sql(QStringLiteral("insert into t(name,n) values(?,%1)").arg(i % 100));
            sql.addTextParam(QString::number(i));
            db.executeThrow(sql);
        }
        Sqlite3Sql sum("select sum(n) as s, count(*) as c from t where n>=?");
        sum.addIntParam(50);
        Sqlite3Cursor c = db.queryThrow(sum);
        QVERIFY(c.moveNext());
        QCOMPARE(c.getInt64(QStringLiteral("c")), 100);
        QCOMPARE(c.getInt64(QStringLiteral("s")), 2 * (50 + 99) * 50 / 2);
    }

    // Stepping through rows one by one reads every value as the full cursor does.
    void queryEachReadsAsTheCursor()
    {
        Sqlite3DB db;
        makeDb(db);
        db.executeThrow("insert into t(name,n,b) values('Zoë 张', 9007199254740993, x'00ff')");
        db.executeThrow("insert into t(name,n,b) values(NULL, NULL, NULL)");
        db.executeThrow("insert into t(name,n,b) values(' 42x', 2.5, '')");
        const Sqlite3Sql sql("select _id, name, n, b from t order by _id");
        Sqlite3Cursor cursor = db.queryThrow(sql);
        int seen = 0;
        db.queryEach(sql, [&](const Sqlite3Row &row) {
            QVERIFY(cursor.moveNext());
            QCOMPARE(row.columnCount(), 4);
            QCOMPARE(row.columnIndex(QStringLiteral("b")), 3);
            QCOMPARE(row.columnIndex(QStringLiteral("missing")), -1);
            for (int c = 0; c < 4; ++c) {
                QCOMPARE(row.getText(c), cursor.getText(c));
                QCOMPARE(row.getInt64(c), cursor.getInt64(c));
                QCOMPARE(row.getBlob(c), cursor.getBlob(c));
                QCOMPARE(row.isNull(c), cursor.isNull(c));
            }
            QVERIFY_THROWS_EXCEPTION(Sqlite3Exception, row.getText(4));
            ++seen;
        });
        QCOMPARE(seen, 3);
    }

    // The statement being stepped is not the cached one a callback can run again, and a callback's exception
    // leaves the connection usable.
    void queryEachAllowsStatementsInsideAndStopsOnException()
    {
        Sqlite3DB db;
        makeDb(db);
        for (int i = 0; i < 3; ++i)
            insert(db, QString::number(i));
        const Sqlite3Sql all("select _id, name from t order by _id");
        QStringList names;
        db.queryEach(all, [&](const Sqlite3Row &row) {
            names << row.getText(1);
            // The same text again, and a write, while the outer statement is on its row.
            QCOMPARE(db.queryThrow(all).count(), 3);
            db.queryEach(all, [](const Sqlite3Row &) {});
            Sqlite3Sql update("update t set n=? where _id=?");
            update.addIntParam(7);
            update.addInt64Param(row.getInt64(0));
            db.executeThrow(update);
        });
        QCOMPARE(names, (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")}));
        QCOMPARE(db.queryThrow("select * from t where n=7").count(), 3);

        int calls = 0;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, db.queryEach(all, [&](const Sqlite3Row &) {
            ++calls;
            throw std::runtime_error("stop");
        }));
        QCOMPARE(calls, 1);
        calls = 0;
        db.queryEach(all, [&](const Sqlite3Row &) { ++calls; });
        QCOMPARE(calls, 3);
        QVERIFY_THROWS_EXCEPTION(Sqlite3Exception, db.queryEach("select nope from t", [](const Sqlite3Row &) {}));
    }

    // Callers decide between retrying and giving up by the kind of failure: a file locked by another
    // connection is busy, a statement stopped by its progress handler or step budget is interrupted, and an
    // ordinary failure is neither.
    void failuresTellBusyFromInterrupted()
    {
        Sqlite3DB writer;
        makeDb(writer);
        Sqlite3DB reader;
        reader.openThrow(m_path, Sqlite3DB::OpenReadWrite);
        reader.executeThrow("pragma busy_timeout=0");
        // "busy", "interrupted", both or neither joined by "+", or "ran" when nothing failed.
        const auto failure = [](const std::function<void()> &run) {
            try {
                run();
            } catch (const Sqlite3Exception &e) {
                QStringList kinds;
                if (e.isBusy())
                    kinds << QStringLiteral("busy");
                if (e.isInterrupted())
                    kinds << QStringLiteral("interrupted");
                return kinds.isEmpty() ? QStringLiteral("other") : kinds.join(u'+');
            }
            return QStringLiteral("ran");
        };
        writer.beginTran();
        insert(writer, QStringLiteral("held"));
        QCOMPARE(failure([&reader] { insert(reader, QStringLiteral("blocked")); }), QStringLiteral("busy"));
        writer.commitTran();
        QCOMPARE(failure([&reader] { insert(reader, QStringLiteral("free")); }), QStringLiteral("ran"));

        const Sqlite3Sql endless("WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM r) "
                                 "SELECT count(*) FROM r");
        reader.setProgressHandler([] { return true; });
        QCOMPARE(failure([&reader, &endless] { reader.queryThrow(endless); }), QStringLiteral("interrupted"));
        reader.setProgressHandler({});
        reader.setStepBudget(100'000);
        QCOMPARE(failure([&reader, &endless] { reader.queryThrow(endless); }), QStringLiteral("interrupted"));
        reader.setStepBudget(0);
        QCOMPARE(failure([&reader] { reader.executeThrow("insert into t(_id) values(1)"); }), QStringLiteral("other"));
    }

    // Guards for files from outside: a step budget and a cancel stop a statement that would run for ever, a
    // length limit refuses oversized values, and checkTable tells tables from views and computed columns.
    void guardsForOutsideFiles()
    {
        QTemporaryDir dir;
        Sqlite3DB db;
        db.openThrow(dir.filePath(QStringLiteral("g.db")), Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
        const Sqlite3Sql endless("WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM r) "
                                 "SELECT count(*) FROM r");
        db.setStepBudget(2'000'000);
        try {
            db.queryThrow(endless);
            QFAIL("the endless query ended");
        } catch (const Sqlite3Exception &e) {
            QVERIFY2(QByteArray(e.what()).contains("more than a file of this size can need"), e.what());
        }
        db.setStepBudget(0);
        int asked = 0;
        db.setProgressHandler([&asked] { return ++asked >= 5; });
        QVERIFY_THROWS_EXCEPTION(Sqlite3Exception, db.queryThrow(endless));
        QCOMPARE(asked, 5);
        db.setProgressHandler({});

        db.executeThrow("CREATE TABLE t (a TEXT, b BLOB)");
        db.executeThrow("CREATE TABLE g (a TEXT, b TEXT AS (upper(a)))");
        db.executeThrow("CREATE VIEW v AS SELECT a, b FROM t");
        db.setLengthLimit(1000);
        QVERIFY_THROWS_EXCEPTION(Sqlite3Exception, db.executeThrow("INSERT INTO t VALUES ('x', zeroblob(2000))"));
        db.checkTable(QStringLiteral("T"), {QStringLiteral("A"), QStringLiteral("b")});
        const auto refusal = [&db](const char *table, const QStringList &columns) {
            try {
                db.checkTable(QString::fromLatin1(table), columns);
            } catch (const Sqlite3Exception &e) {
                return QString::fromUtf8(e.what());
            }
            return QString();
        };
        QVERIFY(refusal("v", {}).contains(QStringLiteral("v is a view")));
        QVERIFY(refusal("g", {}).contains(QStringLiteral("computed column \"b\"")));
        QVERIFY(refusal("t", {QStringLiteral("c")}).contains(QStringLiteral("has no column \"c\"")));
        QVERIFY(refusal("none", {}).contains(QStringLiteral("none is missing")));
    }
};

QTEST_GUILESS_MAIN(TestSqliteQt)
#include "tst_sqlite_qt.moc"
