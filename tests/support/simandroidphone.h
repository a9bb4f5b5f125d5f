#pragma once

// A simulated Android phone run in the test's own process, and what tests read back from its store.

#include "android/iandroidconnector.h"
#include "scopedenv.h"
#include "simadbd.h"
#include "simcompanion.h"
#include "simphone.h"

#include <QMap>
#include <QString>
#include <QStringList>

// The phone, its companion app and its adbd, listening on a free loopback port from construction on. Members are
// declared in the order they must end: the adbd and the companion first, the phone they use last.
struct SimAndroidPhone
{
    enum class App { Installed, Missing };

    // A phone of this name and serial; with App::Missing the program has to install the companion app first.
    SimAndroidPhone(const QString &name, const QString &serial, App app, SimCompanionConfig config = {},
                    SimAdbdConfig adbConfig = {});
    // A phone whose serial is its name in capitals without blanks, the companion app installed.
    explicit SimAndroidPhone(const QString &name, SimCompanionConfig config = {}, SimAdbdConfig adbConfig = {});

    // "127.0.0.1:<port>", as CONTACT_MOVER_ADB_TCP names the phone.
    QString endpoint() const;
    // How often the program installed the companion app.
    int installs() const;
    // The names of the phone's contacts, sorted.
    QStringList names() const;
    // name → the contact's rows other than its name, as "type:fields" sorted.
    QMap<QString, QStringList> contents() const;
    // Every field of every contact, without the ids the phone gives: one line per contact, the lines sorted.
    QStringList fields() const;
    // A connector as the program makes one for this phone, handed on once the adb handshake is done (or failed).
    PAndroidConnector connector() const;

    SimPhone phone;
    SimCompanion companion;
    SimAdbd adbd;
};

// Points the program's adb poller at these phones' endpoints (CONTACT_MOVER_ADB_TCP) for the life of the object.
struct WatchedPhones : ScopedEnv
{
    explicit WatchedPhones(const QStringList &endpoints);
};

// name → the contact's rows other than its name, as "type:fields" sorted, for any simulated phone's store.
QMap<QString, QStringList> simStoreContents(const SimContactStore &store);

// A connector to an adbd on this loopback port, as the program makes one.
PAndroidConnector adbConnectorTo(quint16 port);
