#include "basProcess.h"

#include "ProgramFolder.h"
#include "basWTS.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTimer>

#include <cstring>
#include <vector>

namespace basProcess {

std::int16_t ClosePass = 0;

namespace {

constexpr std::int64_t passWaitMs = 1000;
constexpr std::int64_t windowWaitMs = 1000;

QString fileName(const proc::PROCESSENTRY32 &entry)
{
    return QString::fromUtf8(entry.szExeFile, qsizetype(strnlen(entry.szExeFile, sizeof entry.szExeFile)));
}

} // namespace

EventLoopWaiting::EventLoopWaiting()
{
    m_timer.start();
}

std::int64_t EventLoopWaiting::elapsedMs()
{
    return m_timer.elapsed();
}

void EventLoopWaiting::yield()
{
    // Sleeps in the event loop until an event comes or a short tick passes:
    // the dialog stays alive and the clock being closed gets the processor.
    QTimer tick;
    tick.setSingleShot(true);
    tick.start(10);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool FindProcess(proc::ProcessTable &processes, const QString &name)
{
    const proc::HANDLE snapshot = processes.createSnapshot(proc::TH32CS_SNAPPROCESS | proc::TH32CS_SNAPTHREAD, 0);
    if (snapshot == proc::INVALID_HANDLE_VALUE)
        return false;
    proc::PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (bool more = processes.processFirst(snapshot, &entry); more && !found;
         more = processes.processNext(snapshot, &entry))
        found = fileName(entry) == name;
    processes.closeHandle(snapshot);
    return found;
}

bool FindProcess(const QString &name)
{
    return FindProcess(*proc::makeSystemProcessTable(), name);
}

void CloseProcess(const Collaborators &system, const QString &name)
{
    for (ClosePass = 1; ClosePass <= 6; ++ClosePass) {
        bool found = false;
        const proc::HANDLE snapshot =
            system.processes.createSnapshot(proc::TH32CS_SNAPPROCESS | proc::TH32CS_SNAPTHREAD, 0);
        if (snapshot == proc::INVALID_HANDLE_VALUE)
            return;
        proc::PROCESSENTRY32 process;
        process.dwSize = sizeof process;
        for (bool more = system.processes.processFirst(snapshot, &process); more;
             more = system.processes.processNext(snapshot, &process)) {
            if (fileName(process) != name)
                continue;
            found = true;
            switch (ClosePass) {
            case 1:
            case 2:
            case 3: {
                proc::THREADENTRY32 thread;
                thread.dwSize = sizeof thread;
                for (bool moreThreads = system.processes.threadFirst(snapshot, &thread); moreThreads;
                     moreThreads = system.processes.threadNext(snapshot, &thread)) {
                    if (thread.th32OwnerProcessID != process.th32ProcessID)
                        continue;
                    system.windows.enumThreadWindows(
                        thread.th32ThreadID,
                        [&system](win::HWND window, win::LPARAM lParam) {
                            return EnumThreadWndProc(system, window, lParam);
                        },
                        win::LPARAM(thread.th32OwnerProcessID));
                }
                break;
            }
            case 4:
                KillProcess(system.processes, process);
                WaitElapsed(system.waiting, passWaitMs);
                break;
            case 5:
                basWTS::WTSKillProcess(system.processes, process.th32ProcessID, 0, TerminalServerName());
                break;
            default:
                break;
            }
        }
        system.processes.closeHandle(snapshot);
        if (!found)
            return;
        WaitElapsed(system.waiting, passWaitMs);
    }
}

void CloseProcess(const QString &name)
{
    const auto processes = proc::makeSystemProcessTable();
    const auto windows = win::makeSystemWindowList();
    EventLoopWaiting waiting;
    CloseProcess({*processes, *windows, waiting}, name);
}

bool EnumThreadWndProc(const Collaborators &system, win::HWND window, win::LPARAM)
{
    const QString title = GetWindowTitle(system.windows, window);
    if (title.isEmpty() || title == QLatin1String("DDE Server Window")
        || title == QLatin1String("OleMainThreadWndName"))
        return true;
    CloseWindowForPass(system, window);
    return true;
}

QString GetWindowTitle(win::WindowList &windows, win::HWND window)
{
    const int length = windows.windowTextLength(window);
    if (length <= 0)
        return QString();
    std::vector<char> buffer(std::size_t(length) + 1, '\0');
    const int copied = windows.windowText(window, buffer.data(), length + 1);
    return QString::fromUtf8(buffer.data(), qsizetype(std::max(copied, 0)));
}

void CloseWindowForPass(const Collaborators &system, win::HWND window)
{
    switch (ClosePass) {
    case 1:
        if (system.windows.isWindowEnabled(window) && system.windows.lastActivePopup(window) == window)
            PostCloseMessage(system, window);
        break;
    case 2:
        if (system.windows.isWindowEnabled(window))
            PostCloseMessage(system, window);
        break;
    case 3:
        PostCloseMessage(system, window);
        break;
    default:
        break;
    }
}

void PostCloseMessage(const Collaborators &system, win::HWND window)
{
    win::RECT rect;
    system.windows.windowRect(window, &rect);
    system.windows.setWindowPos(window, win::HWND_BOTTOM, rect.left, rect.top, rect.right - rect.left,
                                rect.bottom - rect.top, win::SWP_NOREDRAW);
    system.windows.postMessage(window, win::WM_CLOSE, 1, 1);
    WaitWindowGone(system, window);
}

bool WaitWindowGone(const Collaborators &system, win::HWND window)
{
    const std::int64_t start = system.waiting.elapsedMs();
    for (;;) {
        system.waiting.yield();
        if (!system.windows.isWindow(window))
            return true;
        if (system.waiting.elapsedMs() - start >= windowWaitMs)
            return false;
    }
}

void KillProcess(proc::ProcessTable &processes, const proc::PROCESSENTRY32 &process)
{
    const proc::HANDLE handle = processes.openProcess(proc::PROCESS_TERMINATE, true, process.th32ProcessID);
    if (handle == 0)
        return;
    proc::DWORD exitCode = 0;
    processes.exitCodeProcess(handle, &exitCode);
    processes.terminateProcess(handle, exitCode);
    processes.closeHandle(handle);
}

void WaitElapsed(Waiting &waiting, std::int64_t milliseconds)
{
    const std::int64_t start = waiting.elapsedMs();
    do
        waiting.yield();
    while (waiting.elapsedMs() - start < milliseconds);
}

QString TerminalServerName()
{
    return QSysInfo::machineHostName();
}

bool StartClock(QString *error)
{
    return StartClock(programPath(ClockExecutable), error);
}

bool StartClock(const QString &program, QString *error)
{
    const QFileInfo file(program);
    QString reason;
    if (!file.exists())
        reason = QStringLiteral("Le programme %1 est introuvable.").arg(program);
    else if (!file.isFile() || !file.isExecutable())
        reason = QStringLiteral("Le fichier %1 n'est pas un programme exécutable.").arg(program);
    else {
        QProcess clock;
        clock.setProgram(program);
        clock.setArguments({});
        if (clock.startDetached())
            return true;
        reason = QStringLiteral("Le programme %1 n'a pas pu être démarré : %2").arg(program, clock.errorString());
    }
    if (error)
        *error = reason;
    return false;
}

} // namespace basProcess
