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

    void takesEffectAtMostOnceInSixSeconds()
    {
        makeRule(1);
        rule->AppliquerVisibilite();
        QCOMPARE(window.changes, 1);
        etat = 1; // a chime starts, but the rule just ran
        now = now.addSecs(5);
        rule->AppliquerVisibilite();
        QVERIFY(!window.shown);
        now = now.addSecs(1);
        rule->AppliquerVisibilite();
        QVERIFY(window.shown);
    }

    void foregroundClockIsLeftAlone()
    {
        makeRule(0, true);
        window.foreground = true;
        rule->AppliquerVisibilite();
        QVERIFY(window.shown);
        QCOMPARE(window.changes, 0);
        // The check still counts as a run for the rate limit.
        window.foreground = false;
        now = now.addSecs(3);
        rule->AppliquerVisibilite();
        QVERIFY(window.shown);
    }

    void chimeCycleInModeOne()
    {
        makeRule(1);
        rule->AppliquerVisibilite(); // start-up: hidden
        QVERIFY(!window.shown);
        now = now.addSecs(60);
        etat = 1; // the quarter starts
        rule->AppliquerVisibilite();
        QVERIFY(window.shown);
        now = now.addSecs(8);
        etat = 0; // the sequence ends
        rule->AppliquerVisibilite();
        QVERIFY(!window.shown);
    }

    void wallClockSetBackDoesNotBlockTheRule()
    {
        makeRule(3);
        rule->AppliquerVisibilite();
        QVERIFY(window.shown);
        screenSaver = true;
        now = now.addSecs(-3600);
        rule->AppliquerVisibilite();
        QVERIFY(!window.shown);
    }
};

QTEST_APPLESS_MAIN(tst_VisibilityRule)
#include "tst_visibilityrule.moc"
