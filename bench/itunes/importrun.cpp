// itunes-import-run BACKUP_DIR OUT.db [PASSWORD]: imports a backup's address book into a new local database with
// the import worker, as the window and contact-mover-cli do, and prints the time of the reading half (copying the
// address book out and reading every person) and of the writing half (merge-saving every contact).
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "core/texts.h"
#include "itunes/backupmanifest.h"
#include "itunes/importcontactsfromitunesthread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <cstdio>
#include <exception>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    installEnglishTranslation(app);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: itunes-import-run BACKUP_DIR OUT.db [PASSWORD]\n");
        return 2;
    }
    try {
        const PBackupManifest manifest(new BackupManifest(args[1]));
        manifest->readInfo();
        if (args.size() > 3 && !manifest->setPassword(args[3])) {
            std::fprintf(stderr, "wrong password\n");
            return 1;
        }
        manifest->load();
        QFile::remove(args[2]);
        LocalDb db(args[2], PContactCombineRule(new LocalDbCombineRule));
        db.createFromTemplate();

        ProgressObject progress;
        QElapsedTimer timer;
        qint64 readingEnd = -1;
        QObject::connect(&progress, &ProgressObject::progressChanged, &progress,
                         [&](const QString &, int value, const QString &) {
                             if (value > 50 && readingEnd < 0)
                                 readingEnd = timer.elapsed();
                         });
        ImportContactsFromiTunesThread worker(manifest, &db, &progress);
        QEventLoop loop;
        QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit);
        timer.start();
        worker.start();
        loop.exec();
        worker.wait();
        const qint64 total = timer.elapsed();
        QCoreApplication::sendPostedEvents(&progress);
        std::printf("%s\nreading %lld ms, writing %lld ms, total %lld ms\n", qPrintable(progress.message()),
                    static_cast<long long>(readingEnd), static_cast<long long>(total - readingEnd),
                    static_cast<long long>(total));
        return progress.outcome() == ProgressObject::Outcome::Succeeded ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
