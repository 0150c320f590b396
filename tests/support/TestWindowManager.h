#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real window manager (openbox) on a test's display. Stopped by its own
// process id when the object goes, never by name: other tests run theirs.
class TestWindowManager
{
public:
    ~TestWindowManager();
    // Starts it; with `wait`, returns once it maps windows.
    bool start(const QString &display, bool wait = true);

private:
    bool waitUntilRunning(const QString &display);

    QProcess m_process;
    QTemporaryDir m_home;
};
