#include "app/abstreeitemmodel.h"

AbsTreeItemModel::_ItemNode::~_ItemNode() = default;

AbsTreeItemModel::AbsTreeItemModel(QObject *parent) : QAbstractItemModel(parent)
{
}

AbsTreeItemModel::~AbsTreeItemModel() = default;

const std::vector<std::unique_ptr<AbsTreeItemModel::_ItemNode>> &
AbsTreeItemModel::childrenOf(const _ItemNode *node) const
{
    return node ? node->m_children : m_topLevel;
}

int AbsTreeItemModel::rowOf(const _ItemNode *node) const
{
    const auto &siblings = childrenOf(node->m_parent);
    for (size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == node)
            return int(i);
    return -1;
}

QModelIndex AbsTreeItemModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return QModelIndex();
    const auto &children = childrenOf(nodeOf(parent));
    if (row < 0 || size_t(row) >= children.size() || column < 0 || column >= columnCount(parent))
        return QModelIndex();
    return createIndex(row, column, children[size_t(row)].get());
}

QModelIndex AbsTreeItemModel::parent(const QModelIndex &child) const
{
    const _ItemNode *node = nodeOf(child);
    if (!node || !node->m_parent)
        return QModelIndex();
    return indexOf(node->m_parent);
}

int AbsTreeItemModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return int(childrenOf(nodeOf(parent)).size());
}

AbsTreeItemModel::_ItemNode *AbsTreeItemModel::nodeOf(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<_ItemNode *>(index.internalPointer());
}

QModelIndex AbsTreeItemModel::indexOf(const _ItemNode *node) const
{
    if (!node)
        return QModelIndex();
    const int row = rowOf(node);
    return row < 0 ? QModelIndex() : createIndex(row, 0, const_cast<_ItemNode *>(node));
}

AbsTreeItemModel::_ItemNode *AbsTreeItemModel::appendNode(std::unique_ptr<_ItemNode> node, _ItemNode *parent)
{
    const auto &siblings = childrenOf(parent);
    const int row = int(siblings.size());
    beginInsertRows(indexOf(parent), row, row);
    node->m_parent = parent;
    _ItemNode *added = node.get();
    (parent ? parent->m_children : m_topLevel).push_back(std::move(node));
    endInsertRows();
    return added;
}
