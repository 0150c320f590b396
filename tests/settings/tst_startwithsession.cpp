#include "TestDisplay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

// Start-with-session as the user meets it: the configuration program's
// assignment made by an ordinary account (nobody, where the tests run as
// root) and by root, and the entry it leaves started as a session starts it.
class tst_StartWithSession : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestHome> m_home;
    QString root() const { return m_home->path(); }
    QString userEntry() const { return m_home->configHome() + QStringLiteral("/autostart/Tintarel.desktop"); }
    QString machineEntry() const { return root() + QStringLiteral("/system/autostart/Tintarel.desktop"); }
    void machineFolderWritable(bool writable)
    {
        // Where root's file modes mean nothing, nobody stands in.
        if (writable || ::geteuid() != 0)
            QFile::setPermissions(root() + "/system/autostart", QFileDevice::Permissions(writable ? 0x7755 : 0x5555));
    }
    static void put(const QString &path, const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    }
    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Runs a program in the test's home, with system/ as the machine-wide
    // folder ($XDG_CONFIG_DIRS); as nobody, where the tests run as root, for
    // an ordinary user. Its output.
    QByteArray run(QStringList command, bool ordinaryUser, const QString &started = {})
    {
        if (ordinaryUser && ::geteuid() == 0) {
            openHomeToOtherUser(*m_home);
            const passwd *nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(QFile::encodeName(m_home->configHome()).constData(), nobody->pw_uid, nobody->pw_gid))
                qWarning("cannot hand the configuration folder to nobody");
            command = asOtherUser() + command;
        }
        QProcessEnvironment environment = m_home->environment(qEnvironmentVariable("DISPLAY"));
        environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), root() + "/system");
        environment.insert(QStringLiteral("STARTED"), started);
        environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(command.first(), command.mid(1));
        if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            qWarning("%s failed: %s", qPrintable(command.join(' ')), child.readAllStandardError().constData());
        return child.readAllStandardOutput();
    }
    // The probe's report, run from a program folder of programFolder().
    QJsonObject probe(const QString &folder, const QStringList &arguments, bool ordinaryUser = false)
    {
        return QJsonDocument::fromJson(run(QStringList{folder + "/ostrevol_probe"} + arguments, ordinaryUser)).object();
    }
    // Assigns Démarrage as the configuration program's "OK" does: the value
    // before and after, and the messages shown.
    QJsonObject assign(const QString &folder, int value, bool ordinaryUser = true)
    {
        return probe(folder, {QStringLiteral("demarrage"), QString::number(value)}, ordinaryUser);
    }
    // A program folder holding the probe (whose folder the entry names) and
    // a stand-in clock that says where it was started from.
    QString programFolder(const QString &name)
    {
        const QString folder = root() + QStringLiteral("/programs/") + name;
        QDir().mkpath(folder);
        QFile::copy(QStringLiteral(OSTREVOL_PROBE), folder + QStringLiteral("/ostrevol_probe"));
        put(folder + QStringLiteral("/Tintarel"), "#!/bin/sh\nprintf '%s' \"$0\" > \"$STARTED\"\n");
        QFile::setPermissions(folder + QStringLiteral("/Tintarel"), QFileDevice::Permissions(0x7755));
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
        run({QStringLiteral("gio"), QStringLiteral("launch"), entry}, ordinaryUser, started);
        QFile file(started);
        return QTest::qWaitFor([&] { return file.size() > 0; }, 10000) && file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.readAll()) : QStringLiteral("nothing started");
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<TestHome>();
        QDir().mkpath(root() + QStringLiteral("/system/autostart"));
        machineFolderWritable(false);
    }
    void cleanup() { machineFolderWritable(true); }

    void tickedThenUnticked_data()
    {
        QTest::addColumn<bool>("ordinaryUser");
        QTest::newRow("ordinary user: an entry of the user's own") << true;
        QTest::newRow("root: the machine-wide entry, and a hiding one of root's own removed") << false;
    }

    // Ticking makes the entry, which starts the clock from a folder whose
    // name needs quoting; unticking removes it. No message either way.
    void tickedThenUnticked()
    {
        QFETCH(bool, ordinaryUser);
        if (!ordinaryUser && ::geteuid() != 0)
            QSKIP("needs root");
        const QString program = programFolder(QStringLiteral("l'\"horloge\" $HOME `id` a\\b\\\\c d'été 時計"));
        const QString entry = ordinaryUser ? userEntry() : machineEntry();
        if (!ordinaryUser)
            put(userEntry(), "[Desktop Entry]\nHidden=true\n");
        for (int value : {1, 0}) {
            const QJsonObject report = assign(program, value, ordinaryUser);
            QCOMPARE(report.value("before").toInt(), 1 - value);
            QCOMPARE(report.value("after").toInt(), value);
            QCOMPARE(report.value("messages").toArray(), QJsonArray());
            QCOMPARE(int(QFile::exists(userEntry())) + int(QFile::exists(machineEntry())), value);
            QCOMPARE(QFile::exists(entry), value == 1);
            if (!value)
                continue;
            QCOMPARE(launched(entry, ordinaryUser), program + QStringLiteral("/Tintarel"));
            // Escaped as the rules ask, though GLib starts the entry without: other sessions may not.
            const QByteArray text = contents(entry);
            const QByteArray exec = text.mid(text.indexOf("\nExec=")).split('\n').value(1);
            for (const QByteArray &special : {QByteArray("$"), QByteArray("`")})
                QCOMPARE(exec.count(special), exec.count("\\\\" + special));
        }
    }

    // A machine-wide entry the user cannot remove is hidden by an entry of
    // the user's own, shows unticked from then on, and can be ticked again.
    void machineEntryHiddenByTheUser()
    {
        const QString program = programFolder(QStringLiteral("prog"));
        machineFolderWritable(true);
        put(machineEntry(), "[Desktop Entry]\nExec=/opt/a/Tintarel\n"); // as the system's administrator put it
        machineFolderWritable(false);
        // Ticked already, for another folder: kept as it is, as any value
        // other than 0 and 1 leaves it; then hidden, and kept so.
        for (int value : {1, 2, -1, 0, 2, 0}) {
            const QJsonObject report = assign(program, value);
            const bool unticked = QFile::exists(userEntry());
            QCOMPARE(report.value("after").toInt(), unticked ? 0 : 1);
            QCOMPARE(unticked, contents(userEntry()).contains("\nHidden=true\n"));
            QCOMPARE(unticked, value == 0 || report.value("before").toInt() == 0);
        }
        QVERIFY(QFile::exists(machineEntry()));
        const QJsonObject report = assign(program, 1);
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
        const QJsonObject report = assign(program, 1);
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7755));
        QCOMPARE(report.value("after").toInt(), 0);
        const QJsonArray messages = report.value("messages").toArray();
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].toString().contains(userEntry()));
    }

    void loadingByClassId_data()
    {
        QTest::addColumn<bool>("libraryInFolder");
        QTest::addColumn<QString>("registration"); // "", "registered", "unregistered", "registered, then removed"
        QTest::addColumn<QString>("variant");      // of the probe's "create", or "settings" for its own command
        QTest::addColumn<QString>("error");        // what the error names; empty: created
        const QString unknown = QStringLiteral("{0BADC0DE-1111-2222-0102-030405060708}");
        QTest::newRow("registered elsewhere") << false << "registered" << "" << "";
        QTest::newRow("registration removed") << false << "unregistered" << "" << "{folder}/libOstrevol.so";
        QTest::newRow("registered library gone")
            << true << "registered, then removed" << "" << "{root}/programs/registered/libOstrevol.so";
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
        const QJsonObject report =
            probe(folder, variant == QLatin1String("settings") ? QStringList{variant} : QStringList{"create", variant});
        QCOMPARE(report.value("created").toBool(), error.isEmpty());
        const QString said = report.value("error").toString();
        QVERIFY2(said.contains(QString(error).replace("{folder}", folder).replace("{root}", root())), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(tst_StartWithSession)
#include "tst_startwithsession.moc"
