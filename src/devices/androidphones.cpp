#include "devices/androidphones.h"

#include "adb/adbpoll.h"
#include "adb/adbroute.h"
#include "android/adbconnector.h"
#include "android/adbsetup.h"
#include "android/androidcontactsdb.h"
#include "android/androidwificonnector.h"
#include "android/syncprotocol.h"
#include "android/syncrestorethread.h"
#include "contacts/combinerule.h"
#include "core/texts.h"
#include "devices/devicequestions.h"

#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <stdexcept>

namespace devices {

namespace {

// How long a phone's handshake may take before the phone is taken as waiting for its user (or as gone).
constexpr int kHandshakeMs = 3000;
// How long to look again after the user answered that the phone may be allowed now.
constexpr int kAuthLookMs = 500;

const AdbConnector *adbOf(const PAndroidConnector &connector)
{
    return dynamic_cast<const AdbConnector *>(connector.data());
}

} // namespace

bool LoadQueue::start(const QString &id, std::function<void()> again)
{
    if (m_loading.contains(id)) {
        m_again.insert(id, std::move(again));
        return false;
    }
    m_loading.insert(id);
    return true;
}

std::function<void()> LoadQueue::finish(const QString &id)
{
    m_loading.remove(id);
    return m_again.take(id);
}

AndroidWatch::AndroidWatch(int intervalMs, QObject *parent) : QObject(parent), m_poll(new AdbPoll(intervalMs, this))
{
    connect(m_poll, &AbsAdbPoll::newDevice, this, [this](const QString &, const PAdbUSBHandle &handle) {
        if (handle)
            Q_EMIT phoneArrived(handle->serial(), PAndroidConnector(new AdbConnector(handle)));
    });
    connect(m_poll, &AbsAdbPoll::kickDevice, this, [this](const QString &path, const PAdbUSBHandle &handle) {
        Q_EMIT phoneLeft(handle ? handle->serial() : path);
    });
    connect(m_poll, &AbsAdbPoll::failedDevice, this, &AndroidWatch::phoneFailed);
}

// The poller is a child: its destructor stops and joins it.
AndroidWatch::~AndroidWatch() = default;

void AndroidWatch::start()
{
    m_poll->start(QThread::InheritPriority);
}

bool AndroidWatch::sameLink(const PAndroidConnector &a, const PAndroidConnector &b)
{
    const AdbConnector *left = adbOf(a);
    const AdbConnector *right = adbOf(b);
    return left && right && left->handle() && left->handle() == right->handle();
}

bool AndroidWatch::authorise(const PAndroidConnector &connector, DeviceQuestions &questions)
{
    const AdbConnector *adb = adbOf(connector);
    if (!adb || !adb->handle())
        return true;
    const PAdbUSBHandle phone = adb->handle();
    AdbUSBHandle::State state = phone->waitForHandshake(kHandshakeMs);
    while (state != AdbUSBHandle::State::Online) {
        if (state == AdbUSBHandle::State::Offline)
            return false; // unplugged meanwhile: its removal follows
        const auto settled = [phone] {
            const AdbUSBHandle::State now = phone->state();
            return now == AdbUSBHandle::State::Online || now == AdbUSBHandle::State::Offline;
        };
        if (!questions.allowOnAndroid(phone->serial(), phone->name(), settled))
            return phone->state() == AdbUSBHandle::State::Online;
        if (phone->waitForAuth2(kAuthLookMs))
            return true;
        state = phone->state();
    }
    return true;
}

void withAdbPhones(DeviceQuestions &questions, const std::function<void(const QList<AdbPhone> &)> &use,
                   const QString &wanted)
{
    // The poller reports what it finds as it finds it; the list is complete once a little while has passed
    // without news (handshakes run in parallel, each bounded by its own timeout).
    constexpr int kQuietMs = 800;
    constexpr int kLongestMs = 6000;
    constexpr int kExpectedMs = 15000;
    AdbPoll poll(200, nullptr);
    QList<PAdbUSBHandle> found;
    QEventLoop loop;
    QTimer quiet;
    quiet.setSingleShot(true);
    // Not quiet while a handshake is under way: a phone still answering (or this computer still making its
    // adb key) would be missed.
    QObject::connect(&quiet, &QTimer::timeout, &loop, [&] {
        if (poll.opening())
            quiet.start(kQuietMs / 4);
        else
            loop.quit();
    });
    QObject::connect(&poll, &AbsAdbPoll::failedDevice, &loop, [&poll, &questions](const QString &serial) {
        questions.warn(trKey("IDS_ANDROID_PHONE_UNUSABLE").arg(serial, poll.failure(serial)));
    });
    QObject::connect(&poll, &AbsAdbPoll::newDevice, &loop, [&](const QString &, const PAdbUSBHandle &device) {
        found.append(device);
        if (!wanted.isEmpty() && device->serial() == wanted)
            loop.quit(); // the one asked for: no need to wait for the others
        else if (quiet.isActive() || wanted.isEmpty())
            quiet.start(kQuietMs);
    });
    // A phone named by one of the configured network endpoints is surely expected: wait for it (a loaded machine
    // can take a few seconds to connect) instead of giving up after the first quiet spell.
    // The route is chosen first (the probe of the adb server port must not eat the waiting time). Through an
    // adb server, the phone asked for is surely expected too: the server may need a moment to list it.
    const bool viaServer = AdbSetup::chooseRoute(false).kind == adbroute::Kind::Server;
    const bool expected =
        !wanted.isEmpty() &&
        (viaServer || qEnvironmentVariable("CONTACT_MOVER_ADB_TCP").split(QLatin1Char(',')).contains(wanted));
    QTimer::singleShot(expected ? kExpectedMs : kLongestMs, &loop, &QEventLoop::quit);
    poll.start();
    if (!expected)
        quiet.start(kQuietMs * (viaServer ? 4 : 2));
    loop.exec();

    QList<AdbPhone> online;
    for (const PAdbUSBHandle &device : std::as_const(found)) {
        const PAndroidConnector connector(new AdbConnector(device));
        // A phone that asks its user about this computer comes online the moment they tap "Allow".
        if (AndroidWatch::authorise(connector, questions))
            online.append({device->serial(), device->name(), connector});
    }
    std::exception_ptr failure;
    try {
        use(online);
    } catch (...) {
        failure = std::current_exception();
    }
    // The phones' adb connections end with the poller, before an error leaves.
    poll.stop();
    poll.wait();
    if (failure)
        std::rethrow_exception(failure);
}

bool isWifiId(const QString &id, QString *address)
{
    if (!id.startsWith(QLatin1String("wifi:")))
        return false;
    if (address)
        *address = id.mid(5);
    return true;
}

PAndroidConnector connectWifi(const QString &address)
{
    const QString parsed = AndroidWifiConnector::parseAddress(address);
    if (parsed.isEmpty())
        throw std::runtime_error(trKey("IDS_WIFI_SOCK_WRONG_FOR_EXAMPLE").toStdString());
    auto connector = QSharedPointer<AndroidWifiConnector>::create();
    try {
        connector->hello(parsed);
    } catch (const WifiServiceTimeoutException &) {
        throw std::runtime_error(trKey("IDS_WIFI_CONNECTOR_CONNECT_TIMEOUT").toStdString());
    }
    return connector;
}

QString wifiDeviceId(const PAndroidConnector &connector)
{
    const auto *wifi = dynamic_cast<const AndroidWifiConnector *>(connector.data());
    return wifi ? wifi->deviceName() : QString();
}

std::optional<LoadedPhone> loadAndroidPhone(const QString &devId, const PAndroidConnector &connector,
                                            const RunWorker &run)
{
    const QString path = cachePath(kAndroid, devId);
    QSharedPointer<AndroidContactsDb> cache(
        new AndroidContactsDb(path, PContactCombineRule(new LocalDbCombineRule), connector));
    cache->createFromTemplate();
    // The name the phone announced, read as the worker ends (the runner owns the worker).
    QString announced;
    bool loaded = false;
    try {
        loaded = run([&](ProgressTarget *progress) {
            auto worker = std::make_unique<SyncRestoreThread>(cache.data(), simpleprotocol::nextSyncPort(), progress);
            SyncRestoreThread *raw = worker.get();
            QObject::connect(
                raw, &QThread::finished, raw, [raw, &announced] { announced = raw->deviceName(); },
                Qt::DirectConnection);
            return std::unique_ptr<QThread>(std::move(worker));
        });
    } catch (...) {
        cache->close();
        throw;
    }
    if (!loaded) {
        cache->close(); // stays on disk until the next load rebuilds it
        return std::nullopt;
    }
    return LoadedPhone{{kAndroid, devId, announced.isEmpty() ? devId : announced, path}, cache, connector};
}

} // namespace devices
