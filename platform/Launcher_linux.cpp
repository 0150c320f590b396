#include "Launcher.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace Launcher {

namespace {

int codeFor(int error)
{
    switch (error) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EACCES:
    case EPERM: return 5;
    case ENOMEM:
    case E2BIG: return 8;
    case ENOEXEC:
    case ELIBBAD: return 11;
    default: return 0;
    }
}

// The write end of the pipe to the helper of startAfterExit; -1 without one.
int helperPipe = -1;

} // namespace

int startDetached(const QString &program, const QStringList &arguments, const QString &workingFolder)
{
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> storage{path};
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray folder = QFile::encodeName(workingFolder);
    if (!folder.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own session, so that it outlives us and our terminal.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    pid_t child = 0;
    const int error = posix_spawn(&child, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        // A missing working folder is reported as a missing program; tell them apart.
        if (error == ENOENT && !folder.isEmpty() && !QFile::exists(workingFolder))
            return 3;
        return codeFor(error);
    }
    return 42;
}

bool startAfterExit(const QString &program)
{
    if (helperPipe >= 0)
        return true;
    int ends[2];
    // Close-on-exec: a program we start must not hold the pipe open, or the
    // helper would wait for that program instead of us. A socket rather than
    // a pipe, so that a helper gone before us costs no SIGPIPE.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    // Everything the helper needs is made before the fork.
    QByteArray path = QFile::encodeName(program);
    char *const argv[] = {path.data(), nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    // The program gets the signal handling the helper gave up.
    sigset_t noneBlocked, ignoredByHelper;
    sigemptyset(&noneBlocked);
    sigemptyset(&ignoredByHelper);
    for (int signalNumber : {SIGHUP, SIGINT, SIGTERM, SIGPIPE})
        sigaddset(&ignoredByHelper, signalNumber);
    posix_spawnattr_setsigmask(&attributes, &noneBlocked);
    posix_spawnattr_setsigdefault(&attributes, &ignoredByHelper);

    const pid_t helper = ::fork();
    if (helper < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        posix_spawnattr_destroy(&attributes);
        return false;
    }
    if (helper == 0) {
        ::close(ends[1]);
        // Out of the program's process group and terminal as well.
        ::setsid();
        // The signals that end the program (a closed terminal, Ctrl+C sent to
        // its process group) must not end the one that keeps its promise.
        for (int signalNumber : {SIGHUP, SIGINT, SIGTERM, SIGPIPE})
            ::signal(signalNumber, SIG_IGN);
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2 && null >= 0; ++fd)
            ::dup2(null, fd);
        // Each byte is the latest word on the promise; the end of the pipe
        // is the end of the program.
        bool owed = false;
        char byte = 0;
        for (;;) {
            const ssize_t got = ::read(ends[0], &byte, 1);
            if (got == 1)
                owed = byte == '1';
            else if (got == 0 || errno != EINTR)
                break;
        }
        if (owed) {
            pid_t child = 0;
            posix_spawn(&child, argv[0], nullptr, &attributes, argv, environ);
        }
        ::_exit(0);
    }
    ::close(ends[0]);
    posix_spawnattr_destroy(&attributes);
    helperPipe = ends[1];
    return true;
}

void setStartOwed(bool owed)
{
    if (helperPipe < 0)
        return;
    const char byte = owed ? '1' : '0';
    while (::send(helperPipe, &byte, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

} // namespace Launcher
