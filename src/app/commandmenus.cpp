#include "app/commandmenus.h"

#include "app/contactlistcontroller.h"
#include "app/itemmodelmaintree.h"
#include "app/mytreeview.h"
#include "app/stylesheet.h"
#include "core/texts.h"

#include <QAction>
#include <QCursor>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace {

// Every command of the window: its slot, its text key and its picture. Commands whose work lives in other
// parts of the program get their slot connected where that part is built; until then they stay disabled.
struct CommandSpec
{
    const char *slot;
    const char *text;
    const char *icon;
};

constexpr CommandSpec kCommands[] = {
    {"miTreeBackup", "Backup Contacts", ":/res/backup.png"},
    {"miContactBackup", "Backup selected contacts", ":/res/backup.png"},
    {"miFileBackup", "Backup Contacts", ":/res/backup.png"},
    {"miTreeI2I", "iPhone to iPhone", ":/res/i2i.png"},
    {"miContactI2I", "Transfer selected contacts from iPhone to iPhone", ":/res/i2i.png"},
    {"miFileI2I", "iPhone to iPhone", ":/res/i2i.png"},
    {"miTreeI2A", "iPhone to Android", ":/res/i2a.png"},
    {"miContactI2A", "Transfer selected contacts from iPhone to Android", ":/res/i2a.png"},
    {"miFileI2A", "iPhone to Android", ":/res/i2a.png"},
    {"miTreeA2I", "Android to iPhone", ":/res/a2i.png"},
    {"miContactA2I", "Transfer selected contacts from Android to iPhone", ":/res/a2i.png"},
    {"miFileA2I", "Android to iPhone", ":/res/a2i.png"},
    {"miTreeA2A", "Android to Android", ":/res/a2a.png"},
    {"miContactA2A", "Transfer selected contacts from Android to Android", ":/res/a2a.png"},
    {"miFileA2A", "Android to Android", ":/res/a2a.png"},
    {"miTreeDB2I", "Restore Contacts to iPhone", ":/res/db2i.png"},
    {"miContactDB2I", "Restore selected contacts to iPhone", ":/res/db2i.png"},
    {"miFileDB2I", "Restore Contacts to iPhone", ":/res/db2i.png"},
    {"miTreeDB2A", "Restore Contacts to Android", ":/res/db2a.png"},
    {"miContactDB2A", "Restore selected contacts to Android", ":/res/db2a.png"},
    {"miFileDB2A", "Restore Contacts to Android", ":/res/db2a.png"},
    {"miTreeExport", "Export Contacts to File", ":/res/export.png"},
    {"miContactExport", "Export selected contacts", ":/res/export.png"},
    {"miFileExport", "Export Contacts to File", ":/res/export.png"},
    {"miTreePrint", "Print Contacts", ":/res/print.png"},
    {"miContactPrint", "Print selected contacts", ":/res/print.png"},
    {"miFilePrint", "Print Contacts", ":/res/print.png"},
    {"miNewContact", "Add Contact", ":/res/new_ct.png"},
    {"miContactEdit", "Edit Contact", ":/res/edit.png"},
    {"miContactSetGroup", "Set Contact Group", ":/res/group.png"},
    {"miContactDel", "Delete selected contacts", ":/res/del.png"},
    {"miTreeDel", "Delete Contact", ":/res/del.png"},
    {"miFileDelete", "Delete Contact", ":/res/del.png"},
    {"miEditUndo", "Undo last change on this phone", ""},
    {"miTreeUnmount", "Disconnect Device", ":/res/unmount.png"},
    {"miOpenFolder", "Open Database Folder", ":/res/open_db_folder.png"},
    {"miFromiTunes", "IDS_MI_FROM_ITUNES", ":/res/from_itunes.png"},
    {"miImport", "Import from File", ":/res/import.png"},
    {"miToolsCheckForUpdate", "Check update", ""},
    {"miToolsConnectViaWiFi", "IDS_MI_CONNECT_ANDROID_VIA_WIFI", ""},
    {"miHelpHelp", "Help", ":/res/help.png"},
    {"miHelpFeedback", "Feedback and support", ""},
    {"miHelpAbout", "About", ""},
    {"miExit", "Exit", ":/res/exit.png"},
};

} // namespace

CommandMenus::CommandMenus(QMainWindow *window, ContactListController *list, ItemModelMainTree *treeModel,
                           MyTreeView *tree)
    : QObject(window), m_window(window), m_list(list), m_treeModel(treeModel), m_tree(tree)
{
}

QAction *CommandMenus::action(const char *slotName) const
{
    return m_actions.value(QByteArray(slotName));
}

void CommandMenus::build(QLineEdit *searchField)
{
    buildActions(searchField);
    buildMenus();
}

void CommandMenus::buildActions(QLineEdit *searchField)
{
    for (const CommandSpec &command : kCommands) {
        auto *action = new QAction(trKey(command.text), m_window);
        action->setProperty("baseText", action->text()); // the text before any selection changes it
        action->setObjectName(QLatin1String(command.slot));
        if (*command.icon)
            action->setIcon(QIcon(QLatin1String(command.icon)));
        // Connect by slot name; a command without a slot in the window stays disabled until its work exists.
        const QByteArray signature = QByteArray(command.slot) + "()";
        const int index = m_window->metaObject()->indexOfSlot(signature.constData());
        if (index >= 0)
            connect(action, &QAction::triggered, m_window, [window = m_window, name = QByteArray(command.slot)] {
                QMetaObject::invokeMethod(window, name.constData());
            });
        else
            action->setProperty("unavailable", true);
        m_actions.insert(QByteArray(command.slot), action);
    }
    action("miNewContact")->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
    action("miHelpHelp")->setShortcut(QKeySequence::HelpContents);
    // Delete acts on what is selected; in the search field the field keeps the key for its own text.
    action("miFileDelete")->setShortcut(QKeySequence::Delete);
    auto *find = new QAction(m_window);
    find->setObjectName(QStringLiteral("findAction"));
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, searchField, [searchField] {
        searchField->setFocus(Qt::ShortcutFocusReason);
        searchField->selectAll();
    });
    m_window->addAction(find);
    action("miExit")->setProperty("unavailable", QVariant());
    connect(action("miExit"), &QAction::triggered, m_window, &QWidget::close);
}

void CommandMenus::buildMenus()
{
    QMenuBar *bar = m_window->menuBar();
    // Alt+F, Alt+T and Alt+H open the menus.
    QMenu *file = bar->addMenu(QLatin1Char('&') + trKey("File"));
    file->addAction(action("miFileBackup"));
    QMenu *phoneToPhone = file->addMenu(trKey("IDS_MI_PHONE_TO_PHONE"));
    for (const char *slot : {"miFileI2A", "miFileA2I", "miFileI2I", "miFileA2A"})
        phoneToPhone->addAction(action(slot));
    for (const char *slot : {"miFileDB2I", "miFileDB2A", "miFileExport", "miFilePrint", "miNewContact"})
        file->addAction(action(slot));
    QMenu *import = file->addMenu(trKey("IDS_MI_IMPORT"));
    import->addAction(action("miImport"));
    import->addAction(action("miFromiTunes"));
    file->addAction(action("miFileDelete"));
    file->addAction(action("miOpenFolder"));
    file->addSeparator();
    file->addAction(action("miExit"));

    QMenu *edit = bar->addMenu(QLatin1Char('&') + trKey("Edit"));
    edit->addAction(action("miEditUndo"));

    QMenu *tools = bar->addMenu(QLatin1Char('&') + trKey("Tools"));
    tools->addAction(action("miToolsCheckForUpdate"));
    tools->addAction(action("miToolsConnectViaWiFi"));

    QMenu *help = bar->addMenu(QLatin1Char('&') + trKey("Help"));
    for (const char *slot : {"miHelpHelp", "miHelpFeedback", "miHelpAbout"})
        help->addAction(action(slot));

    QToolBar *toolBar = m_window->addToolBar(trKey("Tools"));
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setMovable(false);
    toolBar->setIconSize(QSize(32, 32));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    // Short captions under the icons keep every button on the bar at the usual window width; the menu texts,
    // which change with the selection, are the buttons' tool tips.
    const std::pair<const char *, const char *> buttons[] = {
        {"miFileBackup", "Backup"},      {"miFileDB2I", "To iPhone"}, {"miFileDB2A", "To Android"},
        {"miFromiTunes", "From iTunes"}, {"miImport", "Import"},      {"miFileExport", "Export"},
        {"miFilePrint", "Print"},        {"miNewContact", "Add"},     {"miFileDelete", "Delete"}};
    for (const auto &[slot, caption] : buttons) {
        action(slot)->setIconText(trKey(caption));
        toolBar->addAction(action(slot));
    }
}

void CommandMenus::updateActions()
{
    using Tree = ItemModelMainTree;
    const _DBItemNode *node = m_list->selectedDbNode();
    const bool device = node && node->kind == _ItemNode::KindDevice;
    const bool database = node && node->kind == _ItemNode::KindDatabase;
    const bool ios = device && node->platform == Tree::PlatformIos;
    const bool android = device && node->platform == Tree::PlatformAndroid;
    const int iosCount = m_treeModel->deviceCount(Tree::PlatformIos);
    const int androidCount = m_treeModel->deviceCount(Tree::PlatformAndroid);
    const bool group = m_list->selectedGroupId() != 0;
    const int selected = m_list->selectedContactCount();

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

void CommandMenus::showTreeMenu()
{
    const QModelIndex index = m_tree->indexAt(m_tree->viewport()->mapFromGlobal(QCursor::pos()));
    if (index.isValid() && !m_tree->selectionModel()->isSelected(index))
        m_tree->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    const QModelIndexList rows = m_tree->selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        return;
    updateActions();
    const int kind = m_treeModel->kindOf(rows.first());
    const _DBItemNode *node = m_list->selectedDbNode();
    const bool group = m_list->selectedGroupId() != 0;

    QMenu menu(m_window);
    menu.setStyleSheet(StyleSheet::load());
    const auto add = [&](std::initializer_list<const char *> slots) {
        for (const char *slot : slots)
            menu.addAction(action(slot));
    };
    if (kind == _ItemNode::KindDatabasesRoot) {
        add({"miOpenFolder", "miFromiTunes", "miImport"});
    } else if (node && node->kind == _ItemNode::KindDevice) {
        add({"miTreeBackup"});
        if (node->platform == ItemModelMainTree::PlatformIos)
            add({"miTreeI2I", "miTreeI2A"});
        else
            add({"miTreeA2I", "miTreeA2A"});
        menu.addSeparator();
        add({"miTreeExport", "miTreePrint", "miNewContact", "miTreeDel"});
        if (!group) {
            menu.addSeparator();
            add({"miTreeUnmount"});
        }
    } else if (node) {
        add({"miTreeDB2I", "miTreeDB2A"});
        menu.addSeparator();
        add({"miTreeExport", "miTreePrint", "miNewContact", "miTreeDel"});
    }
    if (!menu.isEmpty())
        menu.exec(QCursor::pos());
}

void CommandMenus::showContactMenu()
{
    const _DBItemNode *node = m_list->selectedDbNode();
    if (!node || !m_list->contactsSelected())
        return;
    updateActions();
    QMenu menu(m_window);
    menu.setStyleSheet(StyleSheet::load());
    const auto add = [&](std::initializer_list<const char *> slots) {
        for (const char *slot : slots)
            menu.addAction(action(slot));
    };
    if (node->kind == _ItemNode::KindDevice) {
        add({"miContactBackup"});
        if (node->platform == ItemModelMainTree::PlatformIos)
            add({"miContactI2I", "miContactI2A"});
        else
            add({"miContactA2I", "miContactA2A"});
    } else {
        add({"miContactDB2I", "miContactDB2A"});
    }
    menu.addSeparator();
    add({"miContactExport", "miContactPrint", "miContactEdit", "miContactSetGroup", "miContactDel"});
    menu.exec(QCursor::pos());
}
