#pragma once

#include "cli/cli.h"

namespace cli {
// Commands over the user's local databases.
int runDbs(const QStringList &args, Io io);
int runList(const QStringList &args, Io io);
int runCreateDb(const QStringList &args, Io io);
int runDeleteDb(const QStringList &args, Io io);
} // namespace cli
