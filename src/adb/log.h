#pragma once

// Diagnostic output of the adb client, server and USB transport ("AdbPoll: …"); user-facing errors travel as
// exceptions and return values instead.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcAdb)
