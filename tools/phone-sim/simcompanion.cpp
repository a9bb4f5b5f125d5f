#include "simcompanion.h"

#include "simphone.h"
#include "simwire.h"

#include <QRegularExpression>

#include <chrono>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kIdleTimeoutMs = 60000;     // a silent program is given up after this long
constexpr int kWifiSessionWaitMs = 30000; // how long a session asked for over Wi-Fi waits for its connection
constexpr int kStallMs = 3600 * 1000;     // a stalled session stays silent this long unless the program hangs up
constexpr qsizetype kMaxLine = 16 * 1024 * 1024;

QByteArray b64(const QString &text)
{
    return text.toUtf8().toBase64();
}

} // namespace

// Line-wise reading and writing on one connection, with a buffer, a length cap and the simulator's stop flag.
class SimCompanion::Line
{
public:
    enum Result { Ok, Closed, TimedOut, TooLong, Stopped };

    Line(int fd, const std::atomic<bool> &stop) : m_fd(fd), m_stop(stop) {}

    Result read(QByteArray *line, int idleTimeoutMs = kIdleTimeoutMs)
    {
        int waited = 0;
        for (;;) {
            const qsizetype nl = m_buffer.indexOf('\n');
            if (nl >= 0) {
                *line = m_buffer.left(nl);
                m_buffer.remove(0, nl + 1);
                return Ok;
            }
            if (m_buffer.size() > kMaxLine)
                return TooLong;
            if (m_stop)
                return Stopped;
            pollfd p{m_fd, POLLIN, 0};
            const int r = ::poll(&p, 1, 200);
            if (r == 0) {
                waited += 200;
                if (waited >= idleTimeoutMs)
                    return TimedOut;
                continue;
            }
            char buf[65536];
            const qsizetype n = simnet::receive(m_fd, buf, sizeof buf);
            if (n <= 0)
                return Closed;
            m_buffer.append(buf, n);
            waited = 0;
        }
    }

    // The line and its line feed in one send, so that the adb bridge forwards them as one packet.
    bool write(const QByteArray &line)
    {
        const QByteArray out = line + '\n';
        return simnet::sendAll(m_fd, out.constData(), out.size());
    }
    bool write(const char *command, const QByteArray &argument = {}) { return write(QByteArray(command) + argument); }

    // Waits until the program closes its end (or a while passes), so that it reads everything first.
    void drain(int timeoutMs)
    {
        QByteArray ignored;
        while (read(&ignored, timeoutMs) == Ok) {
        }
    }

private:
    const int m_fd;
    const std::atomic<bool> &m_stop;
    QByteArray m_buffer;
};

SimCompanion::SimCompanion(SimPhone *phone, SimCompanionConfig config) : m_phone(phone), m_config(config)
{
    m_phone->setBroadcastHandler([this, life = m_life](const QString &url, const QString &component) {
        std::lock_guard guard(life->mutex);
        if (life->alive)
            onBroadcast(url, component);
    });
}

SimCompanion::~SimCompanion()
{
    stop();
}

bool SimCompanion::parseFail(const QString &text, SimCompanionConfig::Fail *fail)
{
    using F = SimCompanionConfig::Fail;
    static const QHash<QString, F> modes = {
        {u"close-mid-batch"_s, F::CloseMidBatch}, {u"error-reply"_s, F::ErrorReply},
        {u"old-version"_s, F::OldVersion},        {u"bad-id"_s, F::BadId},
        {u"empty-line"_s, F::EmptyLine},          {u"close-mid-restore"_s, F::CloseMidRestore},
        {u"stall-mid-batch"_s, F::StallMidBatch}, {u"stall-mid-restore"_s, F::StallMidRestore}};
    if (!modes.contains(text))
        return false;
    *fail = modes.value(text);
    return true;
}

bool SimCompanion::loadStore(QString *error)
{
    const QJsonValue contacts = m_phone->storeValue(u"contacts"_s);
    SimContactStore loaded;
    if (!contacts.isUndefined() && !contacts.isArray()) {
        *error = u"\"contacts\" is not an array"_s;
        return false;
    }
    if (!loaded.fromJson(contacts.toArray(), error))
        return false;
    std::lock_guard lock(m_mutex);
    m_store = loaded;
    saveLocked(); // ids given to hand-written rows are kept from now on
    return true;
}

int SimCompanion::seed(const QByteArray &vcards)
{
    std::lock_guard lock(m_mutex);
    if (!m_store.isEmpty())
        return 0;
    const auto cards = SimContactStore::parseVCards(vcards);
    for (const auto &rows : cards)
        m_store.addContact(rows);
    saveLocked();
    return int(cards.size());
}

qint64 SimCompanion::addContact(const QList<QPair<int, QStringList>> &rows)
{
    std::lock_guard lock(m_mutex);
    const qint64 id = m_store.addContact(rows);
    saveLocked();
    return id;
}

SimContactStore SimCompanion::store() const
{
    std::lock_guard lock(m_mutex);
    return m_store;
}

QStringList SimCompanion::errors() const
{
    std::lock_guard lock(m_mutex);
    return m_errors;
}

void SimCompanion::noteError(const QString &text)
{
    m_phone->log(u"E ContactsSync: "_s + text);
    std::lock_guard lock(m_mutex);
    m_errors.append(text);
}

void SimCompanion::saveLocked()
{
    m_phone->setStoreValue(u"contacts"_s, m_store.toJson());
    m_unsaved = false;
}

void SimCompanion::batchAppliedLocked()
{
    // Rewriting the whole file after every batch of 20 contacts costs time in the square of the store's
    // size: a big store is written once when the session ends instead. Small ones (every test's) are on
    // disk as soon as the program has the batch's reply.
    constexpr int kWriteEveryBatchUpTo = 1000;
    if (m_store.contactCount() <= kWriteEveryBatchUpTo)
        saveLocked();
    else
        m_unsaved = true;
}

void SimCompanion::flush()
{
    std::lock_guard lock(m_mutex);
    if (m_unsaved)
        saveLocked();
}

bool SimCompanion::enter(int fd)
{
    std::lock_guard lock(m_mutex);
    if (m_stop)
        return false;
    m_activeFds.insert(fd);
    ++m_active;
    return true;
}

void SimCompanion::leave(int fd)
{
    simnet::closeFd(fd);
    std::lock_guard lock(m_mutex);
    m_activeFds.erase(fd);
    --m_active;
    m_idle.notify_all();
}

void SimCompanion::stop()
{
    {
        std::lock_guard guard(m_life->mutex);
        m_life->alive = false;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_stop.exchange(true))
            return;
        for (auto it = m_registered.cbegin(); it != m_registered.cend(); ++it)
            m_phone->unlisten(it.key());
        m_registered.clear();
        for (int fd : m_activeFds)
            ::shutdown(fd, SHUT_RDWR);
    }
    m_phone->setBroadcastHandler({});
    if (m_wifiFd >= 0)
        ::shutdown(m_wifiFd, SHUT_RDWR);
    // Sessions run on the phone's threads too: wait until none uses this object any more.
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_active == 0; });
    lock.unlock();
    m_threads.joinAll();
    flush();
    if (m_wifiFd >= 0)
        simnet::closeFd(m_wifiFd);
    m_wifiFd = -1;
}

void SimCompanion::onBroadcast(const QString &url, const QString &component)
{
    if (component != QLatin1String(kReceiver))
        return; // meant for another receiver
    if (!m_phone->hasPackage(QLatin1String(kPackage)))
        return; // not installed: nobody receives it
    static const QRegularExpression re(QRegularExpression::anchoredPattern(u"sync://(backup|restore):([0-9]{1,5})/"_s));
    const QRegularExpressionMatch m = re.match(url);
    const uint port = m.captured(2).toUInt();
    if (!m.hasMatch() || port == 0 || port > 65535) {
        noteError(u"broadcast with a bad URL: %1"_s.arg(url));
        return;
    }
    const Kind kind = m.captured(1) == u"backup"_s ? Kind::Backup : Kind::Restore;
    int generation;
    int delayMs;
    {
        std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
        generation = ++m_generation;
        m_registered.insert(quint16(port), generation);
        // ActivityManagerService starts the process for the receiver when it is not running (Zygote fork,
        // bindApplication); "pm install -r" ends the running process of the app it replaces.
        const int installs = m_phone->installs();
        delayMs = m_processInstall == installs ? m_config.warmStartMs : m_config.coldStartMs;
        m_processInstall = installs;
    }
    m_phone->log(u"I ContactsSync: %1 session on port %2"_s.arg(m.captured(1)).arg(port));
    if (delayMs <= 0) {
        openSessionPort(quint16(port), kind, generation);
        return;
    }
    m_threads.start([this, port, kind, generation, delayMs] {
        for (int waited = 0; waited < delayMs && !m_stop; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(qMin(10, delayMs - waited)));
        openSessionPort(quint16(port), kind, generation);
    });
}

void SimCompanion::openSessionPort(quint16 port, Kind kind, int generation)
{
    std::lock_guard lock(m_mutex);
    // A later broadcast for the same port, or the end of the simulator, came first.
    if (m_stop || m_registered.value(port) != generation)
        return;
    // One session per broadcast: the first connection takes the port.
    m_phone->listen(port, [this, life = m_life, kind, port, generation](int fd) {
        {
            std::lock_guard guard(life->mutex);
            if (!life->alive || !enter(fd)) {
                simnet::closeFd(fd);
                return;
            }
        }
        {
            std::lock_guard registered(m_mutex);
            if (m_registered.value(port) == generation) {
                m_registered.remove(port);
                m_phone->unlisten(port);
            }
        }
        serveSession(fd, kind);
    });
}

void SimCompanion::serveSession(int fd, Kind kind)
{
    Line io(fd, m_stop);
    if (kind == Kind::Backup) {
        ++m_backupSessions;
        serveBackup(io);
    } else {
        ++m_restoreSessions;
        serveRestore(io);
        flush();
    }
    leave(fd);
}

void SimCompanion::serveBackup(Line &io)
{
    using F = SimCompanionConfig::Fail;
    const SimContactStore store = this->store();
    if (!io.write("$device:", b64(m_phone->name())))
        return;
    if (m_config.fail == F::ErrorReply) {
        io.write("$error:", b64(u"Simulated failure: the contacts provider is not available."_s));
        io.drain(2000);
        return;
    }
    const int version = m_config.fail == F::OldVersion ? 1 : m_config.version;
    if (!io.write("$version:", QByteArray::number(version)) ||
        !io.write("$count:", QByteArray::number(store.contactCount())))
        return;
    if (m_config.fail == F::EmptyLine) {
        io.write("");
        io.drain(2000);
        return;
    }

    const QList<SimContact> &contacts = store.contacts();
    const int batch = qMax(1, m_config.batchSize);
    const bool cutFirstBatch = m_config.fail == F::CloseMidBatch || m_config.fail == F::StallMidBatch;
    for (qsizetype first = 0; first < contacts.size() || (first == 0 && cutFirstBatch); first += batch) {
        if (!io.write("$batch:"))
            return;
        QList<SimRow> rows;
        for (qsizetype i = first; i < qMin(contacts.size(), first + batch); ++i)
            rows += contacts.at(i).rows;
        for (qsizetype r = 0; r < rows.size(); ++r) {
            if (cutFirstBatch && r >= rows.size() / 2) {
                if (m_config.fail == F::StallMidBatch)
                    io.drain(kStallMs); // silent, the connection open, until the program hangs up
                return;                 // the connection drops in the middle of the batch
            }
            QString arg = SimContactStore::wireArgument(rows.at(r));
            if (m_config.fail == F::BadId && r == 0)
                arg = u"1/x"_s + arg.mid(arg.indexOf(u'/'));
            if (!io.write("$ent:", arg.toUtf8()))
                return;
        }
        if (m_config.fail == F::CloseMidBatch)
            return;
        if (!io.write("$end:"))
            return;
        // The program acknowledges every batch with "$batch:" and nothing else.
        QByteArray ack;
        const Line::Result r = io.read(&ack);
        if (r != Line::Ok || ack != "$batch:") {
            if (r == Line::Ok)
                noteError(u"backup: expected the batch acknowledgement \"$batch:\", got \"%1\""_s.arg(
                    QString::fromLatin1(ack.left(80))));
            return;
        }
    }
    if (io.write("$bye:"))
        io.drain(10000);
}

void SimCompanion::serveRestore(Line &io)
{
    using F = SimCompanionConfig::Fail;
    const auto refuse = [&](const QString &text) {
        noteError(u"restore: "_s + text);
        io.write("$error:", b64(text));
        io.drain(2000);
    };
    QList<QByteArray> batch;
    bool inBatch = false;
    int batches = 0;
    for (;;) {
        QByteArray line;
        const Line::Result r = io.read(&line);
        if (r == Line::TooLong)
            return refuse(u"line too long"_s);
        if (r != Line::Ok)
            return; // the program closes after its last batch; a batch without "$end:" is dropped
        if (!inBatch) {
            if (line != "$batch:")
                return refuse(u"expected \"$batch:\", got \"%1\""_s.arg(QString::fromLatin1(line.left(80))));
            inBatch = true;
            batch.clear();
            if (++batches == 2 && m_config.fail == F::CloseMidRestore)
                return; // the connection drops once the second batch has begun
            continue;
        }
        if (line != "$end:") {
            if (!line.startsWith("$ent:") && !line.startsWith("$del:") && !line.startsWith("$ungroup:"))
                return refuse(u"unexpected line in a batch: \"%1\""_s.arg(QString::fromLatin1(line.left(80))));
            batch.append(line);
            continue;
        }
        inBatch = false;
        if (m_config.fail == F::CloseMidBatch)
            return;
        if (m_config.fail == F::ErrorReply)
            return refuse(u"Simulated failure: the contacts provider is not available."_s);
        if (m_config.fail == F::StallMidRestore && batches == 2)
            return io.drain(kStallMs); // the batch is taken but neither applied nor answered

        // A batch is applied as a whole or not at all.
        QStringList remaps;
        QString error;
        {
            std::lock_guard lock(m_mutex);
            SimContactStore next = m_store;
            for (const QByteArray &l : std::as_const(batch)) {
                const QString text = QString::fromUtf8(l);
                if (l.startsWith("$ent:"))
                    error = next.applyEnt(text.mid(5), &remaps);
                else if (l.startsWith("$del:"))
                    error = next.applyDel(text.mid(5));
                else
                    error = next.applyUngroup(text.mid(9));
                if (!error.isEmpty())
                    break;
            }
            if (error.isEmpty()) {
                m_store = next;
                batchAppliedLocked();
            }
        }
        if (!error.isEmpty())
            return refuse(error);
        if (!io.write("$batch:", remaps.join(u',').toUtf8()))
            return;
    }
}

bool SimCompanion::listenWifi(quint16 port, QString *error)
{
    quint16 bound = 0;
    m_wifiFd = simnet::listenLoopback(port, &bound, error);
    if (m_wifiFd < 0)
        return false;
    m_wifiPort = bound;
    m_threads.start([this] {
        while (!m_stop) {
            bool timedOut = false;
            const int fd = simnet::acceptOne(m_wifiFd, 200, &timedOut);
            if (fd < 0)
                continue;
            m_threads.start([this, fd] { serveWifi(fd); });
        }
    });
    return true;
}

void SimCompanion::serveWifi(int fd)
{
    if (!enter(fd)) {
        simnet::closeFd(fd);
        return;
    }
    // The app answers only once it is installed (and so running).
    if (m_phone->hasPackage(QLatin1String(kPackage))) {
        Line io(fd, m_stop);
        QByteArray line;
        static const QRegularExpression session(
            QRegularExpression::anchoredPattern(u"(backup|restore)://127\\.0\\.0\\.1:([0-9]{1,5})/"_s));
        if (io.read(&line, 10000) == Line::Ok) {
            const QString text = QString::fromLatin1(line);
            const QRegularExpressionMatch m = session.match(text);
            if (text == u"hello://127.0.0.1"_s) {
                io.write("hello:", m_phone->name().toUtf8());
            } else if (m.hasMatch() && m.captured(2).toUInt() > 0 && m.captured(2).toUInt() < 65536) {
                startWifiSession(m.captured(1) == u"backup"_s ? Kind::Backup : Kind::Restore,
                                 quint16(m.captured(2).toUInt()));
            } else {
                noteError(u"wifi: unexpected line \"%1\""_s.arg(text.left(80)));
            }
        }
    }
    leave(fd);
}

void SimCompanion::startWifiSession(Kind kind, quint16 port)
{
    QString error;
    quint16 bound = 0;
    const int listenFd = simnet::listenLoopback(port, &bound, &error);
    if (listenFd < 0) {
        noteError(u"wifi: can not listen on port %1: %2"_s.arg(port).arg(error));
        return;
    }
    m_threads.start([this, kind, listenFd] {
        int fd = -1;
        for (int waited = 0; fd < 0 && waited < kWifiSessionWaitMs && !m_stop; waited += 200) {
            bool timedOut = false;
            fd = simnet::acceptOne(listenFd, 200, &timedOut);
        }
        simnet::closeFd(listenFd);
        if (fd < 0)
            return;
        if (enter(fd))
            serveSession(fd, kind);
        else
            simnet::closeFd(fd);
    });
}
