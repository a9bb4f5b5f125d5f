#pragma once

#include "threadgroup.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <optional>

// The simulated phone's own state, behind its faces (adbd and the companion app): installed packages,
// files pushed to it, the log, the intents it was sent, and the TCP services listening inside it.
class SimPhone
{
public:
    SimPhone(const QString &name, const QString &serial);
    ~SimPhone();

    QString name() const { return m_name; }
    QString serial() const { return m_serial; }

    // The JSON store: "packages" (user-installed package names) is ours; other keys are kept as they are.
    // A missing file is created with the default packages. Written back after every change.
    bool openStore(const QString &path, QString *error);

    QStringList packages() const;
    void setPackages(const QStringList &packages);
    bool hasPackage(const QString &name) const { return packages().contains(name); }
    // How many packages "pm install" has installed or replaced so far: a replaced app's process is ended, so
    // its next start is a cold one.
    int installs() const;

    // A key of the store that another face owns (the companion app's "contacts"); setting it writes the store.
    QJsonValue storeValue(const QString &key) const;
    void setStoreValue(const QString &key, const QJsonValue &value);

    // Files under /data/local/tmp/ and /sdcard/ only, as a shell user may write them.
    static bool isWritablePath(const QString &path);
    static bool isDirectory(const QString &path);
    bool writeFile(const QString &path, const QByteArray &data);
    std::optional<QByteArray> file(const QString &path) const;
    bool removeFile(const QString &path);
    QStringList files() const;

    QStringList logcat() const;
    void log(const QString &line);
    QStringList broadcasts() const; // the -d URL of each "am broadcast", in order
    QStringList startedActivities() const;
    QStringList shellHistory() const;
    // Called for each "am broadcast" with its URL (may be empty) and component, on the shell's thread.
    void setBroadcastHandler(std::function<void(const QString &url, const QString &component)> handler);

    struct ShellResult
    {
        QByteArray out;
        QByteArray err;
        int exitCode = 0;
    };
    // Runs one command line as the device's sh -c would (quotes and backslashes; no pipes).
    ShellResult runShell(const QString &commandLine);

    // A service inside the phone: runs on a thread of its own with one end of the connection, and closes it.
    using Service = std::function<void(int fd)>;
    void listen(quint16 port, Service service);
    void unlisten(quint16 port);
    // Connects to the service on port; returns our end, or -1 when nothing listens there.
    int connectService(quint16 port);
    // Echoes every byte back until the other side closes.
    static Service echoService();

    static QStringList splitWords(const QString &commandLine, bool *ok);

private:
    void saveLocked();
    ShellResult pm(const QStringList &args);
    ShellResult am(const QStringList &args);
    ShellResult cat(const QStringList &paths);

    const QString m_name;
    const QString m_serial;
    mutable std::mutex m_mutex;
    QString m_storePath;
    QJsonObject m_storeOther; // the store's JSON, for the keys other faces own
    QStringList m_packages;
    QMap<QString, QByteArray> m_files;
    QStringList m_logcat;
    QStringList m_broadcasts;
    QStringList m_activities;
    QStringList m_history;
    std::function<void(const QString &, const QString &)> m_broadcastHandler;
    QMap<quint16, Service> m_services;
    int m_installs = 0;
    ThreadGroup m_threads;
};
