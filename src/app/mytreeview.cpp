#include "app/mytreeview.h"

#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QMimeData>

MyTreeView::MyTreeView(QWidget *parent) : QTreeView(parent)
{
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    viewport()->setAcceptDrops(true);
}

void MyTreeView::contextMenuEvent(QContextMenuEvent *event)
{
    Q_EMIT createContextMenu();
    event->accept();
}

void MyTreeView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QTreeView::selectionChanged(selected, deselected);
    Q_EMIT onSelectionChanged(selected, deselected);
}

QModelIndex MyTreeView::dropTarget(const QDropEvent *event) const
{
    if (!event->mimeData() || !event->mimeData()->hasFormat(QLatin1String(ItemModelContacts::kMimeType)))
        return {};
    const QModelIndex index = indexAt(event->position().toPoint());
    const int kind = index.data(ItemModelMainTree::KindRole).toInt();
    const bool takes = kind == _ItemNode::KindDevice || kind == _ItemNode::KindDatabase || kind == _ItemNode::KindGroup;
    return takes ? index : QModelIndex();
}

void MyTreeView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData() && event->mimeData()->hasFormat(QLatin1String(ItemModelContacts::kMimeType)))
        event->acceptProposedAction();
    else
        event->ignore();
}

void MyTreeView::dragMoveEvent(QDragMoveEvent *event)
{
    if (dropTarget(event).isValid()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void MyTreeView::dropEvent(QDropEvent *event)
{
    const QModelIndex target = dropTarget(event);
    if (!target.isValid()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    const QList<qint64> ids = ItemModelContacts::contactIds(event->mimeData());
    if (!ids.isEmpty())
        Q_EMIT contactsDropped(target, ids);
}
