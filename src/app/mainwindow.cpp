#include "mainwindow.h"

#include "datafolder.h"
#include "stylesheet.h"
#include "texts.h"

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(Product::title());
    setStyleSheet(StyleSheet::load());
    resize(1024, 680);
    // The local databases live in the data folder; make sure it exists before anything lists it.
    DataFolder::localDbDir();
}
