// Adding, editing and grouping contacts: the edit dialog and the group dialog, the change records stored in the
// node's database in one transaction, and their sending to the node's device.

#include "android/androidcontactsdb.h"
#include "app/mainwindow.h"

#include "android/adbconnector.h"
#include "android/androidsendchangesthread.h"
#include "android/syncprotocol.h"
#include "app/filedialogs.h"
#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "app/winmovable.h"
#include "contacts/contactchanges.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "widgets/contactdisplayer.h"
#include "widgets/contacteditor.h"
#include "widgets/editcontactform.h"
#include "widgets/groupform.h"

#include <QDir>
#include <QLineEdit>
#include <QTreeView>

#include <memory>

namespace {

// A virtual Android device (a database file standing for a phone) has a connector without a phone behind it:
// its file is all there is.
bool hasAndroidPhone(const _DBItemNode *node)
{
    const auto *adb = dynamic_cast<const AdbConnector *>(node->connector.data());
    return node->connector && (!adb || adb->handle());
}

// Runs one storage step; a failure shows the error box.
template <typename F> bool storageStep(QWidget *parent, F &&step)
{
    try {
        step();
        return true;
    } catch (const std::exception &e) {
        MessageBox::error(parent, MessageBox::escaped(QString::fromUtf8(e.what())));
        return false;
    }
}

} // namespace

void MainWindow::miNewContact()
{
    if (_DBItemNode *node = selectedDbNode())
        editContact(node, pim::Contact());
}

void MainWindow::miContactEdit()
{
    _DBItemNode *node = selectedDbNode();
    const QList<pim::Contact> contacts = selectedContacts();
    if (node && contacts.size() == 1)
        editContact(node, contacts.first());
}

void MainWindow::editContact(_DBItemNode *node, const pim::Contact &contact)
{
    const bool isNew = contact._id == 0;
    LocalDb &db = *node->db;
    // The stored contact as it is now, which the change records are computed against.
    pim::Contact stored;
    if (!isNew && !storageStep(this, [&] { stored = db.loadContact(contact._id); }))
        return;
    if (!isNew && stored._id == 0)
        return; // gone meanwhile

    EditContactForm form(stored, isNew ? &db : nullptr, this);
    new WinMovable(&form);
    form.setWarningHandler([&form](const QString &text) { MessageBox::warning(&form, text); });
    form.setQuestionHandler([&form](const QString &text) { return MessageBox::question(&form, text); });
    form.editor()->setOpenFileNameHandler([&form](const QString &filter) {
        return FileDialogs::openFileName(&form, QString(), QDir::homePath(), filter, nullptr);
    });
    if (form.exec() != QDialog::Accepted)
        return;
    QList<pim::ChangeRecord> changes = form.getChanges(*db.rule(), stored);
    if (changes.isEmpty())
        return;

    if (!keepSnapshot(node, isNew ? QStringLiteral("add") : QStringLiteral("edit")))
        return;
    pim::Contact saved = stored;
    if (!storageStep(this, [&] {
            applyChanges(db, saved, changes);
            saved = db.loadContact(saved._id);
        }))
        return;

    if (node->kind == _ItemNode::KindDevice && node->platform == PlatformAndroid) {
        auto *cache = dynamic_cast<AndroidContactsDb *>(&db);
        if (cache && hasAndroidPhone(node)) {
            ProgressForm progress(QString(), this);
            AndroidSendChangesThread worker(&progress, cache, simpleprotocol::nextSyncPort());
            worker.setChanges(saved, changes);
            if (!progress.runWorker(&worker)) {
                reloadAndroidDevice(node); // the cache must show what the phone holds, not the edit
                return;
            }
        }
    } else if (node->kind == _ItemNode::KindDevice && node->platform == PlatformIos) {
        if (!sendIosChanges(node->id, &db, saved, changes, {}))
            return; // the iPhone has been reloaded
    }

    // The phone's new ids are in the cache now; show the contact as stored.
    storageStep(this, [&] { saved = db.loadContact(saved._id); });
    keepStateAfterWrite(node);
    showNodeContacts(m_txtKeyword->text().trimmed());
    const QList<pim::Contact> &shown = m_contactsModel->contacts();
    for (int row = 0; row < shown.size(); ++row) {
        if (shown.at(row)._id != saved._id)
            continue;
        const QModelIndex index = m_contactsModel->indexOfRow(row);
        m_treeContacts->selectionModel()->select(index,
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_treeContacts->setCurrentIndex(index);
        m_treeContacts->scrollTo(index);
        break;
    }
    m_wdContactInfo->setContact(saved); // also when the list's group or keyword leaves it out
}

void MainWindow::miContactSetGroup()
{
    _DBItemNode *node = selectedDbNode();
    const QList<pim::Contact> contacts = selectedContacts();
    if (!node || contacts.isEmpty())
        return;
    LocalDb &db = *node->db;

    std::unique_ptr<GroupForm> form;
    if (!storageStep(this, [&] { form = std::make_unique<GroupForm>(&db, this); }))
        return;
    new WinMovable(form.get());
    form->setQuestionHandler([&form](const QString &text) { return MessageBox::question(form.get(), text); });
    if (form->exec() != QDialog::Accepted)
        return;

    if (!keepSnapshot(node, QStringLiteral("set group")))
        return;
    QList<pim::Contact> regrouped;
    const bool applied = storageStep(this, [&] {
        db.beginTransaction();
        try {
            regrouped = setContactsGroup(db, contacts, form->groupId(), form->groupName());
        } catch (...) {
            db.endTransaction(false);
            throw;
        }
    });
    if (!applied)
        return;

    // An Android phone gets the memberships before the commit, so that a failure leaves the cache as it was.
    const bool android = node->kind == _ItemNode::KindDevice && node->platform == PlatformAndroid;
    auto *cache = dynamic_cast<AndroidContactsDb *>(&db);
    if (android && cache && hasAndroidPhone(node)) {
        ProgressForm progress(QString(), this);
        AndroidSendChangesThread worker(&progress, cache, simpleprotocol::nextSyncPort());
        worker.setContactsToRegroup(regrouped);
        if (!progress.runWorker(&worker)) {
            storageStep(this, [&] { db.endTransaction(false); });
            reloadAndroidDevice(node);
            return;
        }
    }
    const bool committed = storageStep(this, [&] {
        try {
            db.endTransaction(true);
        } catch (...) {
            db.endTransaction(false);
            throw;
        }
    });
    if (!committed) {
        if (android && hasAndroidPhone(node))
            reloadAndroidDevice(node); // the phone has the memberships the cache failed to keep
        return;
    }
    refreshNode(node);
    informWithUndo(node, trKey("IDS_UPDATE_GROUP_SUC"));
}
