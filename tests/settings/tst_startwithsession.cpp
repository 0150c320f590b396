#include "ProbeRun.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <sys/stat.h>

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
        clock.setPermissions(QFile::permissions(clock.fileName()) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
        for (QString up = folder; up != root(); up = QFileInfo(up).absolutePath())
            QFile::setPermissions(up, QFile::permissions(up) | QFile::ReadOther | QFile::ExeOther);
        return folder;
    }
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
        if (!QTest::qWaitFor([&] { return file.exists(); }, 10000))
            return QStringLiteral("nothing started");
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("nothing started");
    }
    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QJsonArray noMessages() { return {}; }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        probeEnvironment(root(), true);
        QDir().mkpath(root() + QStringLiteral("/system/autostart"));
        if (::geteuid() != 0) // where root's file modes mean nothing, nobody stands in
            QFile::setPermissions(root() + QStringLiteral("/system/autostart"), QFileDevice::Permissions(0x5555));
    }
    void cleanup() { QFile::setPermissions(root() + QStringLiteral("/system/autostart"), QFileDevice::Permissions(0x7755)); }

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
        QJsonObject report = assign(program, QStringLiteral("1"));
        QCOMPARE(report.value("before").toInt(), 0);
        QCOMPARE(report.value("after").toInt(), 1);
        QCOMPARE(report.value("messages").toArray(), noMessages());
        QVERIFY(!QFile::exists(machineEntry()));
        QCOMPARE(launched(userEntry()), program + QStringLiteral("/Tintarel"));

        report = assign(program, QStringLiteral("0"));
        QCOMPARE(report.value("before").toInt(), 1);
        QCOMPARE(report.value("after").toInt(), 0);
        QCOMPARE(report.value("messages").toArray(), noMessages());
        QVERIFY(!QFile::exists(userEntry()));
    }

    // A machine-wide entry the user cannot remove is hidden by an entry of
    // the user's own, shows unticked from then on, and can be ticked again.
    void machineEntryHiddenByTheUser()
    {
        const QString program = programFolder(QStringLiteral("prog"));
        QFile::setPermissions(root() + QStringLiteral("/system/autostart"), QFileDevice::Permissions(0x7755));
        QFile entry(machineEntry()); // as the system's administrator put it
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Tintarel\nExec=/opt/ailleurs/Tintarel\n");
        entry.close();
        cleanup();
        if (::geteuid() != 0)
            QFile::setPermissions(root() + QStringLiteral("/system/autostart"), QFileDevice::Permissions(0x5555));

        // Ticked already, for another folder: kept as it is, as any value
        // other than 0 and 1 leaves it.
        for (const char *value : {"1", "2", "-1"}) {
            const QJsonObject report = assign(program, value);
            QCOMPARE(report.value("after").toInt(), 1);
            QVERIFY(!QFile::exists(userEntry()));
        }
        QJsonObject report = assign(program, QStringLiteral("0"));
        QCOMPARE(report.value("before").toInt(), 1);
        QCOMPARE(report.value("after").toInt(), 0);
        QVERIFY(QFile::exists(machineEntry()));
        QVERIFY(contents(userEntry()).contains("\nHidden=true\n"));
        QCOMPARE(assign(program, QStringLiteral("2")).value("after").toInt(), 0);
        QCOMPARE(assign(program, QStringLiteral("0")).value("after").toInt(), 0);
        QVERIFY(contents(userEntry()).contains("\nHidden=true\n"));

        report = assign(program, QStringLiteral("1"));
        QCOMPARE(report.value("after").toInt(), 1);
        QCOMPARE(report.value("messages").toArray(), noMessages());
        QCOMPARE(launched(userEntry()), program + QStringLiteral("/Tintarel"));
    }

    // The failure that remains for an ordinary user: a folder that cannot be
    // written, told by the library's message naming the entry's file.
    void userFolderUnwritable()
    {
        const QString program = programFolder(QStringLiteral("prog"));
        QDir().mkpath(QFileInfo(userEntry()).absolutePath());
        QFile::setPermissions(QFileInfo(userEntry()).absolutePath(), QFileDevice::Permissions(0x5555));
        const QJsonObject report = assign(program, QStringLiteral("1"));
        QFile::setPermissions(QFileInfo(userEntry()).absolutePath(), QFileDevice::Permissions(0x7755));
        QCOMPARE(report.value("after").toInt(), 0);
        const QJsonArray messages = report.value("messages").toArray();
        QCOMPARE(messages.size(), 1);
        const QString text = messages[0].toObject().value("text").toString();
        QVERIFY2(text.startsWith("Error Creating Autostart Entry:\nFile=" + userEntry()
                                 + "\nReturned=5Impossible d'ajouter l'application \"Tintarel\""),
                 qPrintable(text));
        QVERIFY(!text.contains(QLatin1String("Windows")));
    }

    // Root writes the machine-wide entry, and removes a hiding entry of its own.
    void rootUsesTheMachineWideEntry()
    {
        if (::geteuid() != 0)
            QSKIP("needs root");
        const QString program = programFolder(QStringLiteral("prog"));
        QDir().mkpath(QFileInfo(userEntry()).absolutePath());
        QFile hidden(userEntry());
        QVERIFY(hidden.open(QIODevice::WriteOnly));
        hidden.write("[Desktop Entry]\nType=Application\nName=Tintarel\nHidden=true\n");
        hidden.close();

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
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QString>("error"); // what the error names; empty: created
        const QString unknown = QStringLiteral("{0BADC0DE-1111-2222-0102-030405060708}");
        QTest::newRow("registered elsewhere") << false << "registered" << "" << "";
        QTest::newRow("unregistered: the program folder") << true << "" << "" << "";
        QTest::newRow("registration removed") << false << "unregistered" << "" << "{folder}/libOstrevol.so";
        QTest::newRow("registered library gone") << true << "registered, then removed" << ""
                                                 << "{root}/programs/registered/libOstrevol.so";
        QTest::newRow("wrong class id") << true << "" << "wrong-class" << unknown;
        QTest::newRow("wrong interface id") << true << "" << "wrong-interface" << "l'interface " + unknown;
    }

    // The library found by its class id, from a program folder of its own
    // (the programs look beside themselves) or through its registration.
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
        const ProbeRun run = runProbe(probe, {QStringLiteral("create"), variant}, root());
        QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
        QCOMPARE(run.report.value("created").toBool(), error.isEmpty());
        const QString said = run.report.value("error").toString();
        QVERIFY2(said.contains(QString(error).replace("{folder}", folder).replace("{root}", root())), qPrintable(said));
    }

    // The settings cannot be created without the library, which is named.
    void libraryMissingFailsCreation()
    {
        const QString folder = root() + QStringLiteral("/alone");
        QDir().mkpath(folder);
        QVERIFY(QFile::copy(QStringLiteral(OSTREVOL_PROBE), folder + QStringLiteral("/ostrevol_probe")));
        const ProbeRun run = runProbe(folder + QStringLiteral("/ostrevol_probe"), {QStringLiteral("settings")}, root());
        QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
        QCOMPARE(run.report.value("created").toBool(), false);
        QVERIFY(run.report.value("error").toString().contains(folder + QStringLiteral("/libOstrevol.so")));
    }
};

QTEST_GUILESS_MAIN(tst_StartWithSession)
#include "tst_startwithsession.moc"
