#include "app/transfercontroller.h"

#include "android/androidcontactsdb.h"
#include "app/contactlistcontroller.h"
#include "app/datasourceselform.h"
#include "app/devicewrites.h"
#include "app/itemmodelmaintree.h"
#include "app/localdbselform.h"
#include "app/log.h"
#include "app/messagebox.h"
#include "app/previewconfirm.h"
#include "app/progressform.h"
#include "app/undocontroller.h"
#include "contacts/backupcontactstolocalthread.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "devices/deviceentry.h"
#include "devices/phoneaccess.h"

#include <QFileInfo>
#include <QThread>
#include <QWidget>

QString questionText::contactCount(qsizetype n)
{
    return n == 1 ? trKey("1 contact") : trKey("%1 contacts").arg(n);
}

QString questionText::quoted(const QString &name)
{
    return QStringLiteral("\u201C") + name.toHtmlEscaped() + QStringLiteral("\u201D");
}

using questionText::contactCount;
using questionText::quoted;

TransferController::TransferController(QWidget *window, ItemModelMainTree *treeModel, ContactListController *list,
                                       UndoController *undo, DeviceWrites *devices)
    : QObject(window), m_window(window), m_treeModel(treeModel), m_list(list), m_undo(undo), m_devices(devices)
{
}

bool TransferController::confirmMerge(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question)
{
    const QString asked =
        question.isEmpty()
            ? trKey("IDS_PREVIEW_CONFIRM_TRANSFER_%1_TO_%2").arg(contactCount(contacts.size()), quoted(target->name))
            : question;
    return PreviewConfirm::confirmContacts(m_window, target->db.data(), contacts, asked);
}

_DBItemNode *TransferController::selectOrCreateLocalDb(const QString &suggestedName, const QString &title)
{
    LocalDbSelForm form(m_window, suggestedName, title);
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
        MessageBox::error(m_window,
                          trKey("IDS_CREATE_DB_FAIL_%1").arg(MessageBox::escaped(QString::fromUtf8(e.what()))));
        return nullptr;
    }
    return m_treeModel->addDatabaseNode(db, fileName);
}

void TransferController::backupContacts(const QList<pim::Contact> &contacts)
{
    const _DBItemNode *device = m_list->selectedDbNode();
    if (!device || device->kind != _ItemNode::KindDevice)
        return;
    _DBItemNode *target = selectOrCreateLocalDb(QStringLiteral("%1-backup.db").arg(device->name));
    if (!target)
        return;
    copyToDatabase(target, contacts);
}

void TransferController::copyToDatabase(_DBItemNode *target, const QList<pim::Contact> &contacts,
                                        const QString &question)
{
    if (!confirmMerge(target, contacts, question) || !m_undo->keepSnapshot(target, QStringLiteral("backup")))
        return;
    ProgressForm form(trKey("IDS_STARTING_IMPORT_CONTACTS_FROM_DEVICE"), m_window);
    BackupContactsToLocalThread worker(contacts, target->db.data(), &form);
    if (form.runWorker(&worker)) {
        m_undo->keepStateAfterWrite(target);
        m_list->refreshNode(target);
    }
}

void TransferController::importIntoDatabase(_DBItemNode *target, bool created, const ImportWorkerFactory &makeWorker,
                                            const QString &progressText, const QString &operation)
{
    bool succeeded = false;
    const QString question = trKey("IDS_PREVIEW_CONFIRM_IMPORT_TO_%1").arg(quoted(target->name));
    if (PreviewConfirm::confirmWorker(m_window, target->db.data(), makeWorker, question) &&
        m_undo->keepSnapshot(target, operation)) {
        ProgressForm form(progressText, m_window);
        const std::unique_ptr<QThread> worker = makeWorker(*target->db, &form);
        succeeded = form.runWorker(worker.get());
    }
    if (succeeded) {
        m_undo->keepStateAfterWrite(target);
        m_list->refreshNode(target);
        return;
    }
    if (!created)
        return; // a database the user chose to merge into keeps its contacts; the import rolled its own back
    const PLocalDb db = target->db;
    m_treeModel->removeDatabaseNode(target);
    bool removed = false;
    try {
        removed = db->removeFile();
    } catch (const std::exception &) { // in use by another process
    }
    if (!removed)
        qCWarning(lcApp, "TransferController::importIntoDatabase: cannot remove %s", qPrintable(db->path()));
}

void TransferController::dropContacts(_DBItemNode *target, const QList<pim::Contact> &contacts)
{
    _DBItemNode *source = m_list->selectedDbNode();
    if (!target || contacts.isEmpty() || target == source)
        return;
    // Asked with what the copy will change, by the operation itself.
    const QString question =
        trKey("Copy %1 from %2 to %3?")
            .arg(contactCount(contacts.size()), quoted(source ? source->name : QString()), quoted(target->name));
    if (target->kind == _ItemNode::KindDatabase)
        copyToDatabase(target, contacts, question);
    else if (target->platform == ItemModelMainTree::PlatformIos)
        sendToDevice(target, contacts, question);
    else if (target->platform == ItemModelMainTree::PlatformAndroid)
        sendToDevice(target, contacts, question);
}

// ---------------------------------------------------------------------------------------------------------------
// Transfers between devices

_DBItemNode *TransferController::chooseTargetDevice(int platform, const QString &excludedId)
{
    const bool ios = platform == ItemModelMainTree::PlatformIos;
    QList<DataSourceSelForm::Candidate> candidates;
    const QIcon icon(ios ? QStringLiteral(":/res/iphone.png") : QStringLiteral(":/res/icon_android.png"));
    for (_DBItemNode *node : m_treeModel->deviceNodes(platform))
        if (node->id != excludedId)
            candidates.append({icon, node->name, node});
    DataSourceSelForm form(m_window);
    form.setDeviceCandidates(trKey(ios ? "IDS_SELECT_IOS_TO_TRANSFER" : "IDS_SELECT_ANDROID_TO_TRANSFER"), candidates);
    if (form.exec() != QDialog::Accepted)
        return nullptr;
    return form.selectedNode();
}

void TransferController::transferToIos(const QList<pim::Contact> &contacts, const QString &excludedId)
{
    if (_DBItemNode *target = chooseTargetDevice(ItemModelMainTree::PlatformIos, excludedId))
        sendToDevice(target, contacts);
}

void TransferController::transferToAndroid(const QList<pim::Contact> &contacts, const QString &excludedId)
{
    if (_DBItemNode *target = chooseTargetDevice(ItemModelMainTree::PlatformAndroid, excludedId))
        sendToDevice(target, contacts);
}

void TransferController::sendToDevice(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question)
{
    const bool ios = target->platform == ItemModelMainTree::PlatformIos;
    auto *android = dynamic_cast<AndroidContactsDb *>(target->db.data());
    if ((!ios && !android) || !confirmMerge(target, contacts, question) ||
        !m_undo->keepSnapshot(target, QStringLiteral("transfer")))
        return;
    devices::PhoneCache phone{{ios ? devices::kIos : devices::kAndroid, target->id, target->name, target->db->path()},
                              *target->db,
                              ios ? nullptr : android};
    ProgressForm form(QString(), m_window);
    form.offerUndo();
    const std::unique_ptr<QThread> worker = devices::sendContacts(phone, contacts)(&form);
    // After a failure the phone is reloaded: it holds what was sent before the failure. (The undo choice is read
    // only once the worker has run: it is made in the success box at its end.)
    const bool sent = form.runWorker(worker.get());
    finishDeviceWrite(target, sent, form.undoChosen());
}

void TransferController::finishDeviceWrite(_DBItemNode *target, bool succeeded, bool undoChosen)
{
    if (!succeeded) {
        if (target->platform == ItemModelMainTree::PlatformIos)
            m_devices->reloadIosDevice(target);
        else
            m_devices->reloadAndroidDevice(target);
        return;
    }
    m_undo->keepStateAfterWrite(target);
    m_list->refreshNode(target);
    if (undoChosen)
        m_undo->undoLastChange(target);
}
