#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// The connection a stream lives on: sends packets (thread-safe) and forgets closed streams.
class AdbStreamLink
{
public:
    virtual ~AdbStreamLink() = default;
    virtual bool sendPacket(quint32 command, quint32 arg0, quint32 arg1, const QByteArray &payload) = 0;
    // Largest WRTE payload the peer takes.
    virtual quint32 maxPayload() const = 0;
    virtual void forgetStream(quint32 localId) = 0;
};

// One OPEN/OKAY/WRTE/CLSE stream, used by the host side and by the simulated phone alike. The connection's reader
// thread feeds it (handle*); one caller thread reads and writes it with blocking calls. Flow control: one WRTE in
// flight per direction; a received chunk is acknowledged when the caller takes it, which is the backpressure.
class AdbStream
{
public:
    enum class Read { Data, End, Timeout, Failed };

    // remoteId 0: we sent OPEN and wait for the peer's OKAY. Non-zero: the peer opened it, and its OPEN counts as
    // its first OKAY, so we may write at once.
    AdbStream(std::weak_ptr<AdbStreamLink> link, quint32 localId, quint32 remoteId);

    quint32 localId() const { return m_localId; }
    quint32 remoteId() const;

    // Reader-thread side. False (error set) when the peer broke the protocol.
    bool handleOkay(quint32 remoteId, QString *error);
    bool handleWrite(const QByteArray &data, QString *error);
    // The peer's CLSE; true when we should answer with our own CLSE.
    bool handleClose();
    // The connection went down.
    void fail(const QString &reason);

    // Caller side; timeouts in milliseconds, -1 for none. Errors name what happened to the stream.
    bool waitOpen(int timeoutMs, QString *error);
    bool write(const QByteArray &data, int timeoutMs, QString *error);
    // Waits until the peer has acknowledged our last WRTE.
    bool flush(int timeoutMs, QString *error);
    // Next received chunk (acknowledged on return). Data queued before the peer's CLSE is still delivered.
    Read read(QByteArray *out, int timeoutMs, QString *error);
    Read readExact(qsizetype len, QByteArray *out, int timeoutMs, QString *error);
    // Final locally: sends CLSE once and does not wait for the peer's echo.
    void close();

private:
    bool waitFor(std::unique_lock<std::mutex> &lock, int timeoutMs, const auto &pred);
    std::shared_ptr<AdbStreamLink> link() const { return m_link.lock(); }

    std::weak_ptr<AdbStreamLink> m_link;
    const quint32 m_localId;
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    quint32 m_remoteId;
    bool m_opened;
    bool m_canWrite;
    bool m_remoteClosed = false;
    bool m_localClosed = false;
    bool m_failed = false;
    QString m_failure;
    std::deque<QByteArray> m_queue;
    QByteArray m_leftover; // caller side only (readExact)
};
