#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

namespace {

// The probe's report on its standard output, and why it could not run.
struct ProbeRun
{
    QJsonObject report;
    QString failure;
};

// An ordinary user is nobody where the tests run as root (as in CI).
bool runsAsNobody(bool ordinaryUser)
{
    return ordinaryUser && ::geteuid() == 0;
}

QStringList asUser(bool ordinaryUser, const QString &program, const QStringList &arguments)
{
    const QStringList nobody{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    return (runsAsNobody(ordinaryUser) ? nobody : QStringList()) + QStringList{program} + arguments;
}

// The test's own XDG folders under root: home/ ($XDG_CONFIG_HOME), system/
// ($XDG_CONFIG_DIRS, machine-wide), data/ and runtime/. Where nobody stands
// in, home/, data/ and runtime/ are handed to it and system/ stays root's.
QProcessEnvironment probeEnvironment(const QString &root, bool ordinaryUser = false)
{
    QFile::setPermissions(root, QFile::permissions(root) | QFile::ReadOther | QFile::ExeOther);
    for (const char *folder : {"home", "system", "data", "runtime"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(folder));
    QFile::setPermissions(root + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const passwd *nobody = ::getpwnam("nobody");
    for (const char *folder : {"home", "data", "runtime"})
        if (nobody && runsAsNobody(ordinaryUser)
            && ::chown(QFile::encodeName(root + '/' + folder).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
            qWarning("cannot hand %s to nobody", folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_CONFIG_HOME"})
        environment.insert(QLatin1String(name), root + QStringLiteral("/home"));
    environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), root + QStringLiteral("/system"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
    environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    return environment;
}

ProbeRun runProbe(const QString &probe, const QStringList &arguments, const QString &root, bool ordinaryUser = false)
{
    QProcess child;
    child.setProcessEnvironment(probeEnvironment(root, ordinaryUser));
    const QStringList command = asUser(ordinaryUser, probe, arguments);
    child.start(command.first(), command.mid(1));
    if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit)
        return {{}, QStringLiteral("the probe did not finish: ") + child.errorString()};
    const QByteArray output = child.readAllStandardOutput();
    QJsonParseError error;
    ProbeRun run{QJsonDocument::fromJson(output, &error).object(), {}};
    if (child.exitCode() != 0 || error.error != QJsonParseError::NoError)
        run.failure = QStringLiteral("exit %1: %2 %3")
                          .arg(child.exitCode())
                          .arg(QString::fromLocal8Bit(output), QString::fromLocal8Bit(child.readAllStandardError()));
    return run;
}

} // namespace

// Start-with-session as the user meets it: the configuration program's
// assignment made by an ordinary account (nobody, where the tests run as
// root) and by root, and the entry it leaves started as a session starts it.
class tst_StartWithSession : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString root() const { return m_dir->path(); }
    QString userEntry() const { return root() + QStringLiteral("/home/autostart/Tintarel.desktop"); }
    QString machineEntry() const { return root() + QStringLiteral("/system/autostart/Tintarel.desktop"); }
    void machineFolderWritable(bool writable)
    {
        // Where root's file modes mean nothing, nobody stands in.
        if (!writable && ::geteuid() == 0)
            return;
        QFile::setPermissions(root() + QStringLiteral("/system/autostart"), QFileDevice::Permissions(writable ? 0x7755 : 0x5555));
    }

    // A program folder holding the probe (whose folder the entry names) and
    // a stand-in clock that says where it was started from.
    QString programFolder(const QString &name)
    {
        const QString folder = root() + QStringLiteral("/programs/") + name;
        QDir().mkpath(folder);
        QFile::copy(QStringLiteral(OSTREVOL_PROBE), folder + QStringLiteral("/ostrevol_probe"));
        QFile clock(folder + QStringLiteral("/Tintarel"));
        if (clock.open(QIODevice::WriteOnly))
            clock.write("#!/bin/sh\nprintf '%s' \"$0\" > \"$STARTED\"\n");
        clock.setPermissions(QFileDevice::Permissions(0x7755));
        for (QString up = folder; up != root(); up = QFileInfo(up).absolutePath())
            QFile::setPermissions(up, QFile::permissions(up) | QFile::ReadOther | QFile::ExeOther);
        return folder;
    }
    // Assigns Démarrage as the configuration program's "OK" does: the value
    // before and after, and the messages shown.
    QJsonObject assign(const QString &folder, const QString &value, bool ordinaryUser = true)
    {
        const ProbeRun run = runProbe(folder + QStringLiteral("/ostrevol_probe"), {QStringLiteral("demarrage"), value},
                                      root(), ordinaryUser);
        if (!run.failure.isEmpty())
            qWarning("%s", qPrintable(run.failure));
        return run.report;
    }
    // The program `gio launch` starts from the entry, as a session does.
    QString launched(const QString &entry, bool ordinaryUser = true)
    {
        const QString started = root() + QStringLiteral("/out/started");
        QDir().mkpath(QFileInfo(started).absolutePath());
        QFile::setPermissions(QFileInfo(started).absolutePath(), QFileDevice::Permissions(0x7777));
        QFile::remove(started);
        QProcess gio;
        QProcessEnvironment environment = probeEnvironment(root(), ordinaryUser);
        environment.insert(QStringLiteral("STARTED"), started);
        gio.setProcessEnvironment(environment);
        const QStringList command = asUser(ordinaryUser, QStringLiteral("gio"), {QStringLiteral("launch"), entry});
        gio.start(command.first(), command.mid(1));
        if (!gio.waitForFinished(30000) || gio.exitCode() != 0)
            return QStringLiteral("gio failed: ") + QString::fromLocal8Bit(gio.readAllStandardError());
        QFile file(started);
        if (!QTest::qWaitFor([&] { return file.exists(); }, 10000) || !file.open(QIODevice::ReadOnly))
            return QStringLiteral("nothing started");
        return QString::fromUtf8(file.readAll());
    }
    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static bool hidden(const QString &path) { return contents(path).contains("\nHidden=true\n"); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        probeEnvironment(root(), true);
        QDir().mkpath(root() + QStringLiteral("/system/autostart"));
        machineFolderWritable(false);
    }
    void cleanup() { machineFolderWritable(true); }

    void tickedThenUnticked_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("spaces") << "Mon Horloge";
        QTest::newRow("quotes") << "l'\"horloge\"";
        QTest::newRow("dollar and backtick") << "$HOME `id`";
        QTest::newRow("backslashes") << "a\\b\\\\c";
        QTest::newRow("non-ASCII letters") << "Démarrage d'été 時計";
    }

    // Ticking makes the user's own entry, which starts the clock; unticking
    // removes it. No message either way.
    void tickedThenUnticked()
    {
        QFETCH(QString, folder);
        const QString program = programFolder(folder);
        for (int value : {1, 0}) {
            const QJsonObject report = assign(program, QString::number(value));
            QCOMPARE(report.value("before").toInt(), 1 - value);
            QCOMPARE(report.value("after").toInt(), value);
            QCOMPARE(report.value("messages").toArray(), QJsonArray());
            QVERIFY(!QFile::exists(machineEntry()));
            if (!value)
                continue;
            QCOMPARE(launched(userEntry()), program + QStringLiteral("/Tintarel"));
            // Escaped as the rules ask, though GLib starts the entry without: other sessions may not.
            QByteArray exec;
            for (const QByteArray &line : contents(userEntry()).split('\n'))
                exec = line.startsWith("Exec=") ? line : exec;
            for (const QByteArray &special : {QByteArray("$"), QByteArray("`")})
                QCOMPARE(exec.count(special), exec.count("\\\\" + special));
        }
        QVERIFY(!QFile::exists(userEntry()));
    }

    // A machine-wide entry the user cannot remove is hidden by an entry of
    // the user's own, shows unticked from then on, and can be ticked again.
    void machineEntryHiddenByTheUser()
    {
        const QString program = programFolder(QStringLiteral("prog"));
        machineFolderWritable(true);
        QFile entry(machineEntry()); // as the system's administrator put it
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Tintarel\nExec=/opt/ailleurs/Tintarel\n");
        entry.close();
        machineFolderWritable(false);

        // Ticked already, for another folder: kept as it is, as any value
        // other than 0 and 1 leaves it; then hidden, and kept so.
        for (const char *value : {"1", "2", "-1", "0", "2", "0"}) {
            const QJsonObject report = assign(program, QLatin1String(value));
            const bool unticked = QFile::exists(userEntry());
            QCOMPARE(report.value("after").toInt(), unticked ? 0 : 1);
            QCOMPARE(unticked, hidden(userEntry()));
            QCOMPARE(unticked, qstrcmp(value, "0") == 0 || report.value("before").toInt() == 0);
        }
        QVERIFY(QFile::exists(machineEntry()) && hidden(userEntry()));
        const QJsonObject report = assign(program, QStringLiteral("1"));
        QCOMPARE(report.value("after").toInt(), 1);
        QCOMPARE(report.value("messages").toArray(), QJsonArray());
        QCOMPARE(launched(userEntry()), program + QStringLiteral("/Tintarel"));
    }

    // The failure that remains for an ordinary user: a folder that cannot be
    // written, told by the library's message naming the entry's file.
    void userFolderUnwritable()
    {
        const QString program = programFolder(QStringLiteral("prog"));
        const QString folder = QFileInfo(userEntry()).absolutePath();
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::Permissions(0x5555));
        const QJsonObject report = assign(program, QStringLiteral("1"));
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7755));
        QCOMPARE(report.value("after").toInt(), 0);
        const QJsonArray messages = report.value("messages").toArray();
        QCOMPARE(messages.size(), 1);
        const QString text = messages[0].toObject().value("text").toString();
        QVERIFY2(text.startsWith("Error Creating Autostart Entry:\nFile=" + userEntry() + "\nReturned=5"), qPrintable(text));
    }

    // Root writes the machine-wide entry, and removes a hiding entry of its own.
    void rootUsesTheMachineWideEntry()
    {
        if (::geteuid() != 0)
            QSKIP("needs root");
        const QString program = programFolder(QStringLiteral("prog"));
        QDir().mkpath(QFileInfo(userEntry()).absolutePath());
        QFile hiding(userEntry());
        QVERIFY(hiding.open(QIODevice::WriteOnly));
        hiding.write("[Desktop Entry]\nType=Application\nName=Tintarel\nHidden=true\n");
        hiding.close();

        QCOMPARE(assign(program, QStringLiteral("1"), false).value("after").toInt(), 1);
        QVERIFY(!QFile::exists(userEntry()));
        QCOMPARE(launched(machineEntry(), false), program + QStringLiteral("/Tintarel"));
        QCOMPARE(assign(program, QStringLiteral("0"), false).value("after").toInt(), 0);
        QVERIFY(!QFile::exists(machineEntry()) && !QFile::exists(userEntry()));
    }

    void loadingByClassId_data()
    {
        QTest::addColumn<bool>("libraryInFolder");
        QTest::addColumn<QString>("registration"); // "", "registered", "unregistered", "registered, then removed"
        QTest::addColumn<QString>("variant");      // of the probe's "create", or "settings" for its own command
        QTest::addColumn<QString>("error");        // what the error names; empty: created
        const QString unknown = QStringLiteral("{0BADC0DE-1111-2222-0102-030405060708}");
        QTest::newRow("registered elsewhere") << false << "registered" << "" << "";
        QTest::newRow("unregistered: the program folder") << true << "" << "" << "";
        QTest::newRow("registration removed") << false << "unregistered" << "" << "{folder}/libOstrevol.so";
        QTest::newRow("registered library gone") << true << "registered, then removed" << ""
                                                 << "{root}/programs/registered/libOstrevol.so";
        QTest::newRow("wrong class id") << true << "" << "wrong-class" << unknown;
        QTest::newRow("wrong interface id") << true << "" << "wrong-interface" << "l'interface " + unknown;
        QTest::newRow("settings without the library") << false << "" << "settings" << "{folder}/libOstrevol.so";
    }

    // The library found by its class id, from a program folder of its own
    // (the programs look beside themselves) or through its registration;
    // the settings cannot be made without it.
    void loadingByClassId()
    {
        QFETCH(bool, libraryInFolder);
        QFETCH(QString, registration);
        QFETCH(QString, variant);
        QFETCH(QString, error);
        const QString library = QStringLiteral(TINTAREL_PROGRAM_DIR "/libOstrevol.so");
        const QString folder = programFolder(QStringLiteral("program"));
        const QString probe = folder + QStringLiteral("/ostrevol_probe");
        if (libraryInFolder)
            QFile::copy(library, folder + QStringLiteral("/libOstrevol.so"));
        if (!registration.isEmpty()) {
            const QString registered = programFolder(QStringLiteral("registered")) + QStringLiteral("/libOstrevol.so");
            QFile::copy(library, registered);
            QCOMPARE(runProbe(probe, {QStringLiteral("register"), registered}, root()).report.value("result").toInt(), 0);
            if (registration == QLatin1String("unregistered"))
                QCOMPARE(runProbe(probe, {QStringLiteral("unregister"), registered}, root()).report.value("result").toInt(), 0);
            if (registration == QLatin1String("registered, then removed"))
                QVERIFY(QFile::remove(registered));
        }
        const QStringList command = variant == QLatin1String("settings") ? QStringList{variant}
                                                                          : QStringList{QStringLiteral("create"), variant};
        const ProbeRun run = runProbe(probe, command, root());
        QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
        QCOMPARE(run.report.value("created").toBool(), error.isEmpty());
        const QString said = run.report.value("error").toString();
        QVERIFY2(said.contains(QString(error).replace("{folder}", folder).replace("{root}", root())), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(tst_StartWithSession)
#include "tst_startwithsession.moc"
