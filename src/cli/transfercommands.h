#pragma once

#include "cli/cli.h"
#include "cli/devices.h"

#include <QString>

#include <functional>
#include <optional>

class AndroidContactsDb;
class LocalDb;

// Commands that write to an Android phone: transfer, delete, set-group and add. Each loads the phone into its
// cache first (the cache must hold what the phone holds before anything is merged into it) and, when a write
// fails or is cancelled, loads it again so that the cache shows what the phone now holds.
namespace cli {

using PhoneUse = std::function<int(const DeviceEntry &, AndroidContactsDb &)>;
using IPhoneUse = std::function<int(const DeviceEntry &, LocalDb &)>;

// Runs `use` with the Android phone named by its adb serial or by "wifi:ADDRESS", freshly loaded into its cache,
// and that cache, whose connector reaches the phone while `use` runs. Throws when there is no such phone. With an
// operation named, a snapshot of the cache is kept before `use` may write (none kept: nothing is written).
int withAndroidPhone(const QString &id, const QString &operation, const PhoneUse &use);
// Runs `use` with the iPhone of this UDID, freshly loaded into its cache, and that cache; returns nothing when no
// attached iPhone has the UDID (the id may then name an Android phone). The operation as above.
std::optional<int> withIosPhone(const QString &udid, const QString &operation, const IPhoneUse &use);

// transfer (--db NAME | --device ID) --to ID [--contacts N,N…]
int runTransfer(const QStringList &args, Io io);
// delete (--db NAME | --device ID) --contacts N,N…
int runDelete(const QStringList &args, Io io);
// set-group (--db NAME | --device ID) --contacts N,N… (--group NAME | --none)
int runSetGroup(const QStringList &args, Io io);
// add (--db NAME | --device ID) --vcf FILE: every card becomes an added contact, stored (and sent to the device)
// through the same change records as the window's Add Contact; cards the edit dialog would refuse are skipped.
int runAdd(const QStringList &args, Io io);

} // namespace cli
