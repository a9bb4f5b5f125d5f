// What an adb device sends: 24-byte message headers with their payloads, checked and dispatched as the
// connection's reader does (banner of CNXN, AUTH tokens, OKAY/WRTE/CLSE of a stream, shell protocol frames and
// sync replies inside the stream's data). Then the same bytes go through a whole device handle, whose reader
// thread runs the handshake on them.

#include "adb/adb.h"
#include "adb/adbprotocol.h"
#include "adb/adbstream.h"
#include "adb/adbtransport.h"

#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

using namespace adbproto;

namespace {

// A transport whose incoming bytes are a buffer; what the host sends is dropped.
class MemoryTransport : public AdbTransport
{
public:
    explicit MemoryTransport(const QByteArray &incoming) : m_incoming(incoming) {}
    bool writeMessage(const Message &, QString *) override { return !m_shut; }
    void shutdown() override { m_shut = true; }
    QString describe() const override { return QStringLiteral("memory"); }

protected:
    bool readExact(char *data, qsizetype len, QString *error) override
    {
        if (m_shut || m_incoming.size() - m_pos < len) {
            *error = QStringLiteral("end of input");
            return false;
        }
        memcpy(data, m_incoming.constData() + m_pos, size_t(len));
        m_pos += len;
        return true;
    }

private:
    const QByteArray m_incoming;
    qsizetype m_pos = 0;
    std::atomic<bool> m_shut{false};
};

class NullLink : public AdbStreamLink
{
public:
    bool sendPacket(quint32, quint32, quint32, const QByteArray &) override { return true; }
    quint32 maxPayload() const override { return kMaxPayload; }
    void forgetStream(quint32) override {}
};

// The reader's checks and one stream (local id 1, opened by us), single-threaded.
void readMessages(const QByteArray &bytes)
{
    MemoryTransport transport(bytes);
    auto link = std::make_shared<NullLink>();
    AdbStream stream(link, 1, 0);
    ShellV2Parser shell;
    QByteArray sync;
    QString error;
    for (;;) {
        Header h;
        QByteArray payload;
        if (!transport.readMessage(&h, &payload, kMaxPayload, &error))
            return;
        bool ok = true;
        switch (h.command) {
        case A_CNXN: {
            const Banner banner = parseBanner(payload);
            (void)banner.props.value(QStringLiteral("ro.product.model"));
            (void)bannerTypeProblem(banner.type);
            break;
        }
        case A_OKAY:
            ok = stream.handleOkay(h.arg0, &error);
            break;
        case A_WRTE: {
            ok = stream.handleWrite(payload, &error);
            QByteArray chunk;
            if (ok && stream.read(&chunk, 0, &error) == AdbStream::Read::Data) {
                shell.feed(chunk);
                quint8 id;
                QByteArray frame;
                while (shell.next(&id, &frame, &error))
                    (void)frame.size();
                // The same data read as sync replies: 4-byte id and a little-endian length.
                sync.append(chunk);
                while (sync.size() >= 8) {
                    const quint32 length = readU32(sync.constData() + 4);
                    const qsizetype record = sync.startsWith("FAIL") || sync.startsWith("DATA")
                                                 ? 8 + qsizetype(qMin<quint32>(length, 4096))
                                                 : 8;
                    sync.remove(0, qMin(record, sync.size()));
                }
            }
            break;
        }
        case A_CLSE:
            stream.handleClose();
            break;
        default:
            break;
        }
        if (!ok)
            return;
    }
}

// A whole device handle on the same bytes: its reader thread runs the handshake (CNXN, AUTH with a key of
// our own) and dispatch until the input ends and the device goes offline.
void runHandle(const QByteArray &bytes)
{
    AdbUSBHandle handle(std::make_unique<MemoryTransport>(bytes), QStringLiteral("fuzz"));
    while (handle.state() != AdbUSBHandle::State::Offline)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    (void)handle.name();
    (void)handle.features();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The handle signs AUTH tokens with the user's adb key: make one in a private folder, never the real one.
    static QTemporaryDir keyHome;
    qputenv("HOME", QFile::encodeName(keyHome.path()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4 * 1024 * 1024)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    readMessages(bytes);
    runHandle(bytes);
    return 0;
}
