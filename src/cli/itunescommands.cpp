#include "cli/itunescommands.h"

#include "cli/clicommon.h"
#include "cli/dryrun.h"
#include "cli/snapshotcommands.h"
#include "cli/workerrunner.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/progress.h"
#include "core/texts.h"
#include "itunes/backupmanifest.h"
#include "itunes/importcontactsfromitunesthread.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <stdexcept>

namespace cli {

namespace {

[[noreturn]] void fail(const QString &message)
{
    throw std::runtime_error(message.toStdString());
}

// The description of a backup folder; the dialog's "load %1 error. %2" when it cannot be read.
PBackupManifest readBackup(const QString &folder)
{
    const PBackupManifest manifest(new BackupManifest(folder));
    try {
        manifest->readInfo();
    } catch (const std::exception &e) {
        fail(trKey("load %1 error. %2").arg(manifest->folder().absolutePath(), QString::fromUtf8(e.what())));
    }
    return manifest;
}

// The first line of the file, without its line break: a password may contain spaces at either end.
QString readPassword(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("can not open %1. %2").arg(path, file.errorString()));
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

} // namespace

int runItunesBackups(const QStringList &args, Io io)
{
    const Options options(args, {}, {QStringLiteral("json")});
    if (!options.positional().isEmpty())
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().first())};

    const bool json = options.has(QStringLiteral("json"));
    QJsonArray array;
    for (const QString &root : BackupManifest::backupRoots()) {
        for (const QString &folder : BackupManifest::candidateFolders(root)) {
            PBackupManifest manifest;
            try {
                manifest = readBackup(folder);
            } catch (const std::exception &e) {
                // As the dialog does: an unreadable folder is reported and left out.
                io.err << QString::fromUtf8(e.what()) << '\n';
                continue;
            }
            const QString date = manifest->backupDate().toLocalTime().toString(Qt::ISODate);
            const QString path = manifest->folder().absolutePath();
            if (json) {
                array.append(QJsonObject{{QStringLiteral("name"), manifest->displayName()},
                                         {QStringLiteral("device"), manifest->deviceName()},
                                         {QStringLiteral("date"), date},
                                         {QStringLiteral("encrypted"), manifest->isEncrypted()},
                                         {QStringLiteral("productType"), manifest->productType()},
                                         {QStringLiteral("productVersion"), manifest->productVersion()},
                                         {QStringLiteral("path"), path}});
            } else {
                io.out << manifest->displayName() << '\t' << date << '\t'
                       << (manifest->isEncrypted() ? "encrypted" : "plain") << '\t' << path << '\n';
            }
        }
    }
    if (json)
        printJson(io.out, QJsonDocument(array));
    return Success;
}

int runItunesImport(const QStringList &args, Io io)
{
    const Options options(args, {QStringLiteral("db"), QStringLiteral("password-file")},
                          {QStringLiteral("dry-run"), QStringLiteral("json")});
    const bool dryRun = dryRunRequested(options);
    const QString folder = options.positional(0, QStringLiteral("DIR"));
    if (options.positional().size() > 1)
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().at(1))};

    const PBackupManifest manifest = readBackup(folder);
    {
        // The password check (seconds of key derivation) and the file table (millions of rows) end on Ctrl-C.
        InterruptScope interrupt;
        const auto cancelled = [&interrupt] { return interrupt.requested(); };
        try {
            if (manifest->isEncrypted()) {
                if (!options.has(QStringLiteral("password-file")))
                    throw UsageException{
                        QStringLiteral("the backup is encrypted: give its password with --password-file F")};
                const QString password = readPassword(options.value(QStringLiteral("password-file")));
                io.err << trKey("Verifying. Please wait...") << '\n';
                io.err.flush();
                if (password.isEmpty())
                    fail(trKey("IDS_PWD_IS_NULL"));
                if (!manifest->setPassword(password, cancelled))
                    fail(trKey("IDS_INVALID_PASSWORD"));
            }
            // The file table is read before the database is made, so an unreadable backup leaves no empty
            // database.
            // A table of millions of rows takes a while: its progress is told in steps of ten percent.
            int shown = -10;
            manifest->load(cancelled, [&io, &shown](qint64 done, qint64 total) {
                const int percent = total > 0 ? int(done * 100 / total) : 100;
                if (percent / 10 == shown / 10)
                    return;
                shown = percent;
                io.err << trKey("IDS_READING_BACKUP_FILE_TABLE_%1").arg(percent) << '\n';
                io.err.flush();
            });
        } catch (const StepCancelled &) {
            throw CancelledByUser();
        }
    }

    // The window's suggestion: the device's name with "-backup.db".
    const QString device = manifest->deviceName().isEmpty() ? QStringLiteral("Unknown Device") : manifest->deviceName();
    const QString name =
        options.has(QStringLiteral("db")) ? options.value(QStringLiteral("db")) : device + QStringLiteral("-backup.db");
    if (dryRun) {
        return previewWorker(
            existingDbForDryRun(name).get(),
            [&](LocalDb &copy, ProgressObject &progress) {
                return std::make_unique<ImportContactsFromiTunesThread>(manifest, &copy, &progress);
            },
            options.has(QStringLiteral("json")), io);
    }
    const bool created = !QFileInfo::exists(LocalDbFiles::pathFor(LocalDbFiles::fileNameFor(name)));
    auto target = openOrCreateLocalDb(name);
    target->db(); // opened now, so the database counts as in use (delete-db refuses it) for the whole import

    WriteSnapshot snapshot = WriteSnapshot::ofDb(target->path(), QStringLiteral("itunes-import"));
    ProgressObject progress;
    ImportContactsFromiTunesThread worker(manifest, target.get(), &progress);
    const int code = snapshot.finish(runWorker(worker, progress, io));
    // As in the window: a database made for a failed or cancelled import goes again; an existing one stays
    // as it was (the import rolled its changes back).
    if (code != Success && created) {
        bool removed = false;
        try {
            removed = target->removeFile();
        } catch (const std::exception &) {
        }
        if (!removed)
            io.err << "cannot remove " << target->path() << '\n';
    }
    return code;
}

} // namespace cli
