#include "combinerule.h"

using namespace Qt::StringLiterals;
using namespace pim;

AbsContactCombineRule::~AbsContactCombineRule() = default;

QStringList dataColumns(std::initializer_list<int> numbers)
{
    QStringList list;
    for (int n : numbers)
        list << u"data%1"_s.arg(n);
    return list;
}

namespace {
// The lists are asked for every row a merge compares: each is made once and then shared.
template <int... Numbers>
const QStringList &cols()
{
    static const QStringList list = dataColumns({Numbers...});
    return list;
}
} // namespace

QStringList LocalDbCombineRule::emptyTestColumns(int type) const
{
    switch (type) {
    case ENTITY_PHOTO:
        return cols<4>();
    case ENTITY_ORGANIZATION:
        return cols<1, 5, 4>();
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_NICKNAME:
    case ENTITY_EVENT:
    case ENTITY_GROUP:
    case ENTITY_IM:
    case ENTITY_NOTE:
    case ENTITY_RELATION:
    case ENTITY_ADDRESS:
    case ENTITY_WEBSITE:
        return cols<1>();
    default:
        return {};
    }
}

QStringList LocalDbCombineRule::identityColumns(int type) const
{
    switch (type) {
    case ENTITY_PHOTO:
        return cols<4>();
    case ENTITY_IM:
        return cols<1, 5, 6>();
    case ENTITY_ORGANIZATION:
        return cols<1, 5, 4>();
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_NICKNAME:
    case ENTITY_EVENT:
    case ENTITY_GROUP:
    case ENTITY_NOTE:
    case ENTITY_RELATION:
    case ENTITY_ADDRESS:
    case ENTITY_WEBSITE:
        return cols<1>();
    default:
        return {};
    }
}

QStringList LocalDbCombineRule::changeColumns(int type) const
{
    switch (type) {
    case ENTITY_PHOTO:
        return cols<4>();
    case ENTITY_NICKNAME:
    case ENTITY_GROUP:
    case ENTITY_NOTE:
        return cols<1>();
    case ENTITY_IM:
        return cols<1, 5, 6, 2, 3>();
    case ENTITY_ORGANIZATION:
        return cols<1, 5, 4>();
    case ENTITY_ADDRESS:
        return cols<10, 11, 8, 7, 4, 9, 2, 3>();
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_EVENT:
    case ENTITY_RELATION:
    case ENTITY_WEBSITE:
        return cols<1, 2, 3>();
    default:
        return {};
    }
}

QStringList LocalDbCombineRule::mergeColumns(int type, bool &single) const
{
    single = false;
    switch (type) {
    case ENTITY_PHOTO:
        single = true;
        return cols<4, 15>();
    case ENTITY_NICKNAME:
        single = true;
        return cols<1>();
    case ENTITY_GROUP:
        single = true;
        return cols<1, 2>();
    case ENTITY_ORGANIZATION:
        single = true;
        return cols<1, 5, 4>();
    case ENTITY_NOTE:
        return cols<1>();
    case ENTITY_IM:
        return cols<1, 5, 6, 2, 3>();
    case ENTITY_ADDRESS:
        return cols<1, 10, 11, 8, 7, 4, 9, 2, 3>();
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_EVENT:
    case ENTITY_RELATION:
    case ENTITY_WEBSITE:
        return cols<1, 2, 3>();
    default:
        return {};
    }
}

MergeDecision mergeRow(const AbsContactCombineRule &rule, int type, QList<DataRow> &stored,
                       const DataRow &incoming)
{
    MergeDecision decision;
    bool single = false;
    const QStringList identity = rule.identityColumns(type);
    const QStringList merge = rule.mergeColumns(type, single);
    if (merge.isEmpty())
        return decision;

    // Find the stored counterpart. A single type's first stored row always is one: the contact keeps only
    // that row, so the merge overwrites it rather than adding a second.
    int index = -1;
    if (single) {
        if (!stored.isEmpty())
            index = 0;
    } else {
        for (int i = 0; i < stored.size(); ++i) {
            if (rowsEqual(stored.at(i), incoming, identity)) {
                index = i;
                break;
            }
        }
    }
    if (index >= 0)
        decision.row = stored.at(index);

    if (rowsEqual(decision.row, incoming, merge))
        return decision; // already held

    // Empty incoming values never overwrite stored ones.
    for (const QString &col : merge) {
        const QVariant value = incoming.value(col);
        if (!valueEmpty(value))
            decision.row.setValue(col, value);
    }
    if (index >= 0) {
        stored[index] = decision.row;
    } else {
        stored.append(decision.row);
        index = int(stored.size()) - 1;
    }
    decision.write = true;
    decision.storedIndex = index;
    return decision;
}
