#include "snapshots/undorunner.h"

#include "android/androidcontactsdb.h"
#include "android/androidsendchangesthread.h"
#include "android/syncprotocol.h"
#include "contacts/contactchanges.h"
#include "contacts/localdb.h"
#include "ios/iossendchangesthread.h"

using pim::ChangeRecord;
using pim::Contact;

namespace undo {

namespace {

QString groupOf(const Contact &c)
{
    return c.firstRow(pim::ENTITY_GROUP).text(QStringLiteral("data2"));
}

void deleteAll(LocalDb &db, const QList<Contact> &contacts)
{
    db.beginTransaction();
    try {
        for (const Contact &c : contacts)
            db.deleteContact(c._id);
        db.endTransaction(true);
    } catch (...) {
        db.endTransaction(false);
        throw;
    }
}

// Applies one restore to the database and returns the stored contact with the change records that did it;
// no records when the contact already is as the snapshot holds it.
QPair<Contact, QList<ChangeRecord>> applyRestore(LocalDb &db, const Restore &restore, bool withGroups)
{
    Contact stored = restore.current;
    QList<ChangeRecord> changes = stored._id != 0
                                      ? changesTo(stored, restore.target, withGroups)
                                      : getChanges(*db.rule(), Contact(), asNewContact(restore.target, withGroups));
    if (changes.isEmpty())
        return {stored, changes};
    applyChanges(db, stored, changes);
    return {db.loadContact(stored._id), changes};
}

} // namespace

Options optionsFor(SnapshotInfo::Kind kind)
{
    Options options;
    options.key = kind == SnapshotInfo::Kind::LocalDb ? localKey : deviceKey;
    // An iPhone's groups live only in the computer's cache of it: they are neither sent nor compared.
    options.withGroups = kind != SnapshotInfo::Kind::Ios;
    return options;
}

Plan planFor(const SnapshotStore &store, const SnapshotInfo &snapshot, LocalDb &db, bool keepLaterChanges)
{
    const QList<Contact> before = store.contacts(snapshot, false);
    std::optional<QList<Contact>> after;
    if (keepLaterChanges && store.hasAfter(snapshot))
        after = store.contacts(snapshot, true);
    return plan(before, after, db.listContacts(0, QString()), optionsFor(snapshot.kind));
}

bool applyToAndroid(const Plan &plan, AndroidContactsDb &cache, const RunWorker &run)
{
    if (!plan.toDelete.isEmpty()) {
        deleteAll(cache, plan.toDelete);
        const QList<Contact> gone = plan.toDelete;
        if (!run([&cache, gone](ProgressTarget *progress) {
                auto worker =
                    std::make_unique<AndroidSendChangesThread>(progress, &cache, simpleprotocol::nextSyncPort());
                worker->setContactsToDelete(gone);
                return std::unique_ptr<QThread>(std::move(worker));
            }))
            return false;
    }

    // Memberships go last, in one session, once every contact has its id on the phone.
    QList<QPair<qint64, QString>> regroup;
    for (const Restore &restore : plan.toRestore) {
        const QPair<Contact, QList<ChangeRecord>> applied = applyRestore(cache, restore, false);
        const Contact stored = applied.first;
        const QList<ChangeRecord> changes = applied.second;
        if (!changes.isEmpty() && !run([&cache, stored, changes](ProgressTarget *progress) {
                auto worker =
                    std::make_unique<AndroidSendChangesThread>(progress, &cache, simpleprotocol::nextSyncPort());
                worker->setChanges(stored, changes);
                return std::unique_ptr<QThread>(std::move(worker));
            }))
            return false;
        if (groupOf(restore.target) != groupOf(restore.current))
            regroup.append({stored._id, groupOf(restore.target)});
    }
    if (regroup.isEmpty())
        return true;
    cache.beginTransaction();
    QList<Contact> now;
    try {
        for (const auto &[id, group] : std::as_const(regroup))
            now += setContactsGroup(cache, {cache.loadContact(id)}, 0, group);
    } catch (...) {
        cache.endTransaction(false);
        throw;
    }
    const bool ok = run([&cache, now](ProgressTarget *progress) {
        auto worker = std::make_unique<AndroidSendChangesThread>(progress, &cache, simpleprotocol::nextSyncPort());
        worker->setContactsToRegroup(now);
        return std::unique_ptr<QThread>(std::move(worker));
    });
    cache.endTransaction(ok);
    return ok;
}

bool applyToIos(const Plan &plan, const QString &udid, LocalDb &cache, const RunWorker &run)
{
    if (!plan.toDelete.isEmpty()) {
        deleteAll(cache, plan.toDelete);
        const QList<Contact> gone = plan.toDelete;
        if (!run([&cache, udid, gone](ProgressTarget *progress) {
                return std::unique_ptr<QThread>(std::make_unique<IOSSendChangesThread>(
                    udid, &cache, Contact(), QList<ChangeRecord>(), gone, progress));
            }))
            return false;
    }
    for (const Restore &restore : plan.toRestore) {
        const QPair<Contact, QList<ChangeRecord>> applied = applyRestore(cache, restore, false);
        const Contact stored = applied.first;
        const QList<ChangeRecord> changes = applied.second;
        if (!changes.isEmpty() && !run([&cache, udid, stored, changes](ProgressTarget *progress) {
                return std::unique_ptr<QThread>(
                    std::make_unique<IOSSendChangesThread>(udid, &cache, stored, changes, QList<Contact>(), progress));
            }))
            return false;
    }
    return true;
}

void applyToLocalDb(const Plan &plan, LocalDb &db)
{
    deleteAll(db, plan.toDelete);
    for (const Restore &restore : plan.toRestore)
        applyRestore(db, restore, true);
}

} // namespace undo
