#include "app/mainwindow.h"

#include "android/adbconnector.h"
#include "android/androidcontactsdb.h"
#include "app/commandmenus.h"
#include "app/contactlistcontroller.h"
#include "app/deletecontroller.h"
#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/messagebox.h"
#include "app/mytreeview.h"
#include "app/stylesheet.h"
#include "app/transfercontroller.h"
#include "app/undocontroller.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "ios/ioscontactcombinerule.h"
#include "widgets/contactdisplayer.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(Product::title());
    setWindowIcon(QIcon(QStringLiteral(":/res/app.png")));
    setStyleSheet(StyleSheet::load());

    m_treeModel = new ItemModelMainTree(this);
    m_contactsModel = new ItemModelContacts(this);
    buildLayout();
    buildControllers();
    loadInitialNodes();
    updateActions();
    resize(1100, 700);
    restoreWindowSize();
    m_list->selectNode(m_treeModel->databasesRoot());
    // What to do first, until the user does something else with the window.
    statusBar()->showMessage(trKey("To begin, connect a phone, or import a contact file or an iPhone backup."));
    setUpAndroidLink();
    setUpIosLink();
}

MainWindow::~MainWindow() = default;

bool MainWindow::deferWhileDialogOpen(const std::function<void()> &arrival)
{
    if (!QApplication::activeModalWidget())
        return false;
    if (!m_arrivalTimer) {
        m_arrivalTimer = new QTimer(this);
        m_arrivalTimer->setInterval(300);
        connect(m_arrivalTimer, &QTimer::timeout, this, [this] {
            if (QApplication::activeModalWidget())
                return;
            m_arrivalTimer->stop();
            // In arrival order; one that opens a dialog of its own makes the later ones wait again.
            const QList<std::function<void()>> arrivals = std::exchange(m_deferredArrivals, {});
            for (const std::function<void()> &run : arrivals)
                run();
        });
    }
    m_deferredArrivals.append(arrival);
    m_arrivalTimer->start();
    return true;
}

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
    return m_commands->action(slotName);
}

void MainWindow::buildLayout()
{
    m_treeMain = new MyTreeView;
    m_treeMain->setObjectName(QStringLiteral("treeMain"));
    m_treeMain->setModel(m_treeModel);
    m_treeMain->setHeaderHidden(true);
    m_treeMain->setSelectionMode(QAbstractItemView::SingleSelection);
    m_treeMain->setIconSize(QSize(18, 18));

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
    m_txtKeyword->setPlaceholderText(trKey("Search names, numbers, e-mails… (Ctrl+F)"));

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
    // Rows are dragged onto a device or database of the tree to copy them there.
    m_treeContacts->setDragEnabled(true);
    m_treeContacts->setDragDropMode(QAbstractItemView::DragOnly);
    m_treeContacts->setDefaultDropAction(Qt::CopyAction);
    // Enter opens the current contact, as a double click does.
    m_treeContacts->installEventFilter(this);
    // A click on a column header sorts by it; the columns share the list's width whatever its size.
    QHeaderView *header = m_treeContacts->header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setStretchLastSection(true);
    connect(header, &QHeaderView::sortIndicatorChanged, m_contactsModel,
            [this](int column, Qt::SortOrder order) { m_contactsModel->sort(column, order); });
    m_treeContacts->viewport()->installEventFilter(this);

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

void MainWindow::buildControllers()
{
    m_list = new ContactListController({m_treeMain, m_treeModel, m_treeContacts, m_contactsModel, m_wdContactInfo,
                                        m_txtKeyword, m_lbTotal, m_lbDisplayKeyword},
                                       kSearchDelayMs, this);
    m_commands = new CommandMenus(this, m_list, m_treeModel, m_treeMain);
    m_commands->build(m_txtKeyword);
    DeviceWrites *devices = this;
    m_undo = new UndoController(this, m_list, devices);
    m_transfers = new TransferController(this, m_treeModel, m_list, m_undo, devices);
    m_deletes = new DeleteController(this, m_treeModel, m_list, m_undo, devices);
    connect(m_list, &ContactListController::selectionChanged, m_commands, &CommandMenus::updateActions);
    connect(m_deletes, &DeleteController::treeChanged, m_commands, &CommandMenus::updateActions);

    connect(m_treeMain, &MyTreeView::onSelectionChanged, this, &MainWindow::onMainTreeItemSelected);
    connect(m_treeMain, &QTreeView::clicked, this, &MainWindow::onMainTreeItemClicked);
    connect(m_treeMain, &MyTreeView::createContextMenu, this, &MainWindow::treeCreateContextMenu);
    connect(m_treeMain, &MyTreeView::contactsDropped, this, [this](const QModelIndex &index, const QList<qint64> &ids) {
        QList<pim::Contact> contacts;
        for (const pim::Contact &c : m_contactsModel->contacts())
            if (ids.contains(c._id))
                contacts.append(c);
        // After the drag has ended: its own event loop is no place for the question and the transfer.
        QMetaObject::invokeMethod(
            this,
            [this, target = QPersistentModelIndex(index), contacts] {
                if (_DBItemNode *node = m_treeModel->dbNodeOf(target); node && !contacts.isEmpty())
                    dropContacts(node, contacts);
            },
            Qt::QueuedConnection);
    });
    connect(m_btnSearch, &QPushButton::pressed, this, &MainWindow::onBtnSearchPressed);
    connect(m_txtKeyword, &QLineEdit::returnPressed, this, &MainWindow::onBtnSearchPressed);
    connect(m_treeContacts->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::onContactsTreeItemSelected);
    connect(m_treeContacts, &QTreeView::doubleClicked, this, &MainWindow::onContactsTreeItemDoubleClicked);
    connect(m_treeContacts, &QWidget::customContextMenuRequested, this, &MainWindow::contactCreateContextMenu);
}

void MainWindow::loadInitialNodes()
{
    const QString root = DataFolder::root();
    // Virtual devices: contact databases that stand for a phone, for trying the program without one.
    const QFileInfoList iosFiles =
        QDir(root + QStringLiteral("/ios_virtual")).entryInfoList({QStringLiteral("*.db")}, QDir::Files, QDir::Name);
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
        auto db =
            QSharedPointer<LocalDb>::create(LocalDbFiles::pathFor(file), PContactCombineRule(new UserDbCombineRule));
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
    updateColumnWidths();
}

void MainWindow::updateColumnWidths()
{
    // Name 0.4 of the list's width, phone and e-mail 0.2 each, the address the rest. The address is given its
    // width too: a stretched last section never gets narrower than the width it had before it was stretched
    // (100 pixels by default), which in a narrow pane made the columns wider than the list and showed a
    // horizontal scroll bar for nothing.
    const int columns = m_treeContacts->viewport()->width();
    const int name = int(columns * 0.4);
    const int other = int(columns * 0.2);
    m_treeContacts->setColumnWidth(0, name);
    for (int c = 1; c < 3; ++c)
        m_treeContacts->setColumnWidth(c, other);
    m_treeContacts->setColumnWidth(3, std::max(columns - name - 2 * other, 0));
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_treeContacts->viewport() && event->type() == QEvent::Resize) {
        updateColumnWidths(); // also when the splitter between the panes moves
    } else if (watched == m_treeContacts && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            const QModelIndex current = m_treeContacts->currentIndex();
            if (current.isValid() && m_list->contactsSelected()) {
                onContactsTreeItemDoubleClicked(current);
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
