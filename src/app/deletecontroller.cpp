#include "app/deletecontroller.h"

#include "app/contactlistcontroller.h"
#include "app/devicewrites.h"
#include "app/guardedstep.h"
#include "app/itemmodelmaintree.h"
#include "app/messagebox.h"
#include "app/transfercontroller.h"
#include "app/undocontroller.h"
#include "contacts/localdb.h"
#include "contacts/workertransaction.h"
#include "core/texts.h"

#include <QWidget>

using questionText::contactCount;
using questionText::quoted;

namespace {

// On a phone the contacts go from the phone itself, not only from this program's copy of it.
QString deviceNote(const _DBItemNode *node)
{
    return node->kind == _ItemNode::KindDevice
               ? QStringLiteral("<br/><br/>") + trKey("They are deleted on the phone as well.")
               : QString();
}

} // namespace

DeleteController::DeleteController(QWidget *window, ItemModelMainTree *treeModel, ContactListController *list,
                                   UndoController *undo, DeviceWrites *devices)
    : QObject(window), m_window(window), m_treeModel(treeModel), m_list(list), m_undo(undo), m_devices(devices)
{
}

bool DeleteController::sendDeletion(_DBItemNode *node, const QList<pim::Contact> &contacts)
{
    if (node->kind != _ItemNode::KindDevice || contacts.isEmpty())
        return true;
    if (node->platform == ItemModelMainTree::PlatformIos)
        return m_devices->sendIosChanges(node->id, node->db.data(), pim::Contact(), {}, contacts);
    return m_devices->sendAndroidDeletion(node, contacts);
}

void DeleteController::deleteContacts(_DBItemNode *node, const QList<pim::Contact> &contacts)
{
    if (!m_undo->keepSnapshot(node, QStringLiteral("delete")))
        return;
    const bool ok = guardedStep(m_window, [&] {
        WorkerTransaction transaction(node->db.data(), "deleting contacts");
        transaction.begin();
        for (const pim::Contact &c : contacts)
            node->db->deleteContact(c._id);
        transaction.commit();
    });
    // The phone is told too; when that fails it is reloaded and the list shows what it holds.
    if (ok && !sendDeletion(node, contacts))
        return;
    m_list->relist();
    if (ok)
        m_undo->informWithUndo(node, trKey("IDS_SUC_DEL_CONTACTS"));
}

void DeleteController::deleteSelectedContacts()
{
    _DBItemNode *node = m_list->selectedDbNode();
    if (!node || !m_list->contactsSelected())
        return;
    const QList<pim::Contact> contacts = m_list->selectedContacts();
    const QString question =
        contacts.size() == 1
            ? trKey("Delete the contact %1 from %2?").arg(quoted(contacts.first().full_name), quoted(node->name))
            : trKey("Delete the %1 selected contacts from %2?").arg(contacts.size()).arg(quoted(node->name));
    if (!MessageBox::question(m_window, question + deviceNote(node)))
        return;
    deleteContacts(node, contacts);
}

void DeleteController::deleteSelectedNode()
{
    _DBItemNode *node = m_list->selectedDbNode();
    if (!node)
        return;
    const qint64 groupId = m_list->selectedGroupId();
    qsizetype count = 0;
    if (!guardedStep(m_window, [&] { count = node->db->countContacts(groupId, QString()); }))
        return;
    if (groupId != 0) {
        deleteGroup(node, groupId, count);
        return;
    }
    if (node->kind == _ItemNode::KindDatabase) {
        deleteDatabase(node, count);
        return;
    }
    if (!MessageBox::question(m_window, trKey("Delete all %1 on %2?").arg(contactCount(count), quoted(node->name)) +
                                            deviceNote(node)))
        return;
    deleteContacts(node, m_list->nodeContacts());
}

void DeleteController::deleteGroup(_DBItemNode *node, qint64 groupId, qsizetype count)
{
    const _GroupItemNode *group = m_list->selectedGroup();
    if (!MessageBox::question(m_window, trKey("Delete the group %1 and its %2 from %3?")
                                                .arg(quoted(group->name), contactCount(count), quoted(node->name)) +
                                            deviceNote(node)))
        return;
    if (!m_undo->keepSnapshot(node, QStringLiteral("delete group")))
        return;
    QList<pim::Contact> members;
    const bool ok = guardedStep(m_window, [&] {
        members = node->db->listContacts(groupId, QString());
        WorkerTransaction transaction(node->db.data(), "deleting a group");
        transaction.begin();
        for (const pim::Contact &c : members)
            node->db->deleteContact(c._id);
        node->db->deleteGroup(groupId);
        transaction.commit();
    });
    // The group's contacts go from the phone as well, or the phone is reloaded.
    if (ok && !sendDeletion(node, members))
        return;
    m_undo->keepStateAfterWrite(node);
    m_list->refreshNode(node);
}

void DeleteController::deleteDatabase(_DBItemNode *node, qsizetype count)
{
    if (!MessageBox::question(m_window,
                              trKey("Delete the local database %1 with its %2? Its file is removed from this computer.")
                                  .arg(quoted(node->name), contactCount(count))))
        return;
    m_list->stopListing(); // nothing more of the file goes into the list
    bool removed = false;
    if (!guardedStep(m_window, [&] { removed = node->db->removeFile(); })) // in use by another process
        return;
    if (removed) {
        m_treeModel->removeDatabaseNode(node);
        MessageBox::information(m_window, trKey("Successfully deleted Local Database."));
    } else {
        MessageBox::error(m_window, trKey("An Error Occurred during deleting Local Database. Please try again."));
    }
}

void DeleteController::deleteSelection()
{
    m_list->contactsSelected() ? deleteSelectedContacts() : deleteSelectedNode();
}

void DeleteController::removeDeviceNode(_DBItemNode *node)
{
    const QString id = node->id;
    const int platform = node->platform;
    m_list->clearNodeSelection();
    m_treeModel->removeDeviceNode(id, platform);
    Q_EMIT treeChanged();
}

void DeleteController::disconnectSelectedDevice()
{
    _DBItemNode *node = m_list->selectedDbNode();
    if (node && node->kind == _ItemNode::KindDevice && m_list->selectedGroupId() == 0)
        removeDeviceNode(node);
}
