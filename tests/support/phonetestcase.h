#pragma once

#include "temphome.h"

#include <QObject>

// The set-up the phone tests share, once for the whole class: English texts, a fresh home for the data folder (the
// caches of the phones), and no pauses meant for a real phone. A test class derives from it and adds its own slots.
class PhoneTestCase : public QObject
{
    Q_OBJECT

protected:
    const TempHome &home() const { return m_home; }

private Q_SLOTS:
    void initTestCase();

private:
    TempHome m_home;
};
