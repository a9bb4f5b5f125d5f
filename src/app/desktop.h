#pragma once

#include <QString>

namespace Desktop {
// Shows a folder in the desktop's file manager.
bool openFolder(const QString &path);
// Opens a file with its associated program, or a web address with the browser.
bool open(const QString &pathOrUrl);
} // namespace Desktop
