#pragma once

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

// Runs a program of the tests with a test's own XDG folders under root:
// home/ ($XDG_CONFIG_HOME), system/ ($XDG_CONFIG_DIRS, machine-wide), data/
// and runtime/. As an ordinary user it runs as nobody where the tests run as
// root (as in CI), with home/, data/ and runtime/ handed to nobody and
// system/ left to root, so the machine-wide folder is read-only for it.
struct ProbeRun
{
    QJsonObject report;
    QString failure; // why the program could not run
};

inline bool runsAsNobody(bool ordinaryUser)
{
    return ordinaryUser && ::geteuid() == 0;
}

inline QStringList asUser(bool ordinaryUser, const QString &program, const QStringList &arguments)
{
    const QStringList nobody{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    return (runsAsNobody(ordinaryUser) ? nobody : QStringList()) + QStringList{program} + arguments;
}

inline QProcessEnvironment probeEnvironment(const QString &root, bool ordinaryUser = false)
{
    QFile::setPermissions(root, QFile::permissions(root) | QFile::ReadOther | QFile::ExeOther);
    for (const char *folder : {"home", "system", "data", "runtime"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(folder));
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const passwd *nobody = ::getpwnam("nobody");
    for (const char *folder : {"home", "data", "runtime"})
        if (nobody && runsAsNobody(ordinaryUser)
            && ::chown(QFile::encodeName(root + '/' + folder).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
            qWarning("cannot hand %s to nobody", folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/home"));
    environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), root + QStringLiteral("/system"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
    environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    return environment;
}

// The program's standard output, read as one JSON object.
inline ProbeRun runProbe(const QString &probe, const QStringList &arguments, const QString &root,
                         bool ordinaryUser = false)
{
    QProcess child;
    child.setProcessEnvironment(probeEnvironment(root, ordinaryUser));
    const QStringList command = asUser(ordinaryUser, probe, arguments);
    child.start(command.first(), command.mid(1));
    ProbeRun run;
    if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit) {
        run.failure = QStringLiteral("the probe did not finish: ") + child.errorString();
        return run;
    }
    const QByteArray output = child.readAllStandardOutput();
    QJsonParseError error;
    run.report = QJsonDocument::fromJson(output, &error).object();
    if (child.exitCode() != 0 || error.error != QJsonParseError::NoError)
        run.failure = QStringLiteral("exit %1: %2 %3")
                          .arg(child.exitCode())
                          .arg(QString::fromLocal8Bit(output), QString::fromLocal8Bit(child.readAllStandardError()));
    return run;
}
