// Adding, editing and grouping contacts: the edit dialog and the group dialog, the change records stored in the
// node's database in one transaction, and their sending to the node's device.

#include "android/androidcontactsdb.h"
#include "app/mainwindow.h"

#include "android/adbconnector.h"
#include "android/androidsendchangesthread.h"
#include "android/syncprotocol.h"
#include "app/contactlistcontroller.h"
#include "app/filedialogs.h"
#include "app/guardedstep.h"
#include "app/itemmodelmaintree.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "app/undocontroller.h"
#include "app/winmovable.h"
#include "contacts/contactchanges.h"
#include "contacts/localdb.h"
#include "contacts/workertransaction.h"
#include "core/texts.h"
#include "widgets/contacteditor.h"
#include "widgets/editcontactform.h"
#include "widgets/groupform.h"

#include <QDir>

#include <memory>

namespace {

// A virtual Android device (a database file standing for a phone) has a connector without a phone behind it:
// its file is all there is.
bool hasAndroidPhone(const _DBItemNode *node)
{
    const auto *adb = dynamic_cast<const AdbConnector *>(node->connector.data());
    return node->connector && (!adb || adb->handle());
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
    const QList<pim::Contact> contacts = m_list->selectedContacts();
    if (node && contacts.size() == 1)
        editContact(node, contacts.first());
}

void MainWindow::editContact(_DBItemNode *node, const pim::Contact &contact)
{
    const bool isNew = contact._id == 0;
    LocalDb &db = *node->db;
    // The stored contact as it is now, which the change records are computed against.
    pim::Contact stored;
    if (!isNew && !guardedStep(this, [&] { stored = db.loadContact(contact._id); }))
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

    if (!m_undo->keepSnapshot(node, isNew ? QStringLiteral("add") : QStringLiteral("edit")))
        return;
    pim::Contact saved = stored;
    if (!guardedStep(this, [&] {
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
    guardedStep(this, [&] { saved = db.loadContact(saved._id); });
    m_undo->keepStateAfterWrite(node);
    m_list->showSavedContact(saved);
}

void MainWindow::miContactSetGroup()
{
    _DBItemNode *node = selectedDbNode();
    const QList<pim::Contact> contacts = m_list->selectedContacts();
    if (!node || contacts.isEmpty())
        return;
    LocalDb &db = *node->db;

    std::unique_ptr<GroupForm> form;
    if (!guardedStep(this, [&] { form = std::make_unique<GroupForm>(&db, this); }))
        return;
    new WinMovable(form.get());
    form->setQuestionHandler([&form](const QString &text) { return MessageBox::question(form.get(), text); });
    if (form->exec() != QDialog::Accepted)
        return;

    if (!m_undo->keepSnapshot(node, QStringLiteral("set group")))
        return;
    QList<pim::Contact> regrouped;
    WorkerTransaction transaction(&db, "setting the group");
    const bool applied = guardedStep(this, [&] {
        transaction.begin();
        regrouped = setContactsGroup(db, contacts, form->groupId(), form->groupName());
    });
    if (!applied)
        return; // rolled back as the transaction goes

    // An Android phone gets the memberships before the commit, so that a failure leaves the cache as it was.
    const bool android = node->kind == _ItemNode::KindDevice && node->platform == PlatformAndroid;
    auto *cache = dynamic_cast<AndroidContactsDb *>(&db);
    if (android && cache && hasAndroidPhone(node)) {
        ProgressForm progress(QString(), this);
        AndroidSendChangesThread worker(&progress, cache, simpleprotocol::nextSyncPort());
        worker.setContactsToRegroup(regrouped);
        if (!progress.runWorker(&worker)) {
            transaction.rollback(); // before the reload rebuilds the cache file
            reloadAndroidDevice(node);
            return;
        }
    }
    const bool committed = guardedStep(this, [&] { transaction.commit(); });
    if (!committed) {
        transaction.rollback();
        if (android && hasAndroidPhone(node))
            reloadAndroidDevice(node); // the phone has the memberships the cache failed to keep
        return;
    }
    refreshNode(node);
    m_undo->informWithUndo(node, trKey("IDS_UPDATE_GROUP_SUC"));
}
