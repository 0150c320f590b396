#include "ClockControl.h"

#include "Launcher.h"
#include "ProgramFolder.h"
#include "basProcess.h"

namespace {

// The clock found, closed and started by the process module's routines; a
// restart promised is kept by a helper process if this one ends abruptly.
class ProcessClockControl final : public ClockControl
{
public:
    ProcessClockControl() { Launcher::startAfterExit(programPath(basProcess::ClockExecutable)); }
    bool find() override { return basProcess::FindProcess(basProcess::ClockExecutable); }
    void close() override { basProcess::CloseProcess(basProcess::ClockExecutable); }
    void promiseRestart() override { Launcher::setStartOwed(true); }
    bool start(QString *error) override
    {
        Launcher::setStartOwed(false);
        return basProcess::StartClock(error);
    }
};

} // namespace

std::unique_ptr<ClockControl> makeClockControl()
{
    return std::make_unique<ProcessClockControl>();
}
