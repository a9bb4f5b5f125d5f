#include "contacts/workertransaction.h"

#include "contacts/localdb.h"
#include "contacts/log.h"

#include <QtGlobal>

void WorkerTransaction::begin()
{
    m_db->beginTransaction();
    m_open = true;
}

void WorkerTransaction::commit()
{
    m_db->endTransaction(true);
    m_open = false;
}

void WorkerTransaction::rollback() noexcept
{
    if (!m_open)
        return;
    m_open = false;
    try {
        m_db->endTransaction(false);
    } catch (const std::exception &e) {
        qCWarning(lcContacts, "%s, rollback failed: %s", m_worker, e.what());
    }
}
