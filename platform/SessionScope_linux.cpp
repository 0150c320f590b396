#include "SessionScope.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

QString normalisedDisplay(const QString &display)
{
    QString host = display.trimmed();
    const int colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return host;
    QString number = host.mid(colon + 1);
    host.truncate(colon);
    const int dot = number.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        number.truncate(dot);
    if (host == QLatin1String("unix"))
        host.clear();
    return host + QLatin1Char(':') + number;
}

QString currentDisplay()
{
    return normalisedDisplay(QString::fromLocal8Bit(qgetenv("DISPLAY")));
}

QString runtimeFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists())
        return QString::fromLocal8Bit(runtime);
    const QString folder = QDir::tempPath() + QStringLiteral("/tintarel-") + QString::number(getuid());
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    struct stat info {};
    // Somebody else's folder of that name must not receive our lock and socket.
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0 || info.st_uid != getuid()
        || !S_ISDIR(info.st_mode))
        return QDir::homePath();
    return folder;
}
