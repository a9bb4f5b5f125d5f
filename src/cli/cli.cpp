#include "cli/cli.h"

#include "android/adbsetup.h"
#include "cli/workerrunner.h"

#include "cli/dbcommands.h"
#include "cli/devicecommands.h"
#include "cli/filecommands.h"
#include "cli/itunescommands.h"
#include "cli/snapshotcommands.h"
#include "cli/transfercommands.h"

#include <QTextStream>

#include <exception>
#include <functional>

namespace cli {

namespace {

struct Command
{
    const char *name;
    const char *synopsis;
    std::function<int(const QStringList &, Io)> run;
};

const QList<Command> &commands()
{
    static const QList<Command> list = {
        {"dbs", "dbs [--json]                                      local databases: name, contacts", runDbs},
        {"list",
         "list (--db NAME | --device ID) [--group NAME] [--keyword K] [--json]  contacts of a local database "
         "or a device",
         runList},
        {"create-db", "create-db NAME                                    a new local database (\".db\" appended)",
         runCreateDb},
        {"delete-db", "delete-db NAME                                    removes a local database file", runDeleteDb},
        {"devices",
         "devices [--json] [--verbose]                      connected devices: platform, id, name (loads "
         "phones); --verbose also says how Android phones are reached",
         runDevices},
        {"backup",
         "backup --device ID [--db NAME] [--contacts N,N...] [--dry-run [--json]]  copies a device's contacts into a "
         "local "
         "database, merging namesakes",
         runBackup},
        {"import",
         "import FILE --format vcf|csv [--db NAME] [--dry-run [--json]]  imports a contact file into a local database",
         runImport},
        {"export",
         "export (--db NAME | --device ID) [--contacts N,N...] --format vcf|csv|txt|html|doc|pdf OUT  "
         "writes contacts to a file",
         runExport},
        {"transfer",
         "transfer (--db NAME | --device ID) --to ID [--contacts N,N...] [--dry-run [--json]]  sends contacts to a "
         "phone, merging namesakes",
         runTransfer},
        {"delete", "delete (--db NAME | --device ID) --contacts N,N...  deletes contacts (on a phone too)", runDelete},
        {"set-group",
         "set-group (--db NAME | --device ID) --contacts N,N... (--group NAME | --none)  sets contacts' group",
         runSetGroup},
        {"add", "add (--db NAME | --device ID) --vcf FILE          adds each card of a vCard file as a new contact",
         runAdd},
        {"itunes-backups",
         "itunes-backups [--json]                           iPhone backups on this computer: name, date, "
         "encryption, folder",
         runItunesBackups},
        {"itunes-import",
         "itunes-import DIR [--db NAME] [--password-file F] [--dry-run [--json]]  imports a backup's address book into "
         "a "
         "local database, merging namesakes",
         runItunesImport},
        {"snapshots",
         "snapshots (--device ID | --db NAME | --all) [--json]  snapshots kept before each write, newest "
         "first, and their disk use",
         runSnapshots},
        {"undo",
         "undo (--device ID | --db NAME)                    undoes the last write to a phone or database; "
         "changes made there since are kept",
         runUndo},
        {"restore-snapshot",
         "restore-snapshot SNAPSHOT                         brings a phone or database back to "
         "exactly that snapshot",
         runRestoreSnapshot},
        {"snapshot-limits",
         "snapshot-limits [--days N] [--per-device N]       how long and how many snapshots are kept",
         runSnapshotLimits},
    };
    return list;
}

void printUsage(QTextStream &stream)
{
    stream << "Usage: contact-mover-cli COMMAND [OPTIONS]\n\n"
              "Moves address-book contacts between local contact databases, devices and files, with the same\n"
              "data folder as the window (the home folder decides where it is).\n\nCommands:\n";
    for (const Command &c : commands())
        stream << "  " << c.synopsis << '\n';
    stream << "\nOption for every command: --end-adb-server  ends a running adb server of yours first, so that the\n"
              "program reaches the phones over USB itself (without it, phones are reached through that server).\n";
    stream
        << "\n--dry-run (backup, import, transfer, itunes-import) writes nothing: it prints how many contacts would\n"
           "be added, merged into which contacts (with the rows that change) and left unchanged; --json prints that\n"
           "as JSON.\n";
    stream << "\nExit status: 0 success, 1 failure, 2 usage error, 3 cancelled.\n";
}

} // namespace

Options::Options(const QStringList &args, const QStringList &valueOptions, const QStringList &flags)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (!arg.startsWith(QLatin1String("--")) || arg == QLatin1String("--")) {
            m_positional.append(arg);
            continue;
        }
        QString name = arg.mid(2);
        QString inlineValue;
        const bool hasInline = name.contains(QLatin1Char('='));
        if (hasInline) {
            inlineValue = name.section(QLatin1Char('='), 1);
            name = name.section(QLatin1Char('='), 0, 0);
        }
        if (valueOptions.contains(name)) {
            if (hasInline) {
                m_values.insert(name, inlineValue);
            } else if (i + 1 < args.size()) {
                m_values.insert(name, args.at(++i));
            } else {
                throw UsageException{QStringLiteral("option --%1 needs a value").arg(name)};
            }
        } else if (flags.contains(name) && !hasInline) {
            m_flags.insert(name);
        } else {
            throw UsageException{QStringLiteral("unknown option %1").arg(arg)};
        }
    }
}

QString Options::required(const QString &name) const
{
    if (!m_values.contains(name))
        throw UsageException{QStringLiteral("option --%1 is required").arg(name)};
    return m_values.value(name);
}

QString Options::positional(int i, const QString &what) const
{
    if (i >= m_positional.size())
        throw UsageException{QStringLiteral("missing %1").arg(what)};
    return m_positional.at(i);
}

int run(const QStringList &givenArgs, Io io)
{
    QStringList args = givenArgs;
    // Chosen before any command looks for phones: the route is fixed for the run.
    if (AdbSetup::endServerRequested(args)) {
        args.removeAll(QLatin1String(AdbSetup::kEndServerOption));
        AdbSetup::chooseRoute(true);
    }
    if (args.isEmpty()) {
        printUsage(io.err);
        return UsageError;
    }
    const QString name = args.first();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        printUsage(io.out);
        return Success;
    }
    installInterruptHandler();
    for (const Command &c : commands()) {
        if (name != QLatin1String(c.name))
            continue;
        try {
            return c.run(args.mid(1), io);
        } catch (const CancelledByUser &) {
            io.err << "Cancelled.\n";
            return Cancelled;
        } catch (const UsageException &e) {
            io.err << "contact-mover-cli " << name << ": " << e.message << "\n\n";
            io.err << "Usage: contact-mover-cli " << c.synopsis << '\n';
            return UsageError;
        } catch (const std::exception &e) {
            io.err << QString::fromUtf8(e.what()) << '\n';
            return Failure;
        }
    }
    io.err << "contact-mover-cli: unknown command \"" << name << "\"\n\n";
    printUsage(io.err);
    return UsageError;
}

} // namespace cli
