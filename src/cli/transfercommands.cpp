#include "transfercommands.h"

#include "adbconnector.h"
#include "androiddevices.h"
#include "androidsendchangesthread.h"
#include "androidwificonnector.h"
#include "clicommon.h"
#include "combinerule.h"
#include "devices.h"
#include "localdb.h"
#include "pim.h"
#include "progress.h"
#include "syncbackupthread.h"
#include "syncprotocol.h"
#include "texts.h"
#include "vcardimport.h"
#include "workerrunner.h"

#include <QTextStream>

#include <exception>
#include <functional>
#include <stdexcept>

namespace cli {

namespace {

using PhoneUse = std::function<int(const DeviceEntry &, AndroidContactsDb &)>;

// Runs `use` with the Android phone named by its adb serial or by "wifi:ADDRESS", freshly loaded into its cache,
// and that cache, whose connector reaches the phone while `use` runs. Throws when there is no such phone.
int withAndroidPhone(const QString &id, const PhoneUse &use)
{
    const auto run = [&use](const QString &devId, const PAndroidConnector &connector) {
        const DeviceEntry device = loadPhone(devId, connector);
        AndroidContactsDb cache(device.dbPath, PContactCombineRule(new LocalDbCombineRule), connector);
        return use(device, cache);
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
    const Options options(args,
                          {QStringLiteral("db"), QStringLiteral("device"), QStringLiteral("to"),
                           QStringLiteral("contacts")},
                          {});
    requireOneSource(options);
    const QString to = options.required(QStringLiteral("to"));
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

    return withAndroidPhone(to, [&](const DeviceEntry &target, AndroidContactsDb &cache) {
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
        deleteInTransaction(*db, selectContacts(db->listContacts(0, QString()), ids));
        io.out << trKey("IDS_SUC_DEL_CONTACTS") << '\n';
        return Success;
    }
    return withAndroidPhone(options.value(QStringLiteral("device")), [&](const DeviceEntry &phone, AndroidContactsDb &cache) {
        const QList<pim::Contact> contacts = selectContacts(cache.listContacts(0, QString()), ids);
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
    const Options options(args,
                          {QStringLiteral("db"), QStringLiteral("device"), QStringLiteral("contacts"),
                           QStringLiteral("group")},
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
        db->beginTransaction();
        try {
            regroup(*db, contacts, group);
            db->endTransaction(true);
        } catch (...) {
            db->endTransaction(false);
            throw;
        }
        io.out << trKey("IDS_UPDATE_GROUP_SUC") << '\n';
        return Success;
    }
    return withAndroidPhone(options.value(QStringLiteral("device")), [&](const DeviceEntry &phone, AndroidContactsDb &cache) {
        const QList<pim::Contact> contacts = selectContacts(cache.listContacts(0, QString()), ids);
        // The memberships reach the phone before the commit; a failure leaves the cache as it was.
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
    const Options options(args, {QStringLiteral("device"), QStringLiteral("vcf")}, {});
    if (!options.positional().isEmpty())
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().first())};
    const QString device = options.required(QStringLiteral("device"));
    VCardImport cards;
    cards.open(options.required(QStringLiteral("vcf"))); // an unreadable file fails before the phone is loaded

    return withAndroidPhone(device, [&](const DeviceEntry &phone, AndroidContactsDb &cache) {
        int added = 0;
        while (cards.hasNext()) {
            pim::Contact card;
            cards.next(card);
            if (!card.hasRows(pim::ENTITY_NAME)) {
                io.err << "A card without a name was skipped.\n";
                continue;
            }
            // As Add Contact: the contact under its name's display name, then each row as an added row.
            pim::Contact stored;
            stored.full_name = pim::displayName(card.firstRow(pim::ENTITY_NAME));
            QList<pim::ChangeRecord> changes;
            cache.beginTransaction();
            try {
                cache.insertContact(stored);
                for (auto it = card.entities.cbegin(); it != card.entities.cend(); ++it) {
                    for (pim::DataRow row : it.value()) {
                        row._id = 0;
                        row.src_id.clear();
                        if (it.key() == pim::ENTITY_GROUP)
                            row.setValue(QStringLiteral("data1"), QString::number(cache.findOrCreateGroup(row.text(QStringLiteral("data2")))));
                        cache.insertRow(stored._id, it.key(), row);
                        stored.addRow(it.key(), row);
                        changes.append({it.key(), pim::ACTION_ADDED, row});
                    }
                }
                cache.endTransaction(true);
            } catch (...) {
                cache.endTransaction(false);
                throw;
            }
            ProgressObject progress;
            AndroidSendChangesThread worker(&progress, &cache, simpleprotocol::nextSyncPort());
            worker.setChanges(stored, changes);
            const int code = runWrite(worker, progress, cache, phone, io, false);
            if (code != Success)
                return code;
            ++added;
        }
        io.out << QStringLiteral("Added %1 contacts to %2.").arg(added).arg(phone.name) << '\n';
        return int(Success);
    });
}

} // namespace cli
