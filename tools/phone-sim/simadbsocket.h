#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// What a socket needs from its connection (adbd's atransport): sending packets and the agreed limits.
class SimAdbLink
{
public:
    virtual ~SimAdbLink() = default;
    virtual bool sendPacket(quint32 command, quint32 arg0, quint32 arg1, const QByteArray &payload) = 0;
    virtual quint32 maxPayload() const = 0;
    virtual void forgetSocket(quint32 localId) = 0;
};

// One stream the host opened, seen from the phone: adbd's local socket paired with its remote socket (AOSP
// sockets.cpp). A service thread reads and writes it with blocking calls; the connection's reader feeds it.
// Flow control as adbd does it: without delayed acks one WRTE in flight each way (the host's OKAY lets the next
// one go, our OKAY goes out when the service took the data); with delayed acks (both banners list the feature)
// a byte budget: the host's window from its OPEN, topped up by the byte counts its OKAYs carry, and our OKAYs
// carry the bytes we consumed (local_socket_ack, send_ready).
class SimAdbSocket
{
public:
    enum class Read { Data, End, Failed };

    // hostWindow: OPEN's arg1, the host's receive window with delayed acks, 0 without.
    SimAdbSocket(std::weak_ptr<SimAdbLink> link, quint32 localId, quint32 hostId, bool delayedAck, quint32 hostWindow);

    quint32 localId() const { return m_localId; }
    quint32 hostId() const { return m_hostId; }

    // Reader side; false with error set when the host broke the protocol.
    bool handleOkay(const QByteArray &payload, QString *error);
    bool handleWrite(const QByteArray &data, QString *error);
    // The host's CLSE; true when we answer with our own (local_socket_close makes the peer close).
    bool handleClose();
    void fail(const QString &reason);

    // Service side.
    bool write(const QByteArray &data, int timeoutMs, QString *error);
    // Waits until the host acknowledged what we sent (one-in-flight mode) or has room for more.
    bool flush(int timeoutMs, QString *error);
    Read read(QByteArray *out, int timeoutMs, QString *error);
    Read readExact(qsizetype len, QByteArray *out, int timeoutMs, QString *error);
    void close();

    // Our receive window announced in the first OKAY with delayed acks (INITIAL_DELAYED_ACK_BYTES).
    static constexpr qint64 kReceiveWindow = 32 * 1024 * 1024;

private:
    bool canSend() const;

    std::weak_ptr<SimAdbLink> m_link;
    const quint32 m_localId;
    const quint32 m_hostId;
    const bool m_delayedAck;
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    qint64 m_sendBudget;      // delayed acks: bytes the host still takes; else 1 = may send, 0 = wait
    qint64 m_queuedBytes = 0; // received, not yet taken by the service
    bool m_hostClosed = false;
    bool m_closed = false;
    bool m_failed = false;
    QString m_failure;
    std::deque<QByteArray> m_queue;
    QByteArray m_leftover;
};
