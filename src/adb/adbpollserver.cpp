#include "adb/adbpollserver.h"

#include "adb/log.h"

#include <QDebug>

using namespace Qt::StringLiterals;

namespace {

// States in which the server hands a device's services on, or will once its owner allows this computer.
bool isReachable(const QString &state)
{
    static const QStringList kStates{u"device"_s, u"unauthorized"_s, u"recovery"_s, u"sideload"_s, u"rescue"_s};
    return kStates.contains(state);
}

} // namespace

void AdbPoll::beginServerRoute(quint16 port)
{
    m_server = std::make_unique<Server>();
    m_server->port = port;
    m_server->tracker = std::make_unique<adbserver::Tracker>(port, [this] { wake(); });
}

void AdbPoll::pollServer()
{
    Server &server = *m_server;
    const QString error = server.tracker->error();
    if (error != server.lastError && !error.isEmpty())
        qCWarning(lcAdb).noquote() << "AdbPoll:" << error;
    server.lastError = error;

    QSet<QString> listed;
    for (const adbserver::DeviceEntry &entry : server.tracker->devices()) {
        const QString key = u"adb-server:"_s + entry.serial;
        const QString state = entry.state;
        if (isReachable(state)) {
            listed.insert(key);
            std::shared_ptr<adbserver::ServerLink> link;
            {
                std::lock_guard lock(server.links->mutex);
                link = server.links->byKey.value(key).lock();
            }
            if (link)
                adbserver::setDeviceState(link, state);
            const quint16 port = server.port;
            std::shared_ptr<Server::Links> links = server.links;
            adopt(key, entry.serial,
                  [port, state, key, links](QString *serial, QString *, bool *reachable) -> PAdbUSBHandle {
                      *reachable = true;
                      auto transport = std::make_unique<adbserver::ServerTransport>(port, *serial, state);
                      {
                          std::lock_guard lock(links->mutex);
                          links->byKey.insert(key, transport->link());
                      }
                      return std::make_shared<AdbUSBHandle>(std::move(transport), *serial);
                  });
        } else if (state.startsWith(u"no permissions"_s)) {
            // The server can not open the phone either (udev rules): say so once, as for a USB device.
            listed.insert(key);
            const QString why = u"the adb server reports \"%1\""_s.arg(state);
            adopt(key, entry.serial, [why](QString *, QString *errorOut, bool *reachable) -> PAdbUSBHandle {
                *errorOut = why;
                *reachable = true;
                return nullptr;
            });
        }
        // "offline", "connecting", "authorizing": not yet; the server announces the next state.
    }
    for (const QString &key : std::as_const(server.listed)) {
        if (listed.contains(key))
            continue;
        dropKey(key, u"the adb server no longer lists the device"_s);
        std::lock_guard lock(server.links->mutex);
        server.links->byKey.remove(key);
    }
    server.listed = listed;
}
