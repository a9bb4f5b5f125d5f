#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

// Lets a frameless window be moved by dragging anywhere on it: filters the widget's mouse events and moves the
// widget by the distance dragged with the left button. Events are always passed on.
class WinMovable : public QObject
{
    Q_OBJECT
public:
    explicit WinMovable(QWidget *widget);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_widget;
    QPoint m_pressPos;
    bool m_leftDown = false;
};
