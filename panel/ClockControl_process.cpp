#include "ClockControl.h"

#include "basProcess.h"

namespace {

// The clock found, closed and started by the process module's routines.
class ProcessClockControl final : public ClockControl
{
public:
    bool find() override { return basProcess::FindProcess(basProcess::ClockExecutable); }
    void close() override { basProcess::CloseProcess(basProcess::ClockExecutable); }
    bool start(QString *error) override { return basProcess::StartClock(error); }
};

} // namespace

std::unique_ptr<ClockControl> makeClockControl()
{
    return std::make_unique<ProcessClockControl>();
}
