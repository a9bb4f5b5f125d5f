#pragma once

#include "app/itemmodelmaintree.h"
#include "temphome.h"

#include <QObject>

#include <memory>

class MainWindow;

// The set-up the window tests share. Once: English texts and no pauses meant for a real phone. For each test: a
// fresh home (with its local database folder made, unless told otherwise), and afterwards the message boxes'
// record of shown texts emptied, so no test sees another's boxes or files. A test class derives from it and adds its
// own test slots.
class WindowTestCase : public QObject
{
    Q_OBJECT

public:
    enum class LocalDbFolder { Made, Absent };
    explicit WindowTestCase(LocalDbFolder folder = LocalDbFolder::Made) : m_folder(folder) {}

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

private:
    LocalDbFolder m_folder;
    std::unique_ptr<TempHome> m_home;
};

// Selects a node of the window's device tree, as a click on it does.
void selectNode(MainWindow &w, const _ItemNode *node);

// The window's node of the Android phone or the iPhone of this id; null when the tree has none.
_DBItemNode *androidNode(MainWindow &w, const QString &id);
_DBItemNode *iosNode(MainWindow &w, const QString &udid);

// Queues the pick of the device of this id in the device dialog, which lists the platform's nodes in tree order
// without the excluded one (the source).
void queueDevicePick(MainWindow &w, ItemModelMainTree::Platform platform, const QString &id,
                     const QString &excluded = QString());
