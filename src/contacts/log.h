#pragma once

// Diagnostic output of the contact model and local databases: lcContacts for failed rollbacks and the like,
// lcContactEdit for the changes an edit makes (off unless enabled with QT_LOGGING_RULES).

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcContacts)
Q_DECLARE_LOGGING_CATEGORY(lcContactEdit)
