// phone-sim: a simulated Android phone for tests and the demo. Its adbd face and the companion app's Wi-Fi
// listener listen on 127.0.0.1.

#include "simadbd.h"
#include "simcompanion.h"
#include "simphone.h"
#include "simrelay.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

const QStringList kFailModes = {
    u"close-mid-batch"_s, u"error-reply"_s,       u"old-version"_s,     u"bad-id"_s,           u"empty-line"_s,
    u"drop-mid-shell"_s,  u"close-mid-restore"_s, u"stall-mid-batch"_s, u"stall-mid-restore"_s};

int usageError(const QString &text)
{
    std::fprintf(stderr, "phone-sim: %s\n", qPrintable(text));
    return 2;
}

bool parsePort(const QString &text, bool allowZero, quint16 *out)
{
    bool ok = false;
    const uint v = text.toUInt(&ok);
    if (!ok || v > 65535 || (!allowZero && v == 0))
        return false;
    *out = quint16(v);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"phone-sim"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Simulated Android phone: adbd over TCP on 127.0.0.1 and the companion app."_s);
    parser.addHelpOption();
    const QCommandLineOption name(u"name"_s, u"Device name (its model in the adb banner)."_s, u"NAME"_s,
                                  u"Phone Sim"_s);
    const QCommandLineOption serial(u"serial"_s, u"Serial number (getprop ro.serialno)."_s, u"SERIAL"_s,
                                    u"PHONESIM0001"_s);
    const QCommandLineOption adbPort(u"adb-port"_s, u"adbd port; 0 picks a free one."_s, u"P"_s);
    const QCommandLineOption wifiPort(u"wifi-port"_s, u"Companion Wi-Fi listener port (companion face)."_s, u"W"_s);
    const QCommandLineOption store(u"store"_s, u"The phone's JSON store."_s, u"FILE.json"_s);
    const QCommandLineOption seed(u"seed"_s, u"vCard file that fills an empty contact store (companion face)."_s,
                                  u"FILE.vcf"_s);
    const QCommandLineOption noCompanion(u"no-companion"_s, u"Run without the companion app."_s);
    const QCommandLineOption relay(
        u"companion-relay"_s,
        u"Instead of the simulated companion app, relay its sessions to the real app's "
        u"session code whose Wi-Fi listener is on 127.0.0.1:W (companion/run-tests.sh host)."_s,
        u"W"_s);
    const QCommandLineOption auth(u"auth"_s, u"Require adb AUTH; offered keys are allowed at once."_s);
    const QCommandLineOption adbd(
        u"adbd"_s,
        u"adbd generation: legacy (Android 8 and older), pie (9, 10) or current (11 and newer; the default, or $PHONE_SIM_ADBD)."_s,
        u"GENERATION"_s);
    const QCommandLineOption stalePackets(
        u"stale-packets"_s, u"Send leftovers of an earlier connection (WRTE, OKAY, CLSE) before anything else."_s);
    const QCommandLineOption bannerType(
        u"banner"_s, u"The mode adbd announces: device (default), recovery, sideload, rescue or bootloader."_s,
        u"TYPE"_s, u"device"_s);
    const QCommandLineOption fail(u"fail"_s, u"Fault to inject: %1."_s.arg(kFailModes.join(u", "_s)), u"MODE"_s);
    // Test helpers, not part of the stable command line.
    QCommandLineOption echoPort(u"echo-port"_s, u"Echo service on this port inside the phone."_s, u"PORT"_s);
    echoPort.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption authDelay(u"auth-delay"_s, u"Milliseconds before an offered key is allowed (-1: never)."_s,
                                 u"MS"_s);
    authDelay.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption maxData(u"maxdata"_s, u"maxdata announced in CNXN."_s, u"BYTES"_s);
    maxData.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption trustKey(u"trust-key"_s, u"adbkey.pub file whose key the phone already trusts."_s, u"FILE"_s);
    trustKey.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({name, serial, adbPort, wifiPort, store, seed, noCompanion, relay, auth, adbd, stalePackets,
                       bannerType, fail, echoPort, authDelay, maxData, trustKey});
    parser.process(app);

    quint16 port = 0;
    if (!parser.isSet(adbPort))
        return usageError(u"--adb-port is required"_s);
    if (!parsePort(parser.value(adbPort), true, &port))
        return usageError(u"bad --adb-port %1"_s.arg(parser.value(adbPort)));
    quint16 wifi = 0;
    if (parser.isSet(wifiPort) && !parsePort(parser.value(wifiPort), true, &wifi))
        return usageError(u"bad --wifi-port %1"_s.arg(parser.value(wifiPort)));
    QByteArray seedCards;
    if (parser.isSet(seed)) {
        QFile seedFile(parser.value(seed));
        if (!seedFile.open(QIODevice::ReadOnly))
            return usageError(u"can not read --seed %1"_s.arg(parser.value(seed)));
        seedCards = seedFile.readAll();
    }
    if (parser.isSet(fail) && !kFailModes.contains(parser.value(fail)))
        return usageError(u"unknown --fail mode %1 (known: %2)"_s.arg(parser.value(fail), kFailModes.join(u", "_s)));
    if (parser.value(name).isEmpty() || parser.value(serial).isEmpty())
        return usageError(u"--name and --serial must not be empty"_s);

    SimAdbdGeneration generation = SimAdbdGeneration::Current;
    QString generationText = parser.isSet(adbd) ? parser.value(adbd) : qEnvironmentVariable("PHONE_SIM_ADBD");
    if (generationText.isEmpty() && !parser.isSet(adbd))
        generationText = u"current"_s;
    if (!SimAdbdConfig::parseGeneration(generationText, &generation))
        return usageError(u"unknown --adbd generation %1 (known: legacy, pie, current)"_s.arg(generationText));
    const QStringList bannerTypes = {u"device"_s, u"recovery"_s, u"sideload"_s, u"rescue"_s, u"bootloader"_s};
    if (!bannerTypes.contains(parser.value(bannerType)))
        return usageError(
            u"unknown --banner %1 (known: %2)"_s.arg(parser.value(bannerType), bannerTypes.join(u", "_s)));

    SimAdbdConfig config = SimAdbdConfig::forGeneration(generation);
    config.bannerType = parser.value(bannerType);
    config.stalePackets = parser.isSet(stalePackets);
    config.requireAuth = parser.isSet(auth);
    if (parser.isSet(authDelay))
        config.acceptKeyAfterMs = parser.value(authDelay).toInt();
    if (parser.isSet(maxData)) {
        config.maxData = parser.value(maxData).toUInt();
        if (config.maxData < 256 || config.maxData > 1024 * 1024)
            return usageError(u"bad --maxdata"_s);
    }
    if (parser.value(fail) == u"drop-mid-shell"_s)
        config.dropMidShell = u"logcat"_s;
    SimCompanionConfig companionConfig;
    if (parser.isSet(fail))
        SimCompanion::parseFail(parser.value(fail), &companionConfig.fail);
    if ((parser.isSet(noCompanion) || parser.isSet(relay)) && (parser.isSet(wifiPort) || parser.isSet(seed)))
        return usageError(u"--wifi-port and --seed need the simulated companion app"_s);
    quint16 relayPort = 0;
    if (parser.isSet(relay) && !parsePort(parser.value(relay), false, &relayPort))
        return usageError(u"bad --companion-relay %1"_s.arg(parser.value(relay)));

    SimPhone phone(parser.value(name), parser.value(serial));
    QString error;
    if (parser.isSet(store) && !phone.openStore(parser.value(store), &error))
        return usageError(error);
    // The companion app: its contacts from the store (seeded when empty) and its Wi-Fi listener.
    std::unique_ptr<SimCompanion> companion;
    std::unique_ptr<SimRelay> relayed;
    if (parser.isSet(relay)) {
        relayed = std::make_unique<SimRelay>(&phone, relayPort);
    } else if (!parser.isSet(noCompanion)) {
        companion = std::make_unique<SimCompanion>(&phone, companionConfig);
        if (!companion->loadStore(&error))
            return usageError(u"%1: %2"_s.arg(parser.value(store), error));
        if (!seedCards.isEmpty())
            companion->seed(seedCards);
        if (parser.isSet(wifiPort) && !companion->listenWifi(wifi, &error)) {
            std::fprintf(stderr, "phone-sim: Wi-Fi listener: %s\n", qPrintable(error));
            return 1;
        }
    }
    for (const QString &p : parser.values(echoPort)) {
        quint16 echo = 0;
        if (!parsePort(p, false, &echo))
            return usageError(u"bad --echo-port %1"_s.arg(p));
        phone.listen(echo, SimPhone::echoService());
    }

    // SIGINT/SIGTERM end the simulator cleanly; the main thread waits for them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    {
        SimAdbd adbdFace(&phone, config);
        if (parser.isSet(trustKey)) {
            QFile keyFile(parser.value(trustKey));
            if (!keyFile.open(QIODevice::ReadOnly))
                return usageError(u"can not read --trust-key %1"_s.arg(parser.value(trustKey)));
            adbdFace.trustKey(keyFile.readAll().trimmed());
        }
        if (!adbdFace.listen(port, &error)) {
            std::fprintf(stderr, "phone-sim: %s\n", qPrintable(error));
            return 1;
        }
        // The ports, the environment lines that point the program at this phone, then "ready".
        std::printf("adb-port=%u\nCONTACT_MOVER_ADB_TCP=127.0.0.1:%u\n", adbdFace.port(), adbdFace.port());
        if (companion && companion->wifiPort() != 0)
            std::printf("wifi-port=%u\nCONTACT_MOVER_WIFI_PORT=%u\n", companion->wifiPort(), companion->wifiPort());
        std::printf("ready\n");
        std::fflush(stdout);
        int sig = 0;
        sigwait(&signals, &sig);
    }
    return 0;
}
