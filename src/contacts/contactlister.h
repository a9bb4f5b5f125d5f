#pragma once

#include "contacts/pim.h"

#include <QList>
#include <QObject>
#include <QString>

#include <vector>

class LocalDb;

namespace contactlisting {
class ListThread;
}

// Lists the contacts of a database for a view that must stay responsive: the same contacts in the same order as
// LocalDb::listContacts, handed over in pieces. A database of at most readAtOnceLimit contacts is read at once
// through the caller's own connection and reported before start() returns. A larger one is read by a worker
// thread with a read-only connection of its own, piece by piece, each piece in a short read transaction, so a
// writer on another connection waits at most for one piece, and the reader waits out a writer instead of failing.
// A whole database is read in pages along the name index, so its first contacts come at once however large it
// is; a group or a search first reads the order of its matches, then their contacts in that order. Its signals
// arrive through the event loop of the lister's thread.
//
// Only the latest listing reports: starting another one or cancelling drops what an earlier one still delivers.
class ContactLister : public QObject
{
    Q_OBJECT
public:
    static constexpr int readAtOnceLimit = 1000;

    explicit ContactLister(QObject *parent = nullptr);
    // Drops the listing and waits for every worker to end.
    ~ContactLister() override;

    // Lists the contacts of the database, restricted to a group (0: all) and a keyword as listContacts is.
    void start(LocalDb &db, qint64 groupId, const QString &keyword);
    // Drops the listing; its worker ends on its own.
    void cancel();
    // A listing has started and its end has not been reported yet.
    bool isRunning() const { return m_running; }
    // The database file of the latest listing.
    const QString &path() const { return m_path; }

Q_SIGNALS:
    // The number of contacts the listing holds: before the first of them for a group or a search, after the
    // first piece for a whole database.
    void counted(int total);
    // The next contacts of the listing, in order.
    void contactsListed(const QList<pim::Contact> &contacts);
    // The end of the listing: complete when error is empty; otherwise the text of the storage error.
    void finished(const QString &error);

private:
    friend class contactlisting::ListThread;
    void deliverCount(quint64 generation, int total);
    void deliverContacts(quint64 generation, const QList<pim::Contact> &contacts);
    void deliverEnd(quint64 generation, const QString &error);
    void reapThread(contactlisting::ListThread *thread);
    void listAtOnce(LocalDb &db, qint64 groupId, const QString &keyword);

    quint64 m_generation = 0;
    bool m_running = false;
    QString m_path;
    contactlisting::ListThread *m_current = nullptr;
    std::vector<contactlisting::ListThread *> m_threads;
};
