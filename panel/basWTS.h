#pragma once

#include "ProcessTable.h"

#include <QString>

// Ending a process through the terminal services.
namespace basWTS {

// An empty name gives 0, which stands for the local server; any other name
// opens that server (0 when it cannot be opened).
proc::HANDLE OpenWTSServer(proc::ProcessTable &processes, const QString &serverName);
// Closes the handle unless it is 0.
void CloseWTSServer(proc::ProcessTable &processes, proc::HANDLE server);
// Asks the named server to end the process with the exit code; returns what
// the server answered.
bool WTSKillProcess(proc::ProcessTable &processes, proc::DWORD processId, proc::DWORD exitCode,
                    const QString &serverName);

} // namespace basWTS
