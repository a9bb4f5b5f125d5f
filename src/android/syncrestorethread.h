#pragma once

#include "contacts/pim.h"
#include "core/progress.h"

#include <QHash>
#include <QThread>

class AndroidContactsDb;
class QTcpSocket;

// Loads every contact of an Android phone into its freshly rebuilt cache database: prepares the phone through
// the cache's connector, starts a backup session, and stores each received row as it arrives, in one
// transaction. Reports only through the progress target; reads its cancel flag before every line.
class SyncRestoreThread : public QThread
{
    Q_OBJECT
public:
    SyncRestoreThread(AndroidContactsDb *cache, int port, ProgressTarget *progress, QObject *parent = nullptr);
    ~SyncRestoreThread() override;

    // The name the phone announced ("$device:"); read after the thread ended.
    QString deviceName() const { return m_deviceName; }
    // Contacts received (name rows), and rows dropped because their contact's name row never came.
    int receivedCount() const { return m_receivedCount; }
    int orphanRows() const { return m_orphanRows; }

protected:
    void run() override;

private:
    enum class Step { Continue, Done };
    Step handleLine(QTcpSocket &socket, const QString &line);
    void receiveBatch(QTcpSocket &socket);
    void storeRow(const QString &line);
    bool cancelled() const;

    AndroidContactsDb *m_cache;
    const int m_port;
    ProgressReporter m_progress;
    int m_totalCount = 0;
    int m_receivedCount = 0;
    int m_orphanRows = 0;
    int m_reportedPercent = -1;
    QString m_deviceName;
    QHash<qint64, qint64> m_contactIds; // the phone's contact id → local contact _id, for this session
    // Contacts whose name row holds no person's name, by local _id, with that row: a company contact is named
    // when its organization row comes.
    QHash<qint64, QPair<pim::Contact, pim::DataRow>> m_unnamed;
};
