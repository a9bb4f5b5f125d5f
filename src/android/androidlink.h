#pragma once

#include <QString>

#include <functional>

// Settings of the Android link that tests change, and the place of a phone's cache database.
namespace AndroidLink {

// Port of the companion app's Wi-Fi listener: 48888, or the value of the environment variable
// CONTACT_MOVER_WIFI_PORT (tests point it at a simulated phone).
inline constexpr int kDefaultWifiPort = 48888;
int wifiListenerPort();

// The pauses that give the phone time after installing the app (5 s) and after starting a session (3 s), where
// the phone can not be asked whether it is ready (over Wi-Fi, or a phone whose answers are not understood).
// The environment variable CONTACT_MOVER_ANDROID_PAUSE_MS, when set, replaces both (tests use 0).
int pauseAfterInstallMs();
int pauseAfterSessionStartMs();

// Waiting for the phone instead of pausing: how long at most (the same 5 s and 3 s; not changed by the
// variable above) and how often the phone is asked.
inline constexpr int kInstallReadyLimitMs = 5000;
inline constexpr int kSessionReadyLimitMs = 3000;
inline constexpr int kReadyPollMs = 40;

// One answer of a phone asked whether it is ready.
enum class Readiness { Ready, NotYet, Unknown };
// Asks probe until it says Ready (true) or limitMs have passed (false), pausing kReadyPollMs between asks. A
// probe that says Unknown (the phone gave no answer that can be read) stops the asking: the rest of the fixed
// pause fallbackMs, counted from the start, is slept instead, and the result is false.
bool waitUntilReady(int limitMs, int fallbackMs, const std::function<Readiness()> &probe);
// Overrides both pauses for this process; a negative value goes back to the defaults and the environment.
void setPauseOverrideMs(int ms);
void pause(int ms);

// The cache database of a device id in the data folder's "android_cache" folder. The id comes from the phone
// (a serial, or the name its Wi-Fi listener announces), so it is made into a safe file name: characters other
// than letters, digits, '-', '.', '_', '~' and ':' are percent-encoded, a leading dot too, and an overlong name
// is shortened with a digest. Different ids give different names.
QString cacheFileName(const QString &deviceId);
QString cachePath(const QString &deviceId);

} // namespace AndroidLink
