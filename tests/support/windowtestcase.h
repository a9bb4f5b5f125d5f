#pragma once

#include "temphome.h"

#include <QObject>

#include <memory>

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
