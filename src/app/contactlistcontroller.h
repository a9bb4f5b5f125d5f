#pragma once

#include "contacts/pim.h"

#include <QList>
#include <QObject>
#include <QString>

class ContactDisplayer;
class ContactLister;
class ItemModelContacts;
class ItemModelMainTree;
class MyTreeView;
class QLabel;
class QLineEdit;
class QTimer;
class QTreeView;
class QWidget;
class _DBItemNode;
class _GroupItemNode;
class _ItemNode;

// The contact list of the node selected in the tree: what is selected (node, group, contacts), the listing that
// fills the list (in pieces for a large node), the search field with its typing pause, and the details pane.
class ContactListController : public QObject
{
    Q_OBJECT
public:
    // The window's views this controller drives; all are owned by the window.
    struct Views
    {
        MyTreeView *tree = nullptr;
        ItemModelMainTree *treeModel = nullptr;
        QTreeView *contacts = nullptr;
        ItemModelContacts *contactsModel = nullptr;
        ContactDisplayer *details = nullptr;
        QLineEdit *keyword = nullptr;
        QLabel *total = nullptr;
        QLabel *banner = nullptr; // the keyword searched for, above the list
    };
    // searchDelayMs: how long the search waits after the last key typed. Boxes open over `window`.
    ContactListController(const Views &views, int searchDelayMs, QWidget *window);

    // The node selected in the tree (a group's database node when a group is selected), or null.
    _DBItemNode *selectedDbNode() const;
    const _GroupItemNode *selectedGroup() const;
    qint64 selectedGroupId() const;
    bool contactsSelected() const;
    int selectedContactCount() const;
    // The selected contacts in list order.
    QList<pim::Contact> selectedContacts() const;
    // All contacts of the selected node, or of its selected group (empty after an error box).
    QList<pim::Contact> nodeContacts() const;
    // What a File-menu command acts on: the selected contacts when there are some, otherwise the whole node.
    QList<pim::Contact> commandContacts() const;

    bool isListing() const;
    // Lists the selected node again with the keyword in the search field.
    void relist();
    void showNodeContacts(const QString &keyword);
    // Drops a listing that is still running; nothing more is added to the list.
    void stopListing();
    // The tree's selection changed: the node's groups loaded and its full list shown.
    void nodeSelected();
    void contactSelectionChanged();
    // Lists the node with the keyword typed (the search button, Enter, or the pause after typing).
    void search();
    void selectNode(_ItemNode *node);
    void clearNodeSelection();
    // The node's groups reloaded and its fresh contents shown.
    void refreshNode(_DBItemNode *node);
    // A device node just added after its load: its groups loaded, then selected.
    void showLoadedDevice(_DBItemNode *node);
    // Lists the node again with a contact just saved selected and shown, also when the list leaves it out.
    void showSavedContact(const pim::Contact &saved);

Q_SIGNALS:
    // What is selected changed; the commands' enabling and texts follow it.
    void selectionChanged();

private:
    // Starts listing the selected node's contacts (its group's, with the keyword) into the emptied list. With
    // selectFirst the first row is selected when it arrives, else only made current.
    void listNodeContacts(const QString &keyword, bool selectFirst);
    void onContactsCounted(int total);
    void onContactsListed(const QList<pim::Contact> &contacts);
    void onListingFinished(const QString &error);
    void clearList();

    Views m_views;
    QWidget *m_window;
    QTimer *m_searchTimer;
    ContactLister *m_lister = nullptr; // made on first use
    bool m_listSelectsFirst = false;
    QString m_listedKeyword; // the keyword of the listing shown
};
