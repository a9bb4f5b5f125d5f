#include "windowtestcase.h"

#include "android/androidlink.h"
#include "app/messagebox.h"
#include "core/datafolder.h"
#include "core/texts.h"

#include <QCoreApplication>
#include <QDir>

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
