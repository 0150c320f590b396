#include "basWTS.h"

namespace basWTS {

proc::HANDLE OpenWTSServer(proc::ProcessTable &processes, const QString &serverName)
{
    if (serverName.isEmpty())
        return 0;
    return processes.wtsOpenServer(serverName);
}

void CloseWTSServer(proc::ProcessTable &processes, proc::HANDLE server)
{
    if (server != 0)
        processes.wtsCloseServer(server);
}

bool WTSKillProcess(proc::ProcessTable &processes, proc::DWORD processId, proc::DWORD exitCode,
                    const QString &serverName)
{
    const proc::HANDLE server = OpenWTSServer(processes, serverName);
    const bool result = processes.wtsTerminateProcess(server, processId, exitCode);
    CloseWTSServer(processes, server);
    return result;
}

} // namespace basWTS
