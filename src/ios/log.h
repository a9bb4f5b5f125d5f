#pragma once

// Diagnostic output of the iPhone side: lcIos for the device connection, lcIosSync for the record traffic
// ("IOS Sync, …", off unless enabled with QT_LOGGING_RULES) and lcMobilesync for the mobilesync messages
// themselves (warnings only by default).

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcIos)
Q_DECLARE_LOGGING_CATEGORY(lcIosSync)
Q_DECLARE_LOGGING_CATEGORY(lcMobilesync)
