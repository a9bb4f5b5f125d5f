#include "adb/adbroute.h"

#include "adb/adbserver.h"

#include <mutex>

using namespace Qt::StringLiterals;

namespace adbroute {

namespace {
std::mutex routeMutex;
std::optional<Route> theRoute;
} // namespace

Route choose(bool endServer)
{
    std::lock_guard lock(routeMutex);
    if (theRoute)
        return *theRoute;
    Route route;
    route.port = adbserver::serverPort();
    adbserver::Probe found = adbserver::probe(route.port);
    if (found.isAdbServer && endServer) {
        QString error;
        if (adbserver::killServer(route.port, 3000, &error)) {
            route.note = u"the adb server on port %1 was asked to exit"_s.arg(route.port);
            found = adbserver::Probe{};
        } else {
            route.note = error;
        }
    }
    if (found.isAdbServer) {
        route.kind = Kind::Server;
        route.serverVersion = found.version;
    } else if (found.listening) {
        route.note = found.error;
    }
    theRoute = route;
    return route;
}

std::optional<Route> chosen()
{
    std::lock_guard lock(routeMutex);
    return theRoute;
}

} // namespace adbroute
