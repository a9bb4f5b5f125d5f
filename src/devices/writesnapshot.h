#pragma once

#include "snapshots/snapshotstore.h"

#include <functional>

namespace devices {

// Keeps a snapshot of a contact database before a write: made at construction, which throws (so the caller stops
// before anything is written) when the copy cannot be kept.
class WriteSnapshot
{
public:
    WriteSnapshot(SnapshotInfo::Kind kind, const QString &target, const QString &targetName, const QString &operation,
                  const QString &dbPath);
    // A local database, named by its file name.
    static WriteSnapshot ofDb(const QString &dbPath, const QString &operation);

    // Called with the write's exit code (0: success) once it is over: after a success the database as the write
    // left it is kept beside the snapshot, so that an undo can tell later changes from the write's; when that
    // fails the write still stands and `warn` (stderr when empty) says so. Returns the code.
    int finish(int code, const std::function<void(const QString &)> &warn = {});
    const SnapshotInfo &info() const { return m_info; }

private:
    QString m_dbPath;
    SnapshotInfo m_info;
};

} // namespace devices
