#pragma once

// The line protocol between the program and the companion app on the phone: one TCP connection per operation,
// "$"-commands each followed by their argument and a line feed. The program is always the client.

#include <QList>
#include <QString>

#include <functional>
#include <stdexcept>

class QAbstractSocket;
class QTcpSocket;
class QTime;

namespace simpleprotocol {

// The phone answered with "$error:"; the text is its decoded message.
class RemoteException : public std::runtime_error
{
public:
    explicit RemoteException(const QString &text) : std::runtime_error(text.toStdString()) {}
};

// The socket could not be written, flushed or read, or the phone sent an empty line.
class SocketDataTransferException : public std::runtime_error
{
public:
    explicit SocketDataTransferException(const QString &text) : std::runtime_error(text.toStdString()) {}
};

// The caller's cancel check said stop while a reader waited for the phone. Not an error: the operation ends
// as a cancel does.
class OperationCancelled : public std::runtime_error
{
public:
    OperationCancelled() : std::runtime_error("simpleprotocol, operation cancelled.") {}
};

// Commands, with their colon.
inline constexpr char kHello[] = "hello:";
inline constexpr char kBackup[] = "backup:";
inline constexpr char kRestore[] = "restore:";
inline constexpr char kDevice[] = "$device:";
inline constexpr char kVersion[] = "$version:";
inline constexpr char kCount[] = "$count:";
inline constexpr char kBatch[] = "$batch:";
inline constexpr char kEnt[] = "$ent:";
inline constexpr char kDel[] = "$del:";
inline constexpr char kUngroup[] = "$ungroup:";
inline constexpr char kEnd[] = "$end:";
inline constexpr char kBye[] = "$bye:";
inline constexpr char kError[] = "$error:";

// The oldest protocol version the program talks to, and the app version the user is told to install.
inline constexpr int kMinVersion = 2;
inline constexpr char kRequiredAppVersion[] = "3.0.3";
// How long a session connect may take.
inline constexpr int kConnectTimeoutMs = 15000;
// A line longer than this is refused: no phone sends one, and an endless line must not eat the memory.
inline constexpr qsizetype kMaxLineBytes = 16 * 1024 * 1024;

// Returns true when the user gave up; readers given one check it while they wait.
using CancelCheck = std::function<bool()>;

// Writes command + argument + "\n" as UTF-8. With flush it waits until every byte is handed to the system.
// Throws SocketDataTransferException with the socket's error text when that fails.
void writeCommand(QAbstractSocket *socket, const QString &command, const QString &argument, bool flush, int timeout);
// One line without its line feed; carriage returns are dropped and every other byte is one Latin-1 character.
// A closed connection, a read error or a time-out throws SocketDataTransferException with the socket's error
// text. With a cancel check and no time limit (timeout < 0), the wait is cut into short slices and
// OperationCancelled is thrown once the check says so.
QString readCommandLine(QAbstractSocket *socket, int timeout, const CancelCheck &cancelled = {});
// readCommandLine, then: an empty line throws SocketDataTransferException("Null command."); a line beginning
// with "$error:" throws RemoteException with the rest Base64-decoded as UTF-8; any other line is returned.
QString readReply(QAbstractSocket *socket, int timeout, const CancelCheck &cancelled = {});

// Connects to host:port within kConnectTimeoutMs; throws std::runtime_error "Failed to Connect to %0:%1."
void connectThrow(QTcpSocket &socket, const QString &host, int port);

// One remap item of a batch reply: the second and fourth parts of the id as the program sent it (without
// sign) and the row's new id on the phone.
struct RemapItem
{
    qint64 part2 = 0;
    qint64 part4 = 0;
    QString newId;
};
// Every remap item of a reply line, scanned from left to right; whatever lies between items is skipped.
QList<RemapItem> remapItems(const QString &reply);
// Reads the reply to a batch: it must begin with "$batch:", otherwise std::runtime_error
// "receive $batch: command error, invalid command:%1" is thrown. Returns its remap items.
QList<RemapItem> readBatchReply(QAbstractSocket *socket, int timeout, const CancelCheck &cancelled = {});

// The session port of the next operation: 10000 × (1 + minute mod 4) + 100 × second + counter, where the
// process-wide counter runs 1 … 99. The same number is used on the computer and on the phone.
int nextSyncPort();
int nextSyncPort(const QTime &now);

// The counter behind nextSyncPort. It starts at a place given by the process id, spread so that processes whose
// ids lie up to 11 apart (command-line runs started one after another) start at least 8 places apart: two such
// processes started in the same second do not ask the phone for the same port unless one of them opens more than
// 7 sessions within that second. Not thread-safe; nextSyncPort guards the process's counter.
class SyncPortCounter
{
public:
    explicit SyncPortCounter(qint64 pid);
    int next(const QTime &now);

private:
    int m_counter;
};

} // namespace simpleprotocol
