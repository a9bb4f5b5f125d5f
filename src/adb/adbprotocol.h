#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QMap>
#include <QString>
#include <QStringList>

// The adb wire format as the host side speaks it: 24-byte headers of six little-endian u32, the connection
// banner, shell protocol v2 frames and sync records.
namespace adbproto {

inline constexpr quint32 A_SYNC = 0x434e5953;
inline constexpr quint32 A_CNXN = 0x4e584e43;
inline constexpr quint32 A_AUTH = 0x48545541;
inline constexpr quint32 A_OPEN = 0x4e45504f;
inline constexpr quint32 A_OKAY = 0x59414b4f;
inline constexpr quint32 A_CLSE = 0x45534c43;
inline constexpr quint32 A_WRTE = 0x45545257;
inline constexpr quint32 A_STLS = 0x534c5453;

inline constexpr quint32 kVersionMin = 0x01000000;
inline constexpr quint32 kVersionSkipChecksum = 0x01000001;
inline constexpr quint32 kMaxPayload = 1024 * 1024;
// CNXN and AUTH go out before the peer's maxdata is known.
inline constexpr quint32 kMaxHandshakePayload = 4096;
inline constexpr int kHeaderSize = 24;

inline constexpr quint32 kAuthToken = 1;
inline constexpr quint32 kAuthSignature = 2;
inline constexpr quint32 kAuthRsaPublicKey = 3;
inline constexpr int kTokenSize = 20;

struct Message
{
    quint32 command = 0;
    quint32 arg0 = 0;
    quint32 arg1 = 0;
    QByteArray payload;
};

struct Header
{
    quint32 command = 0;
    quint32 arg0 = 0;
    quint32 arg1 = 0;
    quint32 length = 0;
    quint32 check = 0;
    quint32 magic = 0;
};

// Plain byte sum of the payload, which is what data_check holds.
quint32 checksum(QByteArrayView data);
// Header plus payload, always with the checksum filled in: phones of protocol version 0x01000000 (Android 8
// and older) check it, newer ones ignore it.
QByteArray encode(const Message &msg);
QByteArray encodeHeader(const Message &msg);
// Decodes and checks a received header as adb does (check_header): the magic and the length within maxPayload.
// data_check is never checked (a phone on 0x01000001 sends 0 there, even in its AUTH and CNXN), and an unknown
// command passes: the connection ignores it.
bool decodeHeader(const char *bytes, Header *out, quint32 maxPayload, QString *error);
bool isKnownCommand(quint32 command);
QString commandName(quint32 command);

// "device::ro.product.name=X;ro.product.model=Y;ro.product.device=Z;features=a,b"
struct Banner
{
    QString type;
    QMap<QString, QString> props;
    QStringList features;
};
Banner parseBanner(QByteArrayView payload);
// Why a phone whose banner has this type can not be used ("the phone is in recovery mode"); empty for
// "device", the only type that runs the services the program needs.
QString bannerTypeProblem(const QString &type);
QByteArray buildBanner(const QString &type, const QMap<QString, QString> &props, const QStringList &features);

// Shell protocol v2: u8 id, u32le length, bytes; frames do not follow WRTE boundaries.
enum ShellId : quint8 {
    ShellStdin = 0,
    ShellStdout = 1,
    ShellStderr = 2,
    ShellExit = 3,
    ShellCloseStdin = 4,
    ShellWindowSize = 5
};
QByteArray shellFrame(quint8 id, QByteArrayView data);

class ShellV2Parser
{
public:
    void feed(QByteArrayView data) { m_buffer.append(data); }
    // Takes the next complete frame; false when more bytes are needed or the frame is invalid (error set).
    bool next(quint8 *id, QByteArray *data, QString *error);
    bool hasPartial() const { return !m_buffer.isEmpty(); }

private:
    QByteArray m_buffer;
};

// Sync records: 4-byte id and u32le, optionally followed by that many bytes.
QByteArray syncRecord(const char id[4], quint32 value);
QByteArray syncRecord(const char id[4], QByteArrayView data);
void appendU32(QByteArray *out, quint32 v);
void appendU64(QByteArray *out, quint64 v);
quint32 readU32(const char *p);

// Wraps an argument for the device's sh -c: 'it'\''s'.
QString shellQuote(const QString &arg);

} // namespace adbproto
