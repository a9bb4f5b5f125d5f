#include "mainwindow.h"

#include "adbconnector.h"
#include "combinerule.h"
#include "contactdisplayer.h"
#include "datafolder.h"
#include "ioscontactcombinerule.h"
#include "itemmodelcontacts.h"
#include "itemmodelmaintree.h"
#include "localdb.h"
#include "messagebox.h"
#include "mytreeview.h"
#include "stylesheet.h"
#include "texts.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

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

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(Product::title());
    setWindowIcon(QIcon(QStringLiteral(":/res/app.png")));
    setStyleSheet(StyleSheet::load());

    m_treeModel = new ItemModelMainTree(this);
    m_contactsModel = new ItemModelContacts(this);
    buildLayout();
    buildActions();
    buildMenus();
    loadInitialNodes();
    updateActions();
    resize(1100, 700);
    restoreWindowSize();
    selectNode(m_treeModel->databasesRoot());
    // What to do first, until the user does something else with the window.
    statusBar()->showMessage(trKey("To begin, connect a phone, or import a contact file or an iPhone backup."));
    setUpAndroidLink();
    setUpIosLink();
}

MainWindow::~MainWindow() = default;

namespace {
// The window's size and place, kept in the data folder beside the databases.
QString windowSettingsPath()
{
    return DataFolder::root() + QStringLiteral("/window.ini");
}
} // namespace

void MainWindow::restoreWindowSize()
{
    const QSettings settings(windowSettingsPath(), QSettings::IniFormat);
    const QByteArray geometry = settings.value(QStringLiteral("geometry")).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QSettings settings(windowSettingsPath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    QMainWindow::closeEvent(event);
}

QAction *MainWindow::action(const char *slotName) const
{
    return m_actions.value(QByteArray(slotName));
}

void MainWindow::buildLayout()
{
    m_treeMain = new MyTreeView;
    m_treeMain->setObjectName(QStringLiteral("treeMain"));
    m_treeMain->setModel(m_treeModel);
    m_treeMain->setHeaderHidden(true);
    m_treeMain->setSelectionMode(QAbstractItemView::SingleSelection);
    m_treeMain->setIconSize(QSize(18, 18));
    connect(m_treeMain, &MyTreeView::onSelectionChanged, this, &MainWindow::onMainTreeItemSelected);
    connect(m_treeMain, &QTreeView::clicked, this, &MainWindow::onMainTreeItemClicked);
    connect(m_treeMain, &MyTreeView::createContextMenu, this, &MainWindow::treeCreateContextMenu);

    auto *middle = new QWidget;
    auto *middleLayout = new QVBoxLayout(middle);
    middleLayout->setContentsMargins(0, 0, 0, 0);
    middleLayout->setSpacing(0);
    auto *searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(6, 6, 6, 6);
    m_txtKeyword = new QLineEdit;
    m_txtKeyword->setObjectName(QStringLiteral("txtKeyword"));
    m_txtKeyword->setClearButtonEnabled(true);
    m_btnSearch = new QPushButton(QIcon(QStringLiteral(":/res/search.png")), QString());
    m_btnSearch->setObjectName(QStringLiteral("btnSearch"));
    searchRow->addWidget(m_txtKeyword);
    searchRow->addWidget(m_btnSearch);
    connect(m_btnSearch, &QPushButton::pressed, this, &MainWindow::onBtnSearchPressed);
    connect(m_txtKeyword, &QLineEdit::returnPressed, this, &MainWindow::onBtnSearchPressed);

    m_lbDisplayKeyword = new QLabel;
    m_lbDisplayKeyword->setObjectName(QStringLiteral("lbDisplayKeyword"));
    m_lbDisplayKeyword->setStyleSheet(QStringLiteral("background-color:#FFFFDE;\npadding:2px 10px;"));
    m_lbDisplayKeyword->setTextFormat(Qt::PlainText);
    m_lbDisplayKeyword->hide();

    m_treeContacts = new QTreeView;
    m_treeContacts->setObjectName(QStringLiteral("treeContacts"));
    m_treeContacts->setModel(m_contactsModel);
    m_treeContacts->setRootIsDecorated(false);
    m_treeContacts->setUniformRowHeights(true);
    m_treeContacts->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_treeContacts->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_treeContacts->setContextMenuPolicy(Qt::CustomContextMenu);
    m_treeContacts->setIconSize(QSize(18, 18));
    connect(m_treeContacts->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::onContactsTreeItemSelected);
    connect(m_treeContacts, &QTreeView::doubleClicked, this, &MainWindow::onContactsTreeItemDoubleClicked);
    connect(m_treeContacts, &QWidget::customContextMenuRequested, this, &MainWindow::contactCreateContextMenu);

    m_lbTotal = new QLabel(trKey("Total:%1").arg(0));
    m_lbTotal->setObjectName(QStringLiteral("lbTotal"));
    m_lbTotal->setStyleSheet(QStringLiteral("border-top:none;"));

    middleLayout->addLayout(searchRow);
    middleLayout->addWidget(m_lbDisplayKeyword);
    middleLayout->addWidget(m_treeContacts, 1);
    middleLayout->addWidget(m_lbTotal);

    m_wdContactInfo = new ContactDisplayer;
    m_wdContactInfo->setObjectName(QStringLiteral("wdContactInfo"));
    m_wdContactInfo->setStyleSheet(QStringLiteral("background-color:#F1F5FB;"));
    m_wdContactInfo->setWarningHandler([this](const QString &text) { MessageBox::warning(this, text); });

    m_splitter = new QSplitter(Qt::Horizontal);
    m_splitter->addWidget(m_treeMain);
    m_splitter->addWidget(middle);
    m_splitter->addWidget(m_wdContactInfo);
    m_splitter->setChildrenCollapsible(false);
    setCentralWidget(m_splitter);
    statusBar();
}

void MainWindow::buildActions()
{
    for (const CommandSpec &command : kCommands) {
        auto *action = new QAction(trKey(command.text), this);
        action->setObjectName(QLatin1String(command.slot));
        if (*command.icon)
            action->setIcon(QIcon(QLatin1String(command.icon)));
        // Connect by slot name; a command without a slot in this window stays disabled until its work exists.
        const QByteArray signature = QByteArray(command.slot) + "()";
        const int index = metaObject()->indexOfSlot(signature.constData());
        if (index >= 0)
            connect(action, &QAction::triggered, this, [this, name = QByteArray(command.slot)] {
                QMetaObject::invokeMethod(this, name.constData());
            });
        else
            action->setProperty("unavailable", true);
        m_actions.insert(QByteArray(command.slot), action);
    }
    action("miNewContact")->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
    action("miExit")->setProperty("unavailable", QVariant());
    connect(action("miExit"), &QAction::triggered, this, &QWidget::close);
}

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(trKey("File"));
    file->addAction(action("miFileBackup"));
    m_menuPhoneToPhone = file->addMenu(trKey("IDS_MI_PHONE_TO_PHONE"));
    m_menuPhoneToPhone->addAction(action("miFileI2A"));
    m_menuPhoneToPhone->addAction(action("miFileA2I"));
    m_menuPhoneToPhone->addAction(action("miFileI2I"));
    m_menuPhoneToPhone->addAction(action("miFileA2A"));
    file->addAction(action("miFileDB2I"));
    file->addAction(action("miFileDB2A"));
    file->addAction(action("miFileExport"));
    file->addAction(action("miFilePrint"));
    file->addAction(action("miNewContact"));
    QMenu *import = file->addMenu(trKey("IDS_MI_IMPORT"));
    import->addAction(action("miImport"));
    import->addAction(action("miFromiTunes"));
    file->addAction(action("miFileDelete"));
    file->addAction(action("miOpenFolder"));
    file->addSeparator();
    file->addAction(action("miExit"));

    QMenu *tools = menuBar()->addMenu(trKey("Tools"));
    tools->addAction(action("miToolsCheckForUpdate"));
    tools->addAction(action("miToolsConnectViaWiFi"));

    QMenu *help = menuBar()->addMenu(trKey("Help"));
    help->addAction(action("miHelpHelp"));
    help->addAction(action("miHelpFeedback"));
    help->addAction(action("miHelpAbout"));

    QToolBar *bar = addToolBar(trKey("Tools"));
    bar->setObjectName(QStringLiteral("toolBar"));
    bar->setMovable(false);
    bar->setIconSize(QSize(32, 32));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (const char *slot : {"miFileBackup", "miFileDB2I", "miFileDB2A", "miFromiTunes", "miImport", "miFileExport",
                             "miFilePrint", "miNewContact", "miFileDelete"})
        bar->addAction(action(slot));
}

void MainWindow::loadInitialNodes()
{
    const QString root = DataFolder::root();
    // Virtual devices: contact databases that stand for a phone, for trying the program without one.
    const QFileInfoList iosFiles = QDir(root + QStringLiteral("/ios_virtual"))
                                       .entryInfoList({QStringLiteral("*.db")}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : iosFiles) {
        auto db = QSharedPointer<LocalDb>::create(file.filePath(), PContactCombineRule(new IOSContactCombineRule));
        m_treeModel->addDeviceNode(PAndroidConnector(), db, file.fileName(), file.completeBaseName(), PlatformIos);
    }
    const QFileInfoList androidFiles = QDir(root + QStringLiteral("/android_virtual"))
                                           .entryInfoList({QStringLiteral("*.db")}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : androidFiles) {
        // A connector without a device: the virtual phone is only its file.
        const PAndroidConnector connector(new AdbConnector(PAdbUSBHandle()));
        QSharedPointer<LocalDb> db(
            new AndroidContactsDb(file.filePath(), PContactCombineRule(new LocalDbCombineRule), connector));
        m_treeModel->addDeviceNode(connector, db, file.fileName(), file.completeBaseName(), PlatformAndroid);
    }
    for (const QString &file : LocalDbFiles::list()) {
        auto db = QSharedPointer<LocalDb>::create(LocalDbFiles::pathFor(file), PContactCombineRule(new UserDbCombineRule));
        m_treeModel->addDatabaseNode(db, file);
    }
    m_treeMain->expandAll();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    const int width = event->size().width();
    const int pane = (width - 220) / 2;
    m_splitter->setSizes({220, pane, pane});
    const int columns = pane - 23;
    m_treeContacts->setColumnWidth(0, int(columns * 0.4));
    for (int c = 1; c < 4; ++c)
        m_treeContacts->setColumnWidth(c, int(columns * 0.2));
}
