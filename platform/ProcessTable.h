#pragma once

#include <QString>

#include <cstdint>
#include <memory>

// Process snapshots, forced ends and the terminal-services stand-in, in the
// terms of the Tool Help, process and terminal-services calls with which the
// configuration program takes a running clock down. Every handle is closed by
// whoever opened it; a table closes what is left open when it is destroyed.
//
// On Linux the snapshot is read from /proc and lists only the processes of
// this user (real uid) on this X display (DISPLAY in the process's starting
// environment, normalised as the clock's single-instance rule does), so that
// the clock of another user or another display is never found. A process's
// file name is the name of its executable file (/proc/PID/exe), not the
// shortened command name. The main thread of a process has the process's id.
namespace proc {

using HANDLE = std::int32_t;
using DWORD = std::uint32_t;

constexpr HANDLE INVALID_HANDLE_VALUE = -1;
constexpr DWORD TH32CS_SNAPPROCESS = 0x2;
constexpr DWORD TH32CS_SNAPTHREAD = 0x4;
constexpr DWORD PROCESS_TERMINATE = 0x1;
constexpr DWORD STILL_ACTIVE = 259;
constexpr int MAX_PATH = 260;

// The Tool Help records, field for field as the 32-bit ANSI ones; dwSize must
// be set to the record's size before the first call.
struct PROCESSENTRY32
{
    DWORD dwSize = 0;
    DWORD cntUsage = 0;
    DWORD th32ProcessID = 0;
    DWORD th32DefaultHeapID = 0;
    DWORD th32ModuleID = 0;
    DWORD cntThreads = 0;
    DWORD th32ParentProcessID = 0;
    std::int32_t pcPriClassBase = 0;
    DWORD dwFlags = 0;
    char szExeFile[MAX_PATH] = {}; // file name without folder, UTF-8, NUL-terminated
};
static_assert(sizeof(PROCESSENTRY32) == 296);

struct THREADENTRY32
{
    DWORD dwSize = 0;
    DWORD cntUsage = 0;
    DWORD th32ThreadID = 0;
    DWORD th32OwnerProcessID = 0;
    std::int32_t tpBasePri = 0;
    std::int32_t tpDeltaPri = 0;
    DWORD dwFlags = 0;
};
static_assert(sizeof(THREADENTRY32) == 28);

class ProcessTable
{
public:
    virtual ~ProcessTable() = default;

    // A snapshot of the processes and/or threads (TH32CS_* flags; the process
    // id is not used); INVALID_HANDLE_VALUE when none can be taken.
    virtual HANDLE createSnapshot(DWORD flags, DWORD processId) = 0;
    // Fill the entry with the first / next process or thread of the snapshot;
    // false past the last one, for a bad handle, or when dwSize is too small.
    virtual bool processFirst(HANDLE snapshot, PROCESSENTRY32 *entry) = 0;
    virtual bool processNext(HANDLE snapshot, PROCESSENTRY32 *entry) = 0;
    virtual bool threadFirst(HANDLE snapshot, THREADENTRY32 *entry) = 0;
    virtual bool threadNext(HANDLE snapshot, THREADENTRY32 *entry) = 0;
    // Closes a snapshot or a process handle.
    virtual bool closeHandle(HANDLE handle) = 0;

    // A handle on a running process for the given rights, or 0 when the
    // process does not exist or may not be signalled by us. `inherit` has no
    // meaning on Linux.
    virtual HANDLE openProcess(DWORD access, bool inherit, DWORD processId) = 0;
    // STILL_ACTIVE while the process runs. Linux tells the exit status of a
    // process to its parent only: an ended process gives false.
    virtual bool exitCodeProcess(HANDLE process, DWORD *exitCode) = 0;
    // Ends the process at once (SIGKILL on Linux, which carries no exit code:
    // the code is not used).
    virtual bool terminateProcess(HANDLE process, DWORD exitCode) = 0;

    // Terminal services: the handle of the named server, or 0 when it cannot
    // be opened. The one server there is, is this machine, named by its host
    // name; 0 as a server handle also stands for it, as on Windows.
    virtual HANDLE wtsOpenServer(const QString &serverName) = 0;
    // Ends the process through the server, as terminateProcess does.
    virtual bool wtsTerminateProcess(HANDLE server, DWORD processId, DWORD exitCode) = 0;
    virtual void wtsCloseServer(HANDLE server) = 0;
};

// The processes of this user on the display named by $DISPLAY.
std::unique_ptr<ProcessTable> makeSystemProcessTable();
// The processes of this user on the given display.
std::unique_ptr<ProcessTable> makeSystemProcessTable(const QString &display);

} // namespace proc
