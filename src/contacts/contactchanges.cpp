#include "contacts/contactchanges.h"

#include "contacts/combinerule.h"
#include "contacts/contactname.h"
#include "contacts/localdb.h"
#include "contacts/log.h"

#include <QSet>

using namespace Qt::StringLiterals;
using pim::ChangeRecord;
using pim::DataRow;

namespace {

const QStringList kNameColumns = {u"data5"_s, u"data2"_s, u"data4"_s, u"data3"_s, u"data6"_s};

// True when the rows differ on one of the columns. A column the stored row lacks and the edited row holds
// empty is the same value: the editor always writes its columns, rows read elsewhere may leave some out.
bool differs(const DataRow &current, const DataRow &stored, const QStringList &columns)
{
    for (const QString &column : columns) {
        if (pim::valueEmpty(current.value(column)) && pim::valueEmpty(stored.value(column)))
            continue;
        if (!pim::rowsEqual(current, stored, {column}))
            return true;
    }
    return false;
}

QString logText(const QVariant &value)
{
    return value.metaType().id() == QMetaType::QByteArray ? u"<%1 bytes>"_s.arg(value.toByteArray().size())
                                                          : value.toString();
}

} // namespace

QList<ChangeRecord> getChanges(const AbsContactCombineRule &rule, const pim::Contact &stored,
                               const pim::Contact &edited)
{
    QList<ChangeRecord> changes;

    if (edited.hasRows(pim::ENTITY_NAME)) {
        const DataRow name = edited.firstRow(pim::ENTITY_NAME);
        if (!stored.hasRows(pim::ENTITY_NAME)) {
            changes.append({pim::ENTITY_NAME, pim::ACTION_ADDED, name});
            qCDebug(lcContactEdit, "action=ACTION_ADDED, type=pim::ENTITY_NAME, fullName=%s",
                    qUtf8Printable(pim::displayName(name)));
        } else if (differs(name, stored.firstRow(pim::ENTITY_NAME), kNameColumns)) {
            changes.append({pim::ENTITY_NAME, pim::ACTION_UPDATED, name});
            qCDebug(lcContactEdit, "action=ACTION_UPDATED, type=pim::ENTITY_NAME, fullName=%s",
                    qUtf8Printable(pim::displayName(name)));
        }
    }

    QSet<qint64> kept;
    for (auto it = edited.entities.cbegin(); it != edited.entities.cend(); ++it) {
        const int type = it.key();
        if (type == pim::ENTITY_NAME)
            continue;
        const QStringList emptyColumns = rule.emptyTestColumns(type);
        const QStringList changeColumns = rule.changeColumns(type);
        for (const DataRow &row : it.value()) {
            if (pim::rowEmpty(row, emptyColumns)) {
                qCDebug(lcContactEdit, "EditContactForm::getChanges, Empty Entity: type=%d, _id=%lld, srcId=%s", type,
                        row._id, qUtf8Printable(row.src_id));
                continue;
            }
            if (row._id == 0) {
                changes.append({type, pim::ACTION_ADDED, row});
                qCDebug(lcContactEdit, "action=ACTION_ADDED, type=%d", type);
                continue;
            }
            kept.insert(row._id);
            for (const DataRow &old : stored.entities.value(type)) {
                if (old._id != row._id)
                    continue;
                if (differs(row, old, changeColumns)) {
                    changes.append({type, pim::ACTION_UPDATED, row});
                    qCDebug(lcContactEdit, "action=ACTION_UPDATED, type=%d {", type);
                    for (const QString &column : changeColumns) {
                        qCDebug(lcContactEdit, "%s(cur)=%s", qUtf8Printable(column),
                                qUtf8Printable(logText(row.value(column))));
                        qCDebug(lcContactEdit, "%s(src)=%s", qUtf8Printable(column),
                                qUtf8Printable(logText(old.value(column))));
                    }
                    qCDebug(lcContactEdit, "}");
                }
                break;
            }
        }
    }

    for (auto it = stored.entities.cbegin(); it != stored.entities.cend(); ++it) {
        if (it.key() == pim::ENTITY_NAME)
            continue;
        for (const DataRow &old : it.value()) {
            if (kept.contains(old._id))
                continue;
            changes.append({it.key(), pim::ACTION_DELETED, old});
            qCDebug(lcContactEdit, "action=ACTION_DELETED, type=%d, _id=%lld, srcId=%s", it.key(), old._id,
                    qUtf8Printable(old.src_id));
        }
    }
    return changes;
}

void applyChanges(LocalDb &db, pim::Contact &contact, QList<ChangeRecord> &changes)
{
    const bool isNew = contact._id == 0;
    db.beginTransaction();
    try {
        bool renamed = false; // a name or organization row changed: the name shown may follow
        if (isNew) {
            pim::Contact added; // the new contact's rows, for the name it is shown by
            for (const ChangeRecord &change : std::as_const(changes))
                if (change.action == pim::ACTION_ADDED)
                    added.addRow(change.type, change.row);
            contact.full_name = pim::shownName(added);
            db.insertContact(contact);
        }
        for (ChangeRecord &change : changes) {
            switch (change.action) {
            case pim::ACTION_ADDED: {
                const QString groupName = change.row.text(u"data2"_s);
                if (change.type == pim::ENTITY_GROUP && !groupName.isEmpty())
                    change.row.setValue(u"data1"_s, QString::number(db.findOrCreateGroup(groupName)));
                db.insertRow(contact._id, change.type, change.row);
                break;
            }
            case pim::ACTION_UPDATED:
                db.updateRow(change.type, change.row);
                break;
            case pim::ACTION_DELETED:
                db.deleteRow(change.row._id);
                break;
            default:
                break;
            }
            renamed = renamed || change.type == pim::ENTITY_NAME || change.type == pim::ENTITY_ORGANIZATION;
        }
        if (!isNew && renamed) {
            const QString shown = pim::shownName(db.loadContact(contact._id));
            if (shown != contact.full_name) {
                contact.full_name = shown;
                db.updateContact(contact);
            }
        }
        db.endTransaction(true);
    } catch (...) {
        db.endTransaction(false);
        if (isNew)
            contact._id = 0; // nothing of it was kept
        throw;
    }
}

QList<pim::Contact> setContactsGroup(LocalDb &db, const QList<pim::Contact> &contacts, qint64 groupId,
                                     const QString &groupName)
{
    QString name = groupName.trimmed();
    if (!name.isEmpty()) {
        if (groupId == 0)
            groupId = db.findOrCreateGroup(name);
        // An existing group found under another letter case keeps its own spelling.
        for (const auto &[id, existing] : db.listGroups())
            if (id == groupId)
                name = existing;
    }
    QList<pim::Contact> now;
    for (const pim::Contact &contact : contacts) {
        if (!name.isEmpty()) {
            db.setContactGroup(contact._id, groupId, name);
        } else {
            // The memberships as stored now, not as the caller last saw them.
            for (const DataRow &row : db.loadContact(contact._id).rows(pim::ENTITY_GROUP))
                db.deleteRow(row._id);
        }
        now.append(db.loadContact(contact._id));
    }
    return now;
}
