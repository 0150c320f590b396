#include "Configuration.h"
#include "DateTimeValue.h"
#include "MemorySettingsStore.h"
#include "QuietRules.h"
#include "ScreenSaver.h"

#include <QtTest>

namespace {

class FakeScreenSaver : public ScreenSaver
{
public:
    bool isActive() override
    {
        ++asked;
        return active;
    }
    bool active = false;
    int asked = 0;
};

} // namespace

class TestQuietRules : public QObject
{
    Q_OBJECT

private slots:
    // Settings: Activer, Veille, screen saver running, Plage, DateDeb, DateFin.
    void silencieux_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("heure");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<bool>("saverAsked");
        auto row = [](const char *name, const char *settings, const char *heure, bool silent, bool saverAsked) {
            QTest::newRow(name) << QString::fromLatin1(settings) << QString::fromLatin1(heure) << silent << saverAsked;
        };

        // Chimes off silence everything and ask nothing more.
        row("off, no range", "0 1 0 0 10:00 20:00", "12:00", true, false);
        row("off inside the range", "0 1 0 1 10:00 20:00", "12:00", true, false);
        row("switch holding 2 counts as on", "2 1 0 0 10:00 20:00", "12:00", false, false);
        // The screen saver is asked only when it is meant to silence the clock.
        row("saver silences, running", "1 0 1 0 10:00 20:00", "12:00", true, true);
        row("chime during saver: not asked", "1 1 1 0 10:00 20:00", "12:00", false, false);
        row("chime during saver: range decides", "1 1 1 1 10:00 20:00", "21:00", true, false);
        row("saver running beats the range", "1 0 1 1 10:00 20:00", "12:00", true, true);
        // A range inside one day excludes both ends.
        row("10-20 at 10:00:00", "1 1 0 1 10:00 20:00", "10:00:00", true, false);
        row("10-20 at 10:00:01", "1 1 0 1 10:00 20:00", "10:00:01", false, false);
        row("10-20 at 19:45:00", "1 1 0 1 10:00 20:00", "19:45:00", false, false);
        row("10-20 at 19:59:59", "1 1 0 1 10:00 20:00", "19:59:59", false, false);
        row("10-20 at 20:00:00", "1 1 0 1 10:00 20:00", "20:00:00", true, false);
        // A range across midnight includes both ends.
        row("22-07 at 23:00", "1 1 0 1 22:00 07:00", "23:00:00", false, false);
        row("22-07 at 03:00", "1 1 0 1 22:00 07:00", "03:00:00", false, false);
        row("22-07 at 12:00", "1 1 0 1 22:00 07:00", "12:00:00", true, false);
        row("22-07 at 22:00:00", "1 1 0 1 22:00 07:00", "22:00:00", false, false);
        row("22-07 at 07:00:00", "1 1 0 1 22:00 07:00", "07:00:00", false, false);
        row("22-07 at 07:00:01", "1 1 0 1 22:00 07:00", "07:00:01", true, false);
        // Equal ends let every time pass; only Plage = 1 applies the range.
        row("08-08 at 08:00", "1 1 0 1 08:00 08:00", "08:00:00", false, false);
        row("08-08 at 20:00", "1 1 0 1 08:00 08:00", "20:00:00", false, false);
        row("no range, outside times", "1 1 0 0 10:00 20:00", "23:00:00", false, false);
    }

    void silencieux()
    {
        QFETCH(QString, settings);
        QFETCH(QString, heure);
        QFETCH(bool, silent);
        QFETCH(bool, saverAsked);

        const QStringList s = settings.split(QLatin1Char(' '));
        MemorySettingsStore store;
        store.write(QStringLiteral("Réglages"), QStringLiteral("Activer"), s[0]);
        store.write(QStringLiteral("Réglages"), QStringLiteral("Veille"), s[1]);
        store.write(QStringLiteral("Plage"), QStringLiteral("Check"), s[3]);
        store.write(QStringLiteral("Plage"), QStringLiteral("Debut"), s[4]);
        store.write(QStringLiteral("Plage"), QStringLiteral("Fin"), s[5]);
        const std::unique_ptr<Configuration> config = Configuration::create(store);
        QVERIFY(config);

        FakeScreenSaver saver;
        saver.active = s[2] == QLatin1String("1");
        SettingsQuietRules rules(*config, saver);
        QCOMPARE(rules.Silencieux(DateTimeValue::fromTime(QTime::fromString(heure, Qt::ISODate))), silent);
        QCOMPARE(saver.asked > 0, saverAsked);
    }
};

QTEST_APPLESS_MAIN(TestQuietRules)
#include "tst_quietrules.moc"
