#pragma once

#include "cli/cli.h"

#include <QList>

#include <functional>
#include <memory>

class LocalDb;
class ProgressObject;
class QThread;
namespace pim {
struct Contact;
}

// --dry-run and --json of the commands that merge contacts into a database or a phone (transfer, backup, import,
// itunes-import): the merge runs on a throwaway copy of the target and what it would do is printed instead.
namespace cli {

// True for --dry-run; --json is accepted only with it. The command's Options must know both flags.
bool dryRunRequested(const Options &options);

// The local database of that name for a dry run, or nullptr when there is none yet: a dry run creates nothing.
// Throws UsageException for an empty or invalid name, as openOrCreateLocalDb does.
std::unique_ptr<LocalDb> existingDbForDryRun(const QString &name);

// Merges the contacts into a copy of the target (nullptr: a new local database) and prints the plan.
int previewContacts(LocalDb *target, const QList<pim::Contact> &contacts, bool json, Io io);

// Runs a worker that merges into a database it was given (an import) against a copy of the target and prints
// the plan. makeWorker receives the copy and the progress receiver. The worker's own success text is dropped;
// a failure ends the command as the real run would.
using WorkerFactory = std::function<std::unique_ptr<QThread>(LocalDb &copy, ProgressObject &progress)>;
int previewWorker(LocalDb *target, const WorkerFactory &makeWorker, bool json, Io io);

} // namespace cli
