#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// The program's modal message boxes: frameless, draggable, styled, rich text, titled with the product name.
namespace MessageBox {

enum Button { Yes = 0x1, No = 0x2, Ok = 0x4, Cancel = 0x8, Abort = 0x10, Retry = 0x20, Undo = 0x40 };
enum class Icon { Information, Warning, Question, Critical };

void information(QWidget *parent, const QString &text);
void warning(QWidget *parent, const QString &text);
// True when "Yes" was pressed. "No" is the default button: Enter alone never confirms.
bool question(QWidget *parent, const QString &text);
// The same as question(); kept for callers that name the default explicitly.
bool questionDefaultNo(QWidget *parent, const QString &text);
// "An Error Occurred." box with the product header and the support sentence; the text then goes to the error
// report service.
void error(QWidget *parent, const QString &text);

// The general form: buttons is an OR of Button values, shown in the order Yes, No, OK, Cancel, Abort, Retry;
// defaultButton (one of them) is the one Enter presses, else the first. The box opens centred over its parent's
// window, inside the screen, and wraps its text instead of growing past the screen.
Button show(QWidget *parent, Icon icon, const QString &text, int buttons, bool withHeader = false,
            Button defaultButton = Button(0));
// As show(), with a plain-text list the user can expand under the text ("Show Details...").
Button showWithDetails(QWidget *parent, Icon icon, const QString &text, const QString &details, int buttons,
                       Button defaultButton);
// As show(), for a box that waits on something outside the program (a phone asking its user): it also closes by
// itself, answering `answer`, as soon as settled() returns true (asked every 200 ms on the GUI thread).
Button showUntil(QWidget *parent, Icon icon, const QString &text, int buttons, bool withHeader,
                 const std::function<bool()> &settled, Button answer);

// The full text the error box shows for a given message.
QString errorText(const QString &text);

// A plain text (an exception's message, a worker's error) as a box shows it: markup escaped, line breaks kept.
// Such texts quote what a phone, a file or a contact said and must never be read as markup.
QString escaped(const QString &plain);

// Headless runs (tests, scripted window flows): when answers are queued, a box is not shown; the next queued
// answer is returned and the box's text is recorded instead.
void queueAnswer(Button answer);
struct ShownBox
{
    QString text;
    Button defaultButton;
    QString details; // the expandable list, when the box has one
};
QList<ShownBox> takeShownBoxes();
// The texts of takeShownBoxes().
QStringList takeShownTexts();

} // namespace MessageBox
