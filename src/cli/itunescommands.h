#pragma once

#include "cli/cli.h"

namespace cli {
// iTunes backups on this computer: listing them, importing one's address book into a local database.
int runItunesBackups(const QStringList &args, Io io);
int runItunesImport(const QStringList &args, Io io);
} // namespace cli
