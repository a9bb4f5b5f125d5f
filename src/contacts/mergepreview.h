#pragma once

// What a transfer, backup, restore or import would do to its target database, found without writing to it: the
// contacts are merged into a throwaway copy of the target by the target's own merge-save and rule, and every
// merge-save on the copy is recorded. The real run merges into the target through the same merge-save, so the
// two agree as long as they start from the same database.

#include "contacts/localdb.h"
#include "contacts/pim.h"
#include "core/progress.h"

#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>

class PrivateTempDir;

// One row a merge writes: a new row, or a stored row with some columns changed.
struct PlannedRow
{
    int type = 0;
    pim::DataRow before; // the stored row as it was; _id 0 when the merge adds the row
    pim::DataRow after;  // the row as the merge writes it

    bool isNew() const { return before._id == 0; }
    // The columns whose text differs between before and after, in column order.
    QStringList changedColumns() const;
};

// What one incoming contact does to the target.
struct PlannedContact
{
    enum Outcome { Added, Merged, Unchanged };

    Outcome outcome = Added;
    QString name;             // the incoming contact's full name
    qint64 targetId = 0;      // the stored contact it lands in (for an added contact, the _id it will get)
    QString targetName;       // that stored contact's full name
    bool targetIsNew = false; // the stored contact is added by this same run (an earlier namesake brought it)
    QList<PlannedRow> rows;   // what the merge writes, by type
};

struct MergePlan
{
    QList<PlannedContact> contacts; // in the order they were merged

    int count(PlannedContact::Outcome outcome) const;
    // "N contacts will be added, M merged into contacts already there, K left unchanged."
    QString summaryText() const;
    // One line per contact, with an indented line per row a merge adds or changes: the expandable list.
    QString detailsText() const;
    // {"added": N, "merged": M, "unchanged": K, "contacts": [{"name", "outcome", "target": {"_id", "full_name",
    // "new"}, "rows": [{"type", "action": "add"|"change", "changed": [...], "before": {...}, "after": {...}}]}]}
    QJsonObject toJson() const;
};

// A throwaway copy of a database that records what every merge-save does to it.
class MergePreview
{
public:
    // Copies the target's committed contents (a consistent copy even while another connection reads it) into a
    // private temporary folder, with the target's rule; a null target stands for a database not made yet, which
    // starts as the empty template with `rule`. Throws std::runtime_error when the copy cannot be made.
    MergePreview(LocalDb *target, const PContactCombineRule &rule);
    ~MergePreview();
    MergePreview(const MergePreview &) = delete;
    MergePreview &operator=(const MergePreview &) = delete;

    // The copy, for a worker that merges into a database of its own choosing (an import reading its file).
    LocalDb &copy();
    // Merges the contacts into the copy one after the other, as the transfer and backup workers merge them into
    // their target. Throws LocalDb::MergeCancelled when cancelled() says so.
    // step, when given, hears (contacts begun, total) before each contact.
    using Step = std::function<void(qint64, qint64)>;
    void mergeAll(const QList<pim::Contact> &contacts, const CancelCheck &cancelled = {}, const Step &step = {});
    // What the merge-saves on the copy did so far.
    const MergePlan &plan() const;

private:
    class RecordingDb;
    std::unique_ptr<PrivateTempDir> m_dir;
    std::unique_ptr<RecordingDb> m_copy;
};

// Runs MergePreview::mergeAll behind a progress receiver; succeeds with an empty text (the caller shows the
// plan), reports a storage error through errorOccurred and ends silently on cancel.
class MergePreviewThread : public QThread
{
    Q_OBJECT
public:
    MergePreviewThread(MergePreview *preview, QList<pim::Contact> contacts, ProgressTarget *progress,
                       QObject *parent = nullptr);

protected:
    void run() override;

private:
    MergePreview *m_preview;
    QList<pim::Contact> m_contacts;
    ProgressTarget *m_progress;
};
