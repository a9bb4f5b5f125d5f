#pragma once

#include "contacts/pim.h"
#include "core/progress.h"

#include <QList>
#include <QThread>

class AndroidContactsDb;
class QTcpSocket;

// Sends to an Android phone what the caller already applied to the phone's cache database, in one restore
// session: the edits of one contact, the deletion of contacts, or contacts' group memberships. Opens no
// transaction; the ids the phone gives to new rows are stored in the cache.
class AndroidSendChangesThread : public QThread
{
    Q_OBJECT
public:
    enum Mode { SendChanges = 0, DeleteContacts = 1, SetGroups = 2 };

    AndroidSendChangesThread(ProgressTarget *progress, AndroidContactsDb *cache, int port, QObject *parent = nullptr);
    ~AndroidSendChangesThread() override;

    // Mode 0: the stored contact (with its _id, src_id and rows) and its change records, whose rows carry their
    // stored _id and src_id.
    void setChanges(const pim::Contact &contact, const QList<pim::ChangeRecord> &changes);
    // Mode 1: contacts already deleted from the cache, as they were (their name rows name them on the phone).
    void setContactsToDelete(const QList<pim::Contact> &contacts);
    // Mode 2: contacts as they now are in the cache; no group row means no group.
    void setContactsToRegroup(const QList<pim::Contact> &contacts);

    Mode mode() const { return m_mode; }

protected:
    void run() override;

private:
    void sendChanges(QTcpSocket &socket);
    void deleteContacts(QTcpSocket &socket);
    void setGroups(QTcpSocket &socket);
    bool cancelled() const;

    Mode m_mode = SendChanges;
    AndroidContactsDb *m_cache;
    pim::Contact m_contact;
    QList<pim::ChangeRecord> m_changes;
    QList<pim::Contact> m_contacts;
    ProgressReporter m_progress;
    const int m_port;
};
