#pragma once

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

// Runs the probe program with a test's own XDG folders and, when asked, with
// one folder it may not write: for root (as in CI), who ignores file modes,
// a read-only bind mount in a private mount namespace; for anyone else, the
// folder's mode.
struct ProbeRun
{
    QJsonObject report;
    QString failure; // why the probe could not run
    bool namespaceRefused = false;
};

inline QProcessEnvironment probeEnvironment(const QString &root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/home"));
    environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), root + QStringLiteral("/system"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    QDir().mkpath(root + QStringLiteral("/runtime"));
    QFile::setPermissions(root + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                 | QFileDevice::ExeOwner);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
    return environment;
}

inline ProbeRun runProbe(const QString &probe, const QStringList &arguments, const QString &root,
                         const QString &readOnlyFolder = QString())
{
    QProcess child;
    child.setProcessEnvironment(probeEnvironment(root));
    const bool byMode = !readOnlyFolder.isEmpty() && ::geteuid() != 0;
    const auto writable = QFile::permissions(readOnlyFolder);
    if (byMode)
        QFile::setPermissions(readOnlyFolder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (readOnlyFolder.isEmpty() || byMode) {
        child.start(probe, arguments);
    } else {
        const QString script = QStringLiteral(
            "mount --bind \"$0\" \"$0\" && mount -o remount,ro,bind \"$0\" \"$0\" || exit 97; exec \"$@\"");
        child.start(QStringLiteral("unshare"), QStringList{QStringLiteral("-m"), QStringLiteral("--propagation"),
                                                           QStringLiteral("private"), QStringLiteral("sh"),
                                                           QStringLiteral("-c"), script, readOnlyFolder, probe}
                                                   + arguments);
    }
    ProbeRun run;
    const bool finished = child.waitForFinished(60000);
    if (byMode)
        QFile::setPermissions(readOnlyFolder, writable);
    if (!finished || child.exitStatus() != QProcess::NormalExit) {
        run.failure = QStringLiteral("the probe did not finish: ") + child.errorString();
        return run;
    }
    const QByteArray errors = child.readAllStandardError();
    if (!readOnlyFolder.isEmpty() && !byMode && (child.exitCode() == 97 || errors.startsWith("unshare:"))) {
        run.namespaceRefused = true;
        run.failure = QString::fromLocal8Bit(errors);
        return run;
    }
    const QByteArray output = child.readAllStandardOutput();
    QJsonParseError error;
    run.report = QJsonDocument::fromJson(output, &error).object();
    if (child.exitCode() != 0 || error.error != QJsonParseError::NoError)
        run.failure = QStringLiteral("exit %1: %2 %3")
                          .arg(child.exitCode())
                          .arg(QString::fromLocal8Bit(output), QString::fromLocal8Bit(errors));
    return run;
}
