#pragma once

// Diagnostic output of the Android side: lcAndroid for the connectors and process watchers, lcAndroidSync for
// the line protocol's traffic ("Android Sync, …"), which is off unless enabled with QT_LOGGING_RULES.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcAndroid)
Q_DECLARE_LOGGING_CATEGORY(lcAndroidSync)
