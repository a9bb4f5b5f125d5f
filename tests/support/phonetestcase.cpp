#include "phonetestcase.h"

#include "android/androidlink.h"
#include "core/texts.h"

#include <QCoreApplication>

void PhoneTestCase::initTestCase()
{
    installEnglishTranslation(*QCoreApplication::instance());
    AndroidLink::setPauseOverrideMs(0);
}
