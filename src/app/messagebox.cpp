#include "app/messagebox.h"

#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "core/datafolder.h"
#include "core/texts.h"

#include <QMessageBox>
#include <QMutex>
#include <QPushButton>
#include <QQueue>
#include <QScreen>
#include <QTimer>

namespace MessageBox {

namespace {

constexpr char kSupportAddress[] = "support@tallowbrook.com";

QMutex testMutex;
QQueue<Button> queuedAnswers;
QList<ShownBox> shownBoxes;

struct ButtonText
{
    Button button;
    const char *key;
};
constexpr ButtonText kButtonOrder[] = {{Yes, "Yes"},
                                       {No, "No"},
                                       {Ok, "OK"},
                                       {Cancel, "Cancel"},
                                       {Abort, "Abort"},
                                       {Retry, "Retry"},
                                       {Undo, "Undo last change on this phone"}};

QString header()
{
    return QStringLiteral("<nobr><b>") + Product::titleWithVersion() + QStringLiteral("</b></nobr><br/><br/>");
}

// The answer for a box closed without pressing a button (Escape, window close).
Button escapeAnswer(int buttons)
{
    for (Button b : {Cancel, No, Ok, Abort, Retry, Yes})
        if (buttons & b)
            return b;
    return Ok;
}

// A message box that places itself over its parent's window once its size is known (QMessageBox sizes itself
// when shown), kept inside the screen: a frameless box is not placed by the window manager, and a box at the
// screen's corner is easily missed.
class CentredBox : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event);
        QWidget *over = parentWidget() ? parentWidget()->window() : nullptr;
        QScreen *screen = over ? over->screen() : this->screen();
        const QRect area = screen ? screen->availableGeometry() : QRect();
        QRect placed(QPoint(0, 0), size());
        placed.moveCenter(over && over->isVisible() ? over->frameGeometry().center() : area.center());
        if (area.isValid()) {
            placed.moveRight(std::min(placed.right(), area.right()));
            placed.moveBottom(std::min(placed.bottom(), area.bottom()));
            placed.moveLeft(std::max(placed.left(), area.left()));
            placed.moveTop(std::max(placed.top(), area.top()));
        }
        move(placed.topLeft());
    }
};

void reportError(const QString &text)
{
    // What the user saw goes to the error log in the data folder, where support can ask for it.
    ErrorLog::append(text);
}

} // namespace

static Button showBox(QWidget *parent, Icon icon, const QString &text, const QString &details, int buttons,
                      bool withHeader, const std::function<bool()> &settled, Button defaultButton);

Button show(QWidget *parent, Icon icon, const QString &text, int buttons, bool withHeader, Button defaultButton)
{
    return showUntil(parent, icon, text, buttons, withHeader, {}, defaultButton);
}

Button showWithDetails(QWidget *parent, Icon icon, const QString &text, const QString &details, int buttons,
                       Button defaultButton)
{
    return showBox(parent, icon, text, details, buttons, false, {}, defaultButton);
}

Button showUntil(QWidget *parent, Icon icon, const QString &text, int buttons, bool withHeader,
                 const std::function<bool()> &settled, Button defaultButton)
{
    return showBox(parent, icon, text, QString(), buttons, withHeader, settled, defaultButton);
}

static Button showBox(QWidget *parent, Icon icon, const QString &text, const QString &details, int buttons,
                      bool withHeader, const std::function<bool()> &settled, Button defaultButton)
{
    const QString fullText = withHeader ? header() + text : text;
    if (!(buttons & defaultButton)) {
        defaultButton = Ok;
        for (const ButtonText &bt : kButtonOrder)
            if (buttons & bt.button) {
                defaultButton = bt.button;
                break;
            }
    }
    {
        QMutexLocker lock(&testMutex);
        if (!queuedAnswers.isEmpty()) {
            shownBoxes.append({fullText, defaultButton, details});
            return queuedAnswers.dequeue();
        }
    }

    CentredBox box(parent);
    box.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    new WinMovable(&box);
    box.setStyleSheet(StyleSheet::load());
    box.setWindowTitle(Product::title());
    box.setTextFormat(Qt::RichText);
    box.setText(fullText);
    // The plain-text list under "Show Details...", in a scrolling field of its own.
    if (!details.isEmpty())
        box.setDetailedText(details);
    switch (icon) {
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    // One role for every button keeps them in the fixed order instead of the platform's order.
    QList<QPair<QAbstractButton *, Button>> added;
    for (const ButtonText &bt : kButtonOrder) {
        if (buttons & bt.button)
            added.append({box.addButton(trKey(bt.key), QMessageBox::ActionRole), bt.button});
    }
    const Button onEscape = escapeAnswer(buttons);
    for (const auto &pair : std::as_const(added)) {
        if (pair.second == onEscape)
            box.setEscapeButton(pair.first);
        if (pair.second == defaultButton)
            box.setDefaultButton(qobject_cast<QPushButton *>(pair.first));
    }
    Button settledAnswer = Button(0);
    QTimer watch;
    if (settled) {
        QObject::connect(&watch, &QTimer::timeout, &box, [&] {
            if (!settled())
                return;
            settledAnswer = defaultButton;
            box.done(0);
        });
        watch.start(200);
    }
    box.exec();
    if (settledAnswer)
        return settledAnswer;
    for (const auto &pair : std::as_const(added))
        if (box.clickedButton() == pair.first)
            return pair.second;
    return onEscape;
}

void information(QWidget *parent, const QString &text)
{
    show(parent, Icon::Information, text, Ok);
}

void warning(QWidget *parent, const QString &text)
{
    show(parent, Icon::Warning, text, Ok);
}

bool question(QWidget *parent, const QString &text)
{
    return show(parent, Icon::Question, text, Yes | No, false, No) == Yes;
}

bool questionDefaultNo(QWidget *parent, const QString &text)
{
    return question(parent, text);
}

QString errorText(const QString &text)
{
    return trKey("An Error Occurred. <br/><br/>%1<br/><br/>").arg(text) +
           trKey("If this keeps happening, please write to us at %1.").arg(QLatin1String(kSupportAddress));
}

QString escaped(const QString &plain)
{
    return plain.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br/>"));
}

void error(QWidget *parent, const QString &text)
{
    show(parent, Icon::Critical, errorText(text), Ok, true);
    reportError(text);
}

void queueAnswer(Button answer)
{
    QMutexLocker lock(&testMutex);
    queuedAnswers.enqueue(answer);
}

QList<ShownBox> takeShownBoxes()
{
    QMutexLocker lock(&testMutex);
    return std::exchange(shownBoxes, {});
}

QStringList takeShownTexts()
{
    QStringList texts;
    for (const ShownBox &box : takeShownBoxes())
        texts.append(box.text);
    return texts;
}

} // namespace MessageBox
