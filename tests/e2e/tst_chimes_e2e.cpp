#include "TestDisplay.h"

#include <QSaveFile>
#include <QTimeZone>
#include <QtTest>

// The built clock on its own X server, in Paris, telling its chime events and
// the seconds it shows. libfaketime moves its wall clock through a timestamp
// file, as a night's sleep or a clock step would, while its monotonic clock
// and its sounds run in real time.
class TestChimesEndToEnd : public QObject
{
    Q_OBJECT

    const QString m_faketime = QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1");
    TestDisplay m_display;
    TestHome m_home;
    TestProgram m_clock;
    QString m_log;

    int count(const QString &line) const { return m_log.count(line); }

    // The offset from the real clock goes to a new file renamed over the old
    // one, so that the clock never reads half of it.
    void setWallClock(const QString &parisTime)
    {
        const QDateTime read = QDateTime::fromString(parisTime, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const qint64 offset = QDateTime(read.date(), read.time(), QTimeZone("Europe/Paris")).toSecsSinceEpoch()
                              - QDateTime::currentSecsSinceEpoch();
        QSaveFile file(m_home.path() + QStringLiteral("/faketime"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write((offset < 0 ? QByteArray() : QByteArray("+")) + QByteArray::number(offset));
        QVERIFY(file.commit());
    }

    void startClock(const QString &parisTime)
    {
        setWallClock(parisTime);
        QProcessEnvironment env = m_home.environment(m_display.name());
        env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Paris"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tintarel.chimes=true\ntintarel.tick.debug=true"));
        // Preloaded directly: the faketime wrapper does not pass termination on.
        env.insert(QStringLiteral("LD_PRELOAD"), m_faketime);
        env.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), m_home.path() + QStringLiteral("/faketime"));
        env.insert(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
        // Sound needs the real monotonic clock, or a file never ends.
        env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
        m_clock.setProcessEnvironment(env);
        m_clock.setProcessChannelMode(QProcess::MergedChannels);
        m_clock.start(QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel"), {});
        QVERIFY(m_clock.waitForStarted(10000));
    }

private slots:
    void initTestCase()
    {
        if (!QFile::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Carill2.mp3")))
            QSKIP("the bell sounds are not built");
        if (!QFile::exists(m_faketime))
            QSKIP("libfaketime is not installed");
        QVERIFY(m_display.start());
        connect(&m_clock, &QProcess::readyRead, this, [this] { m_log += QString::fromUtf8(m_clock.readAll()); });
    }

    void cleanup()
    {
        m_clock.terminate();
        if (!m_clock.waitForFinished(10000))
            m_clock.kill();
        m_clock.waitForFinished(5000);
        if (QTest::currentTestFailed())
            qWarning().noquote() << "clock's output:\n" << m_log;
        m_log.clear();
    }

    // One night of the clock: a chime stopped by the user, a sleep, a melody
    // cut by a second sleep, and the wall clock set back over a quarter.
    void aNightOfSleepsAndSteps()
    {
        startClock(QStringLiteral("2026-12-06 23:29:57"));
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("play Carill3.mp3 ok")) == 1, 30000);
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(m_clock.processId()).has_value(), 10000);
        const QPoint centre = observer.faceOf(m_clock.processId())->geometry.center();
        QProcess xdotool;
        xdotool.setProcessEnvironment(m_home.environment(m_display.name()));
        xdotool.start(QStringLiteral("xdotool"),
                      QStringLiteral("mousemove %1 %2 click --repeat 2 --delay 80 1").arg(centre.x()).arg(centre.y()).split(' '));
        QVERIFY(xdotool.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("stopped by the user")) == 1, 10000);

        // The stopped chime does not keep the morning silent.
        setWallClock(QStringLiteral("2026-12-07 07:59:56"));
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("play Carill1.mp3 ok")) == 1, 30000);

        // The half hour chimes, and by its end the melody would long have ended: no hours.
        setWallClock(QStringLiteral("2026-12-07 08:29:55"));
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("show 08:30:20")) == 1, 40000);
        QCOMPARE(count(QStringLiteral("play Carill3.mp3 ok")), 2);
        QCOMPARE(count(QStringLiteral("play CarillH")), 0);
        QCOMPARE(count(QStringLiteral("hint Echec du carillon")), 0);

        // Set back over the quarter it has chimed: not again.
        setWallClock(QStringLiteral("2026-12-07 08:29:58"));
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("show 08:30:06")) == 2, 30000);
        QCOMPARE(count(QStringLiteral("play Carill3.mp3")), 2);
    }
};

QTEST_GUILESS_MAIN(TestChimesEndToEnd)
#include "tst_chimes_e2e.moc"
