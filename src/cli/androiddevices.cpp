#include "cli/androiddevices.h"

#include "adb/adbpoll.h"
#include "android/adbconnector.h"
#include "android/adbsetup.h"
#include "android/androidlink.h"
#include "android/androidwificonnector.h"
#include "android/syncprotocol.h"
#include "android/syncrestorethread.h"
#include "cli/workerrunner.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "core/texts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

#include <stdexcept>

namespace cli {

// Loads a phone into its rebuilt cache; progress goes to stderr, the empty success text nowhere.
DeviceEntry loadPhone(const QString &devId, const PAndroidConnector &connector)
{
    AndroidContactsDb cache(AndroidLink::cachePath(devId), PContactCombineRule(new LocalDbCombineRule), connector);
    cache.createFromTemplate();
    ProgressObject progress;
    SyncRestoreThread worker(&cache, simpleprotocol::nextSyncPort(), &progress);
    try {
        runLoader(worker, progress, "The phone could not be loaded.");
    } catch (...) {
        cache.close();
        throw;
    }
    cache.close();
    const QString name = worker.deviceName().isEmpty() ? devId : worker.deviceName();
    return {QStringLiteral("android"), devId, name, AndroidLink::cachePath(devId)};
}

void withAdbPhones(const std::function<void(const QList<PAdbUSBHandle> &)> &use, const QString &wanted)
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
    QObject::connect(&poll, &AbsAdbPoll::failedDevice, &loop, [&poll](const QString &serial) {
        QTextStream(stderr) << trKey("IDS_ANDROID_PHONE_UNUSABLE").arg(serial, poll.failure(serial)) << '\n';
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

    // A phone that asks its user about this computer comes online the moment they tap "Allow"; wait a while
    // for that, saying what to do.
    constexpr int kAllowWaitMs = 30000;
    QElapsedTimer allowClock;
    allowClock.start();
    for (const PAdbUSBHandle &device : std::as_const(found)) {
        AdbUSBHandle::State state = device->waitForHandshake(3000);
        if (state == AdbUSBHandle::State::Unauthorized || state == AdbUSBHandle::State::Authorizing) {
            QTextStream(stderr)
                << trKey("IDS_ANDROID_ALLOW_USB_DEBUGGING").arg(device->serial()).arg(kAllowWaitMs / 1000) << '\n';
            if (!device->waitForAuth2(int(qMax<qint64>(0, kAllowWaitMs - allowClock.elapsed()))))
                QTextStream(stderr) << trKey("IDS_ANDROID_PHONE_NOT_ALLOWED").arg(device->serial()) << '\n';
        }
    }
    QList<PAdbUSBHandle> online;
    for (const PAdbUSBHandle &device : std::as_const(found))
        if (device->state() == AdbUSBHandle::State::Online)
            online.append(device); // the others are not allowed on the phone, or gone again
    use(online);
    poll.stop();
    poll.wait();
}

QList<DeviceEntry> loadAdbPhones()
{
    QList<DeviceEntry> devices;
    withAdbPhones([&devices](const QList<PAdbUSBHandle> &phones) {
        for (const PAdbUSBHandle &phone : phones) {
            try {
                devices.append(loadPhone(phone->serial(), PAndroidConnector(new AdbConnector(phone))));
            } catch (const std::exception &e) {
                QTextStream(stderr) << phone->serial() << ": " << QString::fromUtf8(e.what()) << '\n';
            }
        }
    });
    return devices;
}

std::optional<DeviceEntry> findAndroidDevice(const QString &id)
{
    if (id.startsWith(QLatin1String("wifi:"))) {
        const QString address = AndroidWifiConnector::parseAddress(id.mid(5));
        if (address.isEmpty())
            throw std::runtime_error(trKey("IDS_WIFI_SOCK_WRONG_FOR_EXAMPLE").toStdString());
        auto connector = QSharedPointer<AndroidWifiConnector>::create();
        try {
            connector->hello(address);
        } catch (const WifiServiceTimeoutException &) {
            throw std::runtime_error(trKey("IDS_WIFI_CONNECTOR_CONNECT_TIMEOUT").toStdString());
        }
        return loadPhone(connector->deviceName(), connector);
    }
    std::optional<DeviceEntry> device;
    withAdbPhones(
        [&](const QList<PAdbUSBHandle> &phones) {
            for (const PAdbUSBHandle &phone : phones)
                if (phone->serial() == id)
                    device = loadPhone(id, PAndroidConnector(new AdbConnector(phone)));
        },
        id);
    return device;
}

} // namespace cli
