#include "Configuration.h"
#include "MemorySettingsStore.h"
#include "SettingsStore.h"
#include "VisibilityRule.h"

#include <QMap>
#include <QtTest>

namespace {

class FakeWindow : public VisibilityWindow
{
public:
    bool EstPremierPlan() override { return foreground; }
    void showOnTop() override { shown = true; }
    void hideWindow() override { shown = false; }
    bool foreground = false, shown = false;
};

} // namespace

class tst_VisibilityRule : public QObject
{
    Q_OBJECT

private:
    MemorySettingsStore store;
    FakeWindow window;
    int etat = 0;
    bool screenSaver = false;
    QDateTime now;

private Q_SLOTS:
    // Runs of the rule, each "seconds later:state" (an EtatCarillon, s the
    // screen saver running, f the clock in the foreground), with what is
    // shown after each, from a face shown ("1...") or hidden ("0...").
    void runs_data()
    {
        QTest::addColumn<int>("visibilité");
        QTest::addColumn<QStringList>("runs");
        QTest::addColumn<QString>("shown");
        QTest::newRow("never") << 0 << QStringList{"0:1"} << "10";
        QTest::newRow("while chiming, idle") << 1 << QStringList{"0:0"} << "10";
        QTest::newRow("while chiming, quarter") << 1 << QStringList{"0:1"} << "01";
        QTest::newRow("while chiming, melody") << 1 << QStringList{"0:2"} << "01";
        QTest::newRow("while chiming, strikes") << 1 << QStringList{"0:3"} << "01";
        QTest::newRow("while chiming, stopped") << 1 << QStringList{"0:4"} << "10";
        QTest::newRow("while chiming, failed") << 1 << QStringList{"0:-1"} << "10";
        QTest::newRow("always") << 2 << QStringList{"0:s"} << "01";
        QTest::newRow("except screen saver, running") << 3 << QStringList{"0:s"} << "10";
        QTest::newRow("except screen saver, not running") << 3 << QStringList{"0:0"} << "01";
        QTest::newRow("other value leaves it shown") << 7 << QStringList{"0:0"} << "11";
        QTest::newRow("other value leaves it hidden") << 7 << QStringList{"0:1"} << "00";
        // A chime starting 5 s after a run waits for the run 6 s after it.
        QTest::newRow("at most once in six seconds") << 1 << QStringList{"0:0", "5:1", "1:1"} << "1001";
        QTest::newRow("a quarter shown, then hidden") << 1 << QStringList{"0:0", "60:1", "8:0"} << "1010";
        // A wall clock set back must not hold the rule off until it catches up.
        QTest::newRow("wall clock set back") << 3 << QStringList{"0:0", "-3600:s"} << "110";
        QTest::newRow("screen saver on and off") << 3 << QStringList{"0:s", "6:0"} << "101";
        // The foreground clock is left alone, and the check still counts as a run.
        QTest::newRow("foreground clock left alone") << 0 << QStringList{"0:f", "3:0", "3:0"} << "1110";
    }
    void runs()
    {
        QFETCH(int, visibilité);
        QFETCH(QStringList, runs);
        QFETCH(QString, shown);
        store.values[QStringLiteral("Réglages/Visibilité")] = QString::number(visibilité);
        const auto config = Configuration::create(store, nullptr, nullptr);
        window.shown = shown.startsWith(QLatin1Char('1'));
        now = QDateTime(QDate(2026, 12, 6), QTime(10, 14, 0));
        VisibilityRule rule(*config, window, [this] { return etat; }, [this] { return screenSaver; }, [this] { return now; });
        QString seen = shown.left(1);
        for (const QString &run : runs) {
            const QString state = run.section(QLatin1Char(':'), 1);
            now = now.addSecs(run.section(QLatin1Char(':'), 0, 0).toInt());
            etat = state.toInt();
            screenSaver = state == QLatin1String("s");
            window.foreground = state == QLatin1String("f");
            rule.AppliquerVisibilite();
            seen += window.shown ? QLatin1Char('1') : QLatin1Char('0');
        }
        QCOMPARE(seen, shown);
    }
};

QTEST_APPLESS_MAIN(tst_VisibilityRule)
#include "tst_visibilityrule.moc"
