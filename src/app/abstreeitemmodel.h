#pragma once

#include <QAbstractItemModel>

#include <memory>
#include <vector>

// A small generic tree model: top-level nodes with child nodes below them. Subclasses give the columns and the
// data of a node, and add nodes through appendNode() so that views learn of every change.
class AbsTreeItemModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    // One node. Its place in the tree is changed only by the model.
    class _ItemNode
    {
    public:
        _ItemNode() = default;
        virtual ~_ItemNode();
        _ItemNode(const _ItemNode &) = delete;
        _ItemNode &operator=(const _ItemNode &) = delete;

        _ItemNode *parent() const { return m_parent; }
        int childCount() const { return int(m_children.size()); }
        _ItemNode *child(int row) const { return m_children.at(size_t(row)).get(); }

    private:
        friend class AbsTreeItemModel;
        _ItemNode *m_parent = nullptr;
        std::vector<std::unique_ptr<_ItemNode>> m_children;
    };

    explicit AbsTreeItemModel(QObject *parent = nullptr);
    ~AbsTreeItemModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;

    // The node of an index; null for an invalid index (the root).
    _ItemNode *nodeOf(const QModelIndex &index) const;
    // The index of a node in column 0; invalid for null.
    QModelIndex indexOf(const _ItemNode *node) const;
    int topLevelCount() const { return int(m_topLevel.size()); }
    _ItemNode *topLevelNode(int row) const { return m_topLevel.at(size_t(row)).get(); }

protected:
    // Appends a node at the end of the parent's children (null parent: top level) and returns it.
    _ItemNode *appendNode(std::unique_ptr<_ItemNode> node, _ItemNode *parent = nullptr);

private:
    const std::vector<std::unique_ptr<_ItemNode>> &childrenOf(const _ItemNode *node) const;
    int rowOf(const _ItemNode *node) const;

    std::vector<std::unique_ptr<_ItemNode>> m_topLevel;
};
