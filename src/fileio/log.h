#pragma once

// Diagnostic output of the contact file readers and writers: what a file held that was dropped or not read.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcFileio)
