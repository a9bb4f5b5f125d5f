#pragma once

#include "adb/adbroute.h"

#include <QString>
#include <QStringList>

// How a run of the program meets the user's own adb: the route to the phones chosen at start, the texts that
// show it, and the --end-adb-server option.
namespace AdbSetup {

// The command-line option by which the user asks the program to end a running adb server of theirs.
inline constexpr char kEndServerOption[] = "--end-adb-server";
bool endServerRequested(const QStringList &arguments);

// Chooses the route once for this run (see adbroute::choose) and returns it.
adbroute::Route chooseRoute(bool endServer);
// One line for the About box and `devices --verbose`: which route, and why.
QString routeText(const adbroute::Route &route);
// The question asked before ending an adb server that appeared while we drive the phones ourselves.
QString endServerQuestion(qint64 pid, const QString &name, const QString &path);

} // namespace AdbSetup
