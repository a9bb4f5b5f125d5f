#pragma once

// Duplicate rules: per-type column lists that say when a row is empty, which rows are the same item, when an
// edit changed a row, and which columns a merge takes from an incoming row. Each database owns its rule
// through a shared pointer; the merge decision below applies a rule to one incoming row.

#include "pim.h"

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

// The rule of user local databases and Android caches.
class LocalDbCombineRule : public AbsContactCombineRule
{
public:
    QStringList emptyTestColumns(int type) const override;
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

// Decides what to do with one incoming row of a type against the stored rows of that type. A stored
// counterpart (the first stored row for single types, else the first row equal on the identity columns) is
// copied and overwritten column by column with the incoming merge columns that are not empty; without a
// counterpart the new row carries only the merge columns. The stored list is kept in step with the decision:
// a written row replaces its counterpart there or is appended, so later rows of the same contact are decided
// against it.
MergeDecision mergeRow(const AbsContactCombineRule &rule, int type, QList<pim::DataRow> &stored,
                       const pim::DataRow &incoming);
