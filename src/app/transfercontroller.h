#pragma once

#include "contacts/pim.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class ContactListController;
class DeviceWrites;
class ItemModelMainTree;
class LocalDb;
class ProgressTarget;
class QThread;
class QWidget;
class UndoController;
class _DBItemNode;

// Copying contacts to a phone or a local database: the choice of the target, the preview of what merging will
// change, the snapshot for undo, the worker behind the progress dialog, and what the tree shows afterwards.
class TransferController : public QObject
{
    Q_OBJECT
public:
    TransferController(QWidget *window, ItemModelMainTree *treeModel, ContactListController *list, UndoController *undo,
                       DeviceWrites *devices);

    // Asks for a target device of a platform (excluding one id); null when nothing was chosen.
    _DBItemNode *chooseTargetDevice(int platform, const QString &excludedId);
    // Shows what merging the contacts into the target will change and asks `question` (a default "Send … to …?"
    // when empty); true to go ahead.
    bool confirmMerge(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question);
    // The database the user picks or names; null when cancelled or when creating it failed.
    _DBItemNode *selectOrCreateLocalDb(const QString &suggestedName, const QString &title = QString());

    // Copies contacts of the selected device into a local database the user picks.
    void backupContacts(const QList<pim::Contact> &contacts);
    void transferToIos(const QList<pim::Contact> &contacts, const QString &excludedId);
    void transferToAndroid(const QList<pim::Contact> &contacts, const QString &excludedId);
    // The transfers once the target is known.
    // Merges contacts into an Android phone or an iPhone after the preview's question (a default one when empty).
    void sendToDevice(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question = QString());
    void copyToDatabase(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question = QString());
    // Contacts dropped on a node of the tree: copied there by the command for that target, after a question naming
    // the selected node and the target.
    void dropContacts(_DBItemNode *target, const QList<pim::Contact> &contacts);

    // Reads contacts into a local database with a worker made by makeWorker: first into a copy for the preview,
    // then, when confirmed, into the database. A database the user created for this import (`created`) goes
    // again when nothing was imported.
    using ImportWorkerFactory = std::function<std::unique_ptr<QThread>(LocalDb &db, ProgressTarget *progress)>;
    void importIntoDatabase(_DBItemNode *target, bool created, const ImportWorkerFactory &makeWorker,
                            const QString &progressText, const QString &operation);

    // After a write to a device node: on success the state is kept for undo, the node shown again and, when the
    // user pressed the success box's undo button, the write undone; on failure the node is loaded again from its
    // phone (it holds what was sent before the failure).
    void finishDeviceWrite(_DBItemNode *target, bool succeeded, bool undoChosen);

private:
    QWidget *m_window;
    ItemModelMainTree *m_treeModel;
    ContactListController *m_list;
    UndoController *m_undo;
    DeviceWrites *m_devices;
};

// Texts of the window's questions.
namespace questionText {
// "1 contact" or "3 contacts".
QString contactCount(qsizetype n);
// A name quoted in a question; the boxes show rich text.
QString quoted(const QString &name);
} // namespace questionText
