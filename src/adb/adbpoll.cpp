#include "adb/adbpoll.h"

#include "adb/adbpollserver.h"
#include "adb/adbroute.h"
#include "adb/adbusb.h"
#include "adb/log.h"

#include <QDateTime>
#include <QDebug>
#include <QMap>
#include <QThreadPool>

#include <condition_variable>
#include <mutex>

using namespace Qt::StringLiterals;

namespace {

constexpr int kTcpConnectTimeoutMs = 500;
constexpr int kHandshakeTimeoutMs = 3000;
constexpr int kUsbAccessRetryMs = 1000;

// State shared with pool tasks and close listeners, which may outlive the poller.
struct Shared
{
    struct Result
    {
        QString key;
        QString serial;
        PAdbUSBHandle device;
        QString error;
        bool reachable = true;
    };

    std::mutex mutex;
    std::condition_variable cond;
    bool wake = false;
    bool stopping = false;
    QList<Result> results;

    void post(Result r)
    {
        std::lock_guard lock(mutex);
        results.append(std::move(r));
        wake = true;
        cond.notify_all();
    }
    void poke()
    {
        std::lock_guard lock(mutex);
        wake = true;
        cond.notify_all();
    }
};

} // namespace

struct AbsAdbPoll::Private
{
    struct Entry
    {
        QString serial;
        PAdbUSBHandle device;
        bool pending = false;
        bool failedReported = false;
        qint64 retryAfter = 0;
        QString failure;
    };
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    mutable std::mutex mutex; // entries: written on the poller thread, read by devices()
    QMap<QString, Entry> entries;
};

AbsAdbPoll::AbsAdbPoll(int periodMs, QObject *parent)
    : QThread(parent), m_period(qMax(10, periodMs)), d(std::make_unique<Private>())
{
    qRegisterMetaType<PAdbUSBHandle>("PAdbUSBHandle");
}

AbsAdbPoll::~AbsAdbPoll()
{
    stop();
    wait();
}

void AbsAdbPoll::stop()
{
    std::lock_guard lock(d->shared->mutex);
    d->shared->stopping = true;
    d->shared->cond.notify_all();
}

void AbsAdbPoll::wake()
{
    d->shared->poke();
}

bool AbsAdbPoll::stopping() const
{
    std::lock_guard lock(d->shared->mutex);
    return d->shared->stopping;
}

QList<PAdbUSBHandle> AbsAdbPoll::devices() const
{
    std::lock_guard lock(d->mutex);
    QList<PAdbUSBHandle> out;
    for (const auto &e : d->entries)
        if (e.device)
            out.append(e.device);
    return out;
}

QString AbsAdbPoll::failure(const QString &serial) const
{
    std::lock_guard lock(d->mutex);
    for (const auto &e : d->entries)
        if (e.serial == serial && !e.device)
            return e.failure;
    return {};
}

bool AbsAdbPoll::opening() const
{
    std::lock_guard lock(d->mutex);
    for (const auto &e : d->entries)
        if (e.pending)
            return true;
    return false;
}

void AbsAdbPoll::run()
{
    beginPolling();
    for (;;) {
        collect();
        if (stopping())
            break;
        pollOnce();
        collect();
        std::unique_lock lock(d->shared->mutex);
        d->shared->cond.wait_for(lock, std::chrono::milliseconds(m_period),
                                 [this] { return d->shared->wake || d->shared->stopping; });
        d->shared->wake = false;
    }
    endPolling();
    QList<PAdbUSBHandle> all = devices();
    {
        std::lock_guard lock(d->mutex);
        d->entries.clear();
    }
    for (const PAdbUSBHandle &dev : all)
        dev->close(u"device poller stopped"_s);
}

// Takes the results of finished opens and notices devices that went offline; emits on the poller thread.
void AbsAdbPoll::collect()
{
    QList<Shared::Result> results;
    {
        std::lock_guard lock(d->shared->mutex);
        results.swap(d->shared->results);
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool ending = stopping();
    for (Shared::Result &r : results) {
        enum { None, New, Failed } what = None;
        {
            std::lock_guard lock(d->mutex);
            auto it = d->entries.find(r.key);
            if (it == d->entries.end() || ending) {
                if (r.device)
                    r.device->close(u"device poller stopped"_s);
                continue;
            }
            it->pending = false;
            if (!r.serial.isEmpty())
                it->serial = r.serial;
            it->failure = r.error;
            if (r.device) {
                it->device = r.device;
                it->failedReported = false;
                what = New;
            } else if (r.reachable) {
                // Found but unusable: report once, then retry now and then.
                what = it->failedReported ? None : Failed;
                it->failedReported = true;
                it->retryAfter = now + 5 * qMax(m_period, 1000);
                qCWarning(lcAdb).noquote() << "AdbPoll:" << it->serial << r.error;
            } else {
                it->failedReported = false;
                d->entries.erase(it);
            }
        }
        if (what == New) {
            std::weak_ptr<Shared> weak = d->shared;
            r.device->addCloseListener([weak] {
                if (auto s = weak.lock())
                    s->poke();
            });
            Q_EMIT newDevice(r.device->serial(), r.device);
        } else if (what == Failed) {
            Q_EMIT failedDevice(r.serial);
        }
    }

    QList<PAdbUSBHandle> gone;
    {
        std::lock_guard lock(d->mutex);
        for (auto it = d->entries.begin(); it != d->entries.end();) {
            if (it->device && it->device->state() == AdbUSBHandle::State::Offline) {
                gone.append(it->device);
                it = d->entries.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const PAdbUSBHandle &dev : gone)
        Q_EMIT kickDevice(dev->serial(), dev);
}

void AbsAdbPoll::adopt(const QString &key, const QString &serial, Opener open)
{
    {
        std::lock_guard lock(d->mutex);
        Private::Entry &e = d->entries[key];
        if (e.pending || e.device || e.retryAfter > QDateTime::currentMSecsSinceEpoch())
            return;
        e.pending = true;
        if (e.serial.isEmpty())
            e.serial = serial;
    }
    std::shared_ptr<Shared> shared = d->shared;
    adbThreadPool()->start([shared, key, serial, open] {
        Shared::Result r;
        r.key = key;
        r.serial = serial;
        PAdbUSBHandle dev = open(&r.serial, &r.error, &r.reachable);
        if (dev) {
            const AdbUSBHandle::State st = dev->waitForHandshake(kHandshakeTimeoutMs);
            if (st == AdbUSBHandle::State::Offline) {
                // Hanging up without a word is "nobody there" (a port going down), not a broken device.
                r.reachable = dev->answered();
                r.error = dev->errorString();
                dev.reset();
            } else if (st == AdbUSBHandle::State::Connecting) {
                r.error = u"no answer to CNXN within %1 ms"_s.arg(kHandshakeTimeoutMs);
                dev->close(r.error);
                dev.reset();
            }
        }
        r.device = dev;
        shared->post(std::move(r));
    });
}

void AbsAdbPoll::dropKey(const QString &key, const QString &reason)
{
    PAdbUSBHandle dev;
    {
        std::lock_guard lock(d->mutex);
        auto it = d->entries.find(key);
        if (it == d->entries.end())
            return;
        dev = it->device;
        if (!dev && !it->pending)
            d->entries.erase(it);
    }
    if (dev)
        dev->close(reason);
}

void AbsAdbPoll::pollTcp(const QList<TcpEndpoint> &endpoints)
{
    for (const TcpEndpoint &ep : endpoints) {
        const QString key = u"%1:%2"_s.arg(ep.host).arg(ep.port);
        const QString serial = ep.serial.isEmpty() ? key : ep.serial;
        const QString host = ep.host;
        const quint16 port = ep.port;
        adopt(key, serial, [host, port](QString *serialOut, QString *error, bool *reachable) {
            PAdbUSBHandle dev = AdbUSBHandle::connectTcp(host, port, *serialOut, kTcpConnectTimeoutMs, error);
            *reachable = dev != nullptr;
            return dev;
        });
    }
}

// ---- AdbPoll ----

struct AdbPoll::Usb
{
    adbusb::PContext ctx;
    bool hotplug = false;
    QMap<QString, libusb_device *> present; // key -> device (referenced) present now
};

AdbPoll::AdbPoll(int periodMs, QObject *parent) : AbsAdbPoll(periodMs, parent)
{
    // "host:port,host:port"; a bare host means adb's default port 5555.
    const QStringList items = qEnvironmentVariable("CONTACT_MOVER_ADB_TCP").split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &raw : items) {
        const QString item = raw.trimmed();
        const qsizetype colon = item.lastIndexOf(QLatin1Char(':'));
        TcpEndpoint ep;
        bool ok = true;
        ep.host = colon > 0 ? item.left(colon) : item;
        ep.port = colon > 0 ? item.mid(colon + 1).toUShort(&ok) : 5555;
        if (ep.host.startsWith(QLatin1Char('[')) && ep.host.endsWith(QLatin1Char(']')))
            ep.host = ep.host.mid(1, ep.host.size() - 2);
        if (!ok || ep.port == 0 || ep.host.isEmpty()) {
            qCWarning(lcAdb).noquote() << "AdbPoll: ignoring CONTACT_MOVER_ADB_TCP entry" << item;
            continue;
        }
        ep.serial = item;
        m_tcp.append(ep);
    }
}

AdbPoll::~AdbPoll()
{
    // The thread calls our overrides: it must end while this class still exists.
    stop();
    wait();
}

void AdbPoll::beginPolling()
{
    if (const adbroute::Route route = adbroute::choose(); route.kind == adbroute::Kind::Server) {
        beginServerRoute(route.port);
        return;
    }
    QString error;
    auto ctx = adbusb::openContext(&error);
    if (!ctx) {
        qCWarning(lcAdb).noquote() << "AdbPoll: no USB:" << error;
        return;
    }
    m_usb = std::make_unique<Usb>();
    m_usb->ctx = ctx;
    m_usb->hotplug = adbusb::hasHotplug(ctx) && adbusb::registerHotplug(ctx);
}

void AdbPoll::endPolling()
{
    if (m_usb) {
        for (libusb_device *dev : std::as_const(m_usb->present))
            adbusb::unref(dev);
    }
    m_usb.reset();
    m_server.reset();
}

void AdbPoll::pollOnce()
{
    pollTcp(m_tcp);
    if (m_server)
        pollServer();
    if (!m_usb)
        return;

    const adbusb::PContext ctx = m_usb->ctx;
    auto arrive = [this, ctx](libusb_device *dev) {
        const QString key = adbusb::portPath(dev);
        if (!adbusb::isAdbDevice(dev))
            return;
        adbusb::ref(dev);
        auto holder = std::shared_ptr<libusb_device>(dev, adbusb::unref);
        adopt(key, key, [ctx, holder](QString *serial, QString *error, bool *reachable) -> PAdbUSBHandle {
            *reachable = true;
            bool retry = false;
            // udev may apply the device's permissions just after it appears: retry for a moment.
            for (int waited = 0;; waited += 100) {
                QString usbSerial;
                auto transport = adbusb::open(ctx, holder.get(), &usbSerial, error, &retry);
                if (transport) {
                    if (!usbSerial.isEmpty())
                        *serial = usbSerial;
                    return std::make_shared<AdbUSBHandle>(std::move(transport), *serial);
                }
                if (!retry || waited >= kUsbAccessRetryMs)
                    return nullptr;
                QThread::msleep(100);
            }
        });
    };

    if (m_usb->hotplug) {
        adbusb::handleEvents(ctx);
        for (const adbusb::HotplugEvent &e : adbusb::takeEvents(ctx)) {
            const QString key = adbusb::portPath(e.device);
            if (e.event == adbusb::Event::Arrived && !m_usb->present.contains(key)) {
                adbusb::ref(e.device);
                m_usb->present.insert(key, e.device);
            } else if (e.event == adbusb::Event::Left && m_usb->present.contains(key)) {
                adbusb::unref(m_usb->present.take(key));
                dropKey(key, u"USB device removed"_s);
            }
            adbusb::unref(e.device);
        }
    } else {
        // No hotplug here: compare the device list with the last round.
        QMap<QString, libusb_device *> now;
        for (libusb_device *dev : adbusb::listDevices(ctx))
            now.insert(adbusb::portPath(dev), dev);
        for (auto it = m_usb->present.cbegin(); it != m_usb->present.cend(); ++it) {
            if (!now.contains(it.key()))
                dropKey(it.key(), u"USB device removed"_s);
            adbusb::unref(it.value());
        }
        m_usb->present = now;
    }
    // Devices not connected yet (new, or failed a while ago) are tried again; adopt() skips the others.
    for (libusb_device *dev : std::as_const(m_usb->present))
        arrive(dev);
}

// ---- AdbEmuPoll ----

AdbEmuPoll::AdbEmuPoll(int periodMs, QObject *parent) : AbsAdbPoll(periodMs, parent)
{
}

AdbEmuPoll::~AdbEmuPoll()
{
    // The thread calls pollOnce(): it must end while this class still exists.
    stop();
    wait();
}

void AdbEmuPoll::setPortRange(quint16 first, quint16 last)
{
    m_first = first;
    m_last = last;
}

void AdbEmuPoll::pollOnce()
{
    QList<TcpEndpoint> eps;
    for (quint32 port = m_first; port <= m_last; port += 2)
        eps.append({u"127.0.0.1"_s, quint16(port), u"emulator-%1"_s.arg(port - 1)});
    pollTcp(eps);
}
