#pragma once

#include "contacts/pim.h"

#include <QList>
#include <QObject>

class ContactListController;
class DeviceWrites;
class ItemModelMainTree;
class QWidget;
class UndoController;
class _DBItemNode;

// Deleting contacts, groups and local databases after a question naming them, the deletion sent to the node's
// phone, and disconnecting a device node.
class DeleteController : public QObject
{
    Q_OBJECT
public:
    DeleteController(QWidget *window, ItemModelMainTree *treeModel, ContactListController *list, UndoController *undo,
                     DeviceWrites *devices);

    // The selected contacts of the list.
    void deleteSelectedContacts();
    // The selected group with its contacts, the selected local database with its file, or all contacts of the
    // selected device.
    void deleteSelectedNode();
    // The selected contacts when there are some, otherwise the selected node.
    void deleteSelection();
    // The selected device's node goes from the tree (the phone stays as it is).
    void disconnectSelectedDevice();
    void removeDeviceNode(_DBItemNode *node);

Q_SIGNALS:
    // The tree lost a node; the commands' enabling follows.
    void treeChanged();

private:
    // Deletes contacts from the node's database in one transaction, then from its phone.
    void deleteContacts(_DBItemNode *node, const QList<pim::Contact> &contacts);
    // Sends the deletion of contacts already deleted from a device node's cache; true for a database node or
    // nothing to send, false when not sent (the phone has been reloaded).
    bool sendDeletion(_DBItemNode *node, const QList<pim::Contact> &contacts);
    void deleteGroup(_DBItemNode *node, qint64 groupId, qsizetype count);
    void deleteDatabase(_DBItemNode *node, qsizetype count);

    QWidget *m_window;
    ItemModelMainTree *m_treeModel;
    ContactListController *m_list;
    UndoController *m_undo;
    DeviceWrites *m_devices;
};
