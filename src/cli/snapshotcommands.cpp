#include "cli/snapshotcommands.h"

#include "android/androidcontactsdb.h"
#include "cli/clicommon.h"
#include "cli/devices.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "devices/phoneaccess.h"
#include "snapshots/undorunner.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTextStream>

#include <stdexcept>

namespace cli {

namespace {

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

void printKept(const undo::Plan &plan, Io io)
{
    const QStringList lines = plan.summary().split(QLatin1Char('\n'));
    for (qsizetype i = 1; i < lines.size(); ++i)
        io.out << lines.at(i) << '\n';
}

// Brings the target of the snapshot back to it. keepLaterChanges: what changed after the snapshot's write
// stays (undo); otherwise the target becomes the snapshot exactly (restore-snapshot). The snapshot is read and
// checked before the device is touched; the state before is itself kept as a snapshot, so the undo can be undone.
int bringBack(const SnapshotInfo &info, bool keepLaterChanges, Io io)
{
    SnapshotStore store;
    const QList<pim::Contact> before = store.contacts(info, false);
    std::optional<QList<pim::Contact>> after;
    if (keepLaterChanges && store.hasAfter(info))
        after = store.contacts(info, true);
    const QString operation = keepLaterChanges ? QStringLiteral("undo") : QStringLiteral("restore-snapshot");

    const auto planFor = [&](LocalDb &db) {
        return undo::plan(before, after, db.listContacts(0, QString()), undo::optionsFor(info.kind));
    };
    const auto nothing = [&](const undo::Plan &plan, const QString &name) {
        io.out << QStringLiteral("%1 already is as the snapshot %2 holds it; nothing was changed.").arg(name, info.id)
               << '\n';
        printKept(plan, io);
        return int(Success);
    };

    if (info.kind == SnapshotInfo::Kind::LocalDb) {
        const QString path = LocalDbFiles::pathFor(info.target);
        if (!QFileInfo(path).isFile())
            throw std::runtime_error(
                QStringLiteral("There is no local database named \"%1\".").arg(info.targetName).toStdString());
        auto db = openLocalDb(path);
        const undo::Plan plan = planFor(*db);
        if (plan.isEmpty())
            return nothing(plan, info.targetName);
        WriteSnapshot snapshot(info.kind, info.target, info.targetName, operation, path);
        undo::applyToLocalDb(plan, *db);
        snapshot.finish(Success);
        io.out << plan.summary() << '\n';
        return Success;
    }

    // A phone: the plan is carried out through the send workers; after a failure the phone is loaded again.
    const auto onPhone = [&](devices::PhoneCache &phone) {
        const undo::Plan plan = planFor(phone.db);
        if (plan.isEmpty())
            return nothing(plan, phone.entry.name);
        WriteSnapshot snapshot(info.kind, info.target, phone.entry.name, operation, phone.entry.dbPath);
        int code = Success;
        const devices::RunWorker run = writeRunner(io, code);
        const bool done = phone.isIos() ? undo::applyToIos(plan, phone.entry.id, phone.db, run)
                                        : undo::applyToAndroid(plan, *phone.android, run);
        if (!done) {
            phones().reload(phone);
            return code;
        }
        snapshot.finish(Success);
        io.out << plan.summary() << '\n';
        return int(Success);
    };
    if (info.kind == SnapshotInfo::Kind::Ios) {
        const std::optional<int> done = phones().withIphone(info.target, QString(), onPhone);
        if (!done)
            throw std::runtime_error(
                QStringLiteral("The iPhone %1 is not connected.").arg(info.targetName).toStdString());
        return *done;
    }
    return phones().withAndroidPhone(info.target, QString(), onPhone);
}

// The snapshots of the target named on the command line, newest first.
QList<SnapshotInfo> snapshotsOf(const Options &options, const SnapshotStore &store)
{
    if (options.has(QStringLiteral("db")) == options.has(QStringLiteral("device")))
        throw UsageException{QStringLiteral("name either --db or --device")};
    if (options.has(QStringLiteral("db"))) {
        const QString name = options.value(QStringLiteral("db"));
        if (name.isEmpty() || !LocalDbFiles::nameProblem(name).isEmpty())
            throw UsageException{QStringLiteral("not a database name: %1").arg(name)};
        return store.list(SnapshotInfo::Kind::LocalDb, LocalDbFiles::fileNameFor(name));
    }
    const QString device = options.value(QStringLiteral("device"));
    QList<SnapshotInfo> out;
    for (const SnapshotInfo &info : store.listAll())
        if (!info.damaged && info.kind != SnapshotInfo::Kind::LocalDb && info.target == device)
            out.append(info);
    return out;
}

} // namespace

int runSnapshots(const QStringList &args, Io io)
{
    const Options options(args, {QStringLiteral("db"), QStringLiteral("device")},
                          {QStringLiteral("json"), QStringLiteral("all")});
    if (!options.positional().isEmpty())
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().first())};
    const SnapshotStore store;
    QList<SnapshotInfo> list;
    if (options.has(QStringLiteral("all"))) {
        if (options.has(QStringLiteral("db")) || options.has(QStringLiteral("device")))
            throw UsageException{QStringLiteral("--all lists every target's snapshots: name no --db or --device")};
        list = store.listAll();
    } else {
        list = snapshotsOf(options, store);
    }
    qint64 listed = 0;
    for (const SnapshotInfo &info : std::as_const(list))
        listed += info.bytes;
    if (options.has(QStringLiteral("json"))) {
        QJsonArray array;
        for (const SnapshotInfo &info : std::as_const(list))
            array.append(QJsonObject{{QStringLiteral("id"), info.id},
                                     {QStringLiteral("kind"), SnapshotInfo::kindName(info.kind)},
                                     {QStringLiteral("target"), info.target},
                                     {QStringLiteral("name"), info.targetName},
                                     {QStringLiteral("operation"), info.operation},
                                     {QStringLiteral("time"), info.time.toString(Qt::ISODate)},
                                     {QStringLiteral("contacts"), info.contacts},
                                     {QStringLiteral("bytes"), info.bytes},
                                     {QStringLiteral("complete"), !info.afterSha256.isEmpty()},
                                     {QStringLiteral("damaged"), info.damaged}});
        printJson(io.out, QJsonDocument(QJsonObject{{QStringLiteral("snapshots"), array},
                                                    {QStringLiteral("bytes"), listed},
                                                    {QStringLiteral("folderBytes"), store.diskUse()}}));
        return Success;
    }
    for (const SnapshotInfo &info : std::as_const(list)) {
        if (info.damaged) {
            io.out << info.id << "\tdamaged\t" << sizeText(info.bytes) << '\n';
            continue;
        }
        io.out << info.id << '\t' << info.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << '\t'
               << info.targetName << '\t' << info.operation << '\t' << info.contacts << " contacts\t"
               << sizeText(info.bytes) << (info.afterSha256.isEmpty() ? "\t(write not completed)" : "") << '\n';
    }
    const SnapshotStore::Limits limits = SnapshotStore::limits();
    io.out << QStringLiteral("%1 snapshots, %2; all snapshots use %3 in %4 (kept: %5 per device, %6 days).")
                  .arg(list.size())
                  .arg(sizeText(listed), sizeText(store.diskUse()), store.folder())
                  .arg(limits.maxPerTarget)
                  .arg(limits.maxAgeDays)
           << '\n';
    return Success;
}

int runUndo(const QStringList &args, Io io)
{
    const Options options(args, {QStringLiteral("db"), QStringLiteral("device")}, {});
    if (!options.positional().isEmpty())
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().first())};
    const SnapshotStore store;
    const QList<SnapshotInfo> list = snapshotsOf(options, store);
    if (list.isEmpty())
        throw std::runtime_error("There is no snapshot to go back to: nothing was written there yet.");
    io.err << QStringLiteral("Undoing \"%1\" of %2 (snapshot %3).")
                  .arg(list.first().operation, list.first().time.toLocalTime().toString(Qt::ISODate), list.first().id)
           << '\n';
    return bringBack(list.first(), true, io);
}

int runRestoreSnapshot(const QStringList &args, Io io)
{
    const Options options(args, {}, {});
    const QString id = options.positional(0, QStringLiteral("SNAPSHOT"));
    if (options.positional().size() > 1)
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().at(1))};
    const std::optional<SnapshotInfo> info = SnapshotStore().find(id);
    if (!info)
        throw std::runtime_error(
            QStringLiteral("There is no snapshot \"%1\" (see the snapshots command).").arg(id).toStdString());
    return bringBack(*info, false, io);
}

int runSnapshotLimits(const QStringList &args, Io io)
{
    const Options options(args, {QStringLiteral("days"), QStringLiteral("per-device")}, {});
    if (!options.positional().isEmpty())
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().first())};
    SnapshotStore::Limits limits = SnapshotStore::limits();
    const auto number = [&](const QString &name, int minimum) {
        bool ok = false;
        const int n = options.value(name).toInt(&ok);
        if (!ok || n < minimum)
            throw UsageException{QStringLiteral("--%1 needs a whole number of at least %2").arg(name).arg(minimum)};
        return n;
    };
    if (options.has(QStringLiteral("days")))
        limits.maxAgeDays = number(QStringLiteral("days"), 0);
    if (options.has(QStringLiteral("per-device")))
        limits.maxPerTarget = number(QStringLiteral("per-device"), 1);
    if (options.has(QStringLiteral("days")) || options.has(QStringLiteral("per-device"))) {
        SnapshotStore::setLimits(limits);
        SnapshotStore store;
        store.prune(limits);
    }
    io.out << QStringLiteral("Snapshots are kept %1 days (0: no age limit), at most %2 per device or database.")
                  .arg(limits.maxAgeDays)
                  .arg(limits.maxPerTarget)
           << '\n';
    return Success;
}

} // namespace cli
