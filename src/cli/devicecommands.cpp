#include "cli/devicecommands.h"

#include "android/adbsetup.h"
#include "cli/clicommon.h"
#include "cli/devices.h"
#include "cli/dryrun.h"
#include "cli/snapshotcommands.h"
#include "cli/workerrunner.h"
#include "contacts/backupcontactstolocalthread.h"
#include "contacts/localdb.h"
#include "contacts/pim.h"
#include "core/progress.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace cli {

int runDevices(const QStringList &args, Io io)
{
    const Options options(args, {}, {QStringLiteral("json"), QStringLiteral("verbose")});
    if (!options.positional().isEmpty())
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().first())};
    QJsonArray array;
    const QList<DeviceEntry> devices = phones().list();
    if (options.has(QStringLiteral("verbose"))) {
        // The route was chosen when the phones were looked for; the line says which one this run took.
        const QString line = AdbSetup::routeText(AdbSetup::chooseRoute(false));
        (options.has(QStringLiteral("json")) ? io.err : io.out) << line << '\n';
    }
    for (const DeviceEntry &d : devices) {
        if (options.has(QStringLiteral("json")))
            array.append(QJsonObject{{QStringLiteral("platform"), d.platform},
                                     {QStringLiteral("id"), d.id},
                                     {QStringLiteral("name"), d.name}});
        else
            io.out << d.platform << '\t' << d.id << '\t' << d.name << '\n';
    }
    if (options.has(QStringLiteral("json")))
        printJson(io.out, QJsonDocument(array));
    return Success;
}

int runBackup(const QStringList &args, Io io)
{
    const Options options(args, {QStringLiteral("device"), QStringLiteral("db"), QStringLiteral("contacts")},
                          {QStringLiteral("dry-run"), QStringLiteral("json")});
    const bool dryRun = dryRunRequested(options);
    const DeviceEntry device = phones().find(options.required(QStringLiteral("device")));
    QList<pim::Contact> contacts = devices::openDeviceDb(device)->listContacts(0, QString());
    if (options.has(QStringLiteral("contacts")))
        contacts = selectContacts(contacts, parseIds(options.value(QStringLiteral("contacts"))));

    // The window suggests the device name followed by "-backup.db".
    const QString name = options.has(QStringLiteral("db")) ? options.value(QStringLiteral("db"))
                                                           : QStringLiteral("%1-backup.db").arg(device.name);
    if (dryRun)
        return previewContacts(existingDbForDryRun(name).get(), contacts, options.has(QStringLiteral("json")), io);
    auto target = openOrCreateLocalDb(name);

    WriteSnapshot snapshot = WriteSnapshot::ofDb(target->path(), QStringLiteral("backup"));
    ProgressObject progress;
    BackupContactsToLocalThread worker(contacts, target.get(), &progress);
    return snapshot.finish(runWorker(worker, progress, io));
}

} // namespace cli
