#include "ProgramFolder.h"

#include <QCoreApplication>
#include <QFileInfo>

QString programFolder()
{
    // /proc/self/exe names the program file even when started through a link.
    QString folder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (folder.isEmpty())
        folder = QCoreApplication::applicationFilePath();
    folder = QFileInfo(folder).absolutePath();
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

QString programPath(const QString &name)
{
    return programFolder() + QLatin1Char('/') + name;
}
