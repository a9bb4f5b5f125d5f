#pragma once

#include "cli/cli.h"
#include "snapshots/snapshotstore.h"

#include <optional>

// Snapshots before every write, and the commands that list them and go back to them: snapshots, undo,
// restore-snapshot and snapshot-limits.
namespace cli {

// Keeps a snapshot of a contact database before a command writes to it: made at construction, which throws
// (so the command stops before anything is written) when the copy cannot be kept.
class WriteSnapshot
{
public:
    WriteSnapshot(SnapshotInfo::Kind kind, const QString &target, const QString &targetName, const QString &operation,
                  const QString &dbPath);
    // A local database, named by its file name.
    static WriteSnapshot ofDb(const QString &dbPath, const QString &operation);

    // Called with the command's exit code once the write is over: after a success the database as the write left
    // it is kept beside the snapshot, so that an undo can tell later changes from the write's. Returns the code.
    int finish(int code);
    const SnapshotInfo &info() const { return m_info; }

private:
    QString m_dbPath;
    SnapshotInfo m_info;
};

// snapshots (--device ID | --db NAME | --all) [--json]
int runSnapshots(const QStringList &args, Io io);
// undo (--device ID | --db NAME)
int runUndo(const QStringList &args, Io io);
// restore-snapshot SNAPSHOT
int runRestoreSnapshot(const QStringList &args, Io io);
// snapshot-limits [--days N] [--per-device N]
int runSnapshotLimits(const QStringList &args, Io io);

} // namespace cli
