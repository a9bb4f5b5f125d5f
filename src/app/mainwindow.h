#pragma once

#include "android/iandroidconnector.h"
#include "contacts/pim.h"
#include "devices/deviceentry.h"

#include <QHash>
#include <QItemSelection>
#include <QMainWindow>
#include <QSharedPointer>

#include <functional>

class ContactDisplayer;
class ContactLister;
class ItemModelContacts;
class ItemModelMainTree;
class LocalDb;
class MyTreeView;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QTimer;
class QThread;
class QTreeView;
class _DBItemNode;
class _ItemNode;
namespace devices {
class AndroidWatch;
class IosWatch;
} // namespace devices

// The program's window: the tree of devices and local databases on the left, the contact list of the selected
// node in the middle, the selected contact on the right. Every command becomes a choice dialog plus one worker
// run behind the progress dialog.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The node selected in the tree (a group's database node when a group is selected), or null.
    _DBItemNode *selectedDbNode() const;
    ItemModelMainTree *treeModel() const { return m_treeModel; }
    ItemModelContacts *contactsModel() const { return m_contactsModel; }
    // The contact list is still being filled by a listing of the selected node.
    bool isListingContacts() const;
    // The action of a command slot by its name ("miTreeBackup", …), for tests and the tool bar.
    QAction *action(const char *slotName) const;
    // How long the search waits after the last key typed before it lists again.
    static constexpr int kSearchDelayMs = 250;

public Q_SLOTS:
    void iosDeviceConnected(const QString &devid);
    void iosDeviceDisconnected(const QString &devid);
    // An Android phone found by the device watch: authorised (the user is asked while the phone waits for them)
    // and loaded, unless it is the phone of a node on the same connection.
    void androidDeviceConnected(const QString &serial, const PAndroidConnector &connector);
    void androidDeviceDisconnected(const QString &serial);
    void androidDeviceConnectedFailed2(const QString &path);
    void androidDeviceIniLoad(const QString &devId, const PAndroidConnector &connector);
    void androidUsbTips();
    void miToolsConnectViaWiFi();
    void onMainTreeItemSelected(const QItemSelection &selected, const QItemSelection &deselected);
    void onMainTreeItemClicked(const QModelIndex &index);
    void onContactsTreeItemSelected(const QItemSelection &selected, const QItemSelection &deselected);
    void onContactsTreeItemDoubleClicked(const QModelIndex &index);
    void onBtnSearchPressed();
    void treeCreateContextMenu();
    void contactCreateContextMenu();

    void miTreeBackup();
    void miContactBackup();
    void miFileBackup();
    void miTreeI2I();
    void miContactI2I();
    void miFileI2I();
    void miTreeI2A();
    void miContactI2A();
    void miFileI2A();
    void miTreeA2I();
    void miContactA2I();
    void miFileA2I();
    void miTreeA2A();
    void miContactA2A();
    void miFileA2A();
    void miTreeDB2I();
    void miContactDB2I();
    void miFileDB2I();
    void miTreeDB2A();
    void miContactDB2A();
    void miFileDB2A();
    void miContactDel();
    void miTreeDel();
    void miFileDelete();
    // Adding, editing and grouping contacts (mainwindowedit.cpp).
    void miNewContact();
    void miContactEdit();
    void miContactSetGroup();
    // Contact files (mainwindowfiles.cpp).
    void miImport();
    // iTunes backups (mainwindowitunes.cpp).
    void miFromiTunes();
    void miTreeExport();
    void miContactExport();
    void miFileExport();
    void miTreePrint();
    void miContactPrint();
    void miFilePrint();
    void miTreeUnmount();
    void miOpenFolder();

    void miToolsCheckForUpdate();
    void miHelpHelp();
    void miHelpFeedback();
    void miHelpAbout();
    // The last write to the selected phone or database undone (mainwindowundo.cpp).
    void miEditUndo();

    // Contacts dragged from the list and dropped on a node of the tree: copied there by the command the menu
    // offers for that source and target, after a question naming both.
    void dropContacts(_DBItemNode *target, const QList<pim::Contact> &contacts);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // The size the user gave the window last time is kept when it closes.
    void closeEvent(QCloseEvent *event) override;

private:
    enum Platform { PlatformNone = 0, PlatformIos = 1, PlatformAndroid = 2 };

    // Snapshots (mainwindowundo.cpp). keepSnapshot copies the node's database before a write; false (after an
    // error box) when it could not, and the write must not start. keepStateAfterWrite keeps the state the write
    // left beside it; informWithUndo does that and shows the success box with an undo button.
    bool keepSnapshot(_DBItemNode *node, const QString &operation);
    void keepStateAfterWrite(_DBItemNode *node);
    void informWithUndo(_DBItemNode *node, const QString &text);
    void undoLastChange(_DBItemNode *node);
    QHash<QString, QString> m_pendingSnapshots; // database path → snapshot taken before its write in progress

    void buildLayout();
    void buildActions();
    void buildMenus();
    void loadInitialNodes();
    // The adb device watch and the Android arrival flows (mainwindowandroid.cpp).
    void setUpAndroidLink();
    // The iOS device watch (mainwindowios.cpp).
    void setUpIosLink();
    // Runs the device layer's workers behind the progress dialog (mainwindowandroid.cpp).
    devices::RunWorker behindProgress();
    void restoreWindowSize();
    void updateActions();

    // Contacts the commands act on.
    QList<pim::Contact> selectedContacts() const;
    QList<pim::Contact> nodeContacts() const; // all contacts of the selected node, or of its selected group
    qint64 selectedGroupId() const;
    bool contactsSelected() const;

    void showNodeContacts(const QString &keyword);
    // Starts listing the selected node's contacts (its group's, with the keyword) into the emptied list. With
    // selectFirst the first row is selected when it arrives, else only made current.
    void listNodeContacts(const QString &keyword, bool selectFirst);
    void onContactsCounted(int total);
    void onContactsListed(const QList<pim::Contact> &contacts);
    void onContactListingFinished(const QString &error);
    // Drops a listing that is still running; nothing more is added to the list.
    void stopListing();
    void selectNode(_ItemNode *node);
    void refreshNode(_DBItemNode *node);

    // The database the user picks or names; null when cancelled or when creating it failed.
    _DBItemNode *selectOrCreateLocalDb(const QString &suggestedName, const QString &title = QString());
    void backupContacts(const QList<pim::Contact> &contacts);
    void deleteContacts(_DBItemNode *node, const QList<pim::Contact> &contacts);
    // Runs the edit dialog on a contact of the node (an empty one to add a contact), stores the changes and sends
    // them to the node's device; on a failed send the device is reloaded.
    void editContact(_DBItemNode *node, const pim::Contact &contact);
    // Asks for a target device of a platform (excluding one id); null when nothing was chosen.
    _DBItemNode *chooseTargetDevice(int platform, const QString &excludedId);
    void transferToIos(const QList<pim::Contact> &contacts, const QString &excludedId);
    void transferToAndroid(const QList<pim::Contact> &contacts, const QString &excludedId);
    // The transfers once the target is known.
    void sendToIos(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question = QString());
    void sendToAndroid(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question = QString());
    // Copies contacts into a local database node with merging, behind the progress dialog.
    void copyToDatabase(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question = QString());
    // Shows what merging the contacts into the target will change and asks `question` (a default "Send … to …?"
    // when empty); true to go ahead.
    bool confirmMerge(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question);
    // Loads an iPhone into a fresh cache and adds its node; withTips shows the unlock-and-trust tips first.
    void loadIosDevice(const QString &devid, bool withTips);
    // A device arrival that came while a dialog was open waits until none is (a dialog works on the node the
    // arrival would replace, and a box over it would hide it); true when it was put off.
    bool deferWhileDialogOpen(const std::function<void()> &arrival);
    void updateColumnWidths();
    // Sends the deletion of contacts already deleted from an Android node's cache; on failure or cancel the phone
    // is reloaded. False when it was not sent.
    bool sendAndroidDeletion(_DBItemNode *node, const QList<pim::Contact> &contacts);
    // The same for the device node of either platform; true for a database node or nothing to send.
    bool sendDeletion(_DBItemNode *node, const QList<pim::Contact> &contacts);
    // Rebuilds an Android node's cache from its phone after a failed or cancelled write; the node is replaced.
    void reloadAndroidDevice(_DBItemNode *node);
    // Sends to an iPhone what the caller already applied to its cache: one contact's change records and/or the
    // deletion of contacts. On failure or cancel the iPhone is loaded again from scratch. False when not sent.
    bool sendIosChanges(const QString &udid, LocalDb *cache, const pim::Contact &contact,
                        const QList<pim::ChangeRecord> &changes, const QList<pim::Contact> &toDelete);
    // Rebuilds an iOS node's cache from its iPhone (a virtual one is only refreshed); the node is replaced.
    void reloadIosDevice(_DBItemNode *node);
    void removeDeviceNode(_DBItemNode *node);
    // A device node just added after its load: its groups loaded, then selected.
    void showLoadedDevice(_DBItemNode *node);

    devices::AndroidWatch *m_androidWatch = nullptr; // children of the window: stopped when it goes
    devices::IosWatch *m_iosWatch = nullptr;

    MyTreeView *m_treeMain = nullptr;
    QLineEdit *m_txtKeyword = nullptr;
    QPushButton *m_btnSearch = nullptr;
    QLabel *m_lbDisplayKeyword = nullptr;
    QTreeView *m_treeContacts = nullptr;
    QLabel *m_lbTotal = nullptr;
    ContactDisplayer *m_wdContactInfo = nullptr;
    QSplitter *m_splitter = nullptr;

    ItemModelMainTree *m_treeModel = nullptr;
    ItemModelContacts *m_contactsModel = nullptr;
    ContactLister *m_lister = nullptr; // made on first use
    bool m_listSelectsFirst = false;
    QHash<QByteArray, QAction *> m_actions;
    QTimer *m_searchTimer = nullptr;
    QTimer *m_arrivalTimer = nullptr; // looks for the end of the open dialog that device arrivals wait for
    QList<std::function<void()>> m_deferredArrivals;
    QString m_listedKeyword; // the keyword of the listing shown
    QMenu *m_menuPhoneToPhone = nullptr;
};
