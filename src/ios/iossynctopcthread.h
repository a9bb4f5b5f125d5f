#pragma once

#include "core/progress.h"

#include <QString>
#include <QThread>

class LocalDb;

// Reads every contact of an iOS device into the device's freshly made cache database, in one transaction that is
// rolled back on failure. A record that arrives before the Contact record it names is kept until that Contact
// arrives; records whose Contact never comes are not stored.
class IOSSyncToPCThread : public QThread
{
    Q_OBJECT
public:
    IOSSyncToPCThread(const QString &udid, LocalDb *cache, ProgressTarget *progress, QObject *parent = nullptr);
    ~IOSSyncToPCThread() override;

    // After the run: contacts stored, and rows dropped because their Contact record never arrived.
    int contactCount() const { return m_contacts; }
    int orphanRowCount() const { return m_orphanRows; }

protected:
    void run() override;

private:
    const QString m_udid;
    LocalDb *m_cache;
    ProgressReporter m_progress;
    int m_contacts = 0;
    int m_orphanRows = 0;
};
