#pragma once

// What bringing a contact database back to a snapshot takes, worked out from three states: the snapshot (before
// the write), the state the write left (when it was recorded) and the state now. Contacts are matched by a key
// (a phone's record id, or the local _id). A contact the write added is deleted, one it changed or deleted is
// brought back as it was; what changed since the write (a contact added, edited or deleted on the phone
// afterwards) is kept and named, so the caller can say so. Without the state after the write every difference
// counts as the write's: the database becomes the snapshot.

#include "contacts/pim.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace undo {

// The key a contact is matched by across the states.
using ContactKey = std::function<QString(const pim::Contact &)>;
// A device's record id (src_id), or the local _id for a contact that has none.
QString deviceKey(const pim::Contact &c);
// The local _id.
QString localKey(const pim::Contact &c);

// Which row types take part: every type, or all but group memberships (an iPhone's groups are not on the phone).
struct Options
{
    ContactKey key = deviceKey;
    bool withGroups = true;
};

struct Restore
{
    pim::Contact current; // as stored now; _id 0 when it has to be created again
    pim::Contact target;  // as the snapshot holds it
};

struct Plan
{
    QList<pim::Contact> toDelete; // as stored now
    QList<Restore> toRestore;
    // Names of contacts left as they are because they changed after the write.
    QStringList keptAdded, keptChanged, keptDeleted;
    int unchanged = 0;

    bool isEmpty() const { return toDelete.isEmpty() && toRestore.isEmpty(); }
    // One line for the user: what the undo did and what it kept.
    QString summary() const;
};

Plan plan(const QList<pim::Contact> &snapshot, const std::optional<QList<pim::Contact>> &afterWrite,
          const QList<pim::Contact> &current, const Options &options);

// The content of a contact independent of where it is stored: every row's type and stored columns, sorted.
QStringList contentOf(const pim::Contact &c, bool withGroups);

// Change records turning the stored contact into the target (from a snapshot): rows equal in content are kept,
// rows left over are paired by record id (updated), the rest of the target's rows are added and the rest of the
// stored rows deleted. The name row is updated when it differs. Group rows are left out when withGroups is false.
QList<pim::ChangeRecord> changesTo(const pim::Contact &stored, const pim::Contact &target, bool withGroups);

// The target as a new contact: its rows without stored ids (group rows left out when withGroups is false).
pim::Contact asNewContact(const pim::Contact &target, bool withGroups);

} // namespace undo
