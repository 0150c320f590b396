#include "Launcher.h"

#include <QFile>

#include <cerrno>
#include <spawn.h>
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

} // namespace Launcher
