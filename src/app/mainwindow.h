#pragma once

#include <QMainWindow>

// The program's main window. For now it only sets itself up and prepares the data folder; the device tree,
// contact list and operations come with the window's own work.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
};
