#pragma once

#include "cli/cli.h"

#include <QString>

// Commands that write to an Android phone: transfer, delete, set-group and add. Each loads the phone into its
// cache first (the cache must hold what the phone holds before anything is merged into it) and, when a write
// fails or is cancelled, loads it again so that the cache shows what the phone now holds.
namespace cli {

// transfer (--db NAME | --device ID) --to ID [--contacts N,N…]
int runTransfer(const QStringList &args, Io io);
// delete (--db NAME | --device ID) --contacts N,N…
int runDelete(const QStringList &args, Io io);
// set-group (--db NAME | --device ID) --contacts N,N… (--group NAME | --none)
int runSetGroup(const QStringList &args, Io io);
// add (--db NAME | --device ID) --vcf FILE: every card becomes an added contact, stored (and sent to the device)
// through the same change records as the window's Add Contact; cards the edit dialog would refuse are skipped.
int runAdd(const QStringList &args, Io io);

} // namespace cli
