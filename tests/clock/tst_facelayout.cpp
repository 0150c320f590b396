#include "FaceLayout.h"

#include <QtTest>

using FaceLayout::Size;
Q_DECLARE_METATYPE(FaceLayout::Size)

class tst_FaceLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void snap_data()
    {
        QTest::addColumn<int>("calendrier");
        QTest::addColumn<Size>("current");
        QTest::addColumn<Size>("previous");
        QTest::addColumn<int>("taille"); // -1: no snap
        QTest::addColumn<Size>("window");

        QTest::newRow("narrower than the threshold") << 0 << Size{1400, 600} << Size{1800, 555} << 0 << Size{1320, 425};
        QTest::newRow("wider than the threshold") << 0 << Size{1600, 425} << Size{1320, 425} << 1 << Size{1800, 555};
        QTest::newRow("width at the threshold is small") << 0 << Size{1560, 555} << Size{1800, 555} << 0 << Size{1320, 425};
        QTest::newRow("unchanged size keeps") << 0 << Size{1800, 555} << Size{1800, 555} << -1 << Size{};
        QTest::newRow("small wins when both changed") << 0 << Size{1700, 450} << Size{1320, 555} << 0 << Size{1320, 425};
        QTest::newRow("only the height changed, up") << 0 << Size{1320, 500} << Size{1320, 425} << 1 << Size{1800, 555};
        QTest::newRow("date: designed size snaps large") << 1 << Size{2070, 1260} << Size{0, 0} << 1 << Size{1885, 1100};
        QTest::newRow("date: 1707.5 is small") << 1 << Size{1707.5, 1100} << Size{1885, 1100} << 0 << Size{1530, 895};
        QTest::newRow("date: just above 1707.5 is large") << 1 << Size{1708, 895} << Size{1530, 895} << 1 << Size{1885, 1100};
        QTest::newRow("date: 997.5 is small") << 1 << Size{1885, 997.5} << Size{1885, 1100} << 0 << Size{1530, 895};
        QTest::newRow("other Calendrier keeps any size") << 3 << Size{5000, 5000} << Size{0, 0} << -1 << Size{};
    }

    void snap()
    {
        QFETCH(int, calendrier);
        QFETCH(Size, current);
        QFETCH(Size, previous);
        QFETCH(int, taille);
        QFETCH(Size, window);
        const auto metrics = FaceLayout::snap(calendrier, current, previous);
        if (taille < 0) {
            QVERIFY(!metrics);
            return;
        }
        QVERIFY(metrics);
        QCOMPARE(metrics->taille, taille);
        QCOMPARE(metrics->window.width, window.width);
        QCOMPARE(metrics->window.height, window.height);
        QCOMPARE(metrics->horlogePoints, taille == 0 ? 14 : 20);
        QCOMPARE(metrics->hasDate, calendrier == 1);
        if (calendrier == 1)
            QCOMPARE(metrics->datePoints, taille == 0 ? 8 : 10);
    }
};

QTEST_APPLESS_MAIN(tst_FaceLayout)
#include "tst_facelayout.moc"
