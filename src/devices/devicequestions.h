#pragma once

#include <QString>

#include <functional>

namespace devices {

// What the device layer must ask or tell the person in front of the computer. The window answers with message
// boxes, the command line with lines on stderr and timed waits. Every call comes on the thread that called into
// the layer and may block (a modal box, a wait).
class DeviceQuestions
{
public:
    virtual ~DeviceQuestions() = default;

    // An Android phone shows its "Allow USB debugging?" question and this computer is not allowed yet. `settled`
    // turns true once the phone is online (allowed) or gone. True: look again (and ask again while the phone still
    // waits); false: give up on this phone.
    virtual bool allowOnAndroid(const QString &serial, const QString &name, const std::function<bool()> &settled) = 0;

    // An iPhone does not trust this computer yet; lockdownCode is the handshake's answer (see
    // mobiledevice_trust_text). True: ask the phone again after a short pause; false: give up on it.
    virtual bool trustOnIphone(const QString &udid, int lockdownCode) = 0;

    // Something the user should know that does not stop the operation: a phone that cannot be used, one that
    // failed to load while all were listed, a reload after a failed write that failed too.
    virtual void warn(const QString &text) = 0;
};

} // namespace devices
