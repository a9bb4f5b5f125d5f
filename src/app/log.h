#pragma once

// Diagnostic output of the window: device arrivals and clean-up that failed without troubling the user.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcApp)
