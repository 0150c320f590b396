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

    void startSizeOnlyForKnownValues()
    {
        QCOMPARE(FaceLayout::startSize(1, 1).value_or(Size{}).width, 1885.0);
        QVERIFY(!FaceLayout::startSize(1, 7) && !FaceLayout::startSize(2, 0));
    }

    void couperDate_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<double>("available"); // in characters
        QTest::addColumn<QString>("expected");
        QTest::newRow("wide face") << "dimanche 6 décembre 2026" << 30.0 << "dimanche 6 décembre\n2026";
        QTest::newRow("narrow face") << "dimanche 6 décembre 2026" << 15.0 << "dimanche 6\ndécembre 2026";
        QTest::newRow("exactly as wide is too wide") << "dimanche 6 décembre 2026" << 19.0 << "dimanche 6\ndécembre 2026";
        QTest::newRow("no space") << "2026-12-06" << 5.0 << "2026-12-06";
        QTest::newRow("one space, too wide") << "décembre 2026" << 3.0 << "décembre 2026";
        QTest::newRow("one space, fits") << "décembre 2026" << 30.0 << "décembre\n2026";
        QTest::newRow("leading space") << " 2026" << 30.0 << "\n2026";
        QTest::newRow("empty") << "" << 30.0 << "";
    }

    void couperDate()
    {
        QFETCH(QString, date);
        QFETCH(double, available);
        QFETCH(QString, expected);
        const auto width = [](const QString &text) { return double(text.size()); };
        QCOMPARE(FaceLayout::couperDate(date, width, available), expected);
    }
};

QTEST_APPLESS_MAIN(tst_FaceLayout)
#include "tst_facelayout.moc"
