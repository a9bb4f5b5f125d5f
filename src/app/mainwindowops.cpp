// The window's routing: each command slot and each reaction to the views handed to the controller that carries it
// out, and the Android writes its device link offers the controllers.

#include "android/androidcontactsdb.h"
#include "app/mainwindow.h"

#include "android/adbconnector.h"
#include "app/commandmenus.h"
#include "app/contactlistcontroller.h"
#include "app/deletecontroller.h"
#include "app/desktop.h"
#include "app/helpcommands.h"
#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/progressform.h"
#include "app/transfercontroller.h"
#include "app/undocontroller.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "devices/phoneaccess.h"

namespace {

// A virtual Android device (a database file standing for a phone) has a connector without a phone behind it:
// nothing can be sent to it and nothing reloaded from it.
bool isVirtualAndroid(const _DBItemNode *node)
{
    const auto *adb = dynamic_cast<const AdbConnector *>(node->connector.data());
    return !node->connector || (adb && !adb->handle());
}

QString selectedId(const _DBItemNode *node)
{
    return node ? node->id : QString();
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Selection, list and search

_DBItemNode *MainWindow::selectedDbNode() const
{
    return m_list->selectedDbNode();
}

bool MainWindow::isListingContacts() const
{
    return m_list->isListing();
}

void MainWindow::onMainTreeItemSelected(const QItemSelection &, const QItemSelection &)
{
    m_list->nodeSelected();
}

void MainWindow::onMainTreeItemClicked(const QModelIndex &)
{
    updateActions();
}

void MainWindow::onContactsTreeItemSelected(const QItemSelection &, const QItemSelection &)
{
    m_list->contactSelectionChanged();
}

void MainWindow::onContactsTreeItemDoubleClicked(const QModelIndex &index)
{
    _DBItemNode *node = selectedDbNode();
    if (node && index.isValid())
        editContact(node, m_contactsModel->contactAt(m_contactsModel->indexOfRow(index.row())));
}

void MainWindow::onBtnSearchPressed()
{
    m_list->search();
}

void MainWindow::treeCreateContextMenu()
{
    m_commands->showTreeMenu();
}

void MainWindow::contactCreateContextMenu()
{
    m_commands->showContactMenu();
}

void MainWindow::updateActions()
{
    m_commands->updateActions();
}

void MainWindow::refreshNode(_DBItemNode *node)
{
    m_list->refreshNode(node);
}

void MainWindow::showLoadedDevice(_DBItemNode *node)
{
    m_list->showLoadedDevice(node);
}

// ---------------------------------------------------------------------------------------------------------------
// Backup and transfers: the command's contacts are the node's (miTree…), the selected ones (miContact…), or
// either by the selection (miFile…); a transfer between two phones of one platform leaves the source out of the
// targets offered.

void MainWindow::dropContacts(_DBItemNode *target, const QList<pim::Contact> &contacts)
{
    m_transfers->dropContacts(target, contacts);
}

bool MainWindow::confirmMerge(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question)
{
    return m_transfers->confirmMerge(target, contacts, question);
}

_DBItemNode *MainWindow::chooseTargetDevice(int platform, const QString &excludedId)
{
    return m_transfers->chooseTargetDevice(platform, excludedId);
}

void MainWindow::miTreeBackup()
{
    m_transfers->backupContacts(m_list->nodeContacts());
}
void MainWindow::miContactBackup()
{
    m_transfers->backupContacts(m_list->selectedContacts());
}
void MainWindow::miFileBackup()
{
    m_transfers->backupContacts(m_list->commandContacts());
}
void MainWindow::miTreeI2I()
{
    m_transfers->transferToIos(m_list->nodeContacts(), selectedId(selectedDbNode()));
}
void MainWindow::miContactI2I()
{
    m_transfers->transferToIos(m_list->selectedContacts(), selectedId(selectedDbNode()));
}
void MainWindow::miFileI2I()
{
    m_transfers->transferToIos(m_list->commandContacts(), selectedId(selectedDbNode()));
}
void MainWindow::miTreeI2A()
{
    m_transfers->transferToAndroid(m_list->nodeContacts(), QString());
}
void MainWindow::miContactI2A()
{
    m_transfers->transferToAndroid(m_list->selectedContacts(), QString());
}
void MainWindow::miFileI2A()
{
    m_transfers->transferToAndroid(m_list->commandContacts(), QString());
}
void MainWindow::miTreeA2I()
{
    m_transfers->transferToIos(m_list->nodeContacts(), QString());
}
void MainWindow::miContactA2I()
{
    m_transfers->transferToIos(m_list->selectedContacts(), QString());
}
void MainWindow::miFileA2I()
{
    m_transfers->transferToIos(m_list->commandContacts(), QString());
}
void MainWindow::miTreeA2A()
{
    m_transfers->transferToAndroid(m_list->nodeContacts(), selectedId(selectedDbNode()));
}
void MainWindow::miContactA2A()
{
    m_transfers->transferToAndroid(m_list->selectedContacts(), selectedId(selectedDbNode()));
}
void MainWindow::miFileA2A()
{
    m_transfers->transferToAndroid(m_list->commandContacts(), selectedId(selectedDbNode()));
}
void MainWindow::miTreeDB2I()
{
    m_transfers->transferToIos(m_list->nodeContacts(), QString());
}
void MainWindow::miContactDB2I()
{
    m_transfers->transferToIos(m_list->selectedContacts(), QString());
}
void MainWindow::miFileDB2I()
{
    m_transfers->transferToIos(m_list->commandContacts(), QString());
}
void MainWindow::miTreeDB2A()
{
    m_transfers->transferToAndroid(m_list->nodeContacts(), QString());
}
void MainWindow::miContactDB2A()
{
    m_transfers->transferToAndroid(m_list->selectedContacts(), QString());
}
void MainWindow::miFileDB2A()
{
    m_transfers->transferToAndroid(m_list->commandContacts(), QString());
}

// ---------------------------------------------------------------------------------------------------------------
// Deleting and disconnecting

void MainWindow::miContactDel()
{
    m_deletes->deleteSelectedContacts();
}

void MainWindow::miTreeDel()
{
    m_deletes->deleteSelectedNode();
}

void MainWindow::miFileDelete()
{
    m_deletes->deleteSelection();
}

void MainWindow::miTreeUnmount()
{
    m_deletes->disconnectSelectedDevice();
}

void MainWindow::removeDeviceNode(_DBItemNode *node)
{
    m_deletes->removeDeviceNode(node);
}

// ---------------------------------------------------------------------------------------------------------------
// Snapshots and undo

bool MainWindow::keepSnapshot(_DBItemNode *node, const QString &operation)
{
    return m_undo->keepSnapshot(node, operation);
}

void MainWindow::keepStateAfterWrite(_DBItemNode *node)
{
    m_undo->keepStateAfterWrite(node);
}

void MainWindow::undoLastChange(_DBItemNode *node)
{
    m_undo->undoLastChange(node);
}

void MainWindow::miEditUndo()
{
    if (_DBItemNode *node = selectedDbNode())
        m_undo->undoLastChange(node);
}

// ---------------------------------------------------------------------------------------------------------------
// Writes to an Android phone after a change of its cache

bool MainWindow::sendAndroidDeletion(_DBItemNode *node, const QList<pim::Contact> &contacts)
{
    auto *cache = dynamic_cast<AndroidContactsDb *>(node->db.data());
    if (!cache || isVirtualAndroid(node))
        return true; // the file is all there is
    devices::PhoneCache phone{{devices::kAndroid, node->id, node->name, cache->path()}, *cache, cache};
    if (behindProgress()(devices::sendChanges(phone, pim::Contact(), {}, contacts)))
        return true;
    reloadAndroidDevice(node);
    return false;
}

void MainWindow::reloadAndroidDevice(_DBItemNode *node)
{
    if (isVirtualAndroid(node)) {
        refreshNode(node); // no phone to reload from; the worker rolled its own changes back
        return;
    }
    const QString id = node->id;
    const PAndroidConnector connector = node->connector;
    node->db->close();
    androidDeviceIniLoad(id, connector); // replaces the node
}

// ---------------------------------------------------------------------------------------------------------------
// Folders, help and product pages

void MainWindow::miOpenFolder()
{
    Desktop::openFolder(DataFolder::localDbDir());
}

void MainWindow::miToolsCheckForUpdate()
{
    HelpCommands::checkForUpdate(this);
}

void MainWindow::miHelpHelp()
{
    HelpCommands::showHelp(this);
}

void MainWindow::miHelpFeedback()
{
    HelpCommands::writeFeedback(this);
}

void MainWindow::miHelpAbout()
{
    HelpCommands::showAbout(this);
}
