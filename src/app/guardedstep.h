#pragma once

#include "app/messagebox.h"

#include <QString>

#include <exception>

class QWidget;

// Runs one storage step of the window (a database read or write); a failure shows the error box instead of
// reaching the event loop. False when the step threw.
template <typename F> bool guardedStep(QWidget *parent, F &&step)
{
    try {
        step();
        return true;
    } catch (const std::exception &e) {
        MessageBox::error(parent, MessageBox::escaped(QString::fromUtf8(e.what())));
        return false;
    }
}
