#pragma once

class QWidget;

// The Help and Tools menus' pages. Each page opens in the desktop's browser or mail program; when none opens, a
// box over `parent` says where to go instead.
namespace HelpCommands {
void checkForUpdate(QWidget *parent);
void showHelp(QWidget *parent);
void writeFeedback(QWidget *parent);
void showAbout(QWidget *parent);
} // namespace HelpCommands
