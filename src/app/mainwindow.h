#pragma once

#include "android/iandroidconnector.h"
#include "app/devicewrites.h"
#include "contacts/pim.h"
#include "devices/deviceentry.h"

#include <QItemSelection>
#include <QMainWindow>
#include <QSharedPointer>

#include <functional>

class CommandMenus;
class ContactDisplayer;
class ContactListController;
class DeleteController;
class ItemModelContacts;
class ItemModelMainTree;
class LocalDb;
class MyTreeView;
class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTimer;
class QTreeView;
class TransferController;
class UndoController;
class _DBItemNode;
class _ItemNode;
namespace devices {
class AndroidWatch;
class IosWatch;
} // namespace devices

// The program's window: the tree of devices and local databases on the left, the contact list of the selected
// node in the middle, the selected contact on the right. The window lays out the views and routes each command
// slot to the controller that carries it out (list, commands, transfers, deletes, undo); the device links'
// arrival flows live in mainwindowandroid.cpp and mainwindowios.cpp.
class MainWindow : public QMainWindow, private DeviceWrites
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
    // The last write to the selected phone or database undone.
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

    void buildLayout();
    void buildControllers();
    void loadInitialNodes();
    // The adb device watch and the Android arrival flows (mainwindowandroid.cpp).
    void setUpAndroidLink();
    // The iOS device watch (mainwindowios.cpp).
    void setUpIosLink();
    // Runs the device layer's workers behind the progress dialog (mainwindowandroid.cpp).
    devices::RunWorker behindProgress();
    void restoreWindowSize();
    void updateColumnWidths();

    // The steps the device links use, carried out by the controllers.
    void updateActions();
    void refreshNode(_DBItemNode *node);
    void showLoadedDevice(_DBItemNode *node);
    void removeDeviceNode(_DBItemNode *node);
    bool keepSnapshot(_DBItemNode *node, const QString &operation);
    void keepStateAfterWrite(_DBItemNode *node);
    void undoLastChange(_DBItemNode *node);
    bool confirmMerge(_DBItemNode *target, const QList<pim::Contact> &contacts, const QString &question);
    _DBItemNode *chooseTargetDevice(int platform, const QString &excludedId);

    // Runs the edit dialog on a contact of the node (an empty one to add a contact), stores the changes and sends
    // them to the node's device; on a failed send the device is reloaded (mainwindowedit.cpp).
    void editContact(_DBItemNode *node, const pim::Contact &contact);
    // Loads an iPhone into a fresh cache and adds its node; withTips shows the unlock-and-trust tips first.
    void loadIosDevice(const QString &devid, bool withTips);
    // A device arrival that came while a dialog was open waits until none is (a dialog works on the node the
    // arrival would replace, and a box over it would hide it); true when it was put off.
    bool deferWhileDialogOpen(const std::function<void()> &arrival);

    // The writes to phones (DeviceWrites), in the device links' files and mainwindowdevicewrites.cpp.
    bool sendIosChanges(const QString &udid, LocalDb *cache, const pim::Contact &contact,
                        const QList<pim::ChangeRecord> &changes, const QList<pim::Contact> &toDelete) override;
    bool sendAndroidDeletion(_DBItemNode *node, const QList<pim::Contact> &contacts) override;
    void reloadAndroidDevice(_DBItemNode *node) override;
    void reloadIosDevice(_DBItemNode *node) override;

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

    ContactListController *m_list = nullptr;
    CommandMenus *m_commands = nullptr;
    UndoController *m_undo = nullptr;
    TransferController *m_transfers = nullptr;
    DeleteController *m_deletes = nullptr;

    QTimer *m_arrivalTimer = nullptr; // looks for the end of the open dialog that device arrivals wait for
    QList<std::function<void()>> m_deferredArrivals;
};
