#pragma once

class QApplication;

namespace Startup {
// The SQLite component version this program is built for.
inline constexpr int kRequiredSqliteVersion = 8;

// Runs the program in the window: translation, component check, main window, event loop. Returns the exit code.
int run(QApplication &app);
} // namespace Startup
