#pragma once

// Diagnostic output of the backup readers: values and photos of a backup that were not imported, and why.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcItunes)
