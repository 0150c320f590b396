#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

// An ordinary user is nobody where the tests run as root (as in CI).
static bool asNobody(bool ordinaryUser)
{
    return ordinaryUser && ::geteuid() == 0;
}

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
        if (writable || ::geteuid() != 0)
            QFile::setPermissions(root() + "/system/autostart", QFileDevice::Permissions(writable ? 0x7755 : 0x5555));
    }

    // Runs a program with the test's own XDG folders: home/ ($XDG_CONFIG_HOME),
    // system/ ($XDG_CONFIG_DIRS, machine-wide), data/ and runtime/. Where
    // nobody stands in, all but system/ are handed to it. Its output.
    QByteArray run(const QString &program, const QStringList &arguments, bool ordinaryUser, const QString &started = {})
    {
        QFile::setPermissions(root(), QFile::permissions(root()) | QFile::ReadOther | QFile::ExeOther);
        const passwd *nobody = ::getpwnam("nobody");
        for (const char *folder : {"system", "home", "data", "runtime"}) {
            const QString path = root() + '/' + folder;
            QDir().mkpath(path);
            if (qstrcmp(folder, "system") && nobody && asNobody(ordinaryUser)
                && ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
                qWarning("cannot hand %s to nobody", folder);
        }
        QFile::setPermissions(root() + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"HOME", "XDG_CONFIG_HOME"})
            environment.insert(QLatin1String(name), root() + "/home");
        environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), root() + "/system");
        environment.insert(QStringLiteral("XDG_DATA_HOME"), root() + "/data");
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root() + "/runtime");
        environment.insert(QStringLiteral("STARTED"), started);
        environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        QProcess child;
        child.setProcessEnvironment(environment);
        const QStringList setpriv{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", program};
        const QStringList command = (asNobody(ordinaryUser) ? setpriv : QStringList{program}) + arguments;
        child.start(command.first(), command.mid(1));
        if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            qWarning("%s failed: %s", qPrintable(program), child.readAllStandardError().constData());
        return child.readAllStandardOutput();
    }
    // The probe's report, run from a program folder of programFolder().
    QJsonObject probe(const QString &folder, const QStringList &arguments, bool ordinaryUser = false)
    {
        return QJsonDocument::fromJson(run(folder + "/ostrevol_probe", arguments, ordinaryUser)).object();
    }
    // Assigns Démarrage as the configuration program's "OK" does: the value
    // before and after, and the messages shown.
    QJsonObject assign(const QString &folder, const QString &value, bool ordinaryUser = true)
    {
        return probe(folder, {QStringLiteral("demarrage"), value}, ordinaryUser);
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
    // The program `gio launch` starts from the entry, as a session does.
    QString launched(const QString &entry, bool ordinaryUser = true)
    {
        const QString started = root() + QStringLiteral("/out/started");
        QDir().mkpath(root() + "/out");
        QFile::setPermissions(root() + "/out", QFileDevice::Permissions(0x7777));
        QFile::remove(started);
        run(QStringLiteral("gio"), {QStringLiteral("launch"), entry}, ordinaryUser, started);
        QFile file(started);
        return QTest::qWaitFor([&] { return file.size() > 0; }, 10000) && file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.readAll()) : QStringLiteral("nothing started");
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
        QDir().mkpath(root() + QStringLiteral("/system/autostart"));
        machineFolderWritable(false);
    }
    void cleanup() { machineFolderWritable(true); }

    // Ticking makes the user's own entry, which starts the clock from a
    // folder whose name needs quoting; unticking removes it. No message either way.
    void tickedThenUnticked()
    {
        const QString program = programFolder(QStringLiteral("l'\"horloge\" $HOME `id` a\\b\\\\c d'été 時計"));
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
            const QByteArray entry = contents(userEntry());
            const QByteArray exec = entry.mid(entry.indexOf("\nExec=")).split('\n').value(1);
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
        QVERIFY(entry.open(QIODevice::WriteOnly) && entry.write("[Desktop Entry]\nExec=/opt/a/Tintarel\n") > 0);
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
        QVERIFY(messages[0].toString().contains(userEntry()));
    }

    // Root writes the machine-wide entry, and removes a hiding entry of its own.
    void rootUsesTheMachineWideEntry()
    {
        if (::geteuid() != 0)
            QSKIP("needs root");
        const QString program = programFolder(QStringLiteral("prog"));
        QDir().mkpath(QFileInfo(userEntry()).absolutePath());
        QFile hiding(userEntry());
        QVERIFY(hiding.open(QIODevice::WriteOnly) && hiding.write("[Desktop Entry]\nHidden=true\n") > 0);
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
        QTest::newRow("wrong interface id") << true << "" << "wrong-interface" << unknown;
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
        if (libraryInFolder)
            QFile::copy(library, folder + QStringLiteral("/libOstrevol.so"));
        if (!registration.isEmpty()) {
            const QString registered = programFolder(QStringLiteral("registered")) + QStringLiteral("/libOstrevol.so");
            QFile::copy(library, registered);
            QCOMPARE(probe(folder, {QStringLiteral("register"), registered}).value("result").toInt(), 0);
            if (registration == QLatin1String("unregistered"))
                QCOMPARE(probe(folder, {QStringLiteral("unregister"), registered}).value("result").toInt(), 0);
            if (registration == QLatin1String("registered, then removed"))
                QVERIFY(QFile::remove(registered));
        }
        const QStringList command = variant == QLatin1String("settings") ? QStringList{variant}
                                                                          : QStringList{QStringLiteral("create"), variant};
        const QJsonObject report = probe(folder, command);
        QCOMPARE(report.value("created").toBool(), error.isEmpty());
        const QString said = report.value("error").toString();
        QVERIFY2(said.contains(QString(error).replace("{folder}", folder).replace("{root}", root())), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(tst_StartWithSession)
#include "tst_startwithsession.moc"
