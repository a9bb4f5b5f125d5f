#include "adb/adbusb.h"

#include <libusb.h>

#include <atomic>
#include <mutex>

using namespace Qt::StringLiterals;

namespace adbusb {

class Context
{
public:
    ~Context()
    {
        if (hotplug)
            libusb_hotplug_deregister_callback(ctx, hotplugHandle);
        for (const HotplugEvent &e : events)
            libusb_unref_device(e.device);
        libusb_exit(ctx);
    }
    libusb_context *ctx = nullptr;
    bool hotplug = false;
    libusb_hotplug_callback_handle hotplugHandle = 0;
    std::mutex mutex;
    QList<HotplugEvent> events;
};

// The adb interface is found by its own class triple wherever it sits: adb on Linux does not look at the
// device class (phones announce 0x00 or 0xEF, some vendors 0xFF or 0x02 with a composite configuration).
AdbInterface findAdbInterface(const libusb_device_descriptor &, const libusb_config_descriptor &config)
{
    AdbInterface found;
    for (int i = 0; i < config.bNumInterfaces && found.number < 0; ++i) {
        if (config.interface[i].num_altsetting < 1)
            continue;
        const libusb_interface_descriptor &alt = config.interface[i].altsetting[0];
        if (alt.bInterfaceClass != 0xff || alt.bInterfaceSubClass != 0x42 || alt.bInterfaceProtocol != 0x01)
            continue;
        AdbInterface cand;
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor &ep = alt.endpoint[e];
            if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
                if (!cand.in)
                    cand.in = ep.bEndpointAddress;
            } else if (!cand.out) {
                cand.out = ep.bEndpointAddress;
                cand.outPacketSize = ep.wMaxPacketSize ? ep.wMaxPacketSize : 512;
            }
        }
        if (cand.in && cand.out) {
            cand.number = alt.bInterfaceNumber;
            found = cand;
        }
    }
    return found;
}

namespace {

constexpr unsigned kReadTimeoutMs = 500;
constexpr unsigned kWriteTimeoutMs = 10000;

QString usbError(int rc)
{
    return QString::fromUtf8(libusb_strerror(rc));
}

// Runs with libusb's locks held: only queue the event.
int LIBUSB_CALL onHotplug(libusb_context *, libusb_device *dev, libusb_hotplug_event event, void *user)
{
    auto *c = static_cast<Context *>(user);
    std::lock_guard lock(c->mutex);
    c->events.append(
        {event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? Event::Arrived : Event::Left, libusb_ref_device(dev)});
    return 0;
}

AdbInterface findInterface(libusb_device *dev)
{
    AdbInterface found;
    libusb_device_descriptor desc;
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_device_descriptor(dev, &desc) != 0 || libusb_get_active_config_descriptor(dev, &config) != 0)
        return found;
    found = findAdbInterface(desc, *config);
    libusb_free_config_descriptor(config);
    return found;
}

class UsbTransport : public AdbTransport
{
public:
    UsbTransport(PContext ctx, libusb_device_handle *h, const AdbInterface &i, const QString &name)
        : m_ctx(std::move(ctx)), m_handle(h), m_if(i), m_name(name)
    {
    }
    ~UsbTransport() override
    {
        libusb_release_interface(m_handle, m_if.number);
        libusb_close(m_handle);
    }
    bool writeMessage(const adbproto::Message &msg, QString *error) override
    {
        QByteArray header = adbproto::encodeHeader(msg);
        if (!transfer(m_if.out, header.data(), header.size(), error))
            return false;
        if (msg.payload.isEmpty())
            return true;
        QByteArray payload = msg.payload;
        if (!transfer(m_if.out, payload.data(), payload.size(), error))
            return false;
        // adbd reads in large transfers: a payload that fills whole packets needs a zero-length packet to end.
        if (payload.size() % m_if.outPacketSize == 0)
            return transfer(m_if.out, nullptr, 0, error);
        return true;
    }
    void shutdown() override { m_shut = true; }
    QString describe() const override { return m_name; }

protected:
    bool readExact(char *data, qsizetype len, QString *error) override
    {
        while (len > 0) {
            if (m_shut) {
                *error = u"connection closed"_s;
                return false;
            }
            int got = 0;
            const int rc = libusb_bulk_transfer(m_handle, m_if.in, reinterpret_cast<unsigned char *>(data), int(len),
                                                &got, kReadTimeoutMs);
            data += got;
            len -= got;
            if (rc == LIBUSB_ERROR_TIMEOUT || (rc == 0 && len > 0))
                continue;
            if (rc != 0) {
                *error =
                    rc == LIBUSB_ERROR_NO_DEVICE ? u"USB device removed"_s : u"USB read failed: %1"_s.arg(usbError(rc));
                clearHalts(rc);
                return false;
            }
        }
        return true;
    }

private:
    // After a failed transfer both endpoints may be stalled; adb clears the halt on both (and only then: clearing
    // halts on a healthy device upsets some phones), so that the next connection starts clean.
    void clearHalts(int rc)
    {
        if (rc == LIBUSB_ERROR_NO_DEVICE)
            return;
        libusb_clear_halt(m_handle, m_if.in);
        libusb_clear_halt(m_handle, m_if.out);
    }

    bool transfer(unsigned char ep, char *data, qsizetype len, QString *error)
    {
        qsizetype done = 0;
        do {
            if (m_shut) {
                *error = u"connection closed"_s;
                return false;
            }
            int got = 0;
            const int rc = libusb_bulk_transfer(m_handle, ep, reinterpret_cast<unsigned char *>(data + done),
                                                int(len - done), &got, kWriteTimeoutMs);
            done += got;
            if (rc != 0) {
                *error = u"USB write failed: %1"_s.arg(usbError(rc));
                clearHalts(rc);
                return false;
            }
        } while (done < len);
        return true;
    }

    PContext m_ctx;
    libusb_device_handle *m_handle;
    AdbInterface m_if;
    QString m_name;
    std::atomic<bool> m_shut{false};
};

} // namespace

PContext openContext(QString *error)
{
    auto c = std::make_shared<Context>();
    const int rc = libusb_init(&c->ctx);
    if (rc != 0) {
        c->ctx = nullptr;
        *error = u"libusb_init failed. return %1."_s.arg(rc);
        return nullptr;
    }
    return c;
}

bool hasHotplug(const PContext &)
{
    return libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0;
}

void handleEvents(const PContext &c)
{
    timeval zero{0, 0};
    libusb_handle_events_timeout_completed(c->ctx, &zero, nullptr);
}

bool registerHotplug(const PContext &c)
{
    const int rc = libusb_hotplug_register_callback(
        c->ctx, libusb_hotplug_event(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        LIBUSB_HOTPLUG_ENUMERATE, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        onHotplug, c.get(), &c->hotplugHandle);
    c->hotplug = rc == 0;
    return c->hotplug;
}

QList<HotplugEvent> takeEvents(const PContext &c)
{
    std::lock_guard lock(c->mutex);
    QList<HotplugEvent> out;
    out.swap(c->events);
    return out;
}

QList<libusb_device *> listDevices(const PContext &c)
{
    QList<libusb_device *> out;
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(c->ctx, &list);
    for (ssize_t i = 0; i < n; ++i)
        out.append(libusb_ref_device(list[i]));
    if (list)
        libusb_free_device_list(list, 1);
    return out;
}

void unref(libusb_device *dev)
{
    libusb_unref_device(dev);
}

void ref(libusb_device *dev)
{
    libusb_ref_device(dev);
}

QString portPath(libusb_device *dev)
{
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    QString path = u"usb:%1-"_s.arg(libusb_get_bus_number(dev));
    for (int i = 0; i < n; ++i)
        path += (i ? u"."_s : QString()) + QString::number(ports[i]);
    return path;
}

bool isAdbDevice(libusb_device *dev)
{
    return findInterface(dev).number >= 0;
}

std::unique_ptr<AdbTransport> open(const PContext &ctx, libusb_device *dev, QString *serial, QString *error,
                                   bool *retry)
{
    *retry = false;
    const AdbInterface iface = findInterface(dev);
    if (iface.number < 0) {
        *error = u"no adb interface"_s;
        return nullptr;
    }
    libusb_device_handle *h = nullptr;
    int rc = libusb_open(dev, &h);
    if (rc != 0) {
        *retry = rc == LIBUSB_ERROR_ACCESS;
        *error = rc == LIBUSB_ERROR_ACCESS ? u"no permissions (missing udev rules? user is in the plugdev group?)"_s
                                           : u"libusb_open failed. return %1."_s.arg(usbError(rc));
        return nullptr;
    }
    libusb_device_descriptor desc;
    unsigned char text[256] = {0};
    if (libusb_get_device_descriptor(dev, &desc) == 0 && desc.iSerialNumber &&
        libusb_get_string_descriptor_ascii(h, desc.iSerialNumber, text, sizeof text - 1) > 0)
        *serial = QString::fromLatin1(reinterpret_cast<const char *>(text)).trimmed();
    libusb_set_auto_detach_kernel_driver(h, 1);
    rc = libusb_claim_interface(h, iface.number);
    if (rc != 0) {
        libusb_close(h);
        *error = rc == LIBUSB_ERROR_BUSY ? u"the adb interface is busy (another adb server holds it)"_s
                                         : u"libusb_claim_interface failed. return %1."_s.arg(usbError(rc));
        return nullptr;
    }
    return std::make_unique<UsbTransport>(ctx, h, iface, portPath(dev));
}

} // namespace adbusb
