// iphone-sim: simulated iPhones behind a usbmuxd socket of their own, for tests and the demo.

#include "iphonesim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <string>

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

int usageError(const QString &text)
{
    std::fprintf(stderr, "iphone-sim: %s\n", qPrintable(text));
    return 2;
}

// One line of the control channel on stdin: "detach UDID", "attach UDID" or "quit". False on "quit".
bool command(IPhoneSim &sim, const QString &line)
{
    const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return true;
    if (words[0] == u"quit"_s)
        return false;
    if ((words[0] == u"detach"_s || words[0] == u"attach"_s) && words.size() == 2) {
        const bool ok = words[0] == u"detach"_s ? sim.detach(words[1]) : sim.attach(words[1]);
        std::printf(ok ? "%sed %s\n" : "error: can not %s %s\n", qPrintable(words[0]), qPrintable(words[1]));
    } else {
        std::printf("error: unknown command %s\n", qPrintable(line));
    }
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"iphone-sim"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Simulated iPhones behind a usbmuxd socket of their own."_s);
    parser.addHelpOption();
    const QCommandLineOption socket(u"socket"_s, u"The usbmuxd socket to create."_s, u"PATH"_s);
    const QCommandLineOption udid(u"udid"_s, u"The iPhone's UDID."_s, u"UDID"_s);
    const QCommandLineOption name(u"name"_s, u"The iPhone's name (lockdown DeviceName)."_s, u"NAME"_s);
    const QCommandLineOption store(u"store"_s, u"The iPhone's JSON store."_s, u"FILE.json"_s);
    const QCommandLineOption seed(u"seed"_s, u"vCard file that fills an empty store."_s, u"FILE.vcf"_s);
    const QCommandLineOption dlVersion(u"dl-version"_s, u"Device-link version announced: 300 or 400."_s, u"V"_s,
                                       u"400"_s);
    const QCommandLineOption fail(
        u"fail"_s, u"Fault of the first iPhone: %1."_s.arg(IPhoneSim::failModes().join(u", "_s)), u"MODE"_s);
    const QCommandLineOption trustAfter(u"trust-after"_s,
                                        u"The first iPhone does not trust the computer until the user taps Trust, "
                                        "SECONDS after start."_s,
                                        u"SECONDS"_s);
    const QCommandLineOption icloud(u"icloud"_s,
                                    u"The first iPhone keeps its contacts in iCloud: the store is its local store."_s);
    const QCommandLineOption device(u"device"_s, u"Another iPhone on the same socket."_s,
                                    u"UDID,NAME,STORE.json[,SEED.vcf]"_s);
    // Test helpers, not part of the stable command line.
    QCommandLineOption batchSize(u"batch-size"_s, u"Records per batch sent to the computer."_s, u"N"_s, u"20"_s);
    batchSize.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption transcript(u"transcript"_s, u"Write every decoded message as a JSON line."_s, u"FILE"_s);
    transcript.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption networkDevice(u"network-device"_s, u"A device reached over Wi-Fi only."_s, u"UDID,NAME"_s);
    networkDevice.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({socket, udid, name, store, seed, dlVersion, fail, trustAfter, icloud, device, batchSize,
                       transcript, networkDevice});
    parser.process(app);

    if (!parser.isSet(socket) || !parser.isSet(udid) || !parser.isSet(name))
        return usageError(u"--socket, --udid and --name are required"_s);
    bool ok = false;
    const int version = parser.value(dlVersion).toInt(&ok);
    if (!ok || (version != 300 && version != 400))
        return usageError(u"--dl-version must be 300 or 400"_s);
    const int batch = parser.value(batchSize).toInt(&ok);
    if (!ok || batch < 1)
        return usageError(u"bad --batch-size"_s);
    double trustSeconds = -1;
    if (parser.isSet(trustAfter)) {
        trustSeconds = parser.value(trustAfter).toDouble(&ok);
        if (!ok || trustSeconds < 0)
            return usageError(u"bad --trust-after"_s);
    }
    if (parser.isSet(seed) && !QFileInfo(parser.value(seed)).isReadable())
        return usageError(u"can not read --seed %1"_s.arg(parser.value(seed)));

    IPhoneSim sim(parser.value(socket));
    sim.setKeepTranscript(false);
    QString error;
    SimDeviceConfig first;
    first.udid = parser.value(udid);
    first.name = parser.value(name);
    first.storePath = parser.value(store);
    first.seedPath = parser.value(seed);
    first.dlVersion = version;
    first.fail = parser.value(fail);
    first.batchSize = batch;
    first.trustAfterSeconds = trustSeconds;
    first.icloud = parser.isSet(icloud);
    if (!sim.addDevice(first, &error))
        return usageError(error);
    for (const QString &entry : parser.values(device)) {
        const QStringList f = entry.split(u',');
        if (f.size() < 3 || f.size() > 4)
            return usageError(u"--device wants UDID,NAME,STORE.json[,SEED.vcf]: %1"_s.arg(entry));
        SimDeviceConfig more;
        more.udid = f[0];
        more.name = f[1];
        more.storePath = f[2];
        more.seedPath = f.value(3);
        more.dlVersion = version;
        more.batchSize = batch;
        if (!more.seedPath.isEmpty() && !QFileInfo(more.seedPath).isReadable())
            return usageError(u"can not read seed %1"_s.arg(more.seedPath));
        if (!sim.addDevice(more, &error))
            return usageError(error);
    }
    for (const QString &entry : parser.values(networkDevice)) {
        const QStringList f = entry.split(u',');
        if (f.size() != 2)
            return usageError(u"--network-device wants UDID,NAME: %1"_s.arg(entry));
        SimDeviceConfig wifi;
        wifi.udid = f[0];
        wifi.name = f[1];
        wifi.network = true;
        if (!sim.addDevice(wifi, &error))
            return usageError(error);
    }
    if (parser.isSet(transcript) && !sim.setTranscriptFile(parser.value(transcript), &error))
        return usageError(error);

    // SIGINT and SIGTERM end the simulator cleanly; they arrive through a descriptor next to stdin.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    if (!sim.start(&error)) {
        std::fprintf(stderr, "iphone-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\nready\n", qPrintable(sim.environment()));
    std::fflush(stdout);

    pollfd fds[2] = {{signalFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    std::string pending;
    bool running = true;
    while (running) {
        if (poll(fds, fds[1].fd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & POLLIN)
            break;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buffer[512];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                fds[1].fd = -1; // stdin closed: keep serving until a signal
                continue;
            }
            pending.append(buffer, size_t(n));
            for (size_t eol; running && (eol = pending.find('\n')) != std::string::npos;) {
                running = command(sim, QString::fromStdString(pending.substr(0, eol)).trimmed());
                pending.erase(0, eol + 1);
            }
        }
    }
    sim.stop();
    return 0;
}
