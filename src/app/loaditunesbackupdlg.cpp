#include "app/loaditunesbackupdlg.h"

#include "app/itemmodelloadbk.h"
#include "app/log.h"
#include "app/messagebox.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "core/texts.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QQueue>
#include <QResizeEvent>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

struct Answer
{
    int row = -1;
    bool addFolder = false;
    QString folder;
};

QQueue<Answer> queuedAnswers;        // GUI thread only
QQueue<QString> queuedFolderChoices; // GUI thread only

} // namespace

LoadItunesBackupDlg::LoadItunesBackupDlg(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    new WinMovable(this);
    setStyleSheet(StyleSheet::load(QStringLiteral(":/res/style.css")));
    setWindowTitle(trKey("IDS_SELECT_AN_ITUNES_BACKUP_TO_LOAD"));
    resize(720, 400);

    m_lbTitle = new QLabel(trKey("IDS_SELECT_AN_ITUNES_BACKUP_TO_LOAD"), this);
    m_lbTitle->setObjectName(QStringLiteral("lbTitle"));

    m_model = new ItemModelLoadBk(this);
    m_listBackups = new QTreeView(this);
    m_listBackups->setObjectName(QStringLiteral("listBackups"));
    m_listBackups->setIndentation(0);
    m_listBackups->setRootIsDecorated(false);
    m_listBackups->setModel(m_model);
    // The three columns share the width as resizeEvent() sets it; the last one is not stretched beyond that.
    m_listBackups->header()->setStretchLastSection(false);

    m_lbAddOther = new QLabel(trKey("IDS_NO_BACKUP_LISTED_THERE_CLICK_<a href=\"#\">Here</a>_ADD"), this);
    m_lbAddOther->setObjectName(QStringLiteral("lbAddOther"));
    m_lbAddOther->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lbAddOther->setTextFormat(Qt::RichText);
    m_lbAddOther->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);

    m_btnLoad = new QPushButton(trKey("Load"), this);
    m_btnLoad->setObjectName(QStringLiteral("btnLoad"));
    m_btnCancel = new QPushButton(trKey("Cancel"), this);
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnLoad);
    buttons->addWidget(m_btnCancel);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->addWidget(m_lbTitle);
    layout->addWidget(m_listBackups);
    layout->addWidget(m_lbAddOther);
    layout->addLayout(buttons);

    connect(m_lbAddOther, &QLabel::linkActivated, this, &LoadItunesBackupDlg::btnAddOtherClicked);
    connect(m_btnLoad, &QPushButton::pressed, this, &LoadItunesBackupDlg::btnLoadClicked);
    connect(m_listBackups, &QTreeView::doubleClicked, this, &LoadItunesBackupDlg::btnLoadClicked);
    connect(m_btnCancel, &QPushButton::pressed, this, &QDialog::reject);

    for (const QString &root : BackupManifest::backupRoots())
        for (const QString &folder : BackupManifest::candidateFolders(root))
            addFolder(PBackupManifest(new BackupManifest(folder)));
    m_listBackups->setCurrentIndex(QModelIndex());
}

LoadItunesBackupDlg::~LoadItunesBackupDlg() = default;

bool LoadItunesBackupDlg::addFolder(const PBackupManifest &manifest)
{
    try {
        manifest->readInfo();
    } catch (const std::exception &e) {
        qCDebug(lcApp, "%s", e.what());
        MessageBox::error(this, trKey("load %1 error. %2")
                                    .arg(MessageBox::escaped(manifest->folder().absolutePath()),
                                         MessageBox::escaped(QString::fromUtf8(e.what()))));
        return false;
    }
    m_model->addBackup(manifest);
    return true;
}

void LoadItunesBackupDlg::btnLoadClicked()
{
    const PBackupManifest manifest = m_model->manifestAt(m_listBackups->currentIndex());
    if (!manifest) {
        MessageBox::information(this, trKey("IDS_PLEASE_SELECT_ONE_ITUNES_BACKUP"));
        return;
    }
    m_selected = manifest;
    accept();
}

QString LoadItunesBackupDlg::chooseFolder()
{
    if (!queuedFolderChoices.isEmpty())
        return queuedFolderChoices.dequeue();
    return QFileDialog::getExistingDirectory(this, QString(), QDir::homePath(), QFileDialog::ShowDirsOnly);
}

void LoadItunesBackupDlg::btnAddOtherClicked(const QString &)
{
    const QString folder = chooseFolder();
    if (folder.isEmpty())
        return;
    const PBackupManifest manifest(new BackupManifest(folder));
    // The same folder, however it was reached, is listed once.
    if (m_model->findByIdentity(manifest->identity())) {
        MessageBox::information(this, trKey("IDS_LOAD_BK_EXISTS"));
        return;
    }
    if (addFolder(manifest))
        m_listBackups->setCurrentIndex(m_model->index(m_model->rowCount() - 1, 0));
}

void LoadItunesBackupDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    const int width = event->size().width() - 80;
    m_listBackups->setColumnWidth(0, width * 40 / 100);
    m_listBackups->setColumnWidth(1, width * 25 / 100);
    m_listBackups->setColumnWidth(2, width * 35 / 100);
}

int LoadItunesBackupDlg::exec()
{
    if (queuedAnswers.isEmpty())
        return QDialog::exec();
    while (!queuedAnswers.isEmpty()) {
        const Answer answer = queuedAnswers.dequeue();
        if (answer.addFolder) {
            queuedFolderChoices.enqueue(answer.folder);
            btnAddOtherClicked(QStringLiteral("#"));
        } else if (answer.row < 0) {
            break;
        } else {
            m_listBackups->setCurrentIndex(m_model->index(answer.row, 0));
        }
        btnLoadClicked();
        if (result() == QDialog::Accepted)
            return QDialog::Accepted;
    }
    reject();
    return QDialog::Rejected;
}

void LoadItunesBackupDlg::queueAnswer(int row)
{
    queuedAnswers.enqueue({row, false, QString()});
}

void LoadItunesBackupDlg::queueAddFolderAnswer(const QString &folder)
{
    queuedAnswers.enqueue({0, true, folder});
}

void LoadItunesBackupDlg::queueFolderChoice(const QString &folder)
{
    queuedFolderChoices.enqueue(folder);
}
