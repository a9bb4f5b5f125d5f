#include "adb/adbstream.h"

#include "adb/adbprotocol.h"

#include <chrono>

using namespace Qt::StringLiterals;

AdbStream::AdbStream(std::weak_ptr<AdbStreamLink> link, quint32 localId, quint32 remoteId)
    : m_link(std::move(link)), m_localId(localId), m_remoteId(remoteId), m_opened(remoteId != 0),
      m_canWrite(remoteId != 0)
{
}

quint32 AdbStream::remoteId() const
{
    std::lock_guard lock(m_mutex);
    return m_remoteId;
}

bool AdbStream::waitFor(std::unique_lock<std::mutex> &lock, int timeoutMs, const auto &pred)
{
    if (timeoutMs < 0) {
        m_cond.wait(lock, pred);
        return true;
    }
    return m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
}

bool AdbStream::handleOkay(quint32 remoteId, QString *error)
{
    std::lock_guard lock(m_mutex);
    if (!m_opened) {
        if (remoteId == 0) {
            *error = u"OKAY with remote id 0 for stream %1"_s.arg(m_localId);
            return false;
        }
        m_opened = true;
        m_remoteId = remoteId;
    } else if (remoteId != m_remoteId) {
        *error = u"OKAY from remote id %1 for stream %2 (opened by %3)"_s.arg(remoteId).arg(m_localId).arg(m_remoteId);
        return false;
    }
    m_canWrite = true;
    m_cond.notify_all();
    return true;
}

bool AdbStream::handleWrite(const QByteArray &data, QString *error)
{
    std::lock_guard lock(m_mutex);
    if (m_localClosed || m_failed)
        return true; // late data for a stream we closed
    if (!m_opened) {
        *error = u"WRTE before OKAY on stream %1"_s.arg(m_localId);
        return false;
    }
    if (!m_queue.empty()) {
        *error = u"second WRTE on stream %1 before our OKAY (flow control broken)"_s.arg(m_localId);
        return false;
    }
    m_queue.push_back(data);
    m_cond.notify_all();
    return true;
}

bool AdbStream::handleClose()
{
    std::lock_guard lock(m_mutex);
    const bool echo = m_opened && !m_localClosed && !m_failed;
    m_remoteClosed = true;
    m_canWrite = false;
    m_cond.notify_all();
    return echo;
}

void AdbStream::fail(const QString &reason)
{
    std::lock_guard lock(m_mutex);
    if (!m_failed && !m_remoteClosed) {
        m_failed = true;
        m_failure = reason;
    }
    m_canWrite = false;
    m_cond.notify_all();
}

bool AdbStream::waitOpen(int timeoutMs, QString *error)
{
    std::unique_lock lock(m_mutex);
    const bool done = waitFor(lock, timeoutMs, [this] { return m_opened || m_remoteClosed || m_failed; });
    // OKAY, WRTE and CLSE may come together: the open succeeded if OKAY came at all.
    if (m_opened)
        return true;
    if (!done)
        *error = u"no answer to OPEN within %1 ms"_s.arg(timeoutMs);
    else if (m_failed)
        *error = m_failure;
    else
        *error = u"the device refused the service"_s;
    return false;
}

bool AdbStream::write(const QByteArray &data, int timeoutMs, QString *error)
{
    qsizetype pos = 0;
    while (pos < data.size()) {
        quint32 remote;
        {
            std::unique_lock lock(m_mutex);
            const bool ready =
                waitFor(lock, timeoutMs, [this] { return m_canWrite || m_remoteClosed || m_localClosed || m_failed; });
            if (m_failed) {
                *error = m_failure;
                return false;
            }
            if (m_remoteClosed || m_localClosed) {
                *error = m_remoteClosed ? u"stream closed by the device"_s : u"stream closed"_s;
                return false;
            }
            if (!ready) {
                *error = u"device did not take data within %1 ms"_s.arg(timeoutMs);
                return false;
            }
            m_canWrite = false;
            remote = m_remoteId;
        }
        auto l = link();
        if (!l) {
            *error = u"connection gone"_s;
            return false;
        }
        const qsizetype n = qMin<qsizetype>(data.size() - pos, l->maxPayload());
        if (!l->sendPacket(adbproto::A_WRTE, m_localId, remote, data.mid(pos, n))) {
            *error = u"connection lost while writing"_s;
            return false;
        }
        pos += n;
    }
    return true;
}

bool AdbStream::flush(int timeoutMs, QString *error)
{
    std::unique_lock lock(m_mutex);
    waitFor(lock, timeoutMs, [this] { return m_canWrite || m_remoteClosed || m_localClosed || m_failed; });
    if (m_canWrite)
        return true;
    *error = m_failed ? m_failure : m_remoteClosed ? u"stream closed by the device"_s : u"flush timed out"_s;
    return false;
}

AdbStream::Read AdbStream::read(QByteArray *out, int timeoutMs, QString *error)
{
    quint32 remote;
    {
        std::unique_lock lock(m_mutex);
        const bool ready = waitFor(lock, timeoutMs,
                                   [this] { return !m_queue.empty() || m_remoteClosed || m_localClosed || m_failed; });
        if (!m_queue.empty()) {
            *out = std::move(m_queue.front());
            m_queue.pop_front();
            if (m_remoteClosed || m_localClosed || m_failed)
                return Read::Data;
            remote = m_remoteId;
        } else if (m_failed) {
            *error = m_failure;
            return Read::Failed;
        } else if (m_remoteClosed || m_localClosed) {
            return Read::End;
        } else {
            *error = u"no data within %1 ms"_s.arg(timeoutMs);
            return ready ? Read::End : Read::Timeout;
        }
    }
    if (auto l = link())
        l->sendPacket(adbproto::A_OKAY, m_localId, remote, {});
    return Read::Data;
}

AdbStream::Read AdbStream::readExact(qsizetype len, QByteArray *out, int timeoutMs, QString *error)
{
    while (m_leftover.size() < len) {
        QByteArray chunk;
        const Read r = read(&chunk, timeoutMs, error);
        if (r != Read::Data) {
            if (r == Read::End && !m_leftover.isEmpty()) {
                *error = u"stream ended inside a record"_s;
                return Read::Failed;
            }
            return r;
        }
        m_leftover.append(chunk);
    }
    *out = m_leftover.left(len);
    m_leftover.remove(0, len);
    return Read::Data;
}

void AdbStream::close()
{
    bool send = false;
    quint32 remote = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_localClosed)
            return;
        m_localClosed = true;
        m_canWrite = false;
        send = m_opened && !m_remoteClosed && !m_failed;
        remote = m_remoteId;
        m_cond.notify_all();
    }
    if (auto l = link()) {
        if (send)
            l->sendPacket(adbproto::A_CLSE, m_localId, remote, {});
        l->forgetStream(m_localId);
    }
}
