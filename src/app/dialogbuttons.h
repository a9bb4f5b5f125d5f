#pragma once

#include <QString>

#include <initializer_list>

class QDialog;
class QPushButton;
class QWidget;

// A small dialog's layout: its widgets stacked from the top, and a row at the bottom right with the default button
// ("btnOK", labelled okText) and "btnCancel".
struct DialogButtons
{
    QPushButton *ok;
    QPushButton *cancel;
};
DialogButtons stackWithButtons(QDialog *dialog, std::initializer_list<QWidget *> widgets, const QString &okText);
