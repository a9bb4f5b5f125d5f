#pragma once

#include "devices/deviceentry.h"

#include <QHash>

#include <functional>
#include <optional>

class AndroidContactsDb;
namespace pim {
struct ChangeRecord;
struct Contact;
} // namespace pim

namespace devices {

class DeviceQuestions;

// A phone loaded for a command, with its cache open: what the users of PhoneAccess receive.
struct PhoneCache
{
    DeviceEntry entry;
    LocalDb &db;                // the open cache
    AndroidContactsDb *android; // the same cache for an Android phone (its connector reaches the phone)
    bool isIos() const { return android == nullptr; }
};

// Finding, loading and writing to phones for a front end that works one command at a time (the command line):
// every phone is loaded into its rebuilt cache before it is used, so the cache holds what the phone holds before
// anything is merged into it, and loaded again after a write that failed or was cancelled, so the cache shows what
// the phone now holds. Loads run through `load` (which may throw with the loading error, as the command line's
// does); questions go to `questions`.
class PhoneAccess
{
public:
    using Use = std::function<int(PhoneCache &)>;

    PhoneAccess(DeviceQuestions &questions, RunWorker load);

    // The virtual devices, the iPhones (not loaded: dbPath is their cache) and the adb phones, each Android phone
    // loaded into its cache first (named as it announces itself; one that fails to load is reported and left out).
    QList<DeviceEntry> list();
    // The adb phones without loading them: id = serial, name = the phone's model, no dbPath.
    QList<DeviceEntry> listAdb();
    // The device with this id: a virtual device, or an iPhone (UDID) or Android phone (adb serial or
    // "wifi:ADDRESS") loaded into its cache. Throws std::runtime_error when there is none, when it cannot be loaded,
    // or when it is an iPhone that does not trust this computer (with what the user has to do).
    DeviceEntry find(const QString &id);
    // Whether an iPhone with this UDID is attached and trusts this computer (nothing is loaded); throws as find()
    // does for one that does not trust it.
    bool isIphone(const QString &udid);

    // Runs `use` with the iPhone of this UDID, freshly loaded, and its open cache; nothing when no attached
    // iPhone has the UDID. With an operation named, a snapshot of the cache is kept before `use` may write and
    // finished with use's code (0: success); none kept means nothing is written.
    std::optional<int> withIphone(const QString &udid, const QString &operation, const Use &use);
    // The same for the Android phone named by its adb serial or by "wifi:ADDRESS"; throws when there is none.
    int withAndroidPhone(const QString &id, const QString &operation, const Use &use);
    // An iPhone when one has this id, else an Android phone.
    int withPhone(const QString &id, const QString &operation, const Use &use);

    // Runs one writing worker (made by `make`) on the phone through `run`; when it did not succeed the phone is
    // loaded again (reload). True when it succeeded.
    bool write(PhoneCache &phone, const WorkerFactory &make, const RunWorker &run);
    // After a failed or cancelled write: closes the cache and loads the phone again; a failing load is reported
    // through questions.warn (the write's own failure is what the caller reports).
    void reload(PhoneCache &phone);

private:
    // The attached iPhone with this UDID, not loaded; throws when it is there but does not trust this computer.
    std::optional<DeviceEntry> attachedIphone(const QString &udid);

    DeviceQuestions &m_questions;
    RunWorker m_load;
    // iPhones that did not come to trust this computer while listed, with their last lockdown code.
    QHash<QString, int> m_untrusted;
};

// The writing workers, for either platform. sendContacts merges contacts into the phone and its cache (a
// transfer). sendChanges sends what the caller already applied to the cache: the deletion of contacts when
// toDelete is not empty, else one contact's change records (an edit or an added contact). sendGroups sends the
// group memberships of contacts already regrouped in the cache (Android phones only: an iPhone's groups are not
// sent; throws std::logic_error for one).
WorkerFactory sendContacts(PhoneCache &phone, const QList<pim::Contact> &contacts);
WorkerFactory sendChanges(PhoneCache &phone, const pim::Contact &contact, const QList<pim::ChangeRecord> &changes,
                          const QList<pim::Contact> &toDelete);
WorkerFactory sendGroups(PhoneCache &phone, const QList<pim::Contact> &regrouped);

} // namespace devices
