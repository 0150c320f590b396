#include "TestDisplay.h"
#include "TestSoundServer.h"

#include <QRandomGenerator>
#include <QtTest>

#include <functional>

// The real clock at the half hour with its half-hour chime spoiled in a
// copy of the program folder: it must tell the failure, keep ticking, come
// back to idle and close normally. A failed chime is idle again only after
// seventy seconds, so every clock starts at once and each row checks its own
// last, while the clock at the quarter plays to a sound server of the test's
// own that plays, stalls or dies.
class tst_FaultsSounds : public QObject
{
    Q_OBJECT

private:
    struct Fault
    {
        const char *name;
        std::function<bool(const QString &file)> spoil;
    };
    static std::vector<Fault> faultsToTry()
    {
        return {
            // Refused at "Open", known at "Play", and failing while it plays.
            {"missing", [](const QString &file) { return QFile::remove(file); }},
            {"truncated", [](const QString &file) { return QFile(file).resize(1000); }},
            {"random bytes",
             [](const QString &file) {
                 QByteArray bytes(60000, Qt::Uninitialized);
                 QRandomGenerator(20261206).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
                 QFile sound(file);
                 return sound.open(QIODevice::WriteOnly | QIODevice::Truncate) && sound.write(bytes) == bytes.size();
             }},
        };
    }

    struct Running
    {
        std::unique_ptr<TestHome> home = std::make_unique<TestHome>();
        std::unique_ptr<QTemporaryDir> folder = std::make_unique<QTemporaryDir>();
        std::unique_ptr<TestProgram> clock;
        QByteArray log;
        bool logged(const QByteArray &line, const QByteArray &after = {})
        {
            log += clock->readAll();
            const qsizetype start = after.isEmpty() ? 0 : log.indexOf(after);
            return start >= 0 && log.indexOf(line, start + after.size()) >= 0;
        }
    };

    // A clock ticking at 10:14:58, playing to `server`.
    std::unique_ptr<Running> startServed(const TestSoundServer &server)
    {
        auto running = std::make_unique<Running>();
        ClockOptions options;
        options.movable = true;
        options.fakeStart = QStringLiteral("2026-12-06 10:10:00");
        options.environment = {{QStringLiteral("PULSE_SERVER"), server.address()}};
        running->clock = startClock(*running->home, m_display.name(), options);
        // Moved once it ticks, however long a loaded machine takes to start it.
        if (waitFor([&] { return running->logged("show", "show"); }, 60000))
            setWallClock(*running->home, QDateTime(QDate(2026, 12, 6), QTime(10, 14, 58)));
        return running;
    }

    // A clock's log is a line a second; what went wrong is in the others.
    static QByteArray withoutTicks(const QByteArray &log)
    {
        QByteArray kept;
        for (const QByteArray &line : log.split('\n'))
            if (!line.startsWith("tintarel.tick: show"))
                kept += line + '\n';
        return kept;
    }

    TestDisplay m_display;
    std::map<QByteArray, Running> m_clocks;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Carill3.mp3")), "the sounds are not built");
        QVERIFY(m_display.start());
        for (const Fault &fault : faultsToTry()) {
            Running &running = m_clocks[fault.name];
            QVERIFY(copyProgramFolder(running.folder->path()));
            QVERIFY2(fault.spoil(running.folder->filePath(QStringLiteral("Carill3.mp3"))), fault.name);
            ClockOptions options;
            options.folder = running.folder->path();
            options.fakeStart = QStringLiteral("2026-12-06 10:29:45");
            running.clock = startClock(*running.home, m_display.name(), options);
            QCOMPARE(running.clock->state(), QProcess::Running);
        }
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            for (auto &[name, running] : m_clocks)
                if (QTest::currentDataTag() == name)
                    qWarning().noquote() << "clock's output, without its ticks:\n" << withoutTicks(running.log);
    }

    void quarterHeardAndNamedInTheMixer()
    {
        TestSoundServer server;
        QVERIFY(server.start());
        server.startRecording();
        auto running = startServed(server);
        QTRY_VERIFY2_WITH_TIMEOUT(running->logged("play Carill2.mp3 ok"), running->log.constData(), 30000);
        const auto chime = [&server] {
            for (const auto &stream : server.streams())
                if (stream.value("media.name") == QLatin1String("Carillon"))
                    return stream;
            return QMap<QString, QString>();
        };
        QMap<QString, QString> stream;
        QTRY_VERIFY_WITH_TIMEOUT(!(stream = chime()).isEmpty(), 10000);
        QCOMPARE(stream.value("application.name"), QStringLiteral("Tintarel"));
        QCOMPARE(stream.value("application.icon_name"), QStringLiteral("tintarel"));
        // The quarter lasts 7 to 9.5 seconds.
        QTRY_VERIFY_WITH_TIMEOUT(server.secondsHeard() > 6.5, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(running->logged("state 0", "play Carill2.mp3"), 30000);
        QVERIFY2(server.secondsHeard() < 10, qPrintable(QString::number(server.secondsHeard())));
    }

    void stalledServerLeavesTheClockAlive()
    {
        TestSoundServer server;
        QVERIFY(server.start());
        auto running = startServed(server);
        QTRY_VERIFY_WITH_TIMEOUT(running->logged("play Carill2.mp3 ok"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!server.streams().isEmpty(), 10000);
        server.stall();
        // Ticking on, past the quarter's ten seconds, when the player is closed.
        QTRY_VERIFY_WITH_TIMEOUT(running->logged("show 10:15:14"), 30000);
        // Closed, and cleanly, while the server still stalls to the end.
        running->clock->terminate();
        QVERIFY(running->clock->waitForFinished(10000));
        QCOMPARE(running->clock->exitStatus(), QProcess::NormalExit);
        QCOMPARE(running->clock->exitCode(), 0);
    }

    void deadServerFailsTheChimeUntilItIsBack()
    {
        TestSoundServer server;
        QVERIFY(server.start());
        auto running = startServed(server);
        QTRY_VERIFY_WITH_TIMEOUT(running->logged("play Carill2.mp3 ok"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!server.streams().isEmpty(), 10000);
        server.kill();
        QTRY_VERIFY_WITH_TIMEOUT(running->logged("hint Echec du carillon", "play Carill2.mp3"), 20000);
        QVERIFY(server.start());
        server.startRecording();
        setWallClock(*running->home, QDateTime(QDate(2026, 12, 6), QTime(10, 29, 57)));
        QTRY_VERIFY_WITH_TIMEOUT(running->logged("play Carill3.mp3 ok"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(server.secondsHeard() > 3, 30000);
    }

    void spoiledHalfHourChime_data()
    {
        QTest::addColumn<QByteArray>("fault");
        for (const Fault &fault : faultsToTry())
            QTest::newRow(fault.name) << QByteArray(fault.name);
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
        QCOMPARE(running.clock->state(), QProcess::Running);
        running.clock->terminate();
        QVERIFY(running.clock->waitForFinished(30000));
        QCOMPARE(running.clock->exitStatus(), QProcess::NormalExit);
        QCOMPARE(running.clock->exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_FaultsSounds)
#include "tst_faults_sounds.moc"
