// --dry-run of the commands that merge: what it prints (text or JSON) is what the real run then does, checked on
// seeded random address books against phone-sim, iphone-sim and local databases.

#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "programrun.h"
#include "randombooks.h"
#include "temphome.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

ProcessResult cli(const TempHome &home, const QStringList &phones, const QStringList &args)
{
    return runProgram(QStringLiteral(CONTACT_MOVER_CLI_EXE), args, phoneEnvironment(home.path(), phones), 60000);
}

// A row as compared here: its type and every non-empty column but the ids, in column order.
QString rowKey(int type, const QJsonObject &row)
{
    QStringList parts{QString::number(type)};
    for (auto it = row.constBegin(); it != row.constEnd(); ++it)
        if (it.key() != u"_id"_s && it.key() != u"src_id"_s && !it.value().toString().isEmpty())
            parts << it.key() + u'=' + it.value().toString();
    return parts.join(u'|');
}

// `list --json` as name → sorted row keys. A phone's cache is rebuilt on every load, so its ids are not kept:
// contacts are known by name (the random books never hold two contacts of one name in a target).
using Book = QMap<QString, QStringList>;
Book bookOf(const QByteArray &listJson)
{
    Book book;
    for (const QJsonValue &c : QJsonDocument::fromJson(listJson).array()) {
        QStringList &rows = book[c[u"full_name"_s].toString()];
        const QJsonObject entities = c[u"entities"_s].toObject();
        for (auto it = entities.constBegin(); it != entities.constEnd(); ++it)
            for (const QJsonValue &row : it.value().toArray())
                rows << rowKey(it.key().toInt(), row.toObject());
        rows.sort();
    }
    return book;
}

// A device's cache database as name → sorted row keys, read as the transfer left it.
Book bookOfCache(const QString &path)
{
    LocalDb cache(path, PContactCombineRule(new LocalDbCombineRule));
    cache.openReadOnly();
    Book book;
    for (const pim::Contact &c : cache.listContacts(0, QString())) {
        QStringList &rows = book[c.full_name];
        for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
            for (const pim::DataRow &row : it.value()) {
                QJsonObject object;
                for (auto col = row.columns.cbegin(); col != row.columns.cend(); ++col)
                    object.insert(col.key(), col.value().toString());
                rows << rowKey(it.key(), object);
            }
        rows.sort();
    }
    return book;
}

// The book before, changed as the plan says: what the run must leave.
QString applyPlan(Book &book, const QJsonObject &plan)
{
    for (const QJsonValue &c : plan[u"contacts"_s].toArray()) {
        const QString target = c[u"target"_s][u"full_name"_s].toString();
        const QString outcome = c[u"outcome"_s].toString();
        if ((outcome == u"added"_s) == book.contains(target))
            return u"\"%1\" is %2 but %3 there"_s.arg(target, outcome, book.contains(target) ? u"was"_s : u"was not"_s);
        if ((outcome == u"unchanged"_s) != c[u"rows"_s].toArray().isEmpty())
            return u"\"%1\": rows do not fit the outcome %2"_s.arg(target, outcome);
        QStringList &rows = book[target];
        for (const QJsonValue &r : c[u"rows"_s].toArray()) {
            const int type = r[u"type"_s].toInt();
            if (r[u"action"_s].toString() == u"change"_s && !rows.removeOne(rowKey(type, r[u"before"_s].toObject())))
                return u"\"%1\": the changed row %2 was not there"_s.arg(target,
                                                                         rowKey(type, r[u"before"_s].toObject()));
            rows << rowKey(type, r[u"after"_s].toObject());
        }
        rows.sort();
    }
    return QString();
}

// A local database of the user filled with a seeded random book.
void makeDb(const QString &name, quint32 seed, int maxSize)
{
    QDir().mkpath(DataFolder::localDbDir());
    LocalDb db(LocalDbFiles::pathFor(name + u".db"_s), PContactCombineRule(new UserDbCombineRule));
    db.createFromTemplate();
    for (const pim::Contact &c : randombooks::randomBook(seed, maxSize))
        db.saveContactWithMerge(c);
}

} // namespace

class TestCliPreview : public QObject
{
    Q_OBJECT

    // Rounds of: a random database, its transfer's dry run, the transfer, and the phone read again. The phone
    // gathers the books, so later rounds merge more. Checks the dry run left the phone's store as it was, the
    // transfer merged exactly what the plan said into the phone's cache (which is what went to the phone), with
    // the worker's counts, and the phone read again holds those contacts. (A phone may store a kind in its own
    // way, an organization without one as "0": each round's plan is made against the phone as read again.)
    void transferRounds(const TempHome &home, const QStringList &phones, const QString &device, const QString &store,
                        const QString &cachePath, quint32 firstSeed, int rounds, const char *successPattern)
    {
        ProcessResult r = cli(home, phones, {u"list"_s, u"--device"_s, device, u"--json"_s});
        QVERIFY2(r.code == 0, r.err.constData());
        Book before = bookOf(r.out);
        for (quint32 seed = firstSeed; seed < firstSeed + quint32(rounds); ++seed) {
            const QString db = u"Book %1"_s.arg(seed);
            makeDb(db, seed, 12);
            const QByteArray stored = readFile(store);
            r = cli(home, phones, {u"transfer"_s, u"--db"_s, db, u"--to"_s, device, u"--dry-run"_s, u"--json"_s});
            QVERIFY2(r.code == 0, r.err.constData());
            const QJsonObject plan = QJsonDocument::fromJson(r.out).object();
            QVERIFY(plan[u"dry_run"_s].toBool());
            QCOMPARE(readFile(store), stored);

            r = cli(home, phones, {u"transfer"_s, u"--db"_s, db, u"--to"_s, device});
            QVERIFY2(r.code == 0, r.err.constData());
            const int merged = plan[u"merged"_s].toInt() + plan[u"unchanged"_s].toInt();
            const QString success = QString::fromUtf8(r.out).trimmed();
            const QRegularExpressionMatch counts = QRegularExpression(QLatin1String(successPattern)).match(success);
            QVERIFY2(counts.hasMatch(), qPrintable(success));
            QCOMPARE(counts.captured(1).toInt(), plan[u"added"_s].toInt());
            QCOMPARE(counts.captured(2).toInt(), merged);

            const QString wrong = applyPlan(before, plan);
            QVERIFY2(wrong.isEmpty(), qPrintable(u"seed %1: "_s.arg(seed) + wrong));
            const Book after = bookOfCache(cachePath);
            for (auto it = after.cbegin(); it != after.cend(); ++it)
                if (before.value(it.key()) != it.value())
                    qWarning() << "seed" << seed << it.key() << "merged:" << it.value()
                               << "plan:" << before.value(it.key());
            QCOMPARE(after, before);

            r = cli(home, phones, {u"list"_s, u"--device"_s, device, u"--json"_s});
            QVERIFY2(r.code == 0, r.err.constData());
            before = bookOf(r.out);
            QCOMPARE(before.keys(), after.keys());
            for (auto it = after.cbegin(); it != after.cend(); ++it)
                QCOMPARE(before.value(it.key()).size(), it.value().size());
        }
    }

private Q_SLOTS:
    // 30 seeded books onto an Android phone, a phone-to-phone merge included.
    void dryRunMatchesTransferToAndroid()
    {
        TempHome home;
        PhoneSimProcess sim;
        QVERIFY(sim.start(QStringLiteral(PHONE_SIM_EXE), home.path(), u"Phone P"_s, u"phone"_s, {}));
        const QString store = sim.store, serial = sim.serial;
        transferRounds(
            home, {serial}, serial, store, DataFolder::androidCacheDir() + u'/' + DataFolder::cacheFileName(serial), 1,
            30, "^Successfully transferred (\\d+) contacts to Android(?:, with (\\d+) repeated contacts merged)?\\.");
    }

    // Ten seeded books onto an iPhone, whose cache merges by its own rule.
    void dryRunMatchesTransferToIphone()
    {
        TempHome home;
        const QString udid = u"00008030-00000000000000C3"_s;
        const QString store = home.filePath(u"iphone.json"_s);
        IphoneSimProcess sim;
        QVERIFY(
            sim.start(QStringLiteral(IPHONE_SIM_EXE), {u"--socket"_s, home.filePath(u"mux.sock"_s), u"--udid"_s, udid,
                                                       u"--name"_s, u"Preview iPhone"_s, u"--store"_s, store}));
        transferRounds(
            home, {}, udid, store, DataFolder::iosCacheDir() + u'/' + DataFolder::cacheFileName(udid), 101, 10,
            "^Successfully transferred (\\d+) contacts to device(?:, with (\\d+) repeated contacts merged)?\\.");
    }

    // Imports into a local database: the dry run's plan, id for id, is what the import wrote; and the forms of
    // the output, the usage rules and a dry run that creates no database.
    void dryRunOfImportsAndItsOutput()
    {
        TempHome home;
        makeDb(u"Target"_s, 7, 20);
        for (quint32 seed = 201; seed <= 205; ++seed) {
            const QString source = u"Source %1"_s.arg(seed);
            makeDb(source, seed, 20);
            const QString vcf = home.filePath(source + u".vcf"_s);
            QCOMPARE(cli(home, {}, {u"export"_s, u"--db"_s, source, u"--format"_s, u"vcf"_s, vcf}).code, 0);

            const QString targetFile = LocalDbFiles::pathFor(u"Target.db"_s);
            const QByteArray stored = readFile(targetFile);
            ProcessResult r =
                cli(home, {},
                    {u"import"_s, vcf, u"--format"_s, u"vcf"_s, u"--db"_s, u"Target"_s, u"--dry-run"_s, u"--json"_s});
            QVERIFY2(r.code == 0, r.err.constData());
            QCOMPARE(readFile(targetFile), stored);
            const QJsonObject plan = QJsonDocument::fromJson(r.out).object();

            r = cli(home, {}, {u"list"_s, u"--db"_s, u"Target"_s, u"--json"_s});
            Book before = bookOf(r.out);
            // In a local database the ids stay: every planned row names the _id it will have.
            QMap<qint64, QJsonObject> rowsBefore;
            for (const QJsonValue &c : QJsonDocument::fromJson(r.out).array())
                for (const QJsonValue &rows : c[u"entities"_s].toObject())
                    for (const QJsonValue &row : rows.toArray())
                        rowsBefore.insert(row[u"_id"_s].toInteger(), row.toObject());
            QCOMPARE(cli(home, {}, {u"import"_s, vcf, u"--format"_s, u"vcf"_s, u"--db"_s, u"Target"_s}).code, 0);
            r = cli(home, {}, {u"list"_s, u"--db"_s, u"Target"_s, u"--json"_s});
            QMap<qint64, QJsonObject> rowsAfter;
            for (const QJsonValue &c : QJsonDocument::fromJson(r.out).array())
                for (const QJsonValue &rows : c[u"entities"_s].toObject())
                    for (const QJsonValue &row : rows.toArray())
                        rowsAfter.insert(row[u"_id"_s].toInteger(), row.toObject());
            for (const QJsonValue &c : plan[u"contacts"_s].toArray())
                for (const QJsonValue &row : c[u"rows"_s].toArray()) {
                    const QJsonObject after = row[u"after"_s].toObject();
                    const qint64 id = after[u"_id"_s].toInteger();
                    QCOMPARE(rowsAfter.value(id), after);
                    QCOMPARE(row[u"action"_s].toString() == u"add"_s, !rowsBefore.contains(id));
                    rowsBefore.insert(id, after);
                }
            QCOMPARE(rowsAfter, rowsBefore);

            const QString wrong = applyPlan(before, plan);
            QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
            QCOMPARE(bookOf(r.out), before);
        }

        // A backup of a (virtual) phone into the same database: the plan, then the backup doing just that.
        const QString folder = DataFolder::root() + u"/android_virtual"_s;
        QDir().mkpath(folder);
        {
            LocalDb pocket(folder + u"/Pocket.db"_s, PContactCombineRule(new LocalDbCombineRule));
            pocket.createFromTemplate();
            for (const pim::Contact &c : randombooks::randomBook(301, 20))
                pocket.saveContactWithMerge(c);
        }
        {
            ProcessResult r =
                cli(home, {},
                    {u"backup"_s, u"--device"_s, u"Pocket"_s, u"--db"_s, u"Target"_s, u"--dry-run"_s, u"--json"_s});
            QVERIFY2(r.code == 0, r.err.constData());
            const QJsonObject plan = QJsonDocument::fromJson(r.out).object();
            QVERIFY(plan[u"contacts"_s].toArray().size() > 0);
            Book book = bookOf(cli(home, {}, {u"list"_s, u"--db"_s, u"Target"_s, u"--json"_s}).out);
            const QString wrong = applyPlan(book, plan);
            QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
            r = cli(home, {}, {u"backup"_s, u"--device"_s, u"Pocket"_s, u"--db"_s, u"Target"_s});
            QVERIFY2(r.code == 0, r.err.constData());
            QCOMPARE(bookOf(cli(home, {}, {u"list"_s, u"--db"_s, u"Target"_s, u"--json"_s}).out), book);
        }

        // The text form: the summary line, then a line per contact.
        const QString vcf = home.filePath(u"two.vcf"_s);
        QFile f(vcf);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("BEGIN:VCARD\nVERSION:3.0\nN:Zorn;Zeno;;;\nFN:Zeno Zorn\nTEL;TYPE=CELL:+1 555 0100\nEND:VCARD\n"
                "BEGIN:VCARD\nVERSION:3.0\nN:Zorn;Zeno;;;\nFN:Zeno Zorn\nTEL;TYPE=CELL:+1 555 0100\nEND:VCARD\n");
        f.close();
        ProcessResult r =
            cli(home, {}, {u"import"_s, vcf, u"--format"_s, u"vcf"_s, u"--db"_s, u"Fresh"_s, u"--dry-run"_s});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(
            QString::fromUtf8(r.out),
            u"Dry run, nothing was written. 1 contacts will be added, 0 merged into contacts already there and 1 "
            "left unchanged.\nAdd: Zeno Zorn\n    + Phone: Mobile:+1 555 0100\nUnchanged, already there: Zeno Zorn\n"_s);
        QVERIFY(!QFileInfo::exists(LocalDbFiles::pathFor(u"Fresh.db"_s)));

        // --json alone is a usage error; a dry run of a file that cannot be read fails as the import would.
        QCOMPARE(cli(home, {}, {u"import"_s, vcf, u"--format"_s, u"vcf"_s, u"--json"_s}).code, 2);
        QCOMPARE(cli(home, {}, {u"transfer"_s, u"--db"_s, u"Target"_s, u"--to"_s, u"x"_s, u"--json"_s}).code, 2);
        r = cli(home, {}, {u"import"_s, home.filePath(u"missing.vcf"_s), u"--format"_s, u"vcf"_s, u"--dry-run"_s});
        QCOMPARE(r.code, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY(QDir(DataFolder::localDbDir()).entryList({u"missing*"_s}).isEmpty());
        // The help names the options.
        r = cli(home, {}, {u"--help"_s});
        QVERIFY(r.out.contains("transfer (--db NAME | --device ID) --to ID [--contacts N,N...] [--dry-run [--json]]"));
    }
};

QTEST_GUILESS_MAIN(TestCliPreview)
#include "tst_clipreview.moc"
