#pragma once

#include "android/iandroidconnector.h"
#include "devices/deviceentry.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <functional>
#include <optional>

class AbsAdbPoll;
class AndroidContactsDb;

namespace devices {

class DeviceQuestions;

// An Android phone found by the adb poller: its serial, the model it announces and a connector that reaches it
// through adb while the poller runs.
struct AdbPhone
{
    QString serial;
    QString name;
    PAndroidConnector connector;
};

// A phone loaded into its rebuilt cache: the entry (named as the phone announced itself), the open cache (an
// AndroidContactsDb for an Android phone, whose connector reaches the phone) and that connector.
struct LoadedPhone
{
    DeviceEntry entry;
    QSharedPointer<LocalDb> cache;
    PAndroidConnector connector;
};

// Serialises the loads of one device: rebuilding a cache file under a running load would mix two sessions in
// one database, so an arrival during a load waits for it and is replayed after it.
class LoadQueue
{
public:
    // True when no load of `id` runs: the caller loads now and calls finish(id) afterwards. Otherwise `again` is
    // kept (replacing one kept before) and false returned.
    bool start(const QString &id, std::function<void()> again);
    // Ends the load of `id`; returns the arrival kept meanwhile, or an empty function.
    std::function<void()> finish(const QString &id);
    bool isLoading(const QString &id) const { return m_loading.contains(id); }

private:
    QSet<QString> m_loading;
    QHash<QString, std::function<void()>> m_again;
};

// The window's watch on adb phones: runs the adb poller (USB, CONTACT_MOVER_ADB_TCP endpoints or an adb server)
// from start() until it is destroyed, and reports each phone's arrival with a connector, its removal and a
// device that could not be opened. Signals come on the thread that owns this object.
class AndroidWatch : public QObject
{
    Q_OBJECT
public:
    // intervalMs: how often the poller looks for phones.
    explicit AndroidWatch(int intervalMs, QObject *parent = nullptr);
    ~AndroidWatch() override;

    void start();
    LoadQueue &loads() { return m_loads; }

    // Whether two connectors reach the phone through the same adb connection (a phone announced again on the
    // connection it already had). False for Wi-Fi connectors and empty ones.
    static bool sameLink(const PAndroidConnector &a, const PAndroidConnector &b);

    // Waits for the phone behind an adb connector to allow this computer, asking `questions` while the phone
    // shows its question. True when the phone is online; false when it went away or the user gave up. A
    // connector of another kind is always ready.
    static bool authorise(const PAndroidConnector &connector, DeviceQuestions &questions);

Q_SIGNALS:
    void phoneArrived(const QString &serial, const PAndroidConnector &connector);
    void phoneLeft(const QString &serial);
    // A device the poller found but could not open (busy with another program, refused); `where` names it.
    void phoneFailed(const QString &where);

private:
    AbsAdbPoll *m_poll;
    LoadQueue m_loads;
};

// Runs `use` with the Android phones the adb poller finds online, once it has settled or, when a serial is
// wanted, once that phone turned up. Phones that ask their user to allow this computer are waited for through
// `questions`; a device that cannot be used is reported through questions.warn. The phones stay reachable until
// `use` returns (exceptions from `use` pass through after the poller has stopped).
void withAdbPhones(DeviceQuestions &questions, const std::function<void(const QList<AdbPhone> &)> &use,
                   const QString &wanted = QString());

// A phone whose companion app listens on Wi-Fi, named "wifi:ADDRESS": parses the address and says hello. Throws
// std::runtime_error with the user's text when the address is not one or the app does not answer in time; the
// app's own refusal passes through as its exception. The connector's id is the phone's name (wifiDeviceId).
PAndroidConnector connectWifi(const QString &address);
// The id of a phone reached through connectWifi: the name it announced.
QString wifiDeviceId(const PAndroidConnector &connector);
// Whether a device id names a Wi-Fi phone ("wifi:ADDRESS"); the address is put in `address`.
bool isWifiId(const QString &id, QString *address = nullptr);

// Rebuilds the phone's cache and reads the phone into it through `run`. Nothing when the worker did not succeed
// (the runner reported why; the cache is closed and stays on disk until the next load rebuilds it). Throws
// std::runtime_error when the cache file cannot be made.
std::optional<LoadedPhone> loadAndroidPhone(const QString &devId, const PAndroidConnector &connector,
                                            const RunWorker &run);

} // namespace devices
