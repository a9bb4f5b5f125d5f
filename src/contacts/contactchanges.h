#pragma once

// Turning an edited contact into change records and applying them to a database: the same path for the
// editor's Add Contact and Edit Contact and for contacts added from the command line. Also the group
// assignment of several contacts at once. No widgets here.

#include "contacts/pim.h"

#include <QList>
#include <QString>

class AbsContactCombineRule;
class LocalDb;

// The change records that turn the stored contact into the edited one, in this order: the name row (added
// when the stored contact has none, updated when prefix, given, middle, family or suffix name differ); then
// the edited rows type by type in ascending order — skipped when empty by the rule, added when they carry no
// _id, updated when they differ from the stored row of the same _id on the rule's change columns; then every
// stored row (other than names) whose _id the edited contact no longer carries, as deleted.
// The edited contact holds the rows as the editor returns them: its first name row is the current name.
QList<pim::ChangeRecord> getChanges(const AbsContactCombineRule &rule, const pim::Contact &stored,
                                    const pim::Contact &edited);

// Applies change records to the database in one transaction. A contact with _id 0 is inserted first, named
// after its added name row. Added rows are inserted under the contact (a group membership is put under the
// group its data2 names, created when missing) and the records take their new _id; an updated name row also
// renames the contact. On failure the transaction is rolled back and the exception passes on.
void applyChanges(LocalDb &db, pim::Contact &contact, QList<pim::ChangeRecord> &changes);

// Gives each contact the one membership of the group (groupId 0 with a name: the group of that name, created
// when missing), or removes all its memberships when the name is empty. Runs in the caller's transaction and
// returns the contacts as they now are.
QList<pim::Contact> setContactsGroup(LocalDb &db, const QList<pim::Contact> &contacts, qint64 groupId,
                                     const QString &groupName);
