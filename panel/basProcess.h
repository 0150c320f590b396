#pragma once

#include "ProcessTable.h"
#include "WindowList.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>

// Finding a running clock, taking it down in six passes of rising force,
// and starting it again.
namespace basProcess {

// The clock's executable file name, compared exactly.
inline const QString ClockExecutable = QStringLiteral("Tintarel");

// The passing of time in this module's waits, each of which polls the elapsed
// time and yields between two looks.
class Waiting
{
public:
    virtual ~Waiting() = default;
    // Milliseconds from any fixed start, never going back.
    virtual std::int64_t elapsedMs() = 0;
    virtual void yield() = 0;
};

// Real time; a yield handles the program's pending events.
class EventLoopWaiting final : public Waiting
{
public:
    EventLoopWaiting();
    std::int64_t elapsedMs() override;
    void yield() override;

private:
    QElapsedTimer m_timer;
};

struct Collaborators
{
    proc::ProcessTable &processes;
    win::WindowList &windows;
    Waiting &waiting;
};

// The pass of the CloseProcess run in progress, 1 to 6. Module state, because
// the window callback reads it and its own value carries the process id.
extern std::int16_t ClosePass;

// True if a running process has exactly this executable file name.
bool FindProcess(proc::ProcessTable &processes, const QString &name);
// The same on this user's processes of this display.
bool FindProcess(const QString &name);

// Closes every process of that name: posted close requests to its titled
// windows (passes 1 to 3), then termination (passes 4 and 5); pass 6 only
// looks. Returns when a pass finds none, after pass 6, or at once when no
// snapshot can be taken.
void CloseProcess(const Collaborators &system, const QString &name);
// The same with this program's event loop and this display's processes and
// windows.
void CloseProcess(const QString &name);

// One top-level window of a thread of a process being closed; lParam is the
// owner process id and is not used. Always asks for the next window.
bool EnumThreadWndProc(const Collaborators &system, win::HWND window, win::LPARAM lParam);
// The window's title; empty for an untitled or missing window.
QString GetWindowTitle(win::WindowList &windows, win::HWND window);
// Posts the close request if the rule of the current ClosePass allows it.
void CloseWindowForPass(const Collaborators &system, win::HWND window);
// Bottom of the stacking order, close request, then WaitWindowGone.
void PostCloseMessage(const Collaborators &system, win::HWND window);
// True as soon as the window is gone; false after one second.
bool WaitWindowGone(const Collaborators &system, win::HWND window);
// Ends the process; nothing happens if it cannot be opened for that.
void KillProcess(proc::ProcessTable &processes, const proc::PROCESSENTRY32 &process);
// Lets the given time pass while yielding.
void WaitElapsed(Waiting &waiting, std::int64_t milliseconds);
// The terminal server that pass 5 asks: this machine, by its host name.
QString TerminalServerName();

// Starts the clock beside this program, without argument and without
// waiting for it. On failure, false and a sentence saying why.
bool StartClock(QString *error);
// The same for a clock program at the given path.
bool StartClock(const QString &program, QString *error);

} // namespace basProcess
