#include "app/winmovable.h"

#include <QMouseEvent>
#include <QWidget>

WinMovable::WinMovable(QWidget *widget) : QObject(widget), m_widget(widget)
{
    widget->installEventFilter(this);
}

bool WinMovable::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_widget) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto *mouse = static_cast<QMouseEvent *>(event);
            m_pressPos = mouse->position().toPoint();
            m_leftDown = mouse->button() == Qt::LeftButton;
            break;
        }
        case QEvent::MouseMove: {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (!m_pressPos.isNull() && m_leftDown)
                m_widget->move(m_widget->pos() + (mouse->position().toPoint() - m_pressPos));
            break;
        }
        case QEvent::MouseButtonRelease:
            m_leftDown = false;
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
