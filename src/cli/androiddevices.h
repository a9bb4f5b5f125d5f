#pragma once

#include "adb/adb.h"
#include "android/iandroidconnector.h"
#include "cli/devices.h"

#include <functional>
#include <optional>

namespace cli {

// Runs `use` with the Android phones the adb poller finds online (USB, and the adbd endpoints of
// CONTACT_MOVER_ADB_TCP), once it has settled or, when a serial is wanted, once that phone turned up; the phones
// stay open until `use` returns.
void withAdbPhones(const std::function<void(const QList<PAdbUSBHandle> &)> &use, const QString &wanted = QString());

// Rebuilds the phone's cache and loads its contacts into it through the connector (progress to stderr); throws
// std::runtime_error with the loading error's text.
DeviceEntry loadPhone(const QString &devId, const PAndroidConnector &connector);

// Every adb phone loaded into its cache (as the window does when it arrives): platform "android", id = serial,
// name = the name the phone announced, dbPath = its cache. A phone that fails to load is left out; its error
// goes to stderr.
QList<DeviceEntry> loadAdbPhones();

// An Android device named by its adb serial or by "wifi:ADDRESS" (a phone whose companion app listens on
// Wi-Fi), loaded into its cache; nothing when no adb phone has that serial. Throws std::runtime_error with the
// loading error's text.
std::optional<DeviceEntry> findAndroidDevice(const QString &id);

} // namespace cli
