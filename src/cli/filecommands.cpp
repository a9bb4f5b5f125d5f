#include "cli/filecommands.h"

#include "cli/clicommon.h"
#include "cli/devices.h"
#include "cli/dryrun.h"
#include "cli/snapshotcommands.h"
#include "cli/workerrunner.h"
#include "contacts/localdb.h"
#include "contacts/pim.h"
#include "core/datafolder.h"
#include "core/progress.h"
#include "core/texts.h"
#include "fileio/contactsprinter.h"
#include "fileio/exporttofilethread.h"
#include "fileio/fileformats.h"
#include "fileio/importcontactstolocalthread.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <span>
#include <stdexcept>

namespace cli {

namespace {

// The format named by --format that can do the job (import or export); a usage error otherwise.
const fileio::FileFormat &formatFor(const Options &options, bool import)
{
    const QString name = options.required(QStringLiteral("format"));
    const fileio::FileFormat *format = fileio::formatNamed(name);
    const int kind = !format ? 0 : import ? format->importKind : format->exportKind;
    const bool printed = !import && format && fileio::isPrinted(*format);
    const bool available =
        printed ||
        (kind != 0 && (import ? bool(fileio::createImporter(kind)) : bool(fileio::createExporter(kind, QString()))));
    if (!available)
        throw UsageException{QStringLiteral("cannot %1 the format \"%2\"")
                                 .arg(import ? QStringLiteral("import") : QStringLiteral("export"), name)};
    return *format;
}

} // namespace

int runImport(const QStringList &args, Io io)
{
    const Options options(args, {QStringLiteral("format"), QStringLiteral("db")},
                          {QStringLiteral("dry-run"), QStringLiteral("json")});
    const bool dryRun = dryRunRequested(options);
    const QString file = options.positional(0, QStringLiteral("FILE"));
    if (options.positional().size() > 1)
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().at(1))};
    const fileio::FileFormat &format = formatFor(options, true);

    // A file that cannot be read is reported before a database is created for it.
    QFile probe(file);
    if (!probe.open(QIODevice::ReadOnly))
        throw std::runtime_error(probe.errorString().toStdString());
    probe.close();

    // The window suggests the file's name with its extension; ".db" is appended to it.
    const QString name =
        options.has(QStringLiteral("db")) ? options.value(QStringLiteral("db")) : QFileInfo(file).fileName();
    if (dryRun) {
        return previewWorker(
            existingDbForDryRun(name).get(),
            [&](LocalDb &copy, ProgressObject &progress) {
                return std::make_unique<ImportContactsToLocalThread>(file, format.importKind, &copy, &progress);
            },
            options.has(QStringLiteral("json")), io);
    }
    const bool created = !QFileInfo::exists(LocalDbFiles::pathFor(LocalDbFiles::fileNameFor(name)));
    auto target = openOrCreateLocalDb(name);
    target->db(); // opened now, so the database counts as in use (delete-db refuses it) for the whole import

    WriteSnapshot snapshot = WriteSnapshot::ofDb(target->path(), QStringLiteral("import"));
    ProgressObject progress;
    ImportContactsToLocalThread worker(file, format.importKind, target.get(), &progress);
    const int code = snapshot.finish(runWorker(worker, progress, io));
    // As in the window: a database made for an import that failed or read nothing goes again.
    if (code != Success && created && !target->removeFile())
        io.err << "cannot remove " << target->path() << '\n';
    return code;
}

int runExport(const QStringList &args, Io io)
{
    const Options options(
        args, {QStringLiteral("db"), QStringLiteral("device"), QStringLiteral("contacts"), QStringLiteral("format")},
        {});
    const QString out = options.positional(0, QStringLiteral("OUT"));
    if (options.positional().size() > 1)
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().at(1))};
    if (options.has(QStringLiteral("db")) == options.has(QStringLiteral("device")))
        throw UsageException{QStringLiteral("name either --db or --device")};
    const fileio::FileFormat &format = formatFor(options, false);

    // Checked before anything is read: an export over a database of the data folder would destroy it.
    if (DataFolder::holds(out))
        throw std::runtime_error(trKey("IDS_EXPORT_TARGET_IS_DATABASE_%1").arg(out).toStdString());
    std::unique_ptr<LocalDb> source =
        options.has(QStringLiteral("db"))
            ? openLocalDb(existingDbPath(options.value(QStringLiteral("db"))))
            : devices::openDeviceDb(phones().find(options.value(QStringLiteral("device"))));
    // Only names and ids first: the rows are read a batch at a time as they are written (every contact with
    // its rows at once took gigabytes for large databases).
    QList<pim::Contact> contacts = source->listContactHeads(0, QString());
    if (options.has(QStringLiteral("contacts")))
        contacts = selectContacts(contacts, parseIds(options.value(QStringLiteral("contacts"))));

    // OUT is written as named: a command line names its output exactly (the window adds the extension).
    if (fileio::isPrinted(format)) {
        source->readContactRows(std::span<pim::Contact>(contacts.data(), size_t(contacts.size())));
        // The cards are painted into the PDF here, as the window does on its own thread.
        const int count = ContactsPrinter(contacts).writePdf(out);
        io.out << trKey("IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE").arg(count) << '\n';
        return Success;
    }
    ProgressObject progress;
    ExportToFileThread worker(contacts, format.exportKind, out, &progress);
    LocalDb *db = source.get();
    worker.readRowsInBatches([db](std::span<pim::Contact> batch) { db->readContactRows(batch); });
    return runWorker(worker, progress, io);
}

} // namespace cli
