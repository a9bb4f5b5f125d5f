#include "contacts/mergepreview.h"

#include "core/privatetemp.h"
#include "core/texts.h"

#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>

#include <stdexcept>

using pim::Contact;
using pim::DataRow;
using namespace Qt::StringLiterals;

namespace {

// The text a column is shown and compared by; bytes (a photo) as Base64.
QString columnText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromLatin1(value.toByteArray().toBase64());
    return value.toString();
}

QJsonObject rowJson(const DataRow &row)
{
    QJsonObject object{{u"_id"_s, row._id}, {u"src_id"_s, row.src_id}};
    for (auto it = row.columns.cbegin(); it != row.columns.cend(); ++it)
        if (!pim::valueEmpty(it.value()))
            object.insert(it.key(), columnText(it.value()));
    return object;
}

const char *outcomeName(PlannedContact::Outcome outcome)
{
    switch (outcome) {
    case PlannedContact::Added:
        return "added";
    case PlannedContact::Merged:
        return "merged";
    case PlannedContact::Unchanged:
        return "unchanged";
    }
    return "";
}

QString typeName(int type)
{
    static const char *const names[] = {"",      "Name", "Photo",        "Phone",    "E-mail",  "Nickname", "Event",
                                        "Group", "IM",   "Organization", "Relation", "Address", "Website"};
    // Type 9 (note) sits between IM and organization.
    if (type == pim::ENTITY_NOTE)
        return trKey("Note");
    if (type < pim::ENTITY_NAME || type > pim::ENTITY_WEBSITE)
        return QString::number(type);
    return trKey(names[type < pim::ENTITY_NOTE ? type : type - 1]);
}

// What a row says, on one line: the list view's line where there is one, else its main value.
QString rowValue(int type, const DataRow &row)
{
    switch (type) {
    case pim::ENTITY_PHOTO:
        return trKey("%1 bytes").arg(row.value(u"data15"_s).toByteArray().size());
    case pim::ENTITY_GROUP:
        return row.text(u"data2"_s);
    case pim::ENTITY_ADDRESS:
        return pim::addressText(row).replace(u'\n', u", "_s);
    default:
        break;
    }
    const QString line = pim::summaryLine(type, row);
    return line.isEmpty() ? row.text(u"data1"_s) : line;
}

} // namespace

QStringList PlannedRow::changedColumns() const
{
    QStringList changed;
    for (const QString &column : pim::storedColumns(type))
        if (columnText(before.value(column)) != columnText(after.value(column)))
            changed.append(column);
    return changed;
}

int MergePlan::count(PlannedContact::Outcome outcome) const
{
    return int(std::count_if(contacts.cbegin(), contacts.cend(),
                             [outcome](const PlannedContact &c) { return c.outcome == outcome; }));
}

QString MergePlan::summaryText() const
{
    return trKey("IDS_PREVIEW_%1_ADDED_%2_MERGED_%3_UNCHANGED")
        .arg(count(PlannedContact::Added))
        .arg(count(PlannedContact::Merged))
        .arg(count(PlannedContact::Unchanged));
}

QString MergePlan::detailsText() const
{
    QStringList lines;
    for (const PlannedContact &c : contacts) {
        switch (c.outcome) {
        case PlannedContact::Added:
            lines.append(trKey("Add: %1").arg(c.name));
            break;
        case PlannedContact::Merged:
            lines.append(trKey("Merge into: %1").arg(c.targetName));
            break;
        case PlannedContact::Unchanged:
            lines.append(trKey("Unchanged, already there: %1").arg(c.targetName));
            continue;
        }
        for (const PlannedRow &row : c.rows) {
            if (row.type == pim::ENTITY_NAME && c.outcome == PlannedContact::Added)
                continue; // the line above names it
            if (row.isNew()) {
                lines.append(u"    + "_s + typeName(row.type) + u": "_s + rowValue(row.type, row.after));
                continue;
            }
            // The row's line before and after when it shows the change, else the changed columns one by one.
            const QString was = rowValue(row.type, row.before);
            const QString now = rowValue(row.type, row.after);
            QStringList changes;
            if (was != now) {
                changes.append(trKey("\u201C%1\u201D to \u201C%2\u201D").arg(was, now));
            } else {
                for (const QString &column : row.changedColumns())
                    changes.append(
                        trKey("%1 \u201C%2\u201D to \u201C%3\u201D")
                            .arg(column, columnText(row.before.value(column)), columnText(row.after.value(column))));
            }
            lines.append(u"    ~ "_s + typeName(row.type) + u": "_s + changes.join(u"; "_s));
        }
    }
    return lines.join(u'\n');
}

QJsonObject MergePlan::toJson() const
{
    QJsonArray list;
    for (const PlannedContact &c : contacts) {
        QJsonArray rows;
        for (const PlannedRow &row : c.rows) {
            QJsonObject r{{u"type"_s, row.type},
                          {u"action"_s, row.isNew() ? u"add"_s : u"change"_s},
                          {u"after"_s, rowJson(row.after)}};
            if (!row.isNew()) {
                r.insert(u"before"_s, rowJson(row.before));
                r.insert(u"changed"_s, QJsonArray::fromStringList(row.changedColumns()));
            }
            rows.append(r);
        }
        list.append(QJsonObject{
            {u"name"_s, c.name},
            {u"outcome"_s, QLatin1String(outcomeName(c.outcome))},
            {u"target"_s,
             QJsonObject{{u"_id"_s, c.targetId}, {u"full_name"_s, c.targetName}, {u"new"_s, c.targetIsNew}}},
            {u"rows"_s, rows}});
    }
    return QJsonObject{{u"added"_s, count(PlannedContact::Added)},
                       {u"merged"_s, count(PlannedContact::Merged)},
                       {u"unchanged"_s, count(PlannedContact::Unchanged)},
                       {u"contacts"_s, list}};
}

// The copy's database: every merge-save goes through LocalDb's own, and what it did is added to the plan.
class MergePreview::RecordingDb : public LocalDb
{
public:
    using LocalDb::LocalDb;

    SaveResult saveContactWithMerge(const Contact &contact, const std::function<bool()> &cancelled) override
    {
        // The contact a merge would land in, as it is before the merge, to tell which of its rows change. The
        // merge-save decides on its own; this is only compared with what it reports.
        const qint64 existing = contact.full_name.isEmpty() ? 0 : findContactByName(contact.full_name);
        const Contact before = existing != 0 ? loadContact(existing) : Contact();
        SaveResult result = LocalDb::saveContactWithMerge(contact, cancelled);
        record(contact, result.merged && before._id == result.stored._id ? before : Contact(), result);
        return result;
    }

    MergePlan plan;

private:
    void record(const Contact &incoming, const Contact &before, const SaveResult &result)
    {
        PlannedContact planned;
        planned.name = incoming.full_name;
        planned.targetId = result.stored._id;
        planned.targetName = result.stored.full_name;
        if (!result.merged) {
            planned.outcome = PlannedContact::Added;
            m_created.insert(result.stored._id);
        } else {
            planned.outcome = result.written.isEmpty() ? PlannedContact::Unchanged : PlannedContact::Merged;
        }
        planned.targetIsNew = m_created.contains(result.stored._id);
        for (auto it = result.written.cbegin(); it != result.written.cend(); ++it) {
            const QList<DataRow> stored = before.rows(it.key());
            for (const DataRow &row : it.value()) {
                PlannedRow planRow;
                planRow.type = it.key();
                planRow.after = row;
                for (const DataRow &old : stored)
                    if (old._id == row._id)
                        planRow.before = old;
                planned.rows.append(planRow);
            }
        }
        plan.contacts.append(planned);
    }

    QSet<qint64> m_created;
};

MergePreview::MergePreview(LocalDb *target, const PContactCombineRule &rule)
    : m_dir(std::make_unique<PrivateTempDir>(u"preview"_s))
{
    if (!m_dir->isValid())
        throw std::runtime_error(m_dir->errorString().toStdString());
    const QString path = m_dir->filePath(u"preview.db"_s);
    const PContactCombineRule copyRule = target && target->rule() ? target->rule() : rule;
    m_copy = std::make_unique<RecordingDb>(path, copyRule);
    if (target && QFileInfo::exists(target->path())) {
        // VACUUM INTO writes the committed contents through the target's own connection: row ids, the id
        // sequence and the groups come over as they are, so the copy assigns the ids the target will.
        Sqlite3Sql sql("VACUUM INTO ?");
        sql.addTextParam(path);
        target->db().executeThrow(sql);
    } else {
        m_copy->createFromTemplate();
    }
}

MergePreview::~MergePreview()
{
    m_copy->close();
}

LocalDb &MergePreview::copy()
{
    return *m_copy;
}

void MergePreview::mergeAll(const QList<Contact> &contacts, const CancelCheck &cancelled, const Step &step)
{
    const qint64 total = contacts.size();
    qint64 done = 0;
    for (const Contact &contact : contacts) {
        if (cancelled && cancelled())
            throw LocalDb::MergeCancelled();
        if (step)
            step(++done, total);
        m_copy->saveContactWithMerge(contact, cancelled);
    }
}

const MergePlan &MergePreview::plan() const
{
    return m_copy->plan;
}

MergePreviewThread::MergePreviewThread(MergePreview *preview, QList<Contact> contacts, ProgressTarget *progress,
                                       QObject *parent)
    : QThread(parent), m_preview(preview), m_contacts(std::move(contacts)), m_progress(progress)
{
}

void MergePreviewThread::run()
{
    const ProgressReporter progress(m_progress);
    try {
        m_preview->mergeAll(
            m_contacts, [&progress] { return progress.stopRequested(); },
            [&progress](qint64 done, qint64 total) {
                progress.updateProgress(trKey("IDS_PREVIEWING_CONTACTS"), ProgressReporter::percent(done, total),
                                        ProgressReporter::contactsText(done, total));
            });
        progress.succeed(QString());
    } catch (const LocalDb::MergeCancelled &) {
    } catch (const std::exception &e) {
        progress.errorOccurred(QString::fromUtf8(e.what()));
    }
}
