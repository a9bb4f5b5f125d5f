#include "contacts/contactlister.h"

#include "contacts/localdb.h"
#include "sqlite_qt/sqlite_qt.h"

#include <QSet>
#include <QThread>

#include <algorithm>
#include <atomic>

using namespace Qt::StringLiterals;

namespace {

// The first piece fills the first screen of the list soon; later pieces are larger, fewer events for the view.
// A piece of 500 contacts is read in a few tens of milliseconds: the longest a writer waits for the reader.
constexpr qsizetype kFirstPiece = 100;
constexpr qsizetype kPiece = 500;

// How long one attempt of the reader waits for a writer's lock, and the pause before the next attempt.
constexpr int kBusyTimeoutMs = 50;
constexpr unsigned long kBusyPauseMs = 10;

// Names that hold no character from U+E000 up compare the same by UTF-8 bytes (the name index) as by UTF-16
// code units (the listing's order), also against any other name. So the index order is the listing's order
// except within runs of adjacent names that do hold such characters (or are empty: NULL and '' sort apart in
// the index): each such run is sorted again, ties staying in _id order. A run still open at the end of a page is
// held back until the next page shows where it ends.
bool reordered(const QString &name)
{
    if (name.isEmpty())
        return true;
    for (const QChar c : name)
        if (c.unicode() >= 0xD800)
            return true;
    return false;
}

class NameOrder
{
public:
    // The next contacts of the index order; returns those whose place in the listing is settled.
    QList<pim::Contact> take(QList<pim::Contact> page, bool end)
    {
        m_pending.append(std::move(page));
        qsizetype settled = m_pending.size();
        if (!end) {
            while (settled > 0 && reordered(m_pending.at(settled - 1).full_name))
                --settled;
        }
        QList<pim::Contact> ready = m_pending.first(settled);
        m_pending.remove(0, settled);
        for (qsizetype i = 0; i < ready.size();) {
            if (!reordered(ready.at(i).full_name)) {
                ++i;
                continue;
            }
            qsizetype j = i + 1;
            while (j < ready.size() && reordered(ready.at(j).full_name))
                ++j;
            std::sort(ready.begin() + i, ready.begin() + j, [](const pim::Contact &a, const pim::Contact &b) {
                return a.full_name != b.full_name ? a.full_name < b.full_name : a._id < b._id;
            });
            i = j;
        }
        return ready;
    }

private:
    QList<pim::Contact> m_pending;
};

} // namespace

namespace contactlisting {

// One listing of a large database, on a connection of its own. Everything it finds is posted to the lister with
// the listing's generation; it stops at the next piece once cancelled.
class ListThread : public QThread
{
public:
    ListThread(ContactLister *lister, quint64 generation, const QString &path, qint64 groupId, const QString &keyword)
        : m_lister(lister), m_generation(generation), m_path(path), m_groupId(groupId), m_keyword(keyword)
    {
    }

    void cancel() { m_cancelled = true; }

protected:
    void run() override
    {
        QString error;
        try {
            if (!list())
                return; // cancelled: nobody waits for its end
        } catch (const std::exception &e) {
            error = QString::fromUtf8(e.what());
        }
        ContactLister *lister = m_lister;
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            lister, [lister, generation, error] { lister->deliverEnd(generation, error); }, Qt::QueuedConnection);
    }

private:
    // False when cancelled.
    bool list()
    {
        LocalDb db(m_path, PContactCombineRule());
        db.openReadOnly();
        // A writer holding the file is waited out in short attempts, so that a cancelled listing ends soon.
        db.db().executeThrow(Sqlite3Sql(u"pragma busy_timeout=%1"_s.arg(kBusyTimeoutMs)));
        if (m_groupId == 0 && m_keyword.isEmpty())
            return listInPages(db);

        QList<pim::Contact> heads;
        if (!retryWhileBusy([&] { heads = db.listContactHeads(m_groupId, m_keyword); }))
            return false;
        deliverCount(int(heads.size()));
        qsizetype size = kFirstPiece;
        for (qsizetype done = 0; done < heads.size(); done += size, size = kPiece) {
            QList<pim::Contact> piece = heads.mid(done, std::min(size, heads.size() - done));
            if (!readAndDeliver(db, piece))
                return false;
        }
        return !m_cancelled;
    }

    // The whole database, in pages taken from the name index: the first contacts arrive after one short read
    // however many there are; the total is counted after them.
    bool listInPages(LocalDb &db)
    {
        NameOrder order;
        QSet<qint64> seen; // a contact renamed during the listing can come round again
        LocalDb::PageCursor cursor;
        bool counted = false;
        qsizetype size = kFirstPiece;
        for (;;) {
            QList<pim::Contact> page;
            const LocalDb::PageCursor before = cursor;
            if (!retryWhileBusy([&] {
                    cursor = before; // a read given up as busy starts again from the same place
                    page = db.listContactHeadsPage(cursor, int(size));
                }))
                return false;
            const bool end = page.size() < size;
            page.removeIf([&seen](const pim::Contact &c) {
                if (seen.contains(c._id))
                    return true;
                seen.insert(c._id);
                return false;
            });
            QList<pim::Contact> ready = order.take(std::move(page), end);
            if (!readAndDeliver(db, ready))
                return false;
            if (!counted) {
                qint64 total = 0;
                if (!retryWhileBusy([&] { total = db.countContacts(); }))
                    return false;
                deliverCount(int(total));
                counted = true;
            }
            if (end)
                break;
            size = kPiece;
        }
        return !m_cancelled;
    }

    // Reads the rows of these contacts (heads) and posts those that still have rows. False when cancelled.
    bool readAndDeliver(LocalDb &db, QList<pim::Contact> &piece)
    {
        if (piece.isEmpty())
            return !m_cancelled;
        if (!retryWhileBusy([&] { db.readContactRows(std::span(piece.data(), size_t(piece.size()))); }))
            return false;
        // A contact deleted since the order was read has no rows left, and a listing never shows those.
        piece.removeIf([](const pim::Contact &c) { return c.entities.isEmpty(); });
        if (piece.isEmpty())
            return true;
        ContactLister *lister = m_lister;
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            lister, [lister, generation, piece] { lister->deliverContacts(generation, piece); }, Qt::QueuedConnection);
        return true;
    }

    void deliverCount(int total)
    {
        ContactLister *lister = m_lister;
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            lister, [lister, generation, total] { lister->deliverCount(generation, total); }, Qt::QueuedConnection);
    }

    // Runs one read; a busy file (another connection writing) is tried again until it is free or the listing is
    // cancelled. Each read is one statement, so a retry starts it afresh. False when cancelled.
    template <typename F> bool retryWhileBusy(F &&read)
    {
        for (;;) {
            if (m_cancelled)
                return false;
            try {
                read();
                return true;
            } catch (const Sqlite3Exception &e) {
                if (!e.isBusy())
                    throw;
            }
            QThread::msleep(kBusyPauseMs);
        }
    }

    ContactLister *const m_lister;
    const quint64 m_generation;
    const QString m_path;
    const qint64 m_groupId;
    const QString m_keyword;
    std::atomic_bool m_cancelled{false};
};

} // namespace contactlisting

using contactlisting::ListThread;

ContactLister::ContactLister(QObject *parent) : QObject(parent)
{
}

ContactLister::~ContactLister()
{
    cancel();
    for (ListThread *thread : m_threads) {
        thread->cancel();
        thread->wait();
        delete thread;
    }
}

void ContactLister::start(LocalDb &db, qint64 groupId, const QString &keyword)
{
    cancel();
    const quint64 generation = m_generation;
    m_running = true;
    m_path = db.path();

    int count = 0;
    try {
        // Counted only up to the limit, so this costs the same for a database of any size.
        db.db().queryEach(
            Sqlite3Sql(u"select count(*) from (select 1 from contact limit %1)"_s.arg(readAtOnceLimit + 1)),
            [&count](const Sqlite3Row &row) { count = row.getInt(0); });
    } catch (const std::exception &e) {
        m_running = false;
        Q_EMIT finished(QString::fromUtf8(e.what()));
        return;
    }
    if (count <= readAtOnceLimit) {
        listAtOnce(db, groupId, keyword);
        return;
    }

    auto *thread = new ListThread(this, generation, db.path(), groupId, keyword);
    connect(thread, &QThread::finished, this, [this, thread] { reapThread(thread); });
    m_threads.push_back(thread);
    m_current = thread;
    thread->start();
}

void ContactLister::listAtOnce(LocalDb &db, qint64 groupId, const QString &keyword)
{
    const quint64 generation = m_generation;
    QList<pim::Contact> contacts;
    try {
        contacts = db.listContacts(groupId, keyword);
    } catch (const std::exception &e) {
        m_running = false;
        Q_EMIT finished(QString::fromUtf8(e.what()));
        return;
    }
    // A receiver may start another listing from its slot (a message box runs an event loop): stop reporting
    // this one then.
    Q_EMIT counted(int(contacts.size()));
    if (generation == m_generation && !contacts.isEmpty())
        Q_EMIT contactsListed(contacts);
    if (generation == m_generation) {
        m_running = false;
        Q_EMIT finished(QString());
    }
}

void ContactLister::cancel()
{
    ++m_generation;
    m_running = false;
    if (m_current) {
        m_current->cancel();
        m_current = nullptr;
    }
}

void ContactLister::deliverCount(quint64 generation, int total)
{
    if (generation == m_generation)
        Q_EMIT counted(total);
}

void ContactLister::deliverContacts(quint64 generation, const QList<pim::Contact> &contacts)
{
    if (generation == m_generation)
        Q_EMIT contactsListed(contacts);
}

void ContactLister::deliverEnd(quint64 generation, const QString &error)
{
    if (generation != m_generation)
        return;
    m_running = false;
    m_current = nullptr;
    Q_EMIT finished(error);
}

void ContactLister::reapThread(ListThread *thread)
{
    const auto it = std::find(m_threads.begin(), m_threads.end(), thread);
    if (it == m_threads.end())
        return;
    m_threads.erase(it);
    if (m_current == thread)
        m_current = nullptr;
    thread->wait();
    delete thread;
}
