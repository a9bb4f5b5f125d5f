#pragma once

// A connected TCP socket whose incoming bytes are a fixed buffer and whose writes go nowhere, so the line reader
// of the phone link runs on fuzz input exactly as on a socket. Once the bytes are used up the peer has "closed".

#include <QTcpSocket>

class MemorySocket : public QTcpSocket
{
public:
    explicit MemorySocket(const QByteArray &incoming) : m_incoming(incoming)
    {
        QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
        setSocketState(QAbstractSocket::ConnectedState);
    }
    ~MemorySocket() override
    {
        setSocketState(QAbstractSocket::UnconnectedState);
        QIODevice::close();
    }

    qint64 bytesAvailable() const override { return m_incoming.size() - m_pos; }
    qint64 bytesToWrite() const override { return 0; }
    bool waitForReadyRead(int) override
    {
        if (m_pos < m_incoming.size())
            return true;
        setSocketError(QAbstractSocket::RemoteHostClosedError);
        setErrorString(QStringLiteral("The remote host closed the connection"));
        return false;
    }
    bool waitForBytesWritten(int) override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, qint64(m_incoming.size() - m_pos));
        memcpy(data, m_incoming.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64 size) override { return size; }

private:
    QByteArray m_incoming;
    qsizetype m_pos = 0;
};
