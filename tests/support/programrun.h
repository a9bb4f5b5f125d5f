#pragma once

// Running the command line tool and the simulator programs from a test.

#include "scopedenv.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>

// How a program run ended: its exit code (-1 with err "timed out" when it did not end in time and was killed, -2
// when it crashed) and everything it printed.
struct ProcessResult
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end in the given environment (and working directory, when one is given).
ProcessResult runProgram(const QString &program, const QStringList &args, const QProcessEnvironment &env,
                         int timeoutMs = 30000, const QString &workingDirectory = QString());

// The system's environment with HOME at home: the tool's data folder is home's.
QProcessEnvironment homeEnvironment(const QString &home);

// homeEnvironment() for a run that reaches simulated Android phones at these adb endpoints (CONTACT_MOVER_ADB_TCP,
// possibly none), without the pauses meant for a real phone.
QProcessEnvironment phoneEnvironment(const QString &home, const QStringList &phones);

// A phone-sim process serving one phone; ended when the object goes.
class PhoneSimProcess
{
public:
    ~PhoneSimProcess() { stop(); }
    // Starts `program` for a phone named name, its store and vCard seed (when not empty) as <file>.json and
    // <file>.vcf in folder, its adbd on adbPort (0: a free port), and waits until it says it is ready. False when it
    // did not get there.
    bool start(const QString &program, const QString &folder, const QString &name, const QString &file,
               const QByteArray &seed, int adbPort = 0, const QStringList &extra = {});
    void stop();

    QProcess process;
    QString serial; // the endpoint the program is told in CONTACT_MOVER_ADB_TCP
    QString store;  // the phone's store file
    int port = 0;   // the adbd's port
};

// An iphone-sim process, whose usbmuxd socket libusbmuxd in this process is pointed at (USBMUXD_SOCKET_ADDRESS)
// from a successful start until the object goes; the program is ended then too.
class IphoneSimProcess
{
public:
    ~IphoneSimProcess();
    // Starts `program` with these arguments and waits until it says it is ready. False when it did not get there.
    bool start(const QString &program, const QStringList &args);

    QProcess process;

private:
    std::unique_ptr<ScopedEnv> m_muxd;
};
