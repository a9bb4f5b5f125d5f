#include "programrun.h"

#include "testfiles.h"

#include <QDir>
#include <QTest>

ProcessResult runProgram(const QString &program, const QStringList &args, const QProcessEnvironment &env, int timeoutMs,
                         const QString &workingDirectory)
{
    QProcess p;
    p.setProcessEnvironment(env);
    if (!workingDirectory.isEmpty())
        p.setWorkingDirectory(workingDirectory);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, {}, "timed out"};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

QProcessEnvironment homeEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    return env;
}

QProcessEnvironment phoneEnvironment(const QString &home, const QStringList &phones)
{
    QProcessEnvironment env = homeEnvironment(home);
    env.insert(QStringLiteral("CONTACT_MOVER_ANDROID_PAUSE_MS"), QStringLiteral("0"));
    env.insert(QStringLiteral("CONTACT_MOVER_ADB_TCP"), phones.join(u','));
    return env;
}

namespace {

// Collects a starting simulator's output until its "ready" line; false when it did not come within ten seconds.
bool waitUntilReady(QProcess &process, QByteArray *out)
{
    return process.waitForStarted() &&
           QTest::qWaitFor([&] { return (*out += process.readAllStandardOutput()).contains("ready\n"); }, 10000);
}

} // namespace

bool PhoneSimProcess::start(const QString &program, const QString &folder, const QString &name, const QString &file,
                            const QByteArray &seed, int adbPort, const QStringList &extra)
{
    store = QDir(folder).filePath(file + QStringLiteral(".json"));
    QStringList args{QStringLiteral("--name"),  name, QStringLiteral("--adb-port"), QString::number(adbPort),
                     QStringLiteral("--store"), store};
    if (!seed.isEmpty()) {
        const QString seedFile = QDir(folder).filePath(file + QStringLiteral(".vcf"));
        if (!writeFile(seedFile, seed))
            return false;
        args << QStringLiteral("--seed") << seedFile;
    }
    process.start(program, args + extra);
    QByteArray out;
    if (!waitUntilReady(process, &out))
        return false;
    for (const QByteArray &line : out.split('\n')) {
        if (line.startsWith("CONTACT_MOVER_ADB_TCP="))
            serial = QString::fromLatin1(line.mid(line.indexOf('=') + 1));
        if (line.startsWith("adb-port="))
            port = line.mid(9).toInt();
    }
    return true;
}

void PhoneSimProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
}

IphoneSimProcess::~IphoneSimProcess()
{
    m_muxd.reset();
    process.terminate();
    process.waitForFinished(10000);
}

bool IphoneSimProcess::start(const QString &program, const QStringList &args)
{
    process.start(program, args);
    QByteArray out;
    if (!waitUntilReady(process, &out))
        return false;
    // The first line is USBMUXD_SOCKET_ADDRESS=<address>.
    const QByteArray env = out.split('\n').first();
    m_muxd = std::make_unique<ScopedEnv>("USBMUXD_SOCKET_ADDRESS", env.mid(env.indexOf('=') + 1));
    return true;
}
