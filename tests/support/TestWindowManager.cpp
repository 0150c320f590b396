#include "TestWindowManager.h"

#include "TestDisplay.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QThread>

TestWindowManager::~TestWindowManager()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool TestWindowManager::start(const QString &display, bool wait)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        env.insert(QString::fromLatin1(name), m_home.path());
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    return m_process.waitForStarted(10000) && (!wait || waitUntilRunning(display));
}

bool TestWindowManager::waitUntilRunning(const QString &display)
{
    // Announced is not yet ready: openbox drops the map requests that reach
    // it before its event loop runs. A probe window is asked for until the
    // manager maps it.
    DisplayObserver screen(display);
    const quint32 probe = screen.openWindow(QRect(0, 0, 1, 1), false);
    const QDeadlineTimer deadline(20000);
    while (screen.isConnected() && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        const QByteArray check = screen.property(screen.root(), "_NET_SUPPORTING_WM_CHECK");
        if (check.size() == 4 && screen.exists(*reinterpret_cast<const quint32 *>(check.constData())))
            screen.map(probe);
        QThread::msleep(20);
        if (screen.viewable(probe))
            return true;
    }
    return false;
}
