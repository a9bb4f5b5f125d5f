#include "contacts/combinerule.h"

#include <QDateTime>

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
template <int... Numbers> const QStringList &cols()
{
    static const QStringList list = dataColumns({Numbers...});
    return list;
}
} // namespace

QStringList LocalDbCombineRule::emptyTestColumns(int type) const
{
    // A row is empty when the columns that identify it are, except that an IM account's protocol alone is no
    // content.
    return type == ENTITY_IM ? cols<1>() : LocalDbCombineRule::identityColumns(type);
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

QStringList UserDbCombineRule::identityColumns(int type) const
{
    switch (type) {
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_EVENT:
    case ENTITY_RELATION:
    case ENTITY_WEBSITE:
    case ENTITY_ADDRESS:
        return cols<1, 2, 3>();
    case ENTITY_GROUP:
        return cols<2>();
    default:
        return LocalDbCombineRule::identityColumns(type);
    }
}

QStringList UserDbCombineRule::changeColumns(int type) const
{
    if (type == ENTITY_ADDRESS)
        return cols<10, 11, 8, 7, 4, 9, 5, 6, 2, 3>();
    return LocalDbCombineRule::changeColumns(type);
}

QStringList UserDbCombineRule::mergeColumns(int type, bool &single) const
{
    single = false;
    switch (type) {
    case ENTITY_NICKNAME:
        return cols<1>();
    case ENTITY_GROUP:
        return cols<2>();
    case ENTITY_ORGANIZATION:
        return cols<1, 5, 4>();
    case ENTITY_ADDRESS:
        return cols<1, 10, 11, 8, 7, 4, 9, 5, 6, 2, 3>();
    default:
        return LocalDbCombineRule::mergeColumns(type, single);
    }
}

QString mergeText(int type, const QString &column, const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::UnknownType:
        break;
    case QMetaType::QDate:
        return value.toDate().toString(Qt::ISODate);
    case QMetaType::QDateTime: {
        const QDateTime dateTime = value.toDateTime();
        return dateTime.time() == QTime(0, 0) ? dateTime.date().toString(Qt::ISODate) : dateTime.toString(Qt::ISODate);
    }
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toBase64());
    default: {
        QString text = value.toString();
        // A date stored as a date-time text by earlier imports.
        if (type == ENTITY_EVENT && text.size() == 19 && text.endsWith(u"T00:00:00"))
            text.truncate(10);
        else if (type == ENTITY_GROUP && column == u"data2")
            text = text.toLower(); // group names match without regard to case, as the group table does
        return text;
    }
    }
    // An absent code is the code 0 (Other) that every reader writes as such.
    const bool code = (column == u"data2" && type != ENTITY_GROUP && type != ENTITY_NAME) ||
                      (column == u"data5" && type == ENTITY_IM);
    return code ? u"0"_s : QString();
}

RowMerger::RowMerger(const AbsContactCombineRule &rule, int type, QList<DataRow> &stored)
    : m_type(type), m_stored(stored), m_identity(rule.identityColumns(type))
{
    m_merge = rule.mergeColumns(type, m_single);
    // Only types whose identity is all their content (an organization) match on part of it.
    m_partial = !m_single && m_identity.size() > 1 && m_identity.size() <= 4 && m_identity == m_merge;
    if (!m_single)
        for (int i = 0; i < m_stored.size(); ++i)
            index(i);
}

quint32 RowMerger::filledMask(const DataRow &row) const
{
    quint32 mask = 0;
    for (int i = 0; i < m_identity.size(); ++i)
        if (!mergeText(m_type, m_identity.at(i), row.value(m_identity.at(i))).isEmpty())
            mask |= 1u << i;
    return mask;
}

QString RowMerger::key(const DataRow &row, quint32 mask) const
{
    QString key = QString::number(mask);
    for (int i = 0; i < m_identity.size(); ++i) {
        key += u'\x1f';
        if (mask & (1u << i))
            key += mergeText(m_type, m_identity.at(i), row.value(m_identity.at(i)));
    }
    return key;
}

void RowMerger::index(int position)
{
    const DataRow &row = m_stored.at(position);
    const quint32 all = (1u << m_identity.size()) - 1;
    if (!m_partial) {
        m_positions.insert(key(row, all), position); // the first row of a key stays its counterpart
        return;
    }
    // Under every part of what it holds, so that an incoming row naming only some columns finds it.
    const quint32 filled = filledMask(row);
    for (quint32 mask = 1; mask <= all; ++mask)
        if ((mask & filled) == mask)
            m_positions.insert(key(row, mask), position);
}

MergeDecision RowMerger::merge(const DataRow &incoming)
{
    MergeDecision decision;
    if (m_merge.isEmpty())
        return decision;

    // Find the stored counterpart. A single type's first stored row always is one: the contact keeps only
    // that row, so the merge overwrites it rather than adding a second.
    int index = -1;
    if (m_single) {
        if (!m_stored.isEmpty())
            index = 0;
    } else {
        const quint32 mask = m_partial ? filledMask(incoming) : (1u << m_identity.size()) - 1;
        index = m_positions.value(key(incoming, mask), -1);
        if (index >= m_stored.size())
            index = -1;
    }
    if (index >= 0)
        decision.row = m_stored.at(index);

    // Already held: the incoming row brings no value its counterpart lacks.
    bool news = false;
    for (const QString &col : m_merge) {
        const QString value = mergeText(m_type, col, incoming.value(col));
        if (!value.isEmpty() && value != mergeText(m_type, col, decision.row.value(col))) {
            news = true;
            break;
        }
    }
    if (!news)
        return decision; // held already, or an incoming row without values

    // Empty incoming values never overwrite stored ones.
    for (const QString &col : m_merge) {
        const QVariant value = incoming.value(col);
        if (valueEmpty(value))
            continue;
        // Dates are stored as the text the devices use.
        if (m_type == ENTITY_EVENT && col == u"data1")
            decision.row.setValue(col, mergeText(m_type, col, value));
        else
            decision.row.setValue(col, value);
    }
    if (index >= 0) {
        m_stored[index] = decision.row;
    } else {
        m_stored.append(decision.row);
        index = int(m_stored.size()) - 1;
    }
    if (!m_single)
        this->index(index);
    decision.write = true;
    decision.storedIndex = index;
    return decision;
}

MergeDecision mergeRow(const AbsContactCombineRule &rule, int type, QList<DataRow> &stored, const DataRow &incoming)
{
    return RowMerger(rule, type, stored).merge(incoming);
}
