#pragma once

#include <QString>

#include <optional>

// How this run of the program reaches Android phones, decided once at start: through an adb server that is
// already running (so the user's own adb keeps working and sees the same phones), or, when none runs, by
// claiming the phones' USB interfaces directly.
namespace adbroute {

enum class Kind { Direct, Server };

struct Route
{
    Kind kind = Kind::Direct;
    quint16 port = 5037;   // the adb server port looked at
    int serverVersion = 0; // the server's host protocol version (Server only)
    QString note;          // what happened on the way, e.g. a listener on the port that is not an adb server
};

// The first call probes the adb server port and fixes the route for the rest of the process; later calls
// return it unchanged. With endServer (the user asked to end it), a running adb server is asked to exit and
// the route is Direct unless it refuses.
Route choose(bool endServer = false);
// The route, when chosen.
std::optional<Route> chosen();

} // namespace adbroute
