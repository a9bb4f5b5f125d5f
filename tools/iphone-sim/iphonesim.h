#pragma once

#include "simplist.h"
#include "simstore.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class SimChannel;

// One simulated iPhone behind the multiplexer.
struct SimDeviceConfig
{
    QString udid;           // 25-character dashed or 40-character form
    QString name;           // lockdown's DeviceName
    QString storePath;      // the phone's JSON store; empty keeps it in memory
    QString seedPath;       // vCard file that fills an empty store
    int dlVersion = 400;    // device-link major version announced by mobilesync (300 or 400)
    QString fail;           // a fault from IPhoneSim::failModes(), or empty
    int batchSize = 20;     // records per batch sent to the computer
    bool network = false;   // announced as reached over Wi-Fi (ConnectionType "Network"); cannot be connected
    QString productVersion; // empty: 13.7 for device link 300, 16.7.8 for 400
    // Not trusting the computer at first: announced, but no pair record and Pair answered with
    // PairingDialogResponsePending until the user "taps Trust" this many seconds after start(); then usbmuxd's
    // "Paired" goes to the listeners. Negative: trusted from the start.
    double trustAfterSeconds = -1;
    // Contacts kept in iCloud: lockdown's data-sync settings name the iCloud account, and mobilesync serves only
    // the local store (this store), as a phone with iCloud contacts does; it does not refuse.
    bool icloud = false;
};

// The simulated iPhone(s): a usbmuxd on a UNIX socket of its own (device list, Listen events, Connect tunnels, pair
// records, BUID), lockdownd on port 62078 with a real TLS session, and the mobilesync service for
// "com.apple.Contacts". It is strict where a real phone is: requests out of order, wrong versions, records that do
// not fit end the conversation and are listed in errors(). Every decoded message goes to the transcript.
class IPhoneSim
{
public:
    // refuse-start: the device refuses the session start with a description; refuse-start-silent: without one;
    // drop-mid-batch: the connection drops halfway through a batch of records sent to the computer (the second
    // batch, or the only one); stall-mid-batch: at that point the phone sends nothing more and leaves the connection
    // open; pairing-pending: the phone has not trusted this computer yet (no pair record,
    // lockdown answers Pair with PairingDialogResponsePending).
    static QStringList failModes();

    explicit IPhoneSim(const QString &socketPath);
    ~IPhoneSim();
    IPhoneSim(const IPhoneSim &) = delete;
    IPhoneSim &operator=(const IPhoneSim &) = delete;

    // Before start(): adds a device, attached from the start; opens (or seeds) its store.
    bool addDevice(const SimDeviceConfig &config, QString *error);
    // Writes every decoded message as a JSON line to path (besides keeping it for transcript()).
    bool setTranscriptFile(const QString &path, QString *error);
    bool start(QString *error);
    // Drops every connection and removes the socket file.
    void stop();

    QString socketPath() const { return m_socketPath; }
    // The setting that points libusbmuxd (and so the program and Debian's tools) at this simulator.
    QString environment() const { return QStringLiteral("USBMUXD_SOCKET_ADDRESS=UNIX:") + m_socketPath; }

    // Like plugging and unplugging the cable: listeners get Attached/Detached, a detached device's connections drop.
    bool attach(const QString &udid);
    bool detach(const QString &udid);

    // Whether the device trusts the computer now.
    bool trusted(const QString &udid) const;
    // The device anchor the phone holds (empty while no session with it was finished).
    QString deviceAnchor(const QString &udid) const;

    // Every decoded message: {"device", "channel" (usbmuxd, lockdown, mobilesync), "dir" (in, out), "message"}.
    QList<QJsonObject> transcript() const;
    // The program keeps none in memory (a long run would grow without end); in-process tests keep them.
    void setKeepTranscript(bool keep) { m_keepTranscript = keep; }
    // Protocol errors seen (the reason a conversation was ended).
    QStringList errors() const;
    // The committed store of a device, as written to its file.
    QJsonObject store(const QString &udid) const;
    // A lockdown value set by the host (SetValue), as JSON; null when never set.
    QJsonValue lockdownValue(const QString &udid, const QString &domain, const QString &key) const;

private:
    struct Device
    {
        SimDeviceConfig config;
        quint32 muxId = 0;
        bool attached = true;
        SimStore store;
        QMap<QString, QMap<QString, Plist>> domains; // values set by SetValue, by domain and key
        QHash<quint16, QString> pendingServices;     // ports handed out by StartService, valid for one connection
        quint16 nextPort = 49152;
        QSet<int> fds; // its open tunnels, dropped on detach
        bool trusted = true;
        QString anchor; // the phone's device anchor, set when a session finishes
    };
    class Threads;

    void acceptLoop();
    void trustLater(quint32 muxId, double seconds);
    void serveMux(int fd);
    void serveLockdown(Device *device, int fd);
    void serveMobilesync(Device *device, int fd);

    Device *deviceById(quint32 muxId);
    Device *deviceByUdid(const QString &udid);
    Plist deviceProperties(const Device &d) const;
    Plist lockdownValues(const Device &d, bool session) const;
    Plist pairRecord() const;
    bool sendMux(int fd, quint32 tag, const Plist &message, const QString &udid);
    void broadcast(const Plist &event, const QString &udid);

    void note(const QString &udid, const char *channel, const char *dir, plist_t message);
    void error(const QString &udid, const QString &text);

    const QString m_socketPath;
    int m_listenFd = -1;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;    // devices, listeners, open fds
    mutable std::mutex m_logMutex; // transcript, errors (taken inside m_mutex, never around it)
    std::list<std::unique_ptr<Device>> m_devices;
    QSet<int> m_listeners;
    QSet<int> m_openFds;
    QList<QJsonObject> m_transcript;
    QString m_transcriptPath;
    bool m_keepTranscript = true;
    QStringList m_errors;
    std::unique_ptr<Threads> m_threads;
    std::thread m_acceptThread;
};
