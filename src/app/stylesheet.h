#pragma once

#include <QString>

namespace StyleSheet {
// The shared style sheet, read from the built-in resources on first use and cached for the process.
// Accepts ":res/style.css" and ":/res/style.css"; both name the same resource.
QString load(const QString &resourcePath = QStringLiteral(":/res/style.css"));
} // namespace StyleSheet
