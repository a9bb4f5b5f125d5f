#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class ContactListController;
class DeviceWrites;
class QWidget;
class _DBItemNode;

// Snapshots before the window writes to a phone or a local database, and undoing the last write of a node.
class UndoController : public QObject
{
    Q_OBJECT
public:
    UndoController(QWidget *window, ContactListController *list, DeviceWrites *devices);

    // Copies the node's database before a write; false (after an error box) when it could not, and the write must
    // not start.
    bool keepSnapshot(_DBItemNode *node, const QString &operation);
    // Keeps the state the write left beside its snapshot.
    void keepStateAfterWrite(_DBItemNode *node);
    // keepStateAfterWrite, then the success box, with an undo button where the node's changes can be undone.
    void informWithUndo(_DBItemNode *node, const QString &text);
    // Asks and undoes the node's last write; a phone whose undo fails is reloaded.
    void undoLastChange(_DBItemNode *node);

private:
    QWidget *m_window;
    ContactListController *m_list;
    DeviceWrites *m_devices;
    QHash<QString, QString> m_pendingSnapshots; // database path → snapshot taken before its write in progress
};
