#pragma once

#include <QTreeView>

// A tree view that reports context-menu requests and selection changes as signals of its own, so the window can
// connect to them like to any other widget signal. Contacts dragged from the contact list may be dropped on its
// device and database nodes (and their groups).
class MyTreeView : public QTreeView
{
    Q_OBJECT
public:
    explicit MyTreeView(QWidget *parent = nullptr);

Q_SIGNALS:
    void createContextMenu();
    void onSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    // Contacts (by id) dropped on the node at index.
    void contactsDropped(const QModelIndex &index, const QList<qint64> &contactIds);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // The node under a drag that can take contacts: a device, a database or a group; invalid otherwise.
    QModelIndex dropTarget(const QDropEvent *event) const;
};
