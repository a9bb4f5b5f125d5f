// The local database at scale, each case next to its reference in the same run:
//  - merge-save of N contacts into a database already holding N other contacts, and into an empty one; and of
//    their N namesakes (same names, other phone numbers) into the database holding them, where every one merges;
//  - the vCard import worker (parse + merge-save) into an empty database, and the same contacts stored with
//    LocalDb's plain inserts (one contact row and its data rows each), the storage limit;
//  - listing the N-contact database and a keyword search in it, and the same SQL run by the sqlite3 shell.
// N is BENCH_CONTACTS (default 50,000). The contacts come from the mixed generator; the two sets have no name in
// common. Run with --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true so that load from
// other work falls on both sides of each ratio alike (scripts/bench.sh does).

#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "fileio/fileformats.h"
#include "fileio/importcontactstolocalthread.h"
#include "fileio/vcard.h"
#include "vcardgen.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

// The keyword of the search: a family name that about one contact in eleven carries.
const QString kKeyword = QStringLiteral("Hansen");

int contactCount()
{
    const int n = qEnvironmentVariableIntValue("BENCH_CONTACTS");
    return n > 0 ? n : 50000;
}

QTemporaryDir &workDir()
{
    static QTemporaryDir dir;
    return dir;
}

QString workPath(const QString &name)
{
    return workDir().filePath(name);
}

PContactCombineRule rule()
{
    return PContactCombineRule(new LocalDbCombineRule);
}

// The generated contacts: set 0 is the one saved and listed, set 1 the other contacts already in the database.
const QByteArray &vcardBytes(int set)
{
    static const QByteArray sets[2] = {generateMixedVCards(contactCount(), 0),
                                       generateMixedVCards(contactCount(), contactCount())};
    return sets[set];
}

const QList<pim::Contact> &contacts(int set)
{
    static const QList<pim::Contact> sets[2] = {vcard::contactsFromBytes(vcardBytes(0)),
                                                vcard::contactsFromBytes(vcardBytes(1))};
    return sets[set];
}

// Namesakes of set 0: the same names and rows, every phone number another one. Merged into set 0's database each
// contact finds its namesake, is read back and compared row by row, and adds its phones.
const QList<pim::Contact> &namesakes()
{
    static const QList<pim::Contact> list = [] {
        QList<pim::Contact> all = contacts(0);
        for (pim::Contact &c : all) {
            for (pim::DataRow &row : c.entities[pim::ENTITY_PHONE])
                row.setValue(QStringLiteral("data1"), row.text(QStringLiteral("data1")) + QStringLiteral("0"));
        }
        return all;
    }();
    return list;
}

QString vcardFile()
{
    static const QString path = [] {
        const QString p = workPath(QStringLiteral("set0.vcf"));
        QFile f(p);
        if (f.open(QIODevice::WriteOnly))
            f.write(vcardBytes(0));
        return p;
    }();
    return path;
}

void mergeSaveAll(LocalDb &db, const QList<pim::Contact> &list)
{
    // One transaction around the batch, as every worker does.
    db.beginTransaction();
    for (const pim::Contact &c : list)
        db.saveContactWithMerge(c);
    db.endTransaction(true);
}

// A database file holding the contacts of a set, made once.
QString filledDb(int set)
{
    static QString paths[2];
    if (paths[set].isEmpty()) {
        paths[set] = workPath(QStringLiteral("filled%1.db").arg(set));
        LocalDb db(paths[set], rule());
        db.createFromTemplate();
        mergeSaveAll(db, contacts(set));
        db.close();
    }
    return paths[set];
}

// A fresh copy of a database file (or of the template when source is empty) for one run.
QString freshCopy(const QString &source)
{
    static int run = 0;
    const QString path = workPath(QStringLiteral("run%1.db").arg(run++));
    if (source.isEmpty()) {
        LocalDb(path, rule()).createFromTemplate();
    } else {
        QFile::copy(source, path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }
    return path;
}

void BM_MergeSaveIntoEmpty(benchmark::State &state)
{
    contacts(0);
    for (auto _ : state) {
        state.PauseTiming();
        LocalDb db(freshCopy({}), rule());
        state.ResumeTiming();
        mergeSaveAll(db, contacts(0));
        state.PauseTiming();
        db.removeFile();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * contacts(0).size());
}

void BM_MergeSaveIntoFull(benchmark::State &state)
{
    const QString full = filledDb(1);
    contacts(0);
    for (auto _ : state) {
        state.PauseTiming();
        LocalDb db(freshCopy(full), rule());
        state.ResumeTiming();
        mergeSaveAll(db, contacts(0));
        state.PauseTiming();
        db.removeFile();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * contacts(0).size());
}

void BM_MergeSaveNamesakes(benchmark::State &state)
{
    const QString full = filledDb(0);
    namesakes();
    qsizetype merged = 0;
    for (auto _ : state) {
        state.PauseTiming();
        LocalDb db(freshCopy(full), rule());
        state.ResumeTiming();
        db.beginTransaction();
        merged = 0;
        for (const pim::Contact &c : namesakes())
            merged += db.saveContactWithMerge(c).merged ? 1 : 0;
        db.endTransaction(true);
        state.PauseTiming();
        db.removeFile();
        state.ResumeTiming();
    }
    state.counters["merged"] = double(merged);
    state.SetItemsProcessed(int64_t(state.iterations()) * namesakes().size());
}

void BM_ImportWorkerIntoEmpty(benchmark::State &state)
{
    const QString file = vcardFile();
    for (auto _ : state) {
        state.PauseTiming();
        LocalDb db(freshCopy({}), rule());
        ProgressObject progress;
        ImportContactsToLocalThread worker(file, fileio::ImportVCard, &db, &progress);
        state.ResumeTiming();
        worker.start();
        worker.wait();
        state.PauseTiming();
        QCoreApplication::sendPostedEvents();
        if (progress.outcome() != ProgressObject::Outcome::Succeeded)
            state.SkipWithError(qPrintable(progress.message()));
        db.removeFile();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * contacts(0).size());
}

void BM_PlainInsertIntoEmpty(benchmark::State &state)
{
    contacts(0);
    for (auto _ : state) {
        state.PauseTiming();
        LocalDb db(freshCopy({}), rule());
        state.ResumeTiming();
        db.beginTransaction();
        for (pim::Contact c : contacts(0)) {
            db.insertContact(c);
            for (auto it = c.entities.begin(); it != c.entities.end(); ++it) {
                for (pim::DataRow &row : it.value())
                    db.insertRow(c._id, it.key(), row);
            }
        }
        db.endTransaction(true);
        state.PauseTiming();
        db.removeFile();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * contacts(0).size());
}

void listIn(benchmark::State &state, const QString &keyword)
{
    const QString path = filledDb(0);
    qsizetype listed = 0;
    for (auto _ : state) {
        LocalDb db(path, rule()); // opened by the first call, as when a node is selected
        listed = db.listContacts(0, keyword).size();
        benchmark::DoNotOptimize(listed);
    }
    state.counters[QStringLiteral("contacts").toStdString()] = double(listed);
}

void BM_ListAll(benchmark::State &state)
{
    listIn(state, {});
}

void BM_Search(benchmark::State &state)
{
    listIn(state, kKeyword);
}

// The statement listContacts runs, with its parameters written in, through the sqlite3 shell (output to
// /dev/null).
void shellIn(benchmark::State &state, const QString &where)
{
    const QString path = filledDb(0);
    const QString sql = QStringLiteral("select d.*,c.full_name,c.src_id as csrc_id from data as d inner join "
                                       "contact as c on d.contact_id=c._id%1 order by contact_id asc;")
                            .arg(where);
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    for (auto _ : state) {
        QProcess shell;
        shell.setStandardOutputFile(QProcess::nullDevice());
        shell.start(QStringLiteral("sqlite3"), {path, sql});
        if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
            state.SkipWithError("sqlite3 failed");
    }
    // The shell's own CPU time (user + system), per run: the CPU column counts this process only.
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    auto ms = [](const timeval &t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    const double used = ms(after.ru_utime) + ms(after.ru_stime) - ms(before.ru_utime) - ms(before.ru_stime);
    state.counters["shell_cpu_ms"] = used / double(state.iterations());
}

void BM_ShellListAll(benchmark::State &state)
{
    shellIn(state, {});
}

void BM_ShellSearch(benchmark::State &state)
{
    shellIn(state, QStringLiteral(" where 1=1 and contact_id in (select contact_id from data where type not "
                                  "in (7,2) and data1 like '%%1%')")
                       .arg(kKeyword));
}

} // namespace

BENCHMARK(BM_MergeSaveIntoEmpty)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_MergeSaveIntoFull)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_MergeSaveNamesakes)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_ImportWorkerIntoEmpty)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_PlainInsertIntoEmpty)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(BM_ListAll)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_ShellListAll)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Search)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_ShellSearch)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
