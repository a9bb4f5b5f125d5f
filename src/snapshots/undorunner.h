#pragma once

// Carrying out an undo plan: on an Android phone and an iPhone through the same send-changes workers as an edit
// or a delete (each change first applied to the phone's cache, then sent), on a local database directly. The
// front end runs each worker (with its own progress receiver) through RunWorker.

#include "snapshots/snapshotstore.h"
#include "snapshots/undoplan.h"

#include <QThread>

#include <functional>
#include <memory>

class AndroidContactsDb;
class LocalDb;
class ProgressTarget;

namespace undo {

// Makes a worker that reports to the given receiver.
using WorkerFactory = std::function<std::unique_ptr<QThread>(ProgressTarget *)>;
// Runs the worker to its end; true when it succeeded. The front end shows or prints its progress and error.
using RunWorker = std::function<bool(const WorkerFactory &)>;

// How contacts of this kind of database are matched and which rows take part.
Options optionsFor(SnapshotInfo::Kind kind);

// Reads the snapshot (checked first: SnapshotDamaged when it is not intact) and, when keepLaterChanges and the
// state after its write was recorded, that state too, and plans against what the database holds now.
Plan planFor(const SnapshotStore &store, const SnapshotInfo &snapshot, LocalDb &db, bool keepLaterChanges);

// Each returns false as soon as a worker did not succeed (its error went to the front end); what was sent
// before stays on the phone, and the caller reloads the phone's cache.
bool applyToAndroid(const Plan &plan, AndroidContactsDb &cache, const RunWorker &run);
bool applyToIos(const Plan &plan, const QString &udid, LocalDb &cache, const RunWorker &run);
// Throws on a storage error; contacts handled before stay handled.
void applyToLocalDb(const Plan &plan, LocalDb &db);

} // namespace undo
