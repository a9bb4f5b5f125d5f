#pragma once

#include "cli/cli.h"
#include "devices/deviceentry.h"
#include "devices/devicequestions.h"
#include "devices/phoneaccess.h"

// The command line's side of the device layer: its questions answered on stderr with timed waits, loads run
// with progress lines on stderr, writes run with the command's progress and exit code.
namespace cli {

using devices::DeviceEntry;

// Answers the device layer on stderr. An Android phone that asks its user about this computer is waited for up
// to 30 seconds, saying what to do; an iPhone that does not trust this computer
// is asked again every half second for CONTACT_MOVER_TRUST_WAIT seconds (60 by default), with what the user has
// to do printed whenever the phone's answer changes.
class StderrQuestions : public devices::DeviceQuestions
{
public:
    bool allowOnAndroid(const QString &serial, const QString &name, const std::function<bool()> &settled) override;
    bool trustOnIphone(const QString &udid, int lockdownCode) override;
    void warn(const QString &text) override;
};

// The questions of this process's commands.
devices::DeviceQuestions &questions();
// Phones for the commands: loads through runLoader (which throws the loading error, or CancelledByUser).
devices::PhoneAccess &phones();
// Runs a writing worker with the command's progress; the exit code of the run is left in `code`. The worker's
// (empty) success text goes to io.out only with printSuccess.
devices::RunWorker writeRunner(Io io, int &code, bool printSuccess = false);

} // namespace cli
