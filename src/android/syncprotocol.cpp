#include "android/syncprotocol.h"

#include "android/log.h"
#include "core/texts.h"

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QMutex>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTime>

#include <cstring>

namespace simpleprotocol {

namespace {

// A wait without limit is cut into slices this long so that a cancel is seen while the phone is silent.
constexpr int kCancelSliceMs = 200;

QString socketError(QAbstractSocket *socket)
{
    return socket->errorString();
}

// Waits for more bytes; false when the wait failed (closed, error, time-out).
bool waitForBytes(QAbstractSocket *socket, int timeout, const CancelCheck &cancelled)
{
    if (!cancelled || timeout >= 0)
        return socket->waitForReadyRead(timeout);
    for (;;) {
        if (socket->waitForReadyRead(kCancelSliceMs))
            return true;
        if (socket->error() != QAbstractSocket::SocketTimeoutError ||
            socket->state() != QAbstractSocket::ConnectedState)
            return false;
        if (cancelled())
            throw OperationCancelled();
    }
}

} // namespace

void writeCommand(QAbstractSocket *socket, const QString &command, const QString &argument, bool flush, int timeout)
{
    const QByteArray line = (command + argument).toUtf8() + '\n';
    qCDebug(lcAndroidSync, "Android Sync, %s", line.left(200).trimmed().constData());
    qsizetype done = 0;
    while (done < line.size()) {
        const qint64 n = socket->write(line.constData() + done, line.size() - done);
        if (n < 0)
            throw SocketDataTransferException(socketError(socket));
        if (n == 0 && !socket->waitForBytesWritten(timeout))
            throw SocketDataTransferException(socketError(socket));
        done += n;
    }
    if (!flush)
        return;
    // Without an event loop the bytes stay in the socket's buffer until someone waits for them to go out.
    while (socket->bytesToWrite() > 0) {
        if (!socket->waitForBytesWritten(timeout))
            throw SocketDataTransferException(socketError(socket));
    }
}

QString readCommandLine(QAbstractSocket *socket, int timeout, const CancelCheck &cancelled)
{
    QByteArray line;
    // Takes what the socket's buffer holds up to the next line feed in pieces, not byte by byte: a backup
    // session is hundreds of thousands of lines. Carriage returns are dropped wherever they stand.
    char piece[4096];
    for (;;) {
        const qint64 n = socket->bytesAvailable() > 0 ? socket->readLine(piece, sizeof piece) : 0;
        if (n <= 0) {
            if (!waitForBytes(socket, timeout, cancelled))
                throw SocketDataTransferException(socketError(socket));
            continue;
        }
        const bool ended = piece[n - 1] == '\n';
        const char *from = piece;
        const char *const end = piece + (ended ? n - 1 : n);
        while (from < end) {
            const auto *cr = static_cast<const char *>(std::memchr(from, '\r', size_t(end - from)));
            const char *stop = cr ? cr : end;
            line.append(from, stop - from);
            from = cr ? cr + 1 : end;
        }
        if (line.size() > kMaxLineBytes)
            throw SocketDataTransferException(
                QStringLiteral("readCommandLine, line longer than %1 bytes.").arg(kMaxLineBytes));
        if (ended)
            break;
    }
    qCDebug(lcAndroidSync, "Android Sync, %s", line.left(200).constData());
    return QString::fromLatin1(line);
}

QString readReply(QAbstractSocket *socket, int timeout, const CancelCheck &cancelled)
{
    const QString line = readCommandLine(socket, timeout, cancelled);
    if (line.isEmpty())
        throw SocketDataTransferException(trKey("Null command."));
    if (line.startsWith(QLatin1String(kError)))
        throw RemoteException(QString::fromUtf8(QByteArray::fromBase64(line.mid(int(qstrlen(kError))).toLatin1())));
    return line;
}

void connectThrow(QTcpSocket &socket, const QString &host, int port)
{
    socket.connectToHost(host, quint16(port), QIODevice::ReadWrite);
    if (!socket.waitForConnected(kConnectTimeoutMs))
        throw std::runtime_error(trKey("IDS_ANDROID_CONNECT_FAIL%0:%1").arg(host).arg(port).toStdString());
    // Sessions are request and reply in short lines: without this a line written right after another waits for
    // the peer's delayed acknowledgement (tens of milliseconds per batch).
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

QList<RemapItem> remapItems(const QString &reply)
{
    static const QRegularExpression pattern(
        QStringLiteral("-?[0-9]+/-?([0-9]+)/-?[0-9]+/-?([0-9]+)=>(-?[0-9]+/-?[0-9]+/-?[0-9]+/-?[0-9]+)"));
    QList<RemapItem> items;
    for (const QRegularExpressionMatch &m : pattern.globalMatch(reply)) {
        bool ok2 = false, ok4 = false;
        RemapItem item;
        item.part2 = m.captured(1).toLongLong(&ok2);
        item.part4 = m.captured(2).toLongLong(&ok4);
        item.newId = m.captured(3);
        // A number beyond 64 bits can name no stored row.
        if (ok2 && ok4)
            items.append(item);
    }
    return items;
}

QList<RemapItem> readBatchReply(QAbstractSocket *socket, int timeout, const CancelCheck &cancelled)
{
    const QString reply = readReply(socket, timeout, cancelled);
    if (!reply.startsWith(QLatin1String(kBatch)))
        throw std::runtime_error(trKey("receive $batch: command error, invalid command:%1").arg(reply).toStdString());
    return remapItems(reply);
}

int nextSyncPort()
{
    return nextSyncPort(QTime::currentTime());
}

int nextSyncPort(const QTime &now)
{
    static QMutex mutex;
    static SyncPortCounter counter(QCoreApplication::applicationPid());
    QMutexLocker lock(&mutex);
    return counter.next(now);
}

// 8 and 99 have no common divisor: every start 1 … 99 belongs to some process, and process ids 1 … 11 apart
// land 8 … 48 places apart on the circle of 99.
SyncPortCounter::SyncPortCounter(qint64 pid) : m_counter(1 + int((pid % 99 + 99) % 99 * 8 % 99))
{
}

int SyncPortCounter::next(const QTime &now)
{
    const int port = 10000 * (1 + now.minute() % 4) + 100 * now.second() + m_counter;
    m_counter = m_counter % 99 + 1;
    return port;
}

} // namespace simpleprotocol
