#include "TestDisplay.h"
#include "TestSoundServer.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTimeZone>
#include <QtTest>

// The built clock on its own X server, telling its chime events and the
// seconds it shows: while its wall clock is moved as a sleep or a clock step
// would move it, while the user double-clicks it, while its sound server
// dies or stalls, and with its half-hour chime spoiled in a copy of the
// program folder. A failed chime is idle again only after seventy seconds,
// so the spoiled clocks start at once and each row checks its own last.
class TestChimesEndToEnd : public QObject
{
    Q_OBJECT

    struct Running
    {
        TestHome home;
        QTemporaryDir folder;
        std::unique_ptr<TestProgram> clock;
        QByteArray log;
        int count(const QByteArray &line)
        {
            log += clock->readAll();
            return int(log.count(line));
        }
        bool logged(const QByteArray &line, const QByteArray &after = {})
        {
            log += clock->readAll();
            const qsizetype start = after.isEmpty() ? 0 : log.indexOf(after);
            return start >= 0 && log.indexOf(line, start + after.size()) >= 0;
        }
        void at(const QDateTime &time) { QVERIFY(setWallClock(home, time)); }
        bool ends()
        {
            clock->terminate();
            return clock->waitForFinished(10000) && clock->exitStatus() == QProcess::NormalExit && !clock->exitCode();
        }
    };
    // Refused at "Open", known at "Play", and failing while it plays.
    const std::map<QByteArray, std::function<bool(QFile &)>> m_spoilt{
        {"missing", [](QFile &sound) { return sound.remove(); }},
        {"truncated", [](QFile &sound) { return sound.resize(1000); }},
        {"random bytes", [](QFile &sound) {
             QByteArray bytes(60000, Qt::Uninitialized);
             QRandomGenerator(20261206).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
             return sound.open(QIODevice::WriteOnly | QIODevice::Truncate) && sound.write(bytes) == bytes.size();
         }}};
    TestDisplay m_display;
    std::map<QByteArray, Running> m_clocks;

    Running &startMovable(const QByteArray &name, const QMap<QString, QString> &environment)
    {
        Running &running = m_clocks[name];
        ClockOptions options;
        options.movable = true;
        options.fakeStart = QStringLiteral("2026-12-06 10:10:00");
        options.environment = environment;
        running.clock = startClock(running.home, m_display.name(), options);
        // Moved once it ticks, however long a loaded machine takes to start it.
        [&] { QTRY_VERIFY_WITH_TIMEOUT(running.logged("show", "show"), 60000); }();
        return running;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Carill2.mp3")), "the bell sounds are not built");
        QVERIFY(m_display.start());
        for (const auto &[name, spoil] : m_spoilt) {
            Running &running = m_clocks[name];
            QFile sound(running.folder.filePath(QStringLiteral("Carill3.mp3")));
            QVERIFY(copyProgramFolder(running.folder.path()) && spoil(sound));
            ClockOptions options;
            options.folder = running.folder.path();
            options.fakeStart = QStringLiteral("2026-12-06 10:29:45");
            running.clock = startClock(running.home, m_display.name(), options);
        }
    }

    void cleanup()
    {
        if (!QTest::currentTestFailed())
            return;
        // A clock's log is a line a second; what went wrong is in the others.
        static const QRegularExpression tick(QStringLiteral("tintarel.tick: show [^\n]*\n"));
        const QByteArray name = QTest::currentDataTag() ? QTest::currentDataTag() : QTest::currentTestFunction();
        qWarning().noquote() << "clock's output, without its ticks:\n" << QString(m_clocks[name].log).remove(tick);
    }

    // One night of the clock in Paris: a chime stopped by the user, a sleep,
    // a melody cut by a second sleep, and the wall clock set back over a quarter.
    void aNightOfSleepsAndSteps()
    {
        Running &night = startMovable("aNightOfSleepsAndSteps", {{QStringLiteral("TZ"), QStringLiteral("Europe/Paris")}});
        const auto paris = [](const char *time) {
            const QDateTime t = QDateTime::fromString(QLatin1String(time), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            return QDateTime(t.date(), t.time(), QTimeZone("Europe/Paris"));
        };
        night.at(paris("2026-12-06 23:29:57"));
        QTRY_VERIFY_WITH_TIMEOUT(night.count("play Carill3.mp3 ok") == 1, 30000);
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(night.clock->processId()).has_value(), 10000);
        QVERIFY(doubleClickAt(m_display.name(), observer.faceOf(night.clock->processId())->geometry.center()));
        QTRY_VERIFY_WITH_TIMEOUT(night.count("stopped by the user") == 1, 10000);

        // The stopped chime does not keep the morning silent.
        night.at(paris("2026-12-07 07:59:56"));
        QTRY_VERIFY_WITH_TIMEOUT(night.count("play Carill1.mp3 ok") == 1, 30000);

        // The half hour chimes, and by its end the melody would long have ended: no hours.
        night.at(paris("2026-12-07 08:29:55"));
        QTRY_VERIFY_WITH_TIMEOUT(night.count("show 08:30:20") == 1, 40000);
        QCOMPARE(night.count("play Carill3.mp3 ok"), 2);
        QCOMPARE(night.count("play CarillH"), 0);
        QCOMPARE(night.count("hint Echec du carillon"), 0);

        // Set back over the quarter it has chimed: not again.
        night.at(paris("2026-12-07 08:29:58"));
        QTRY_VERIFY_WITH_TIMEOUT(night.count("show 08:30:06") == 2, 30000);
        QCOMPARE(night.count("play Carill3.mp3"), 2);
    }

    // Heard and named in the mixer; failed while its server dies, heard
    // again once it is back; a stalled server leaves the clock ticking and
    // closing cleanly.
    void aSoundServerThatDiesAndStalls()
    {
        TestSoundServer server;
        QVERIFY(server.start());
        server.startRecording();
        Running &running = startMovable("aSoundServerThatDiesAndStalls", {{"PULSE_SERVER", server.address()}});
        const auto at = [&](QTime time) { running.at(QDateTime(QDate(2026, 12, 6), time)); };
        at(QTime(10, 14, 58));
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("play Carill2.mp3 ok"), 30000);
        QMap<QString, QString> stream;
        QTRY_VERIFY_WITH_TIMEOUT(!(stream = server.streams().value(0)).isEmpty(), 10000);
        QCOMPARE(stream.value("media.name"), QStringLiteral("Carillon"));
        QCOMPARE(stream.value("application.name"), QStringLiteral("Tintarel"));
        QCOMPARE(stream.value("application.icon_name"), QStringLiteral("tintarel"));
        // The quarter lasts 7 to 9.5 seconds.
        QTRY_VERIFY_WITH_TIMEOUT(server.secondsHeard() > 6.5, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("state 0", "play Carill2.mp3"), 30000);
        QVERIFY2(server.secondsHeard() < 10, qPrintable(QString::number(server.secondsHeard())));

        at(QTime(10, 29, 57));
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("play Carill3.mp3 ok"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!server.streams().isEmpty(), 10000);
        server.kill();
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("hint Echec du carillon", "play Carill3.mp3"), 20000);
        QVERIFY(server.start());
        server.startRecording();
        at(QTime(10, 44, 57));
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("play Carill4.mp3 ok"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(server.secondsHeard() > 3, 30000);
        server.stall();
        // Ticking on, past the quarter's ten seconds, when the player is closed.
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("show 10:45:14"), 30000);
        QVERIFY(running.ends()); // while the server still stalls
    }

    // Without a chime, a double-click starts the configuration program (here
    // a stand-in that records its arguments) or tells that there is none, and
    // the clock closes, keeping its place.
    void doubleClickOpensTheConfigurationAndCloses_data()
    {
        QTest::addColumn<bool>("panelThere");
        QTest::newRow("configuration program there") << true;
        QTest::newRow("no configuration program") << false;
    }
    void doubleClickOpensTheConfigurationAndCloses()
    {
        QFETCH(bool, panelThere);
        Running &running = m_clocks[QTest::currentDataTag()];
        QVERIFY(copyProgramFolder(running.folder.path()));
        QFile panel(running.folder.filePath(QStringLiteral("TintarelPanel")));
        QVERIFY(panel.remove());
        if (panelThere) {
            QVERIFY(panel.open(QIODevice::WriteOnly));
            panel.write("#!/bin/sh\nprintf '%s|' \"$@\" > \"$PWD/panel-arguments\"\n");
            panel.close();
            panel.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        running.home.writeSettings("[Position]\nTop=1500\nLeft=3000\n");
        ClockOptions options;
        options.folder = running.folder.path();
        running.clock = startClock(running.home, m_display.name(), options);
        const qint64 pid = running.clock->processId();
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(pid).has_value(), 15000);
        QVERIFY(doubleClickAt(m_display.name(), observer.faceOf(pid)->geometry.center()));
        if (!panelThere) {
            QTRY_VERIFY_WITH_TIMEOUT(observer.titledWindowOf(pid, QStringLiteral("Tintarel"), true), 10000);
            QCOMPARE(running.clock->state(), QProcess::Running);
            observer.requestClose(observer.titledWindowOf(pid, QStringLiteral("Tintarel"), true)->id);
        }
        QVERIFY(running.clock->waitForFinished(10000));
        QCOMPARE(running.clock->exitCode(), 0);
        QFile arguments(running.folder.filePath(QStringLiteral("panel-arguments")));
        QTRY_COMPARE(arguments.exists(), panelThere);
        QVERIFY(!panelThere || (arguments.open(QIODevice::ReadOnly) && arguments.readAll() == "AffichHorloge|"));
        const QSettings stored(running.home.settingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value("Position/Top").toString() + u' ' + stored.value("Position/Left").toString(), "1500 3000");
    }

    void spoiledHalfHourChime_data()
    {
        QTest::addColumn<QByteArray>("fault");
        for (const auto &fault : m_spoilt)
            QTest::newRow(fault.first) << fault.first;
    }
    void spoiledHalfHourChime()
    {
        QFETCH(QByteArray, fault);
        Running &running = m_clocks.at(fault);
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("hint Echec du carillon"), 30000);
        QVERIFY(running.logged("state -1"));
        // Still ticking after the failure, and idle again once its time is over.
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("show 10:30:15", "state -1"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("state 0", "state -1"), 120000);
        QVERIFY(running.logged("hint Double click pour configurer, click droit pour quitter", "state 0"));
        // Any later tick will do: under load one second may be skipped.
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("show 10:3", "state 0"), 30000);
        QVERIFY(running.ends());
    }
};

QTEST_GUILESS_MAIN(TestChimesEndToEnd)
#include "tst_chimes_e2e.moc"
