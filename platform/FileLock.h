#pragma once

#include <QByteArray>

// An advisory lock on a file of its own, taken with flock(): the kernel
// lets go of it when its holder ends, however it ends, so no program killed
// at any moment can leave it taken.
class FileLock
{
public:
    FileLock() = default;
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    ~FileLock();

    // Takes the lock on `path`, made if need be, waiting up to `boundMs`
    // for another holder. 0 once held, EWOULDBLOCK when the holder kept it
    // past the bound, else the errno of the failure.
    int acquire(const QByteArray &path, int boundMs = 0);
    // Removes the file on release, for a lock taken only now and then. Who
    // locked the file just before it went takes the new one instead.
    void removeOnRelease() { m_remove = true; }

private:
    QByteArray m_path;
    int m_fd = -1;
    bool m_remove = false;
};
