#include "simadbsocket.h"

#include "simwire.h"

#include <chrono>

using namespace Qt::StringLiterals;
using namespace simwire;

namespace {
template <typename Pred>
bool waitFor(std::condition_variable &cond, std::unique_lock<std::mutex> &lock, int timeoutMs, Pred pred)
{
    if (timeoutMs < 0) {
        cond.wait(lock, pred);
        return true;
    }
    return cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
}
} // namespace

SimAdbSocket::SimAdbSocket(std::weak_ptr<SimAdbLink> link, quint32 localId, quint32 hostId, bool delayedAck,
                           quint32 hostWindow)
    : m_link(std::move(link)), m_localId(localId), m_hostId(hostId), m_delayedAck(delayedAck),
      // The host's OPEN counts as its first OKAY: the service may write at once.
      m_sendBudget(delayedAck ? qint64(hostWindow) : 1)
{
}

bool SimAdbSocket::canSend() const
{
    return m_sendBudget > 0 || m_hostClosed || m_closed || m_failed;
}

bool SimAdbSocket::handleOkay(const QByteArray &payload, QString *error)
{
    std::lock_guard lock(m_mutex);
    if (m_delayedAck && payload.size() == 4) {
        // The acked byte count (it may even be negative, see handle_packet's A_OKAY).
        m_sendBudget += qint32(get32(payload.constData()));
    } else if (!payload.isEmpty()) {
        *error = u"OKAY with a %1-byte payload on stream %2"_s.arg(payload.size()).arg(m_localId);
        return false;
    } else if (!m_delayedAck) {
        m_sendBudget = 1;
    }
    m_cond.notify_all();
    return true;
}

bool SimAdbSocket::handleWrite(const QByteArray &data, QString *error)
{
    std::lock_guard lock(m_mutex);
    if (m_closed || m_failed)
        return true;
    // adbd would queue a second WRTE; the simulator refuses it, so a host that ignores flow control shows up.
    if (!m_delayedAck && !m_queue.empty()) {
        *error = u"second WRTE on stream %1 before our OKAY (flow control broken)"_s.arg(m_localId);
        return false;
    }
    if (m_delayedAck && m_queuedBytes + data.size() > kReceiveWindow) {
        *error = u"WRTE beyond the announced window on stream %1"_s.arg(m_localId);
        return false;
    }
    m_queuedBytes += data.size();
    m_queue.push_back(data);
    m_cond.notify_all();
    return true;
}

bool SimAdbSocket::handleClose()
{
    std::lock_guard lock(m_mutex);
    const bool echo = !m_closed && !m_failed;
    m_hostClosed = true;
    m_cond.notify_all();
    return echo;
}

void SimAdbSocket::fail(const QString &reason)
{
    std::lock_guard lock(m_mutex);
    if (!m_failed && !m_hostClosed) {
        m_failed = true;
        m_failure = reason;
    }
    m_cond.notify_all();
}

bool SimAdbSocket::write(const QByteArray &data, int timeoutMs, QString *error)
{
    qsizetype pos = 0;
    while (pos < data.size()) {
        auto link = m_link.lock();
        if (!link) {
            *error = u"connection gone"_s;
            return false;
        }
        const qsizetype n = qMin<qsizetype>(data.size() - pos, link->maxPayload());
        {
            std::unique_lock lock(m_mutex);
            const bool ready = waitFor(m_cond, lock, timeoutMs, [this] { return canSend(); });
            if (m_failed || m_hostClosed || m_closed || !ready) {
                *error = m_failed ? m_failure
                         : !ready ? u"host took no data for %1 ms"_s.arg(timeoutMs)
                                  : u"stream closed"_s;
                return false;
            }
            m_sendBudget = m_delayedAck ? m_sendBudget - n : 0;
        }
        if (!link->sendPacket(A_WRTE, m_localId, m_hostId, data.mid(pos, n))) {
            *error = u"connection lost while writing"_s;
            return false;
        }
        pos += n;
    }
    return true;
}

bool SimAdbSocket::flush(int timeoutMs, QString *error)
{
    std::unique_lock lock(m_mutex);
    waitFor(m_cond, lock, timeoutMs, [this] { return canSend(); });
    if (m_sendBudget > 0 && !m_failed)
        return true;
    *error = m_failed ? m_failure : u"flush: the host did not acknowledge"_s;
    return false;
}

SimAdbSocket::Read SimAdbSocket::read(QByteArray *out, int timeoutMs, QString *error)
{
    bool ack = false;
    {
        std::unique_lock lock(m_mutex);
        const bool ready = waitFor(m_cond, lock, timeoutMs,
                                   [this] { return !m_queue.empty() || m_hostClosed || m_closed || m_failed; });
        if (!m_queue.empty()) {
            *out = std::move(m_queue.front());
            m_queue.pop_front();
            m_queuedBytes -= out->size();
            ack = !m_hostClosed && !m_closed && !m_failed;
        } else if (m_failed) {
            *error = m_failure;
            return Read::Failed;
        } else if (m_hostClosed || m_closed) {
            return Read::End;
        } else {
            *error = ready ? u"stream ended"_s : u"no data for %1 ms"_s.arg(timeoutMs);
            return Read::Failed;
        }
    }
    if (ack) {
        if (auto link = m_link.lock()) {
            QByteArray acked;
            if (m_delayedAck)
                put32(&acked, quint32(out->size()));
            link->sendPacket(A_OKAY, m_localId, m_hostId, acked);
        }
    }
    return Read::Data;
}

SimAdbSocket::Read SimAdbSocket::readExact(qsizetype len, QByteArray *out, int timeoutMs, QString *error)
{
    while (m_leftover.size() < len) {
        QByteArray chunk;
        const Read r = read(&chunk, timeoutMs, error);
        if (r != Read::Data)
            return r == Read::End && !m_leftover.isEmpty() ? Read::Failed : r;
        m_leftover.append(chunk);
    }
    *out = m_leftover.left(len);
    m_leftover.remove(0, len);
    return Read::Data;
}

void SimAdbSocket::close()
{
    bool send;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        m_closed = true;
        send = !m_hostClosed && !m_failed;
        m_cond.notify_all();
    }
    if (auto link = m_link.lock()) {
        if (send)
            link->sendPacket(A_CLSE, m_localId, m_hostId, {});
        link->forgetSocket(m_localId);
    }
}
