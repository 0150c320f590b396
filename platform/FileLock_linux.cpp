#include "FileLock.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

FileLock::~FileLock()
{
    if (m_fd < 0)
        return;
    if (m_remove)
        ::unlink(m_path.constData());
    ::close(m_fd);
}

int FileLock::acquire(const QByteArray &path, int boundMs)
{
    m_path = path;
    const QDeadlineTimer deadline(boundMs);
    for (;;) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return errno;
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error != EINTR && (error != EWOULDBLOCK || deadline.hasExpired())) {
                ::close(fd);
                return error;
            }
            const timespec pause{0, 2000000};
            ::nanosleep(&pause, nullptr);
        }
        // The file locked may have been removed by its last holder meanwhile.
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 && held.st_dev == named.st_dev
            && held.st_ino == named.st_ino) {
            m_fd = fd;
            return 0;
        }
        ::close(fd);
    }
}
