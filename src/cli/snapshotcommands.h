#pragma once

#include "cli/cli.h"
#include "devices/writesnapshot.h"

#include <optional>

// Snapshots before every write, and the commands that list them and go back to them: snapshots, undo,
// restore-snapshot and snapshot-limits.
namespace cli {

// Snapshots before a command's writes (see devices::WriteSnapshot).
using devices::WriteSnapshot;

// snapshots (--device ID | --db NAME | --all) [--json]
int runSnapshots(const QStringList &args, Io io);
// undo (--device ID | --db NAME)
int runUndo(const QStringList &args, Io io);
// restore-snapshot SNAPSHOT
int runRestoreSnapshot(const QStringList &args, Io io);
// snapshot-limits [--days N] [--per-device N]
int runSnapshotLimits(const QStringList &args, Io io);

} // namespace cli
