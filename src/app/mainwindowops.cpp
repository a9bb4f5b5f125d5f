// The window's reactions to selection and search, its context menus and its commands.

#include "android/androidcontactsdb.h"
#include "app/mainwindow.h"

#include "android/adbconnector.h"
#include "android/androidsendchangesthread.h"
#include "android/syncbackupthread.h"
#include "android/syncprotocol.h"
#include "app/datasourceselform.h"
#include "app/desktop.h"
#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/localdbselform.h"
#include "app/messagebox.h"
#include "app/mytreeview.h"
#include "app/previewconfirm.h"
#include "app/progressform.h"
#include "app/stylesheet.h"
#include "app/webpages.h"
#include "contacts/backupcontactstolocalthread.h"
#include "contacts/combinerule.h"
#include "contacts/contactlister.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "widgets/contactdisplayer.h"

#include <QAction>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QTreeView>

namespace {

// Runs one storage step of the window; a failure shows the error box instead of reaching the event loop.
template <typename F> bool guarded(QWidget *parent, F &&step)
{
    try {
        step();
        return true;
    } catch (const std::exception &e) {
        MessageBox::error(parent, MessageBox::escaped(QString::fromUtf8(e.what())));
        return false;
    }
}

// A virtual Android device (a database file standing for a phone) has a connector without a phone behind it:
// nothing can be sent to it and nothing reloaded from it.
bool isVirtualAndroid(const _DBItemNode *node)
{
    const auto *adb = dynamic_cast<const AdbConnector *>(node->connector.data());
    return !node->connector || (adb && !adb->handle());
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Selection, list and search

_DBItemNode *MainWindow::selectedDbNode() const
{
    const QModelIndexList rows = m_treeMain->selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        return nullptr;
    return m_treeModel->dbNodeOf(rows.first());
}

qint64 MainWindow::selectedGroupId() const
{
    const QModelIndexList rows = m_treeMain->selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        return 0;
    const _GroupItemNode *group = m_treeModel->groupNodeOf(rows.first());
    return group ? group->groupId : 0;
}

bool MainWindow::contactsSelected() const
{
    return !m_treeContacts->selectionModel()->selectedRows().isEmpty();
}

QList<pim::Contact> MainWindow::selectedContacts() const
{
    QList<pim::Contact> contacts;
    QModelIndexList rows = m_treeContacts->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    for (const QModelIndex &index : std::as_const(rows))
        contacts.append(m_contactsModel->contactAt(index));
    return contacts;
}

QList<pim::Contact> MainWindow::nodeContacts() const
{
    _DBItemNode *node = selectedDbNode();
    QList<pim::Contact> contacts;
    if (node)
        guarded(const_cast<MainWindow *>(this),
                [&] { contacts = node->db->listContacts(selectedGroupId(), QString()); });
    return contacts;
}

bool MainWindow::isListingContacts() const
{
    return m_lister && m_lister->isRunning();
}

void MainWindow::showNodeContacts(const QString &keyword)
{
    listNodeContacts(keyword, true);
}

void MainWindow::listNodeContacts(const QString &keyword, bool selectFirst)
{
    _DBItemNode *node = selectedDbNode();
    if (!node)
        return;
    if (!m_lister) {
        m_lister = new ContactLister(this);
        connect(m_lister, &ContactLister::counted, this, &MainWindow::onContactsCounted);
        connect(m_lister, &ContactLister::contactsListed, this, &MainWindow::onContactsListed);
        connect(m_lister, &ContactLister::finished, this, &MainWindow::onContactListingFinished);
    }
    m_contactsModel->clear();
    m_wdContactInfo->clear();
    m_lbTotal->setText(trKey("Total:%1").arg(0));
    updateActions(); // emptying the list ended its selection without a selection signal
    m_listSelectsFirst = selectFirst;
    m_listedKeyword = keyword;
    // A small node is listed before this returns; a large one arrives in pieces while the window stays usable.
    m_lister->start(*node->db, selectedGroupId(), keyword);
}

void MainWindow::onContactsCounted(int total)
{
    m_lbTotal->setText(trKey("Total:%1").arg(total));
}

void MainWindow::onContactsListed(const QList<pim::Contact> &contacts)
{
    const int first = m_contactsModel->rowCount();
    m_contactsModel->appendContacts(contacts);
    QItemSelectionModel *selection = m_treeContacts->selectionModel();
    // The listing emptied the details pane; a contact shown there since was put there by the command that
    // started the listing (an edit shows the contact it saved): its row is selected once it arrives, unless the
    // user has selected rows meanwhile.
    const qint64 shown = m_wdContactInfo->contact()._id;
    if (shown != 0 && !selection->hasSelection()) {
        for (int row = first; row < m_contactsModel->rowCount(); ++row) {
            if (m_contactsModel->contacts().at(row)._id != shown)
                continue;
            const QModelIndex index = m_contactsModel->indexOfRow(row);
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            m_treeContacts->scrollTo(index);
            return;
        }
    }
    if (first != 0 || m_contactsModel->rowCount() == 0)
        return;
    const QModelIndex top = m_contactsModel->indexOfRow(0);
    if (m_listSelectsFirst && shown == 0)
        m_treeContacts->setCurrentIndex(top);
    else
        selection->setCurrentIndex(top, QItemSelectionModel::NoUpdate);
}

void MainWindow::onContactListingFinished(const QString &error)
{
    if (error.isEmpty()) {
        m_lbTotal->setText(trKey("Total:%1").arg(m_contactsModel->rowCount()));
        m_contactsModel->sort(m_treeContacts->header()->sortIndicatorSection(),
                              m_treeContacts->header()->sortIndicatorOrder());
        // An empty result of a search says so, rather than leaving an empty list to be puzzled over.
        if (!m_listedKeyword.isEmpty() && m_contactsModel->rowCount() == 0 && !m_lbDisplayKeyword->isHidden())
            m_lbDisplayKeyword->setText(trKey("IDS_SEARCH_KEYWORKD_%1").arg(m_listedKeyword) +
                                        QStringLiteral(" \u2014 ") + trKey("no contacts match."));
        return;
    }
    // Emptied before the box, whose event loop may already start the next listing.
    m_contactsModel->clear();
    m_wdContactInfo->clear();
    m_lbTotal->setText(trKey("Total:%1").arg(0));
    MessageBox::error(this, MessageBox::escaped(error));
}

void MainWindow::stopListing()
{
    if (m_lister)
        m_lister->cancel();
}

void MainWindow::onMainTreeItemSelected(const QItemSelection &, const QItemSelection &)
{
    updateActions();
    _DBItemNode *node = selectedDbNode();
    m_txtKeyword->clear();
    m_searchTimer->stop(); // the node's full list follows; no search of the emptied field after it
    m_lbDisplayKeyword->hide();
    if (!node) {
        stopListing();
        m_contactsModel->clear();
        m_wdContactInfo->clear();
        m_lbTotal->setText(trKey("Total:%1").arg(0));
        return;
    }
    if (!node->groupsLoaded)
        guarded(this, [&] { m_treeModel->reloadGroups(node); });
    m_treeMain->expand(m_treeModel->indexOfNode(node));
    listNodeContacts(QString(), false);
}

void MainWindow::onMainTreeItemClicked(const QModelIndex &)
{
    updateActions();
}

void MainWindow::onContactsTreeItemSelected(const QItemSelection &, const QItemSelection &)
{
    const QModelIndexList rows = m_treeContacts->selectionModel()->selectedRows();
    if (rows.isEmpty() || !rows.first().isValid())
        m_wdContactInfo->clear();
    else
        m_wdContactInfo->setContact(m_contactsModel->contactAt(rows.first()));
    updateActions();
}

void MainWindow::onContactsTreeItemDoubleClicked(const QModelIndex &index)
{
    _DBItemNode *node = selectedDbNode();
    if (node && index.isValid())
        editContact(node, m_contactsModel->contactAt(m_contactsModel->indexOfRow(index.row())));
}

void MainWindow::onBtnSearchPressed()
{
    m_searchTimer->stop();
    if (!selectedDbNode())
        return;
    const QString keyword = m_txtKeyword->text().trimmed();
    // The banner first: a small list is complete when the listing returns, and its end may add to the banner.
    if (keyword.isEmpty()) {
        m_lbDisplayKeyword->hide();
    } else {
        m_lbDisplayKeyword->setText(trKey("IDS_SEARCH_KEYWORKD_%1").arg(keyword));
        m_lbDisplayKeyword->show();
    }
    showNodeContacts(keyword);
}

void MainWindow::selectNode(_ItemNode *node)
{
    const QModelIndex index = m_treeModel->indexOfNode(node);
    m_treeMain->expand(index);
    m_treeMain->selectionModel()->clearSelection();
    m_treeMain->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    m_treeMain->setCurrentIndex(index);
}

void MainWindow::showLoadedDevice(_DBItemNode *node)
{
    try {
        m_treeModel->reloadGroups(node);
    } catch (const std::exception &e) {
        MessageBox::error(this, MessageBox::escaped(QString::fromUtf8(e.what())));
    }
    selectNode(node);
    updateActions();
}

void MainWindow::refreshNode(_DBItemNode *node)
{
    guarded(this, [&] { m_treeModel->reloadGroups(node); });
    if (selectedDbNode() == node && selectedGroupId() == 0)
        onMainTreeItemSelected({}, {}); // already selected: show its fresh contents
    else
        selectNode(node);
}

// ---------------------------------------------------------------------------------------------------------------
// Enabling rules and context menus

void MainWindow::updateActions()
{
    const _DBItemNode *node = selectedDbNode();
    const bool device = node && node->kind == _ItemNode::KindDevice;
    const bool database = node && node->kind == _ItemNode::KindDatabase;
    const bool ios = device && node->platform == PlatformIos;
    const bool android = device && node->platform == PlatformAndroid;
    const int iosCount = m_treeModel->deviceCount(PlatformIos);
    const int androidCount = m_treeModel->deviceCount(PlatformAndroid);
    const bool group = selectedGroupId() != 0;
    const int selected = int(m_treeContacts->selectionModel()->selectedRows().size());

    auto set = [this](std::initializer_list<const char *> slots, bool on) {
        for (const char *slot : slots) {
            QAction *a = action(slot);
            a->setEnabled(on && !a->property("unavailable").toBool());
        }
    };
    set({"miTreeBackup", "miFileBackup"}, device);
    set({"miContactBackup"}, device && selected > 0);
    set({"miTreeI2I", "miFileI2I"}, ios && iosCount >= 2);
    set({"miContactI2I"}, ios && iosCount >= 2 && selected > 0);
    set({"miTreeI2A", "miFileI2A"}, ios && androidCount >= 1);
    set({"miContactI2A"}, ios && androidCount >= 1 && selected > 0);
    set({"miTreeA2I", "miFileA2I"}, android && iosCount >= 1);
    set({"miContactA2I"}, android && iosCount >= 1 && selected > 0);
    set({"miTreeA2A", "miFileA2A"}, android && androidCount >= 2);
    set({"miContactA2A"}, android && androidCount >= 2 && selected > 0);
    set({"miTreeDB2I", "miFileDB2I"}, database && iosCount >= 1);
    set({"miContactDB2I"}, database && iosCount >= 1 && selected > 0);
    set({"miTreeDB2A", "miFileDB2A"}, database && androidCount >= 1);
    set({"miContactDB2A"}, database && androidCount >= 1 && selected > 0);
    set({"miTreeExport", "miFileExport", "miTreePrint", "miFilePrint", "miNewContact"}, node != nullptr);
    set({"miContactExport", "miContactPrint", "miContactSetGroup", "miContactDel"}, node && selected > 0);
    set({"miContactEdit"}, node && selected == 1);
    set({"miTreeDel", "miFileDelete", "miEditUndo"}, node != nullptr);
    set({"miTreeUnmount"}, device && !group);
    set({"miOpenFolder", "miFromiTunes", "miImport", "miToolsCheckForUpdate", "miToolsConnectViaWiFi", "miHelpHelp",
         "miHelpFeedback", "miHelpAbout"},
        true);

    // Each command's text says what it will do with the current selection: the File menu's entries act on the
    // selected contacts when there are some, otherwise on the whole node.
    const QString treeDelete = group      ? trKey("Delete Group and Its Contacts")
                               : database ? trKey("IDS_MI_REMOVE_LOCAL_DB")
                               : device   ? trKey("Delete All Contacts on the Phone")
                                          : trKey("Delete Contact");
    const QString contactDelete =
        selected == 1 ? trKey("Delete selected contacts") : trKey("Delete %1 selected contacts").arg(selected);
    action("miTreeDel")->setText(treeDelete);
    action("miContactDel")->setText(contactDelete);
    action("miFileDelete")->setText(selected > 0 ? contactDelete : treeDelete);
    const std::pair<const char *, const char *> fileCommands[] = {
        {"miFileBackup", "miContactBackup"}, {"miFileI2I", "miContactI2I"},       {"miFileI2A", "miContactI2A"},
        {"miFileA2I", "miContactA2I"},       {"miFileA2A", "miContactA2A"},       {"miFileDB2I", "miContactDB2I"},
        {"miFileDB2A", "miContactDB2A"},     {"miFileExport", "miContactExport"}, {"miFilePrint", "miContactPrint"}};
    for (const auto &[file, contact] : fileCommands)
        action(file)->setText(action(selected > 0 ? contact : file)->property("baseText").toString());
}

void MainWindow::treeCreateContextMenu()
{
    const QModelIndex index = m_treeMain->indexAt(m_treeMain->viewport()->mapFromGlobal(QCursor::pos()));
    if (index.isValid() && !m_treeMain->selectionModel()->isSelected(index))
        m_treeMain->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    const QModelIndexList rows = m_treeMain->selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        return;
    updateActions();
    const int kind = m_treeModel->kindOf(rows.first());
    const _DBItemNode *node = selectedDbNode();
    const bool group = selectedGroupId() != 0;

    QMenu menu(this);
    menu.setStyleSheet(StyleSheet::load());
    if (kind == _ItemNode::KindDatabasesRoot) {
        menu.addAction(action("miOpenFolder"));
        menu.addAction(action("miFromiTunes"));
        menu.addAction(action("miImport"));
    } else if (node && node->kind == _ItemNode::KindDevice) {
        menu.addAction(action("miTreeBackup"));
        if (node->platform == PlatformIos) {
            menu.addAction(action("miTreeI2I"));
            menu.addAction(action("miTreeI2A"));
        } else {
            menu.addAction(action("miTreeA2I"));
            menu.addAction(action("miTreeA2A"));
        }
        menu.addSeparator();
        menu.addAction(action("miTreeExport"));
        menu.addAction(action("miTreePrint"));
        menu.addAction(action("miNewContact"));
        menu.addAction(action("miTreeDel"));
        if (!group) {
            menu.addSeparator();
            menu.addAction(action("miTreeUnmount"));
        }
    } else if (node) {
        menu.addAction(action("miTreeDB2I"));
        menu.addAction(action("miTreeDB2A"));
        menu.addSeparator();
        menu.addAction(action("miTreeExport"));
        menu.addAction(action("miTreePrint"));
        menu.addAction(action("miNewContact"));
        menu.addAction(action("miTreeDel"));
    }
    if (!menu.isEmpty())
        menu.exec(QCursor::pos());
}

void MainWindow::contactCreateContextMenu()
{
    const _DBItemNode *node = selectedDbNode();
    if (!node || !contactsSelected())
        return;
    updateActions();
    QMenu menu(this);
    menu.setStyleSheet(StyleSheet::load());
    if (node->kind == _ItemNode::KindDevice) {
        menu.addAction(action("miContactBackup"));
        if (node->platform == PlatformIos) {
            menu.addAction(action("miContactI2I"));
            menu.addAction(action("miContactI2A"));
        } else {
            menu.addAction(action("miContactA2I"));
            menu.addAction(action("miContactA2A"));
        }
    } else {
        menu.addAction(action("miContactDB2I"));
        menu.addAction(action("miContactDB2A"));
    }
    menu.addSeparator();
    for (const char *slot : {"miContactExport", "miContactPrint", "miContactEdit", "miContactSetGroup", "miContactDel"})
        menu.addAction(action(slot));
    menu.exec(QCursor::pos());
}

// ---------------------------------------------------------------------------------------------------------------
// Local databases and backup

namespace {

// "1 contact" or "3 contacts".
QString contactCount(qsizetype n)
{
    return n == 1 ? trKey("1 contact") : trKey("%1 contacts").arg(n);
}

// A name quoted in a question; the boxes show rich text.
QString quoted(const QString &name)
{
    return QStringLiteral("\u201C") + name.toHtmlEscaped() + QStringLiteral("\u201D");
}

// On a phone the contacts go from the phone itself, not only from this program's copy of it.
QString deviceNote(const _DBItemNode *node)
{
    return node->kind == _ItemNode::KindDevice
               ? QStringLiteral("<br/><br/>") + trKey("They are deleted on the phone as well.")
               : QString();
}

} // namespace

bool MainWindow::confirmMerge(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question)
{
    const QString asked =
        question.isEmpty()
            ? trKey("IDS_PREVIEW_CONFIRM_TRANSFER_%1_TO_%2").arg(contactCount(contacts.size()), quoted(target->name))
            : question;
    return PreviewConfirm::confirmContacts(this, target->db.data(), contacts, asked);
}

_DBItemNode *MainWindow::selectOrCreateLocalDb(const QString &suggestedName, const QString &title)
{
    LocalDbSelForm form(this, suggestedName, title);
    if (form.exec() != QDialog::Accepted)
        return nullptr;
    const QString fileName = form.selectedFileName();
    if (fileName.isEmpty())
        return nullptr;
    if (_DBItemNode *existing = m_treeModel->findDatabaseNode(fileName))
        return existing;
    const QString path = LocalDbFiles::pathFor(fileName);
    auto db = QSharedPointer<LocalDb>::create(path, PContactCombineRule(new UserDbCombineRule));
    try {
        if (!QFileInfo::exists(path))
            db->createFromTemplate();
    } catch (const std::exception &e) {
        MessageBox::error(this, trKey("IDS_CREATE_DB_FAIL_%1").arg(MessageBox::escaped(QString::fromUtf8(e.what()))));
        return nullptr;
    }
    return m_treeModel->addDatabaseNode(db, fileName);
}

void MainWindow::backupContacts(const QList<pim::Contact> &contacts)
{
    const _DBItemNode *device = selectedDbNode();
    if (!device || device->kind != _ItemNode::KindDevice)
        return;
    _DBItemNode *target = selectOrCreateLocalDb(QStringLiteral("%1-backup.db").arg(device->name));
    if (!target)
        return;
    copyToDatabase(target, contacts);
}

void MainWindow::copyToDatabase(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question)
{
    if (!confirmMerge(target, contacts, question) || !keepSnapshot(target, QStringLiteral("backup")))
        return;
    ProgressForm form(trKey("IDS_STARTING_IMPORT_CONTACTS_FROM_DEVICE"), this);
    BackupContactsToLocalThread worker(contacts, target->db.data(), &form);
    if (form.runWorker(&worker)) {
        keepStateAfterWrite(target);
        refreshNode(target);
    }
}

void MainWindow::dropContacts(_DBItemNode *target, const QList<pim::Contact> &contacts)
{
    _DBItemNode *source = selectedDbNode();
    if (!target || contacts.isEmpty() || target == source)
        return;
    // Asked with what the copy will change, by the operation itself.
    const QString question =
        trKey("Copy %1 from %2 to %3?")
            .arg(contactCount(contacts.size()), quoted(source ? source->name : QString()), quoted(target->name));
    if (target->kind == _ItemNode::KindDatabase)
        copyToDatabase(target, contacts, question);
    else if (target->platform == PlatformIos)
        sendToIos(target, contacts, question);
    else if (target->platform == PlatformAndroid)
        sendToAndroid(target, contacts, question);
}

void MainWindow::miTreeBackup()
{
    backupContacts(nodeContacts());
}

void MainWindow::miContactBackup()
{
    backupContacts(selectedContacts());
}

void MainWindow::miFileBackup()
{
    contactsSelected() ? miContactBackup() : miTreeBackup();
}

// ---------------------------------------------------------------------------------------------------------------
// Transfers between devices

_DBItemNode *MainWindow::chooseTargetDevice(int platform, const QString &excludedId)
{
    QList<DataSourceSelForm::Candidate> candidates;
    const QIcon icon(platform == PlatformIos ? QStringLiteral(":/res/iphone.png")
                                             : QStringLiteral(":/res/icon_android.png"));
    for (_DBItemNode *node : m_treeModel->deviceNodes(platform))
        if (node->id != excludedId)
            candidates.append({icon, node->name, node});
    DataSourceSelForm form(this);
    form.setDeviceCandidates(
        trKey(platform == PlatformIos ? "IDS_SELECT_IOS_TO_TRANSFER" : "IDS_SELECT_ANDROID_TO_TRANSFER"), candidates);
    if (form.exec() != QDialog::Accepted)
        return nullptr;
    return form.selectedNode();
}

void MainWindow::transferToAndroid(const QList<pim::Contact> &contacts, const QString &excludedId)
{
    if (_DBItemNode *target = chooseTargetDevice(PlatformAndroid, excludedId))
        sendToAndroid(target, contacts);
}

void MainWindow::sendToAndroid(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question)
{
    auto *cache = dynamic_cast<AndroidContactsDb *>(target->db.data());
    if (!cache || !confirmMerge(target, contacts, question))
        return;
    if (!keepSnapshot(target, QStringLiteral("transfer")))
        return;
    ProgressForm form(QString(), this);
    form.offerUndo();
    SyncBackupThread worker(contacts, cache, simpleprotocol::nextSyncPort(), &form);
    if (form.runWorker(&worker)) {
        keepStateAfterWrite(target);
        refreshNode(target);
        if (form.undoChosen())
            undoLastChange(target);
    } else
        reloadAndroidDevice(target); // what the phone holds now, including what was sent before the failure
}

bool MainWindow::sendAndroidDeletion(_DBItemNode *node, const QList<pim::Contact> &contacts)
{
    auto *cache = dynamic_cast<AndroidContactsDb *>(node->db.data());
    if (!cache || isVirtualAndroid(node))
        return true; // the file is all there is
    ProgressForm form(QString(), this);
    AndroidSendChangesThread worker(&form, cache, simpleprotocol::nextSyncPort());
    worker.setContactsToDelete(contacts);
    if (form.runWorker(&worker))
        return true;
    reloadAndroidDevice(node);
    return false;
}

bool MainWindow::sendDeletion(_DBItemNode *node, const QList<pim::Contact> &contacts)
{
    if (node->kind != _ItemNode::KindDevice || contacts.isEmpty())
        return true;
    if (node->platform == PlatformIos)
        return sendIosChanges(node->id, node->db.data(), pim::Contact(), {}, contacts);
    return sendAndroidDeletion(node, contacts);
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

void MainWindow::miTreeI2I()
{
    transferToIos(nodeContacts(), selectedDbNode() ? selectedDbNode()->id : QString());
}
void MainWindow::miContactI2I()
{
    transferToIos(selectedContacts(), selectedDbNode() ? selectedDbNode()->id : QString());
}
void MainWindow::miFileI2I()
{
    contactsSelected() ? miContactI2I() : miTreeI2I();
}
void MainWindow::miTreeI2A()
{
    transferToAndroid(nodeContacts(), QString());
}
void MainWindow::miContactI2A()
{
    transferToAndroid(selectedContacts(), QString());
}
void MainWindow::miFileI2A()
{
    contactsSelected() ? miContactI2A() : miTreeI2A();
}
void MainWindow::miTreeA2I()
{
    transferToIos(nodeContacts(), QString());
}
void MainWindow::miContactA2I()
{
    transferToIos(selectedContacts(), QString());
}
void MainWindow::miFileA2I()
{
    contactsSelected() ? miContactA2I() : miTreeA2I();
}
void MainWindow::miTreeA2A()
{
    transferToAndroid(nodeContacts(), selectedDbNode() ? selectedDbNode()->id : QString());
}
void MainWindow::miContactA2A()
{
    transferToAndroid(selectedContacts(), selectedDbNode() ? selectedDbNode()->id : QString());
}
void MainWindow::miFileA2A()
{
    contactsSelected() ? miContactA2A() : miTreeA2A();
}
void MainWindow::miTreeDB2I()
{
    transferToIos(nodeContacts(), QString());
}
void MainWindow::miContactDB2I()
{
    transferToIos(selectedContacts(), QString());
}
void MainWindow::miFileDB2I()
{
    contactsSelected() ? miContactDB2I() : miTreeDB2I();
}
void MainWindow::miTreeDB2A()
{
    transferToAndroid(nodeContacts(), QString());
}
void MainWindow::miContactDB2A()
{
    transferToAndroid(selectedContacts(), QString());
}
void MainWindow::miFileDB2A()
{
    contactsSelected() ? miContactDB2A() : miTreeDB2A();
}

// ---------------------------------------------------------------------------------------------------------------
// Deleting

void MainWindow::deleteContacts(_DBItemNode *node, const QList<pim::Contact> &contacts)
{
    if (!keepSnapshot(node, QStringLiteral("delete")))
        return;
    const bool ok = guarded(this, [&] {
        node->db->beginTransaction();
        try {
            for (const pim::Contact &c : contacts)
                node->db->deleteContact(c._id);
            node->db->endTransaction(true);
        } catch (...) {
            node->db->endTransaction(false);
            throw;
        }
    });
    // The phone is told too; when that fails it is reloaded and the list shows what it holds.
    if (ok && !sendDeletion(node, contacts))
        return;
    showNodeContacts(m_txtKeyword->text().trimmed());
    if (ok)
        informWithUndo(node, trKey("IDS_SUC_DEL_CONTACTS"));
}

void MainWindow::miContactDel()
{
    _DBItemNode *node = selectedDbNode();
    if (!node || !contactsSelected())
        return;
    const QList<pim::Contact> contacts = selectedContacts();
    const QString question =
        contacts.size() == 1
            ? trKey("Delete the contact %1 from %2?").arg(quoted(contacts.first().full_name), quoted(node->name))
            : trKey("Delete the %1 selected contacts from %2?").arg(contacts.size()).arg(quoted(node->name));
    if (!MessageBox::question(this, question + deviceNote(node)))
        return;
    deleteContacts(node, contacts);
}

void MainWindow::miTreeDel()
{
    _DBItemNode *node = selectedDbNode();
    if (!node)
        return;
    const qint64 groupId = selectedGroupId();
    qsizetype count = 0;
    if (!guarded(this, [&] { count = node->db->countContacts(groupId, QString()); }))
        return;
    if (groupId != 0) {
        const _GroupItemNode *group = m_treeModel->groupNodeOf(m_treeMain->selectionModel()->selectedIndexes().first());
        if (!MessageBox::question(this, trKey("Delete the group %1 and its %2 from %3?")
                                                .arg(quoted(group->name), contactCount(count), quoted(node->name)) +
                                            deviceNote(node)))
            return;
        if (!keepSnapshot(node, QStringLiteral("delete group")))
            return;
        QList<pim::Contact> members;
        const bool ok = guarded(this, [&] {
            members = node->db->listContacts(groupId, QString());
            node->db->beginTransaction();
            try {
                for (const pim::Contact &c : members)
                    node->db->deleteContact(c._id);
                node->db->deleteGroup(groupId);
                node->db->endTransaction(true);
            } catch (...) {
                node->db->endTransaction(false);
                throw;
            }
        });
        // The group's contacts go from the phone as well, or the phone is reloaded.
        if (ok && !sendDeletion(node, members))
            return;
        keepStateAfterWrite(node);
        refreshNode(node);
        return;
    }
    if (node->kind == _ItemNode::KindDatabase) {
        if (!MessageBox::question(
                this, trKey("Delete the local database %1 with its %2? Its file is removed from this computer.")
                          .arg(quoted(node->name), contactCount(count))))
            return;
        stopListing(); // nothing more of the file goes into the list
        bool removed = false;
        try {
            removed = node->db->removeFile();
        } catch (const std::exception &e) { // in use by another process
            MessageBox::error(this, MessageBox::escaped(QString::fromUtf8(e.what())));
            return;
        }
        if (removed) {
            m_treeModel->removeDatabaseNode(node);
            MessageBox::information(this, trKey("Successfully deleted Local Database."));
        } else {
            MessageBox::error(this, trKey("An Error Occurred during deleting Local Database. Please try again."));
        }
        return;
    }
    if (!MessageBox::question(this, trKey("Delete all %1 on %2?").arg(contactCount(count), quoted(node->name)) +
                                        deviceNote(node)))
        return;
    deleteContacts(node, nodeContacts());
}

void MainWindow::miFileDelete()
{
    contactsSelected() ? miContactDel() : miTreeDel();
}

void MainWindow::removeDeviceNode(_DBItemNode *node)
{
    const QString id = node->id;
    const int platform = node->platform;
    m_treeMain->selectionModel()->clearSelection();
    m_treeModel->removeDeviceNode(id, platform);
    updateActions();
}

void MainWindow::miTreeUnmount()
{
    _DBItemNode *node = selectedDbNode();
    if (node && node->kind == _ItemNode::KindDevice && selectedGroupId() == 0)
        removeDeviceNode(node);
}

void MainWindow::miOpenFolder()
{
    Desktop::openFolder(DataFolder::localDbDir());
}

// ---------------------------------------------------------------------------------------------------------------
// Help and product pages

// Each page opens in the desktop's browser or mail program; when none opens, the box says where to go instead.
void MainWindow::miToolsCheckForUpdate()
{
    const QString page = WebPages::downloadPage();
    if (!Desktop::open(page))
        MessageBox::information(
            this, trKey("No web browser could be opened. The latest version is on the download page:<br/>%1")
                      .arg(page.toHtmlEscaped()));
}

void MainWindow::miHelpHelp()
{
    const QString page = WebPages::writeHelpPage();
    if (page.isEmpty())
        MessageBox::warning(this, trKey("The help page could not be written into the data folder %1.")
                                      .arg(QDir::toNativeSeparators(DataFolder::root()).toHtmlEscaped()));
    else if (!Desktop::open(page))
        MessageBox::information(this, trKey("No web browser could be opened. The help page is the file:<br/>%1")
                                          .arg(QDir::toNativeSeparators(page).toHtmlEscaped()));
}

void MainWindow::miHelpFeedback()
{
    if (!Desktop::open(WebPages::supportMail()))
        MessageBox::information(
            this, trKey("No e-mail program could be opened. Please write to %1.").arg(WebPages::supportAddress()));
}

void MainWindow::miHelpAbout()
{
    MessageBox::show(this, MessageBox::Icon::Information, WebPages::aboutText(), MessageBox::Ok, true);
}
