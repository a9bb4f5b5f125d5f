#pragma once

#include "simcontacts.h"
#include "threadgroup.h"

#include <QHash>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

class SimPhone;

struct SimCompanionConfig
{
    // Faults: close the connection halfway through the first batch, answer "$error:", announce protocol
    // version 1, send a row with a malformed id, send an empty line; CloseMidRestore leaves backup sessions alone
    // and closes a restore session once its second batch has begun (the first one is applied). The stalls keep
    // the connection open and say nothing more: StallMidBatch halfway through a backup session's first batch,
    // StallMidRestore once a restore session's second batch has arrived (the first one is applied and answered).
    enum class Fail {
        None,
        CloseMidBatch,
        ErrorReply,
        OldVersion,
        BadId,
        EmptyLine,
        CloseMidRestore,
        StallMidBatch,
        StallMidRestore
    };
    Fail fail = Fail::None;
    int version = 3;    // the protocol version announced in backup sessions
    int batchSize = 25; // contacts per batch of a backup session
    // How long after a broadcast the app's session port listens. "am broadcast" returns once the receiver's
    // onReceive has run; the service it starts gets onStartCommand later on the app's main thread, and binds
    // the port on a thread of its own. The first broadcast after the simulator starts or the app is installed
    // also waits for the app's process to be started (a cold start).
    int coldStartMs = 700;
    int warmStartMs = 150;
};

// The companion app com.tallowbrook.contactssync inside the simulated phone. Once installed, an
// "am broadcast -n com.tallowbrook.contactssync/.AdbSyncBroadcastReceiver -d sync://backup:PORT/" (or
// restore:PORT) makes it serve one session on PORT inside the phone, which the program reaches through an adb
// forward. Its Wi-Fi listener answers "hello:", "backup:" and "restore:"; the sessions asked for there listen
// on 127.0.0.1:PORT. The contacts live in the phone's store under "contacts".
class SimCompanion
{
public:
    static constexpr char kPackage[] = "com.tallowbrook.contactssync";
    static constexpr char kReceiver[] = "com.tallowbrook.contactssync/.AdbSyncBroadcastReceiver";

    SimCompanion(SimPhone *phone, SimCompanionConfig config = {});
    ~SimCompanion();

    // "close-mid-batch", "error-reply", "old-version", "bad-id", "empty-line", "close-mid-restore",
    // "stall-mid-batch", "stall-mid-restore"; false for anything else.
    static bool parseFail(const QString &text, SimCompanionConfig::Fail *fail);

    // Reads "contacts" from the phone's store.
    bool loadStore(QString *error);
    // Fills an empty store from vCard text; a store with contacts is left as it is. Returns the number added.
    int seed(const QByteArray &vcards);
    qint64 addContact(const QList<QPair<int, QStringList>> &rows);
    SimContactStore store() const;

    // The Wi-Fi listener on 127.0.0.1:port (0: any free port).
    bool listenWifi(quint16 port, QString *error);
    quint16 wifiPort() const { return m_wifiPort; }

    // Ends every session and the listener; called by the destructor.
    void stop();

    // What happened, for tests: sessions served (backup and restore), and lines the app refused.
    int backupSessions() const { return m_backupSessions; }
    int restoreSessions() const { return m_restoreSessions; }
    QStringList errors() const;

    class Line;

private:
    enum class Kind { Backup, Restore };
    void onBroadcast(const QString &url, const QString &component);
    // Lets the port take its one session connection.
    void openSessionPort(quint16 port, Kind kind, int generation);
    // Serves one session on a connection that enter() admitted; leaves it at the end.
    void serveSession(int fd, Kind kind);
    void serveBackup(Line &io);
    void serveRestore(Line &io);
    void serveWifi(int fd);
    void startWifiSession(Kind kind, quint16 port);
    void noteError(const QString &text);
    void saveLocked();
    // After a restore batch: a small store is written at once, a big one when the session ends (flush()).
    void batchAppliedLocked();
    void flush();
    bool enter(int fd);
    void leave(int fd);

    SimPhone *m_phone;
    const SimCompanionConfig m_config;
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    SimContactStore m_store;
    bool m_unsaved = false; // m_store has changes the store file does not have yet
    QStringList m_errors;
    QHash<quint16, int> m_registered; // session port inside the phone → generation
    int m_generation = 0;
    int m_processInstall = -1; // the phone's install count when the app's process was started; -1: not running
    std::set<int> m_activeFds;
    int m_active = 0;
    std::atomic<bool> m_stop{false};
    // Calls that arrive from the phone's threads (broadcasts, connections to a session port) may race with
    // stop(); they check this under its mutex before they touch the companion.
    struct Life
    {
        std::mutex mutex;
        bool alive = true;
    };
    std::shared_ptr<Life> m_life = std::make_shared<Life>();
    std::atomic<int> m_backupSessions{0};
    std::atomic<int> m_restoreSessions{0};
    int m_wifiFd = -1;
    quint16 m_wifiPort = 0;
    ThreadGroup m_threads;
};
