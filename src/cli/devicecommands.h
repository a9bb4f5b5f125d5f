#pragma once

#include "cli/cli.h"

namespace cli {
// Commands over devices: listing them and backing their contacts up into a local database.
int runDevices(const QStringList &args, Io io);
int runBackup(const QStringList &args, Io io);
} // namespace cli
