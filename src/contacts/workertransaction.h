#pragma once

class LocalDb;

// The one transaction a worker wraps its writes in. rollback() undoes it unless commit() went through, and so does
// the destructor, so every way out of a worker (error, cancel, exception) leaves the database as it was. A commit
// that fails stays open for the rollback that follows; a failing rollback is logged, never thrown.
class WorkerTransaction
{
public:
    WorkerTransaction(LocalDb *db, const char *worker) : m_db(db), m_worker(worker) {}
    ~WorkerTransaction() { rollback(); }
    WorkerTransaction(const WorkerTransaction &) = delete;
    WorkerTransaction &operator=(const WorkerTransaction &) = delete;

    void begin();
    void commit();
    void rollback() noexcept;

private:
    LocalDb *m_db;
    const char *m_worker;
    bool m_open = false;
};
