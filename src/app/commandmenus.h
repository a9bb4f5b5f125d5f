#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>

class ContactListController;
class ItemModelMainTree;
class MyTreeView;
class QAction;
class QLineEdit;
class QMainWindow;

// The window's commands: one action per command slot of the window, the menu bar, the tool bar and the two
// context menus, and the rules that enable each command and word it for the current selection.
class CommandMenus : public QObject
{
    Q_OBJECT
public:
    CommandMenus(QMainWindow *window, ContactListController *list, ItemModelMainTree *treeModel, MyTreeView *tree);

    // Makes the actions, each triggering the window's slot of the same name (a command without such a slot stays
    // disabled), and puts them into the menu bar and the tool bar. Ctrl+F goes to the search field.
    void build(QLineEdit *searchField);
    // The action of a command slot by its name ("miTreeBackup", …), or null.
    QAction *action(const char *slotName) const;
    void updateActions();
    // The menus of the node under the mouse in the tree and of the selected contacts.
    void showTreeMenu();
    void showContactMenu();

private:
    void buildActions(QLineEdit *searchField);
    void buildMenus();

    QMainWindow *m_window;
    ContactListController *m_list;
    ItemModelMainTree *m_treeModel;
    MyTreeView *m_tree;
    QHash<QByteArray, QAction *> m_actions;
};
