// vcard-import-run FILE.vcf DB: imports a vCard file into a local database file (created from the template
// when missing) with the program's import worker, as the window and the command line do; prints the worker's
// message, the wall time and the CPU time of the import (both threads of it). Run it under /usr/bin/time -v for
// the peak memory.
// vcard-import-run --plain FILE.vcf DB: the reference for storage: reads the file into contacts, then stores
// them with LocalDb's plain inserts (a contact row and its data rows each, one transaction, no merge) and
// prints the wall time and the CPU time of the storing alone.

#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "core/texts.h"
#include "fileio/fileformats.h"
#include "fileio/importcontactstolocalthread.h"
#include "fileio/vcard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <ctime>

namespace {

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int storePlain(const QString &vcf, LocalDb &db)
{
    QFile file(vcf);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s\n", qPrintable(file.errorString()));
        return 1;
    }
    QList<pim::Contact> contacts = vcard::contactsFromBytes(file.readAll());
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = processCpuSeconds();
    db.beginTransaction();
    for (pim::Contact &c : contacts) {
        db.insertContact(c);
        for (auto it = c.entities.begin(); it != c.entities.end(); ++it) {
            for (pim::DataRow &row : it.value())
                db.insertRow(c._id, it.key(), row);
        }
    }
    db.endTransaction(true);
    std::printf("stored %lld contacts\n%.2f s\ncpu %.3f\n", static_cast<long long>(contacts.size()),
                double(timer.elapsed()) / 1000.0, processCpuSeconds() - cpuStart);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    installEnglishTranslation(app);
    QStringList args = app.arguments().mid(1);
    const bool plain = args.value(0) == QStringLiteral("--plain");
    if (plain)
        args.removeFirst();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: vcard-import-run [--plain] FILE.vcf DB\n");
        return 2;
    }
    LocalDb db(args.at(1), PContactCombineRule(new LocalDbCombineRule));
    if (!QFileInfo::exists(args.at(1)))
        db.createFromTemplate();
    if (plain)
        return storePlain(args.at(0), db);

    ProgressObject progress;
    ImportContactsToLocalThread worker(args.at(0), fileio::ImportVCard, &db, &progress);
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = processCpuSeconds();
    worker.start();
    worker.wait();
    QCoreApplication::sendPostedEvents();
    std::printf("%s\n%.2f s\ncpu %.3f\n", qPrintable(progress.message()), double(timer.elapsed()) / 1000.0,
                processCpuSeconds() - cpuStart);
    return progress.outcome() == ProgressObject::Outcome::Succeeded ? 0 : 1;
}
