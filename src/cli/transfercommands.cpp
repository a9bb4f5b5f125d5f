#include "cli/transfercommands.h"

#include "android/adbconnector.h"
#include "android/androidsendchangesthread.h"
#include "android/androidwificonnector.h"
#include "android/syncbackupthread.h"
#include "android/syncprotocol.h"
#include "cli/androiddevices.h"
#include "cli/clicommon.h"
#include "cli/devices.h"
#include "cli/dryrun.h"
#include "cli/iosdevices.h"
#include "cli/snapshotcommands.h"
#include "cli/workerrunner.h"
#include "contacts/combinerule.h"
#include "contacts/contactchanges.h"
#include "contacts/localdb.h"
#include "contacts/pim.h"
#include "core/progress.h"
#include "core/texts.h"
#include "fileio/vcardimport.h"
#include "ios/ioscontactcombinerule.h"
#include "ios/iossendchangesthread.h"
#include "ios/iossynctodevicethread.h"

#include <QTextStream>

#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>

namespace cli {

int withAndroidPhone(const QString &id, const QString &operation, const PhoneUse &use)
{
    const auto run = [&](const QString &devId, const PAndroidConnector &connector) {
        const DeviceEntry device = loadPhone(devId, connector);
        AndroidContactsDb cache(device.dbPath, PContactCombineRule(new LocalDbCombineRule), connector);
        if (operation.isEmpty())
            return use(device, cache);
        WriteSnapshot snapshot(SnapshotInfo::Kind::Android, id, device.name, operation, device.dbPath);
        return snapshot.finish(use(device, cache));
    };
    if (id.startsWith(QLatin1String("wifi:"))) {
        const QString address = AndroidWifiConnector::parseAddress(id.mid(5));
        if (address.isEmpty())
            throw std::runtime_error(trKey("IDS_WIFI_SOCK_WRONG_FOR_EXAMPLE").toStdString());
        auto connector = QSharedPointer<AndroidWifiConnector>::create();
        try {
            connector->hello(address);
        } catch (const WifiServiceTimeoutException &) {
            throw std::runtime_error(trKey("IDS_WIFI_CONNECTOR_CONNECT_TIMEOUT").toStdString());
        }
        return run(connector->deviceName(), connector);
    }

    bool found = false;
    int code = Failure;
    std::exception_ptr failure;
    // The phone's adb connection lives only inside this call; errors leave it first so the poller is stopped.
    withAdbPhones(
        [&](const QList<PAdbUSBHandle> &phones) {
            for (const PAdbUSBHandle &phone : phones) {
                if (phone->serial() != id)
                    continue;
                found = true;
                try {
                    code = run(id, PAndroidConnector(new AdbConnector(phone)));
                } catch (...) {
                    failure = std::current_exception();
                }
                return;
            }
        },
        id);
    if (failure)
        std::rethrow_exception(failure);
    if (!found)
        throw std::runtime_error(QStringLiteral("There is no Android phone \"%1\".").arg(id).toStdString());
    return code;
}

namespace {

// Runs a writing worker; the worker's own (empty) success text is not printed. On failure or cancel the phone
// is loaded again, as the window does, so its cache shows what the phone holds.
int runWrite(QThread &worker, ProgressObject &progress, AndroidContactsDb &cache, const DeviceEntry &device, Io io,
             bool printSuccess)
{
    QString ignored;
    QTextStream discard(&ignored);
    const int code = runWorker(worker, progress, Io{printSuccess ? io.out : discard, io.err});
    if (code == Success)
        return code;
    cache.close();
    try {
        loadPhone(device.id, cache.connector());
    } catch (const std::exception &e) {
        io.err << QString::fromUtf8(e.what()) << '\n';
    }
    return code;
}

} // namespace

std::optional<int> withIosPhone(const QString &udid, const QString &operation, const IPhoneUse &use)
{
    const std::optional<DeviceEntry> iphone = findIosDevice(udid);
    if (!iphone)
        return std::nullopt;
    LocalDb cache(iphone->dbPath, PContactCombineRule(new IOSContactCombineRule));
    if (operation.isEmpty())
        return use(*iphone, cache);
    WriteSnapshot snapshot(SnapshotInfo::Kind::Ios, udid, iphone->name, operation, iphone->dbPath);
    return snapshot.finish(use(*iphone, cache));
}

namespace {

// Runs a writing worker on an iPhone; on failure or cancel the iPhone is loaded again, as the window does.
int runIosWrite(QThread &worker, ProgressObject &progress, LocalDb &cache, const DeviceEntry &iphone, Io io,
                bool printSuccess)
{
    QString ignored;
    QTextStream discard(&ignored);
    const int code = runWorker(worker, progress, Io{printSuccess ? io.out : discard, io.err});
    if (code == Success)
        return code;
    cache.close();
    try {
        loadIosDevice(iphone);
    } catch (const std::exception &e) {
        io.err << QString::fromUtf8(e.what()) << '\n';
    }
    return code;
}

void deleteInTransaction(LocalDb &db, const QList<pim::Contact> &contacts)
{
    db.beginTransaction();
    try {
        for (const pim::Contact &c : contacts)
            db.deleteContact(c._id);
        db.endTransaction(true);
    } catch (...) {
        db.endTransaction(false);
        throw;
    }
}

// Gives each contact the one group (or none when the name is empty) and returns the contacts as they are now.
// Runs inside the caller's transaction.
QList<pim::Contact> regroup(LocalDb &db, const QList<pim::Contact> &contacts, const QString &groupName)
{
    qint64 groupId = 0;
    QString name = groupName;
    if (!groupName.isEmpty()) {
        groupId = db.findOrCreateGroup(groupName);
        // An existing group found under another letter case keeps its own spelling.
        for (const auto &[id, existing] : db.listGroups())
            if (id == groupId)
                name = existing;
    }
    QList<pim::Contact> now;
    for (const pim::Contact &c : contacts) {
        if (groupId != 0) {
            db.setContactGroup(c._id, groupId, name);
        } else {
            for (const pim::DataRow &row : c.rows(pim::ENTITY_GROUP))
                db.deleteRow(row._id);
        }
        now.append(db.loadContact(c._id));
    }
    return now;
}

// A card as the contact editor would return it for a new contact: no stored ids, trimmed name parts and the
// display name in the name row (a card without one gets an empty name row, which the caller refuses).
pim::Contact contactToAdd(const pim::Contact &card)
{
    pim::Contact edited;
    for (auto it = card.entities.cbegin(); it != card.entities.cend(); ++it) {
        for (pim::DataRow row : it.value()) {
            row._id = 0;
            row.src_id.clear();
            edited.addRow(it.key(), row);
        }
    }
    pim::DataRow name = edited.firstRow(pim::ENTITY_NAME);
    for (const char *column : {"data5", "data2", "data4", "data3", "data6"})
        name.setValue(QLatin1String(column), name.text(QLatin1String(column)).trimmed());
    name.setValue(QStringLiteral("data1"), pim::displayName(name));
    QList<pim::DataRow> names = edited.rows(pim::ENTITY_NAME);
    if (names.isEmpty())
        names.append(name);
    else
        names.first() = name;
    edited.entities.insert(pim::ENTITY_NAME, names);
    return edited;
}

void requireOneSource(const Options &options)
{
    if (!options.positional().isEmpty())
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().first())};
    if (options.has(QStringLiteral("db")) == options.has(QStringLiteral("device")))
        throw UsageException{QStringLiteral("name either --db or --device")};
}

} // namespace

int runTransfer(const QStringList &args, Io io)
{
    const Options options(
        args, {QStringLiteral("db"), QStringLiteral("device"), QStringLiteral("to"), QStringLiteral("contacts")},
        {QStringLiteral("dry-run"), QStringLiteral("json")});
    requireOneSource(options);
    const QString to = options.required(QStringLiteral("to"));
    const bool dryRun = dryRunRequested(options);
    const bool json = options.has(QStringLiteral("json"));
    if (options.value(QStringLiteral("device")) == to)
        throw UsageException{QStringLiteral("the target must be another device")};

    // The source is only read: a transfer never changes the database it comes from.
    std::unique_ptr<LocalDb> source = options.has(QStringLiteral("db"))
                                          ? openLocalDb(existingDbPath(options.value(QStringLiteral("db"))))
                                          : openDeviceDb(findDevice(options.value(QStringLiteral("device"))));
    QList<pim::Contact> contacts = source->listContacts(0, QString());
    source->close();
    if (options.has(QStringLiteral("contacts")))
        contacts = selectContacts(contacts, parseIds(options.value(QStringLiteral("contacts"))));

    const std::optional<int> toIphone = withIosPhone(
        to, dryRun ? QString() : QStringLiteral("transfer"), [&](const DeviceEntry &target, LocalDb &cache) {
            if (dryRun)
                return previewContacts(&cache, contacts, json, io);
            ProgressObject progress;
            IOSSyncToDeviceThread worker(target.id, &cache, contacts, &progress);
            return runIosWrite(worker, progress, cache, target, io, true);
        });
    if (toIphone)
        return *toIphone;
    return withAndroidPhone(to, dryRun ? QString() : QStringLiteral("transfer"),
                            [&](const DeviceEntry &target, AndroidContactsDb &cache) {
                                if (dryRun)
                                    return previewContacts(&cache, contacts, json, io);
                                ProgressObject progress;
                                SyncBackupThread worker(contacts, &cache, simpleprotocol::nextSyncPort(), &progress);
                                return runWrite(worker, progress, cache, target, io, true);
                            });
}

int runDelete(const QStringList &args, Io io)
{
    const Options options(args, {QStringLiteral("db"), QStringLiteral("device"), QStringLiteral("contacts")}, {});
    requireOneSource(options);
    const QList<qint64> ids = parseIds(options.required(QStringLiteral("contacts")));

    if (options.has(QStringLiteral("db"))) {
        auto db = openLocalDb(existingDbPath(options.value(QStringLiteral("db"))));
        const QList<pim::Contact> contacts = selectContacts(db->listContacts(0, QString()), ids);
        WriteSnapshot snapshot = WriteSnapshot::ofDb(db->path(), QStringLiteral("delete"));
        deleteInTransaction(*db, contacts);
        snapshot.finish(Success);
        io.out << trKey("IDS_SUC_DEL_CONTACTS") << '\n';
        return Success;
    }
    const std::optional<int> onIphone =
        withIosPhone(options.value(QStringLiteral("device")), QStringLiteral("delete"),
                     [&](const DeviceEntry &iphone, LocalDb &cache) {
                         const QList<pim::Contact> contacts = selectContacts(cache.listContacts(0, QString()), ids);
                         deleteInTransaction(cache, contacts);
                         ProgressObject progress;
                         IOSSendChangesThread worker(iphone.id, &cache, pim::Contact(), {}, contacts, &progress);
                         const int code = runIosWrite(worker, progress, cache, iphone, io, false);
                         if (code == Success)
                             io.out << trKey("IDS_SUC_DEL_CONTACTS") << '\n';
                         return code;
                     });
    if (onIphone)
        return *onIphone;
    return withAndroidPhone(options.value(QStringLiteral("device")), QStringLiteral("delete"),
                            [&](const DeviceEntry &phone, AndroidContactsDb &cache) {
                                const QList<pim::Contact> contacts =
                                    selectContacts(cache.listContacts(0, QString()), ids);
                                deleteInTransaction(cache, contacts);
                                ProgressObject progress;
                                AndroidSendChangesThread worker(&progress, &cache, simpleprotocol::nextSyncPort());
                                worker.setContactsToDelete(contacts);
                                const int code = runWrite(worker, progress, cache, phone, io, false);
                                if (code == Success)
                                    io.out << trKey("IDS_SUC_DEL_CONTACTS") << '\n';
                                return code;
                            });
}

int runSetGroup(const QStringList &args, Io io)
{
    const Options options(
        args, {QStringLiteral("db"), QStringLiteral("device"), QStringLiteral("contacts"), QStringLiteral("group")},
        {QStringLiteral("none")});
    requireOneSource(options);
    const QList<qint64> ids = parseIds(options.required(QStringLiteral("contacts")));
    if (options.has(QStringLiteral("group")) == options.has(QStringLiteral("none")))
        throw UsageException{QStringLiteral("name either --group or --none")};
    const QString group = options.value(QStringLiteral("group")).trimmed();
    if (options.has(QStringLiteral("group")) && group.isEmpty())
        throw UsageException{QStringLiteral("the group needs a name (or use --none)")};

    if (options.has(QStringLiteral("db"))) {
        auto db = openLocalDb(existingDbPath(options.value(QStringLiteral("db"))));
        const QList<pim::Contact> contacts = selectContacts(db->listContacts(0, QString()), ids);
        WriteSnapshot snapshot = WriteSnapshot::ofDb(db->path(), QStringLiteral("set-group"));
        db->beginTransaction();
        try {
            regroup(*db, contacts, group);
            db->endTransaction(true);
        } catch (...) {
            db->endTransaction(false);
            throw;
        }
        snapshot.finish(Success);
        io.out << trKey("IDS_UPDATE_GROUP_SUC") << '\n';
        return Success;
    }
    // An iPhone's groups live only in the computer's cache of it, which the next load rebuilds from the phone:
    // setting them here would change nothing that lasts.
    for (const DeviceEntry &iphone : listIosDevices())
        if (iphone.id == options.value(QStringLiteral("device")))
            throw std::runtime_error("An iPhone's contact groups are not sent to the phone; set groups in a local "
                                     "database (backup, set-group, then transfer) instead.");
    return withAndroidPhone(options.value(QStringLiteral("device")), QStringLiteral("set-group"),
                            [&](const DeviceEntry &phone, AndroidContactsDb &cache) {
                                const QList<pim::Contact> contacts =
                                    selectContacts(cache.listContacts(0, QString()), ids);
                                // The memberships reach the phone before the commit; a failure leaves the cache as it
                                // was.
                                cache.beginTransaction();
                                QList<pim::Contact> now;
                                try {
                                    now = regroup(cache, contacts, group);
                                } catch (...) {
                                    cache.endTransaction(false);
                                    throw;
                                }
                                ProgressObject progress;
                                AndroidSendChangesThread worker(&progress, &cache, simpleprotocol::nextSyncPort());
                                worker.setContactsToRegroup(now);
                                QString ignored;
                                QTextStream discard(&ignored);
                                const int code = runWorker(worker, progress, Io{discard, io.err});
                                cache.endTransaction(code == Success);
                                if (code != Success) {
                                    cache.close();
                                    try {
                                        loadPhone(phone.id, cache.connector());
                                    } catch (const std::exception &e) {
                                        io.err << QString::fromUtf8(e.what()) << '\n';
                                    }
                                    return code;
                                }
                                io.out << trKey("IDS_UPDATE_GROUP_SUC") << '\n';
                                return code;
                            });
}

int runAdd(const QStringList &args, Io io)
{
    const Options options(args, {QStringLiteral("db"), QStringLiteral("device"), QStringLiteral("vcf")}, {});
    requireOneSource(options);
    VCardImport cards;
    cards.open(options.required(QStringLiteral("vcf"))); // an unreadable file fails before a phone is loaded
    QList<pim::Contact> contents;
    while (cards.hasNext()) {
        pim::Contact card;
        cards.next(card);
        contents.append(card);
    }

    // Each card as the window's Add Contact stores it: refused as the edit dialog refuses it, else its rows as
    // the change records of an edit that starts from an empty contact. `send` passes them on to a device.
    using Send = std::function<int(const pim::Contact &, const QList<pim::ChangeRecord> &)>;
    const auto addAll = [&](LocalDb &db, const QString &placeName, const Send &send) {
        int added = 0;
        for (const pim::Contact &card : std::as_const(contents)) {
            const pim::Contact edited = contactToAdd(card);
            const pim::DataRow name = edited.firstRow(pim::ENTITY_NAME);
            if (name.text(QStringLiteral("data2")).isEmpty() && name.text(QStringLiteral("data3")).isEmpty()) {
                io.err << trKey("IDS_ENTER_FIRSTNAME_OR_LASTNAME") << '\n';
                continue;
            }
            if (db.findContactByName(name.text(QStringLiteral("data1"))) != 0) {
                io.err << trKey("IDS_CONTACT_NAME_%1_EXIST").arg(name.text(QStringLiteral("data1"))) << '\n';
                continue;
            }
            QList<pim::ChangeRecord> changes = getChanges(*db.rule(), pim::Contact(), edited);
            pim::Contact stored;
            applyChanges(db, stored, changes);
            if (send) {
                const int code = send(db.loadContact(stored._id), changes);
                if (code != Success)
                    return code;
            }
            ++added;
        }
        io.out << QStringLiteral("Added %1 contacts to %2.").arg(added).arg(placeName) << '\n';
        return int(Success);
    };

    if (options.has(QStringLiteral("db"))) {
        auto db = openLocalDb(existingDbPath(options.value(QStringLiteral("db"))));
        WriteSnapshot snapshot = WriteSnapshot::ofDb(db->path(), QStringLiteral("add"));
        return snapshot.finish(addAll(*db, options.value(QStringLiteral("db")), Send()));
    }
    const QString device = options.value(QStringLiteral("device"));
    for (const DeviceEntry &entry : listVirtualDevices())
        if (entry.id == device) // a virtual device is only its file
            return addAll(*openDeviceDb(entry), entry.name, Send());
    const std::optional<int> onIphone =
        withIosPhone(device, QStringLiteral("add"), [&](const DeviceEntry &iphone, LocalDb &cache) {
            return addAll(cache, iphone.name, [&](const pim::Contact &stored, const QList<pim::ChangeRecord> &changes) {
                ProgressObject progress;
                IOSSendChangesThread worker(iphone.id, &cache, stored, changes, {}, &progress);
                return runIosWrite(worker, progress, cache, iphone, io, false);
            });
        });
    if (onIphone)
        return *onIphone;
    return withAndroidPhone(device, QStringLiteral("add"), [&](const DeviceEntry &phone, AndroidContactsDb &cache) {
        return addAll(cache, phone.name, [&](const pim::Contact &stored, const QList<pim::ChangeRecord> &changes) {
            ProgressObject progress;
            AndroidSendChangesThread worker(&progress, &cache, simpleprotocol::nextSyncPort());
            worker.setChanges(stored, changes);
            return runWrite(worker, progress, cache, phone, io, false);
        });
    });
}

} // namespace cli
