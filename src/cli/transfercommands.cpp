#include "cli/transfercommands.h"

#include "cli/clicommon.h"
#include "cli/devices.h"
#include "cli/dryrun.h"
#include "cli/snapshotcommands.h"
#include "contacts/combinerule.h"
#include "contacts/contactchanges.h"
#include "contacts/localdb.h"
#include "contacts/pim.h"
#include "contacts/workertransaction.h"
#include "core/texts.h"
#include "devices/phoneaccess.h"
#include "fileio/vcardimport.h"

#include <QTextStream>

#include <functional>
#include <stdexcept>

namespace cli {

namespace {

void deleteInTransaction(LocalDb &db, const QList<pim::Contact> &contacts)
{
    WorkerTransaction transaction(&db, "delete");
    transaction.begin();
    for (const pim::Contact &c : contacts)
        db.deleteContact(c._id);
    transaction.commit();
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
    std::unique_ptr<LocalDb> source =
        options.has(QStringLiteral("db"))
            ? openLocalDb(existingDbPath(options.value(QStringLiteral("db"))))
            : devices::openDeviceDb(phones().find(options.value(QStringLiteral("device"))));
    QList<pim::Contact> contacts = source->listContacts(0, QString());
    source->close();
    if (options.has(QStringLiteral("contacts")))
        contacts = selectContacts(contacts, parseIds(options.value(QStringLiteral("contacts"))));

    return phones().withPhone(to, dryRun ? QString() : QStringLiteral("transfer"), [&](devices::PhoneCache &target) {
        if (dryRun)
            return previewContacts(&target.db, contacts, json, io);
        int code = Failure;
        phones().write(target, devices::sendContacts(target, contacts), writeRunner(io, code, true));
        return code;
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
    return phones().withPhone(
        options.value(QStringLiteral("device")), QStringLiteral("delete"), [&](devices::PhoneCache &phone) {
            const QList<pim::Contact> contacts = selectContacts(phone.db.listContacts(0, QString()), ids);
            deleteInTransaction(phone.db, contacts);
            int code = Failure;
            if (phones().write(phone, devices::sendChanges(phone, pim::Contact(), {}, contacts), writeRunner(io, code)))
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
        WorkerTransaction transaction(db.get(), "set-group");
        transaction.begin();
        regroup(*db, contacts, group);
        transaction.commit();
        snapshot.finish(Success);
        io.out << trKey("IDS_UPDATE_GROUP_SUC") << '\n';
        return Success;
    }
    // An iPhone's groups live only in the computer's cache of it, which the next load rebuilds from the phone:
    // setting them here would change nothing that lasts.
    if (phones().isIphone(options.value(QStringLiteral("device"))))
        throw std::runtime_error("An iPhone's contact groups are not sent to the phone; set groups in a local "
                                 "database (backup, set-group, then transfer) instead.");
    return phones().withAndroidPhone(
        options.value(QStringLiteral("device")), QStringLiteral("set-group"), [&](devices::PhoneCache &phone) {
            const QList<pim::Contact> contacts = selectContacts(phone.db.listContacts(0, QString()), ids);
            // The memberships reach the phone before the commit; a failure leaves the cache as it was.
            WorkerTransaction transaction(&phone.db, "set-group");
            transaction.begin();
            const QList<pim::Contact> now = regroup(phone.db, contacts, group);
            int code = Failure;
            if (!writeRunner(io, code)(devices::sendGroups(phone, now))) {
                transaction.rollback();
                phones().reload(phone);
                return code;
            }
            transaction.commit();
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
    for (const DeviceEntry &entry : devices::listVirtualDevices())
        if (entry.id == device) // a virtual device is only its file
            return addAll(*devices::openDeviceDb(entry), entry.name, Send());
    return phones().withPhone(device, QStringLiteral("add"), [&](devices::PhoneCache &phone) {
        return addAll(
            phone.db, phone.entry.name, [&](const pim::Contact &stored, const QList<pim::ChangeRecord> &changes) {
                int code = Failure;
                phones().write(phone, devices::sendChanges(phone, stored, changes, {}), writeRunner(io, code));
                return code;
            });
    });
}

} // namespace cli
