#include "windowtestcase.h"

#include "android/androidlink.h"
#include "app/datasourceselform.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "core/datafolder.h"
#include "core/texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QTreeView>

void WindowTestCase::initTestCase()
{
    installEnglishTranslation(*QCoreApplication::instance());
    AndroidLink::setPauseOverrideMs(0);
}

void WindowTestCase::init()
{
    m_home = std::make_unique<TempHome>();
    if (m_folder == LocalDbFolder::Made)
        QDir().mkpath(DataFolder::localDbDir());
}

void WindowTestCase::cleanup()
{
    MessageBox::takeShownTexts();
    m_home.reset();
}

void selectNode(MainWindow &w, const _ItemNode *node)
{
    w.findChild<QTreeView *>(QStringLiteral("treeMain"))
        ->selectionModel()
        ->select(w.treeModel()->indexOfNode(node), QItemSelectionModel::ClearAndSelect);
}

_DBItemNode *androidNode(MainWindow &w, const QString &id)
{
    return w.treeModel()->findDeviceNode(id, ItemModelMainTree::PlatformAndroid);
}

_DBItemNode *iosNode(MainWindow &w, const QString &udid)
{
    return w.treeModel()->findDeviceNode(udid, ItemModelMainTree::PlatformIos);
}

void queueDevicePick(MainWindow &w, ItemModelMainTree::Platform platform, const QString &id, const QString &excluded)
{
    int row = 0;
    for (_DBItemNode *node : w.treeModel()->deviceNodes(platform)) {
        if (node->id == excluded)
            continue;
        if (node->id == id)
            break;
        ++row;
    }
    DataSourceSelForm::queueAnswer(row);
}
