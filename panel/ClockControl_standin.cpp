#include "ClockControl.h"

#include "ProgramFolder.h"
#include "basPublics.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <sys/types.h>

namespace {

// Until the process module is part of the build: processes found by their
// executable's file name under /proc, and asked to end by SIGTERM, which the
// clock answers as it answers a close request.
QList<pid_t> clockProcesses()
{
    QList<pid_t> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const pid_t pid = pid_t(entry.toInt(&isPid));
        if (!isPid || pid == pid_t(QCoreApplication::applicationPid()))
            continue;
        const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).symLinkTarget();
        if (QFileInfo(exe).fileName() == basPublics::clockExeName)
            found.append(pid);
    }
    return found;
}

class StandInClockControl final : public ClockControl
{
public:
    bool find() override { return !clockProcesses().isEmpty(); }

    void close() override
    {
        for (pid_t pid : clockProcesses())
            ::kill(pid, SIGTERM);
        const QDeadlineTimer deadline(3000);
        while (!deadline.hasExpired() && !clockProcesses().isEmpty()) {
            QEventLoop pause;
            QTimer::singleShot(20, &pause, &QEventLoop::quit);
            pause.exec();
        }
    }

    bool start(QString *error) override
    {
        const QString path = programPath(basPublics::clockExeName);
        if (QProcess::startDetached(path, {}))
            return true;
        if (error)
            *error = QStringLiteral("Impossible de lancer %1").arg(path);
        return false;
    }
};

} // namespace

std::unique_ptr<ClockControl> makeClockControl()
{
    return std::make_unique<StandInClockControl>();
}
