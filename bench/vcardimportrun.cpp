// vcard-import-run FILE.vcf DB: imports a vCard file into a local database file (created from the template
// when missing) with the program's import worker, as the window and the command line do; prints the worker's
// message and the wall time. Run it under /usr/bin/time -v for the peak memory.

#include "combinerule.h"
#include "fileformats.h"
#include "importcontactstolocalthread.h"
#include "localdb.h"
#include "progress.h"
#include "texts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    installEnglishTranslation(app);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: vcard-import-run FILE.vcf DB\n");
        return 2;
    }
    LocalDb db(args.at(1), PContactCombineRule(new LocalDbCombineRule));
    if (!QFileInfo::exists(args.at(1)))
        db.createFromTemplate();
    ProgressObject progress;
    ImportContactsToLocalThread worker(args.at(0), fileio::ImportVCard, &db, &progress);
    QElapsedTimer timer;
    timer.start();
    worker.start();
    worker.wait();
    QCoreApplication::sendPostedEvents();
    std::printf("%s\n%.2f s\n", qPrintable(progress.message()), double(timer.elapsed()) / 1000.0);
    return progress.outcome() == ProgressObject::Outcome::Succeeded ? 0 : 1;
}
