#include "devices/phoneaccess.h"

#include "android/androidcontactsdb.h"
#include "android/androidsendchangesthread.h"
#include "android/syncbackupthread.h"
#include "android/syncprotocol.h"
#include "contacts/pim.h"
#include "core/texts.h"
#include "devices/androidphones.h"
#include "devices/devicequestions.h"
#include "devices/iphones.h"
#include "devices/writesnapshot.h"
#include "ios/iossendchangesthread.h"
#include "ios/iossynctodevicethread.h"
#include "ios/mobiledevice.h"

#include <stdexcept>

namespace devices {

namespace {

// A load whose runner reported a failure without throwing.
LoadedPhone loadedOrThrow(std::optional<LoadedPhone> loaded, const char *what)
{
    if (!loaded)
        throw std::runtime_error(what);
    return *loaded;
}

} // namespace

PhoneAccess::PhoneAccess(DeviceQuestions &questions, RunWorker load) : m_questions(questions), m_load(std::move(load))
{
}

QList<DeviceEntry> PhoneAccess::list()
{
    QList<DeviceEntry> devices = listVirtualDevices() + listIphones(m_questions, &m_untrusted);
    // Android phones are listed once loaded, with the name they announce.
    withAdbPhones(m_questions, [&](const QList<AdbPhone> &phones) {
        for (const AdbPhone &phone : phones) {
            try {
                if (const std::optional<LoadedPhone> loaded = loadAndroidPhone(phone.serial, phone.connector, m_load)) {
                    loaded->cache->close();
                    devices.append(loaded->entry);
                }
            } catch (const std::exception &e) {
                m_questions.warn(phone.serial + QStringLiteral(": ") + QString::fromUtf8(e.what()));
            }
        }
    });
    return devices;
}

QList<DeviceEntry> PhoneAccess::listAdb()
{
    QList<DeviceEntry> devices;
    withAdbPhones(m_questions, [&devices](const QList<AdbPhone> &phones) {
        for (const AdbPhone &phone : phones)
            devices.append({kAndroid, phone.serial, phone.name, QString()});
    });
    return devices;
}

DeviceEntry PhoneAccess::find(const QString &id)
{
    // Virtual devices have a contact database of their own; a phone gets its cache when it is loaded.
    for (const DeviceEntry &device : listVirtualDevices())
        if (device.id == id)
            return device;
    const auto cacheClosed = [](const LoadedPhone &loaded) {
        loaded.cache->close();
        return loaded.entry;
    };
    if (const std::optional<DeviceEntry> iphone = attachedIphone(id))
        return cacheClosed(loadedOrThrow(loadIphone(id, iphone->name, m_load), "The iPhone could not be loaded."));
    QString address;
    if (isWifiId(id, &address)) {
        const PAndroidConnector connector = connectWifi(address);
        return cacheClosed(loadedOrThrow(loadAndroidPhone(wifiDeviceId(connector), connector, m_load),
                                         "The phone could not be loaded."));
    }
    std::optional<DeviceEntry> device;
    withAdbPhones(
        m_questions,
        [&](const QList<AdbPhone> &phones) {
            for (const AdbPhone &phone : phones)
                if (phone.serial == id)
                    device = cacheClosed(
                        loadedOrThrow(loadAndroidPhone(id, phone.connector, m_load), "The phone could not be loaded."));
        },
        id);
    if (device)
        return *device;
    throw std::runtime_error(QStringLiteral("There is no device \"%1\".").arg(id).toStdString());
}

bool PhoneAccess::isIphone(const QString &udid)
{
    return attachedIphone(udid).has_value();
}

std::optional<DeviceEntry> PhoneAccess::attachedIphone(const QString &udid)
{
    for (const DeviceEntry &iphone : listIphones(m_questions, &m_untrusted))
        if (iphone.id == udid)
            return iphone;
    // Attached but not trusting this computer: what the user has to do, rather than "no such device".
    const auto untrusted = m_untrusted.constFind(udid);
    if (untrusted != m_untrusted.constEnd()) {
        const QString text = mobiledevice_trust_text(*untrusted);
        throw std::runtime_error((text.isEmpty() ? trKey("IDS_IOS_NOT_OPENED") : text).toStdString());
    }
    return std::nullopt;
}

std::optional<int> PhoneAccess::withIphone(const QString &udid, const QString &operation, const Use &use)
{
    const std::optional<DeviceEntry> iphone = attachedIphone(udid);
    if (!iphone)
        return std::nullopt;
    const LoadedPhone loaded = loadedOrThrow(loadIphone(udid, iphone->name, m_load), "The iPhone could not be loaded.");
    PhoneCache phone{loaded.entry, *loaded.cache, nullptr};
    if (operation.isEmpty())
        return use(phone);
    WriteSnapshot snapshot(SnapshotInfo::Kind::Ios, udid, loaded.entry.name, operation, loaded.entry.dbPath);
    return snapshot.finish(use(phone), [this](const QString &text) { m_questions.warn(text); });
}

int PhoneAccess::withAndroidPhone(const QString &id, const QString &operation, const Use &use)
{
    const auto run = [&](const QString &devId, const PAndroidConnector &connector) {
        const LoadedPhone loaded =
            loadedOrThrow(loadAndroidPhone(devId, connector, m_load), "The phone could not be loaded.");
        PhoneCache phone{loaded.entry, *loaded.cache, dynamic_cast<AndroidContactsDb *>(loaded.cache.data())};
        if (operation.isEmpty())
            return use(phone);
        WriteSnapshot snapshot(SnapshotInfo::Kind::Android, id, loaded.entry.name, operation, loaded.entry.dbPath);
        return snapshot.finish(use(phone), [this](const QString &text) { m_questions.warn(text); });
    };
    QString address;
    if (isWifiId(id, &address)) {
        const PAndroidConnector connector = connectWifi(address);
        return run(wifiDeviceId(connector), connector);
    }
    bool found = false;
    int code = 1;
    withAdbPhones(
        m_questions,
        [&](const QList<AdbPhone> &phones) {
            for (const AdbPhone &phone : phones) {
                if (phone.serial == id) {
                    found = true;
                    code = run(id, phone.connector);
                    return;
                }
            }
        },
        id);
    if (!found)
        throw std::runtime_error(QStringLiteral("There is no Android phone \"%1\".").arg(id).toStdString());
    return code;
}

int PhoneAccess::withPhone(const QString &id, const QString &operation, const Use &use)
{
    if (const std::optional<int> code = withIphone(id, operation, use))
        return *code;
    return withAndroidPhone(id, operation, use);
}

bool PhoneAccess::write(PhoneCache &phone, const WorkerFactory &make, const RunWorker &run)
{
    if (run(make))
        return true;
    reload(phone);
    return false;
}

void PhoneAccess::reload(PhoneCache &phone)
{
    phone.db.close();
    try {
        const std::optional<LoadedPhone> loaded =
            phone.isIos() ? loadIphone(phone.entry.id, phone.entry.name, m_load)
                          : loadAndroidPhone(phone.entry.id, phone.android->connector(), m_load);
        if (loaded)
            loaded->cache->close();
    } catch (const std::exception &e) {
        m_questions.warn(QString::fromUtf8(e.what()));
    }
}

WorkerFactory sendContacts(PhoneCache &phone, const QList<pim::Contact> &contacts)
{
    return [&phone, contacts](ProgressTarget *progress) -> std::unique_ptr<QThread> {
        if (phone.isIos())
            return std::make_unique<IOSSyncToDeviceThread>(phone.entry.id, &phone.db, contacts, progress);
        return std::make_unique<SyncBackupThread>(contacts, phone.android, simpleprotocol::nextSyncPort(), progress);
    };
}

WorkerFactory sendChanges(PhoneCache &phone, const pim::Contact &contact, const QList<pim::ChangeRecord> &changes,
                          const QList<pim::Contact> &toDelete)
{
    return [&phone, contact, changes, toDelete](ProgressTarget *progress) -> std::unique_ptr<QThread> {
        if (phone.isIos())
            return std::make_unique<IOSSendChangesThread>(phone.entry.id, &phone.db, contact, changes, toDelete,
                                                          progress);
        auto worker =
            std::make_unique<AndroidSendChangesThread>(progress, phone.android, simpleprotocol::nextSyncPort());
        if (!toDelete.isEmpty())
            worker->setContactsToDelete(toDelete);
        else
            worker->setChanges(contact, changes);
        return worker;
    };
}

WorkerFactory sendGroups(PhoneCache &phone, const QList<pim::Contact> &regrouped)
{
    if (phone.isIos())
        throw std::logic_error("an iPhone's groups are not sent to the phone");
    return [&phone, regrouped](ProgressTarget *progress) -> std::unique_ptr<QThread> {
        auto worker =
            std::make_unique<AndroidSendChangesThread>(progress, phone.android, simpleprotocol::nextSyncPort());
        worker->setContactsToRegroup(regrouped);
        return worker;
    };
}

} // namespace devices
