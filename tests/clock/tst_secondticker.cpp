#include "SecondTicker.h"

#include <QtTest>

class TestSecondTicker : public QObject
{
    Q_OBJECT

private slots:
    void landsJustAfterTheNextSecond_data()
    {
        QTest::addColumn<int>("msec");
        for (int msec : {0, 3, 4, 500, 996, 997, 999})
            QTest::addRow("at .%03d", msec) << msec;
    }
    void landsJustAfterTheNextSecond()
    {
        QFETCH(int, msec);
        const QDateTime now(QDate(2026, 12, 6), QTime(23, 59, 59, msec));
        QCOMPARE(now.addMSecs(SecondTicker::delayToNextSecond(now)), QDateTime(QDate(2026, 12, 7), QTime(0, 0, 0, 3)));
    }

    void clockStepIsCaughtUpAtTheNextTick()
    {
        // The wall clock as the ticker reads it at each arming: the start, then
        // a step of two hours before the first tick, then the second after it.
        QList<QTime> readings{QTime(10, 0, 0, 200), QTime(12, 0, 0, 950), QTime(12, 0, 1, 3)};
        QList<int> intervals;
        std::unique_ptr<SecondTicker> ticker;
        ticker = std::make_unique<SecondTicker>([&] { intervals << ticker->interval(); }, [&] {
            return QDateTime(QDate(2026, 12, 6), readings.size() > 1 ? readings.takeFirst() : readings.first());
        });
        ticker->start();
        QCOMPARE(ticker->interval(), 803);
        QTRY_COMPARE_WITH_TIMEOUT(intervals.size(), 2, 10000);
        QCOMPARE(intervals, (QList<int>{53, 1000}));
    }

    void wallClockTicksOncePerSecond()
    {
        // Never twice within one second, as a timer running ahead of the clock would.
        QStringList seen;
        SecondTicker ticker([&] { seen << QTime::currentTime().toString(QStringLiteral("HH:mm:ss")); });
        ticker.start();
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 3, 20000);
        ticker.stop();
        QCOMPARE(seen.removeDuplicates(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSecondTicker)
#include "tst_secondticker.moc"
