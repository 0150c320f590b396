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
    void showOnTop() override { shown = true; ++changes; }
    void hideWindow() override { shown = false; ++changes; }
    bool foreground = false;
    bool shown = false;
    int changes = 0;
};

} // namespace

class tst_VisibilityRule : public QObject
{
    Q_OBJECT

private:
    MemorySettingsStore store;
    std::unique_ptr<Configuration> config;
    FakeWindow window;
    int etat = 0;
    bool screenSaver = false;
    QDateTime now{QDate(2026, 12, 6), QTime(10, 14, 0)};
    std::unique_ptr<VisibilityRule> rule;

    void makeRule(int visibilité, bool initiallyShown = false)
    {
        store.values[QStringLiteral("Réglages/Visibilité")] = QString::number(visibilité);
        config = Configuration::create(store, nullptr, nullptr);
        window = FakeWindow();
        window.shown = initiallyShown;
        rule = std::make_unique<VisibilityRule>(
            *config, window, [this] { return etat; }, [this] { return screenSaver; }, [this] { return now; });
    }

private Q_SLOTS:
    void init()
    {
        etat = 0;
        screenSaver = false;
        now = QDateTime(QDate(2026, 12, 6), QTime(10, 14, 0));
    }

    void modes_data()
    {
        QTest::addColumn<int>("visibilité");
        QTest::addColumn<int>("etat");
        QTest::addColumn<bool>("screenSaver");
        QTest::addColumn<bool>("initiallyShown");
        QTest::addColumn<bool>("shown");
        QTest::newRow("never") << 0 << 1 << false << true << false;
        QTest::newRow("while chiming, idle") << 1 << 0 << false << true << false;
        QTest::newRow("while chiming, quarter") << 1 << 1 << false << false << true;
        QTest::newRow("while chiming, melody") << 1 << 2 << false << false << true;
        QTest::newRow("while chiming, strikes") << 1 << 3 << false << false << true;
        QTest::newRow("while chiming, stopped") << 1 << 4 << false << true << false;
        QTest::newRow("while chiming, failed") << 1 << -1 << false << true << false;
        QTest::newRow("always") << 2 << 0 << true << false << true;
        QTest::newRow("except screen saver, running") << 3 << 0 << true << true << false;
        QTest::newRow("except screen saver, not running") << 3 << 0 << false << false << true;
        QTest::newRow("other value leaves it shown") << 7 << 0 << false << true << true;
        QTest::newRow("other value leaves it hidden") << 7 << 1 << false << false << false;
    }

    void modes()
    {
        QFETCH(int, visibilité);
        QFETCH(int, etat);
        QFETCH(bool, screenSaver);
        QFETCH(bool, initiallyShown);
        QFETCH(bool, shown);
        makeRule(visibilité, initiallyShown);
        this->etat = etat;
        this->screenSaver = screenSaver;
        rule->AppliquerVisibilite();
        QCOMPARE(window.shown, shown);
    }

    // Runs of the rule, each "seconds later:state", with what is shown after each.
    void sequences_data()
    {
        QTest::addColumn<int>("visibilité");
        QTest::addColumn<QStringList>("runs");
        QTest::addColumn<QString>("shown");
        // A chime starting 5 s after a run waits for the run 6 s after it.
        QTest::newRow("at most once in six seconds") << 1 << QStringList{"0:0", "5:1", "1:1"} << "001";
        QTest::newRow("a quarter shown, then hidden") << 1 << QStringList{"0:0", "60:1", "8:0"} << "010";
        // A wall clock set back must not hold the rule off until it catches up.
        QTest::newRow("wall clock set back") << 3 << QStringList{"0:0", "-3600:s"} << "10";
        QTest::newRow("screen saver on and off") << 3 << QStringList{"0:s", "6:0"} << "01";
        // The foreground clock is left alone, and the check still counts as a run.
        QTest::newRow("foreground clock left alone") << 0 << QStringList{"0:f", "3:0", "3:0"} << "110";
    }
    void sequences()
    {
        QFETCH(int, visibilité);
        QFETCH(QStringList, runs);
        QFETCH(QString, shown);
        makeRule(visibilité, true);
        QString seen;
        for (const QString &run : runs) {
            const QStringList parts = run.split(QLatin1Char(':'));
            now = now.addSecs(parts[0].toInt());
            etat = parts[1] == QLatin1String("1") ? 1 : 0;
            screenSaver = parts[1] == QLatin1String("s");
            window.foreground = parts[1] == QLatin1String("f");
            rule->AppliquerVisibilite();
            seen += window.shown ? QLatin1Char('1') : QLatin1Char('0');
        }
        QCOMPARE(seen, shown);
    }
};

QTEST_APPLESS_MAIN(tst_VisibilityRule)
#include "tst_visibilityrule.moc"
