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
    // Starts it; with `wait`, returns once it has announced itself on the
    // root window (_NET_SUPPORTING_WM_CHECK).
    bool start(const QString &display, bool wait = true);
    bool waitUntilRunning(int timeoutMs = 20000);
    void stop();

private:
    QProcess m_process;
    QTemporaryDir m_home;
    QString m_display;
};
