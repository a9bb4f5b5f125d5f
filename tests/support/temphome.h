#pragma once

#include "core/datafolder.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>

// Points HOME at a fresh temporary folder for the life of the object, so the data folder rules run against
// an empty home; the previous HOME comes back afterwards.
class TempHome
{
public:
    TempHome() : m_old(qgetenv("HOME"))
    {
        qputenv("HOME", m_dir.path().toLocal8Bit());
        DataFolder::resetCache();
    }
    ~TempHome()
    {
        qputenv("HOME", m_old);
        DataFolder::resetCache();
    }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QByteArray m_old;
    QTemporaryDir m_dir;
};
