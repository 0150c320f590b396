#include "TestDisplay.h"

#include <QTimeZone>
#include <QtTest>

// The built clock on its own X server, in Paris, telling its chime events and
// the seconds it shows, while its wall clock is moved as a night's sleep or a
// clock step would move it.
class TestChimesEndToEnd : public QObject
{
    Q_OBJECT

    TestDisplay m_display;
    TestHome m_home;
    std::unique_ptr<TestProgram> m_clock;
    QString m_log;

    int count(const QString &line)
    {
        m_log += QString::fromUtf8(m_clock->readAll());
        return m_log.count(line);
    }
    void setWallClock(const char *parisTime)
    {
        const QDateTime t = QDateTime::fromString(QLatin1String(parisTime), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY(::setWallClock(m_home, QDateTime(t.date(), t.time(), QTimeZone("Europe/Paris"))));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Carill2.mp3")), "the bell sounds are not built");
        QVERIFY(m_display.start());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            qWarning().noquote() << "clock's output:\n" << m_log;
    }

    // One night of the clock: a chime stopped by the user, a sleep, a melody
    // cut by a second sleep, and the wall clock set back over a quarter.
    void aNightOfSleepsAndSteps()
    {
        ClockOptions options;
        options.movable = true;
        options.environment = {{QStringLiteral("TZ"), QStringLiteral("Europe/Paris")}};
        setWallClock("2026-12-06 23:29:57");
        m_clock = startClock(m_home, m_display.name(), options);
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("play Carill3.mp3 ok")) == 1, 30000);
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(m_clock->processId()).has_value(), 10000);
        QVERIFY(doubleClickAt(m_display.name(), observer.faceOf(m_clock->processId())->geometry.center()));
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("stopped by the user")) == 1, 10000);

        // The stopped chime does not keep the morning silent.
        setWallClock("2026-12-07 07:59:56");
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("play Carill1.mp3 ok")) == 1, 30000);

        // The half hour chimes, and by its end the melody would long have ended: no hours.
        setWallClock("2026-12-07 08:29:55");
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("show 08:30:20")) == 1, 40000);
        QCOMPARE(count(QStringLiteral("play Carill3.mp3 ok")), 2);
        QCOMPARE(count(QStringLiteral("play CarillH")), 0);
        QCOMPARE(count(QStringLiteral("hint Echec du carillon")), 0);

        // Set back over the quarter it has chimed: not again.
        setWallClock("2026-12-07 08:29:58");
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("show 08:30:06")) == 2, 30000);
        QCOMPARE(count(QStringLiteral("play Carill3.mp3")), 2);
    }
};

QTEST_GUILESS_MAIN(TestChimesEndToEnd)
#include "tst_chimes_e2e.moc"
