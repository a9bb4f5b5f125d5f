#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace Desktop {
// Shows a folder in the desktop's file manager.
bool openFolder(const QString &path);
// Opens a file with its associated program, or a web address with the browser.
bool open(const QString &pathOrUrl);
// Headless runs (tests): every folder, file and address goes to this function instead of the desktop; its
// answer is whether it was opened. An empty function restores the desktop.
void setOpener(std::function<bool(const QUrl &)> opener);
} // namespace Desktop
