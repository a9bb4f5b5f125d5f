// The vCard import's stages on the generated mixed 10,000-contact file: parsing the bytes into cards, mapping
// the cards to contacts, the front that does both (contactsFromBytes), and the whole import worker (parse plus
// merge-save) into an empty database and into a database that already holds every contact (all merged).

#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "fileio/fileformats.h"
#include "fileio/importcontactstolocalthread.h"
#include "fileio/vcard.h"
#include "vcardgen.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kContacts = 10000;

const QByteArray &file()
{
    static const QByteArray bytes = generateMixedVCards(kContacts);
    return bytes;
}

QString writeFile(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("contacts.vcf"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(file());
    return path;
}

void import(const QString &path, LocalDb &db, benchmark::State &state)
{
    ProgressObject progress;
    ImportContactsToLocalThread worker(path, fileio::ImportVCard, &db, &progress);
    worker.start();
    worker.wait();
    QCoreApplication::sendPostedEvents();
    if (progress.outcome() != ProgressObject::Outcome::Succeeded)
        state.SkipWithError(qPrintable(progress.message()));
}

void BM_ParseCards(benchmark::State &state)
{
    for (auto _ : state) {
        vcard::ParseResult parsed = vcard::parseCards(file());
        benchmark::DoNotOptimize(parsed.cards.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * file().size());
}

void BM_MapCards(benchmark::State &state)
{
    const QList<vcard::Card> cards = vcard::parseCards(file()).cards;
    for (auto _ : state) {
        for (const vcard::Card &card : cards)
            benchmark::DoNotOptimize(vcard::contactFromCard(card).full_name.size());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * cards.size());
}

void BM_ContactsFromBytes(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(vcard::contactsFromBytes(file()).size());
    state.SetBytesProcessed(int64_t(state.iterations()) * file().size());
}

void BM_ImportIntoEmptyDb(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir);
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        LocalDb db(dir.filePath(QStringLiteral("empty%1.db").arg(run++)), PContactCombineRule(new LocalDbCombineRule));
        db.createFromTemplate();
        state.ResumeTiming();
        import(path, db, state);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kContacts);
}

void BM_ImportAllMerged(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir);
    LocalDb db(dir.filePath(QStringLiteral("full.db")), PContactCombineRule(new LocalDbCombineRule));
    db.createFromTemplate();
    import(path, db, state);
    for (auto _ : state)
        import(path, db, state); // every contact is already there: all merged, nothing new written
    state.SetItemsProcessed(int64_t(state.iterations()) * kContacts);
}

} // namespace

BENCHMARK(BM_ParseCards)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapCards)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContactsFromBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportIntoEmptyDb)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_ImportAllMerged)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
