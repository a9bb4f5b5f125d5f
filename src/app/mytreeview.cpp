#include "mytreeview.h"

#include <QContextMenuEvent>

MyTreeView::MyTreeView(QWidget *parent) : QTreeView(parent) {}

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
