#include "snapshots/undoplan.h"

#include <QHash>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;
using pim::ChangeRecord;
using pim::Contact;
using pim::DataRow;

namespace undo {

namespace {

QString valueText(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QByteArray)
        return QString::fromLatin1(value.toByteArray().toBase64());
    return value.toString();
}

QString rowText(int type, const DataRow &row)
{
    // A membership names its group; the group's local number differs between databases.
    if (type == pim::ENTITY_GROUP)
        return QString::number(type) + u'\x1f' + row.text(u"data2"_s);
    QStringList parts{QString::number(type)};
    for (const QString &column : pim::storedColumns(type))
        parts << valueText(row.value(column));
    return parts.join(u'\x1f');
}

bool takesPart(int type, bool withGroups)
{
    return withGroups || type != pim::ENTITY_GROUP;
}

QString nameOf(const Contact &c)
{
    return c.full_name.isEmpty() ? pim::displayName(c.firstRow(pim::ENTITY_NAME)) : c.full_name;
}

} // namespace

QString deviceKey(const Contact &c)
{
    return c.src_id.isEmpty() ? u"local:"_s + QString::number(c._id) : c.src_id;
}

QString localKey(const Contact &c)
{
    return QString::number(c._id);
}

QStringList contentOf(const Contact &c, bool withGroups)
{
    QStringList rows;
    for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
        if (takesPart(it.key(), withGroups))
            for (const DataRow &row : it.value())
                rows << rowText(it.key(), row);
    rows.sort();
    return rows;
}

Plan plan(const QList<Contact> &snapshot, const std::optional<QList<Contact>> &afterWrite,
          const QList<Contact> &current, const Options &options)
{
    QHash<QString, Contact> before, after, now;
    for (const Contact &c : snapshot)
        before.insert(options.key(c), c);
    if (afterWrite)
        for (const Contact &c : *afterWrite)
            after.insert(options.key(c), c);
    for (const Contact &c : current)
        now.insert(options.key(c), c);
    const auto same = [&options](const Contact &a, const Contact &b) {
        return contentOf(a, options.withGroups) == contentOf(b, options.withGroups);
    };

    Plan out;
    for (const Contact &c : current) {
        const QString key = options.key(c);
        const auto was = before.constFind(key);
        if (was == before.cend()) {
            // Not in the snapshot: added by the write, unless it came only after it.
            if (afterWrite && !after.contains(key))
                out.keptAdded << nameOf(c);
            else
                out.toDelete << c;
            continue;
        }
        if (same(c, *was)) {
            ++out.unchanged;
            continue;
        }
        const auto left = after.constFind(key);
        if (afterWrite && (left == after.cend() || !same(c, *left)))
            out.keptChanged << nameOf(c); // edited after the write: that edit stays
        else
            out.toRestore << Restore{c, *was};
    }
    for (const Contact &c : snapshot) {
        const QString key = options.key(c);
        if (now.contains(key))
            continue;
        // Gone now: the write deleted it, unless it was still there after the write.
        if (afterWrite && after.contains(key))
            out.keptDeleted << nameOf(c);
        else
            out.toRestore << Restore{Contact(), c};
    }
    out.keptAdded.sort(Qt::CaseInsensitive);
    out.keptChanged.sort(Qt::CaseInsensitive);
    out.keptDeleted.sort(Qt::CaseInsensitive);
    return out;
}

QString Plan::summary() const
{
    int restored = 0, recreated = 0;
    for (const Restore &r : toRestore)
        ++(r.current._id == 0 ? recreated : restored);
    QStringList lines{QStringLiteral("Removed %1 added contacts, brought back %2 deleted and %3 changed contacts.")
                          .arg(toDelete.size())
                          .arg(recreated)
                          .arg(restored)};
    const auto kept = [&lines](const QStringList &names, const char *what) {
        if (!names.isEmpty())
            lines << QStringLiteral("Kept %1 contacts %2 since: %3")
                         .arg(names.size())
                         .arg(QLatin1String(what), names.join(u", "_s));
    };
    kept(keptAdded, "added there");
    kept(keptChanged, "changed there");
    kept(keptDeleted, "deleted there");
    return lines.join(u'\n');
}

QList<ChangeRecord> changesTo(const Contact &stored, const Contact &target, bool withGroups)
{
    QList<ChangeRecord> changes;
    const DataRow storedName = stored.firstRow(pim::ENTITY_NAME);
    if (target.hasRows(pim::ENTITY_NAME)) {
        DataRow name = target.firstRow(pim::ENTITY_NAME);
        if (!stored.hasRows(pim::ENTITY_NAME)) {
            name._id = 0;
            name.src_id.clear();
            changes.append({pim::ENTITY_NAME, pim::ACTION_ADDED, name});
        } else if (rowText(pim::ENTITY_NAME, name) != rowText(pim::ENTITY_NAME, storedName)) {
            name._id = storedName._id;
            name.src_id = storedName.src_id;
            changes.append({pim::ENTITY_NAME, pim::ACTION_UPDATED, name});
        }
    }

    QSet<int> types;
    for (auto it = stored.entities.cbegin(); it != stored.entities.cend(); ++it)
        types.insert(it.key());
    for (auto it = target.entities.cbegin(); it != target.entities.cend(); ++it)
        types.insert(it.key());
    QList<int> ordered(types.cbegin(), types.cend());
    std::sort(ordered.begin(), ordered.end());
    for (int type : std::as_const(ordered)) {
        if (type == pim::ENTITY_NAME || !takesPart(type, withGroups))
            continue;
        QList<DataRow> have = stored.rows(type), want = target.rows(type);
        // Rows equal in content stay as they are.
        for (int i = want.size() - 1; i >= 0; --i) {
            for (int j = 0; j < have.size(); ++j) {
                if (rowText(type, have.at(j)) == rowText(type, want.at(i))) {
                    have.removeAt(j);
                    want.removeAt(i);
                    break;
                }
            }
        }
        // A changed row keeps its record on the device: the one with the same record id.
        for (int i = want.size() - 1; i >= 0; --i) {
            if (want.at(i).src_id.isEmpty())
                continue;
            for (int j = 0; j < have.size(); ++j) {
                if (have.at(j).src_id != want.at(i).src_id)
                    continue;
                DataRow row = want.at(i);
                row._id = have.at(j)._id;
                changes.append({type, pim::ACTION_UPDATED, row});
                have.removeAt(j);
                want.removeAt(i);
                break;
            }
        }
        for (DataRow row : std::as_const(want)) {
            row._id = 0;
            row.src_id.clear();
            changes.append({type, pim::ACTION_ADDED, row});
        }
        for (const DataRow &row : std::as_const(have))
            changes.append({type, pim::ACTION_DELETED, row});
    }
    return changes;
}

Contact asNewContact(const Contact &target, bool withGroups)
{
    Contact c;
    c.full_name = target.full_name;
    for (auto it = target.entities.cbegin(); it != target.entities.cend(); ++it) {
        if (!takesPart(it.key(), withGroups))
            continue;
        for (DataRow row : it.value()) {
            row._id = 0;
            row.src_id.clear();
            c.addRow(it.key(), row);
        }
    }
    return c;
}

} // namespace undo
