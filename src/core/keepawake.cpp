#include "core/keepawake.h"

#include "core/texts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

namespace {
// Short: a bus that does not answer must not hold up start-up.
constexpr int kCallTimeoutMs = 1500;

QDBusMessage screenSaverCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                          QStringLiteral("/org/freedesktop/ScreenSaver"),
                                          QStringLiteral("org.freedesktop.ScreenSaver"), method);
}
} // namespace

struct KeepAwake::Private
{
    Method method = Method::None;
    QDBusUnixFileDescriptor logindLock; // the inhibition lasts while this descriptor is open
    uint screenSaverCookie = 0;

    bool tryLogind()
    {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected())
            return false;
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:idle") << Product::title() << QStringLiteral("Moving contacts between devices")
             << QStringLiteral("block");
        QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (!reply.isValid() || !reply.value().isValid())
            return false;
        logindLock = reply.value();
        method = Method::Logind;
        return true;
    }

    bool tryScreenSaver()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return false;
        QDBusMessage call = screenSaverCall(QStringLiteral("Inhibit"));
        call << Product::title() << QStringLiteral("Moving contacts between devices");
        QDBusReply<uint> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (!reply.isValid())
            return false;
        screenSaverCookie = reply.value();
        method = Method::ScreenSaver;
        return true;
    }
};

KeepAwake::KeepAwake() : d(std::make_unique<Private>())
{
    if (!d->tryLogind())
        d->tryScreenSaver();
}

KeepAwake::~KeepAwake()
{
    release();
}

KeepAwake::Method KeepAwake::method() const
{
    return d->method;
}

void KeepAwake::release()
{
    switch (d->method) {
    case Method::Logind:
        d->logindLock = QDBusUnixFileDescriptor(); // closing our copy of the descriptor ends the block
        break;
    case Method::ScreenSaver: {
        QDBusMessage call = screenSaverCall(QStringLiteral("UnInhibit"));
        call << d->screenSaverCookie;
        QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
        break;
    }
    case Method::None:
        break;
    }
    d->method = Method::None;
}
