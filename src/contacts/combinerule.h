#pragma once

// Duplicate rules: per-type column lists that say when a row is empty, which rows are the same item, when an
// edit changed a row, and which columns a merge takes from an incoming row. Each database owns its rule
// through a shared pointer; the merge decision below applies a rule to one incoming row.

#include "contacts/pim.h"

#include <QHash>
#include <QSharedPointer>
#include <QStringList>

class AbsContactCombineRule
{
public:
    virtual ~AbsContactCombineRule();

    // A row counts as empty when all these columns are empty.
    virtual QStringList emptyTestColumns(int type) const = 0;
    // Two rows are the same item when equal on these columns.
    virtual QStringList identityColumns(int type) const = 0;
    // An edited row counts as changed when it differs from its stored row on any of these columns.
    virtual QStringList changeColumns(int type) const = 0;
    // The columns a merge takes from an incoming row, in copy order; single is set (false first) when a
    // contact keeps at most one row of the type. An empty list means the type is never merged.
    virtual QStringList mergeColumns(int type, bool &single) const = 0;
};

using PContactCombineRule = QSharedPointer<AbsContactCombineRule>;

// {1, 5, 4} → "data1", "data5", "data4", in the order given.
QStringList dataColumns(std::initializer_list<int> numbers);

// The rule of the Android caches (and the base of the iOS caches' rule): a cache mirrors its device, so a
// number that comes back with another kind updates its row.
class LocalDbCombineRule : public AbsContactCombineRule
{
public:
    QStringList emptyTestColumns(int type) const override;
    QStringList identityColumns(int type) const override;
    QStringList changeColumns(int type) const override;
    QStringList mergeColumns(int type, bool &single) const override;
};

// The rule of the user's local databases, where imports, backups and phones are gathered: a merge keeps what
// both sides carry. The same number (e-mail, date, URL, relation, address) with another kind or label is a
// row of its own; a contact keeps every organization, nickname and group it is given; a post office box and
// an extended address are merged with their address.
class UserDbCombineRule : public LocalDbCombineRule
{
public:
    QStringList identityColumns(int type) const override;
    QStringList changeColumns(int type) const override;
    QStringList mergeColumns(int type, bool &single) const override;
};

struct MergeDecision
{
    bool write = false;   // false: the database already holds the row, or the type is never merged
    pim::DataRow row;     // the row to write: update when it carries a stored _id, insert otherwise
    int storedIndex = -1; // position of the row in the stored list (matched or appended); -1 when skipped
};

// Decides what to do with incoming rows of one type against the stored rows of that type. A stored
// counterpart (the first stored row for single types, else the first row equal on the identity columns) is
// copied and overwritten column by column with the incoming merge columns that are not empty; without a
// counterpart the new row carries only the merge columns. When the incoming row brings nothing its
// counterpart lacks, nothing is written. The stored list is kept in step with the decisions: a written row
// replaces its counterpart there or is appended, so later rows of the same contact are decided against it.
//
// Values compare as the database stores them, as text: a number equals its text, a date-time at midnight
// equals its date ("1950-01-10T00:00:00" is "1950-01-10"), an absent value equals empty text. The stored
// rows are looked up by their identity, so n incoming rows against m stored ones take n + m steps.
class RowMerger
{
public:
    RowMerger(const AbsContactCombineRule &rule, int type, QList<pim::DataRow> &stored);
    MergeDecision merge(const pim::DataRow &incoming);

private:
    void index(int position);
    QString key(const pim::DataRow &row, quint32 mask) const;
    quint32 filledMask(const pim::DataRow &row) const;

    int m_type;
    QList<pim::DataRow> &m_stored;
    QStringList m_identity;
    QStringList m_merge;
    bool m_single = false;
    bool m_partial = false; // a row that names fewer identity columns matches one that has them all
    QHash<QString, int> m_positions;
};

// One incoming row, as RowMerger decides it.
MergeDecision mergeRow(const AbsContactCombineRule &rule, int type, QList<pim::DataRow> &stored,
                       const pim::DataRow &incoming);

// The text a value is compared by in a merge (see RowMerger).
QString mergeText(int type, const QString &column, const QVariant &value);
