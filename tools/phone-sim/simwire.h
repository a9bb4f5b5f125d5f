#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The adb packet as the phone's adbd reads and writes it, written from the device side of AOSP's adb (adb.h:
// amessage and apacket; transport.cpp: check_header, send_packet; adb.cpp: handle_packet) and kept apart from
// the program's own codec, so that a wrong idea in one can not hide in the other.
namespace simwire {

inline constexpr quint32 A_SYNC = 0x434e5953;
inline constexpr quint32 A_CNXN = 0x4e584e43;
inline constexpr quint32 A_OPEN = 0x4e45504f;
inline constexpr quint32 A_OKAY = 0x59414b4f;
inline constexpr quint32 A_CLSE = 0x45534c43;
inline constexpr quint32 A_WRTE = 0x45545257;
inline constexpr quint32 A_AUTH = 0x48545541;
inline constexpr quint32 A_STLS = 0x534c5453;

// A_VERSION_MIN is the original protocol; from A_VERSION_SKIP_CHECKSUM on, a sender leaves data_check at 0.
inline constexpr quint32 A_VERSION_MIN = 0x01000000;
inline constexpr quint32 A_VERSION_SKIP_CHECKSUM = 0x01000001;
inline constexpr quint32 MAX_PAYLOAD_V1 = 4 * 1024;
inline constexpr quint32 MAX_PAYLOAD = 1024 * 1024;

inline constexpr quint32 ADB_AUTH_TOKEN = 1;
inline constexpr quint32 ADB_AUTH_SIGNATURE = 2;
inline constexpr quint32 ADB_AUTH_RSAPUBLICKEY = 3;
inline constexpr int TOKEN_SIZE = 20;

inline constexpr int kHeaderSize = 24;

struct amessage
{
    quint32 command = 0;
    quint32 arg0 = 0;
    quint32 arg1 = 0;
    quint32 data_length = 0;
    quint32 data_check = 0;
    quint32 magic = 0;
};

struct apacket
{
    amessage msg;
    QByteArray payload;
};

quint32 calculate_checksum(QByteArrayView payload);
amessage parseHeader(const char bytes[kHeaderSize]);
// check_header: the magic must match and the payload fit the connection's maxdata; false with why set.
bool check_header(const amessage &msg, quint32 maxPayload, QString *why);
// The bytes of a packet whose header fields (length, check, magic) the caller has filled in.
QByteArray serialize(const apacket &p);
QString commandName(quint32 command);

void put32(QByteArray *out, quint32 v);
void put64(QByteArray *out, quint64 v);
quint32 get32(const char *p);

// Shell protocol v2 (AOSP shell_protocol.h): u8 id, u32le length, data.
enum ShellPacketId : quint8 { kIdStdin = 0, kIdStdout = 1, kIdStderr = 2, kIdExit = 3, kIdCloseStdin = 4 };
QByteArray shellPacket(quint8 id, QByteArrayView data);
// Sync protocol records (AOSP file_sync_protocol.h): 4-byte id and u32le, optionally followed by data.
QByteArray syncMessage(const char id[4], quint32 value);
QByteArray syncMessage(const char id[4], QByteArrayView data);

} // namespace simwire

// Plain POSIX sockets for the simulated phone's listeners.
namespace simnet {
// A listening socket on 127.0.0.1:port (0 = any free port, reported in *bound), or -1 with error set.
int listenLoopback(quint16 port, quint16 *bound, QString *error);
// One accepted connection, or -1; waits at most timeoutMs (-1: no limit), *timedOut tells which.
int acceptOne(int listenFd, int timeoutMs, bool *timedOut);
// A connection to 127.0.0.1:port within timeoutMs, or -1 with error set.
int connectLoopback(quint16 port, int timeoutMs, QString *error);
bool sendAll(int fd, const char *data, qsizetype len);
// recv() retried on EINTR: 0 at end of stream, -1 on error.
qsizetype receive(int fd, char *data, qsizetype len);
void closeFd(int fd);
} // namespace simnet
