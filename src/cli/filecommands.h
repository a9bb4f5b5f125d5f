#pragma once

#include "cli/cli.h"

namespace cli {
// Contact files: importing one into a local database, exporting contacts of a database or device to one.
int runImport(const QStringList &args, Io io);
int runExport(const QStringList &args, Io io);
} // namespace cli
