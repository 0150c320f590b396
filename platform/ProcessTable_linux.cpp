#include "ProcessTable.h"

#include "SessionScope.h"

#include <QByteArray>
#include <QList>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace proc {
namespace {

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    FileDescriptor(FileDescriptor &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    FileDescriptor &operator=(FileDescriptor &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }

private:
    int m_fd;
};

struct DirectoryCloser
{
    void operator()(DIR *directory) const { ::closedir(directory); }
};
using Directory = std::unique_ptr<DIR, DirectoryCloser>;

Directory openDirectory(const QByteArray &path)
{
    return Directory(::opendir(path.constData()));
}

// A file of /proc, read whole; empty when it cannot be read.
QByteArray readProcFile(const QByteArray &path)
{
    const FileDescriptor fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    QByteArray content;
    if (!fd.isValid())
        return content;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        content.append(buffer, n);
    }
    return content;
}

bool parseNumber(const char *text, DWORD *value)
{
    if (!*text)
        return false;
    DWORD result = 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        result = result * 10 + DWORD(*text - '0');
    }
    *value = result;
    return true;
}

// The first number after "Name:" in /proc/PID/status.
std::optional<DWORD> statusField(const QByteArray &status, const QByteArray &name)
{
    for (const QByteArray &line : status.split('\n')) {
        if (!line.startsWith(name))
            continue;
        const QList<QByteArray> words = line.mid(name.size()).simplified().split(' ');
        DWORD value = 0;
        if (!words.isEmpty() && parseNumber(words.first().constData(), &value))
            return value;
    }
    return std::nullopt;
}

QString displayOf(const QByteArray &environment)
{
    for (const QByteArray &variable : environment.split('\0'))
        if (variable.startsWith("DISPLAY="))
            return QString::fromLocal8Bit(variable.mid(8));
    return QString();
}

// The executable's file name. The kernel appends " (deleted)" to the link of
// a program whose file was replaced, as an upgrade does; the name is the same.
QByteArray executableName(const QByteArray &procFolder)
{
    char target[4096];
    const ssize_t n = ::readlink((procFolder + "/exe").constData(), target, sizeof target - 1);
    if (n <= 0)
        return QByteArray();
    QByteArray path(target, n);
    static const QByteArray deleted(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return path.mid(path.lastIndexOf('/') + 1);
}

int pidfdOpen(DWORD processId)
{
    return int(::syscall(SYS_pidfd_open, pid_t(processId), 0));
}

bool pidfdSignal(int pidfd, int signal)
{
    return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
}

// A process we may signal, held by a descriptor that cannot come to name
// another process once this one has ended.
FileDescriptor openSignallable(DWORD processId)
{
    if (processId == 0 || processId > DWORD(std::numeric_limits<pid_t>::max()))
        return FileDescriptor();
    FileDescriptor fd(pidfdOpen(processId));
    if (fd.isValid() && !pidfdSignal(fd.get(), 0))
        return FileDescriptor();
    return fd;
}

struct Snapshot
{
    std::vector<PROCESSENTRY32> processes;
    std::vector<THREADENTRY32> threads;
    std::size_t nextProcess = 0;
    std::size_t nextThread = 0;
};

struct Process
{
    FileDescriptor pidfd;
    DWORD access = 0;
};

struct Server
{
};

class LinuxProcessTable final : public ProcessTable
{
public:
    LinuxProcessTable(uid_t user, QString display)
        : m_user(user)
        , m_display(std::move(display))
    {
    }

    HANDLE createSnapshot(DWORD flags, DWORD) override
    {
        Directory proc = openDirectory("/proc");
        if (!proc)
            return INVALID_HANDLE_VALUE;
        Snapshot snapshot;
        while (const dirent *entry = ::readdir(proc.get())) {
            DWORD processId = 0;
            if (!parseNumber(entry->d_name, &processId))
                continue;
            const QByteArray folder = QByteArray("/proc/") + entry->d_name;
            const QByteArray status = readProcFile(folder + "/status");
            if (statusField(status, "Uid:") != DWORD(m_user))
                continue;
            if (normalisedDisplay(displayOf(readProcFile(folder + "/environ"))) != m_display)
                continue;
            // Kernel threads, zombies and processes we may not inspect have no
            // readable executable; they cannot be the clock.
            const QByteArray name = executableName(folder);
            if (name.isEmpty())
                continue;

            PROCESSENTRY32 process;
            process.dwSize = sizeof process;
            process.th32ProcessID = processId;
            process.th32ParentProcessID = statusField(status, "PPid:").value_or(0);
            std::strncpy(process.szExeFile, name.constData(), MAX_PATH - 1);

            if (Directory tasks = openDirectory(folder + "/task")) {
                while (const dirent *task = ::readdir(tasks.get())) {
                    THREADENTRY32 thread;
                    if (!parseNumber(task->d_name, &thread.th32ThreadID))
                        continue;
                    thread.dwSize = sizeof thread;
                    thread.th32OwnerProcessID = processId;
                    ++process.cntThreads;
                    if (flags & TH32CS_SNAPTHREAD)
                        snapshot.threads.push_back(thread);
                }
            }
            if (flags & TH32CS_SNAPPROCESS)
                snapshot.processes.push_back(process);
        }
        return keep(std::move(snapshot));
    }

    bool processFirst(HANDLE handle, PROCESSENTRY32 *entry) override
    {
        if (Snapshot *snapshot = find<Snapshot>(handle))
            snapshot->nextProcess = 0;
        return processNext(handle, entry);
    }

    bool processNext(HANDLE handle, PROCESSENTRY32 *entry) override
    {
        return next(handle, entry, &Snapshot::processes, &Snapshot::nextProcess);
    }

    bool threadFirst(HANDLE handle, THREADENTRY32 *entry) override
    {
        if (Snapshot *snapshot = find<Snapshot>(handle))
            snapshot->nextThread = 0;
        return threadNext(handle, entry);
    }

    bool threadNext(HANDLE handle, THREADENTRY32 *entry) override
    {
        return next(handle, entry, &Snapshot::threads, &Snapshot::nextThread);
    }

    bool closeHandle(HANDLE handle) override
    {
        const auto it = m_handles.find(handle);
        if (it == m_handles.end() || std::holds_alternative<Server>(it->second))
            return false;
        m_handles.erase(it);
        return true;
    }

    HANDLE openProcess(DWORD access, bool, DWORD processId) override
    {
        FileDescriptor fd = openSignallable(processId);
        if (!fd.isValid())
            return 0;
        return keep(Process {std::move(fd), access});
    }

    bool exitCodeProcess(HANDLE handle, DWORD *exitCode) override
    {
        const Process *process = find<Process>(handle);
        if (!process || !exitCode)
            return false;
        pollfd ended {process->pidfd.get(), POLLIN, 0};
        if (::poll(&ended, 1, 0) == 0) {
            *exitCode = STILL_ACTIVE;
            return true;
        }
        // Our own child can tell its status without being reaped.
        siginfo_t info {};
        if (::waitid(idtype_t(P_PIDFD), id_t(process->pidfd.get()), &info, WEXITED | WNOHANG | WNOWAIT) == 0
            && info.si_pid != 0) {
            *exitCode = DWORD(info.si_status);
            return true;
        }
        return false;
    }

    bool terminateProcess(HANDLE handle, DWORD) override
    {
        const Process *process = find<Process>(handle);
        return process && (process->access & PROCESS_TERMINATE) && pidfdSignal(process->pidfd.get(), SIGKILL);
    }

    HANDLE wtsOpenServer(const QString &serverName) override
    {
        if (serverName.isEmpty() || serverName != QSysInfo::machineHostName())
            return 0;
        return keep(Server {});
    }

    bool wtsTerminateProcess(HANDLE server, DWORD processId, DWORD) override
    {
        if (server != 0 && !find<Server>(server))
            return false;
        const FileDescriptor fd = openSignallable(processId);
        return fd.isValid() && pidfdSignal(fd.get(), SIGKILL);
    }

    void wtsCloseServer(HANDLE server) override
    {
        if (find<Server>(server))
            m_handles.erase(server);
    }

private:
    using Object = std::variant<Snapshot, Process, Server>;

    HANDLE keep(Object object)
    {
        // Handles count up from 1, skipping 0 and -1, which mean "none".
        while (m_nextHandle <= 0 || m_handles.count(m_nextHandle))
            m_nextHandle = m_nextHandle <= 0 ? 1 : m_nextHandle + 1;
        const HANDLE handle = m_nextHandle++;
        m_handles.emplace(handle, std::move(object));
        return handle;
    }

    template<class T>
    T *find(HANDLE handle)
    {
        const auto it = m_handles.find(handle);
        return it == m_handles.end() ? nullptr : std::get_if<T>(&it->second);
    }

    template<class Entry>
    bool next(HANDLE handle, Entry *entry, std::vector<Entry> Snapshot::*entries, std::size_t Snapshot::*cursor)
    {
        Snapshot *snapshot = find<Snapshot>(handle);
        if (!snapshot || !entry || entry->dwSize < sizeof(Entry))
            return false;
        if (snapshot->*cursor >= (snapshot->*entries).size())
            return false;
        *entry = (snapshot->*entries)[(snapshot->*cursor)++];
        return true;
    }

    uid_t m_user;
    QString m_display;
    std::map<HANDLE, Object> m_handles;
    HANDLE m_nextHandle = 1;
};

} // namespace

std::unique_ptr<ProcessTable> makeSystemProcessTable()
{
    return makeSystemProcessTable(currentDisplay());
}

std::unique_ptr<ProcessTable> makeSystemProcessTable(const QString &display)
{
    return std::make_unique<LinuxProcessTable>(::getuid(), normalisedDisplay(display));
}

} // namespace proc
