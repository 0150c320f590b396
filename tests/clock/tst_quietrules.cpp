#include "Configuration.h"
#include "MemorySettingsStore.h"
#include "DateTimeValue.h"
#include "QuietRules.h"
#include "ScreenSaver.h"

#include <QMap>
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
    void silencieux_data();
    void silencieux();
};

void TestQuietRules::silencieux_data()
{
    QTest::addColumn<int>("activer");
    QTest::addColumn<int>("veille");
    QTest::addColumn<bool>("saverRunning");
    QTest::addColumn<int>("plage");
    QTest::addColumn<QTime>("debut");
    QTest::addColumn<QTime>("fin");
    QTest::addColumn<QTime>("heure");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<bool>("saverAsked");

    const QTime ten(10, 0), twenty(20, 0), noon(12, 0);
    // Chimes off silence everything and ask nothing more.
    QTest::newRow("off, no range") << 0 << 1 << false << 0 << ten << twenty << noon << true << false;
    QTest::newRow("off inside the range") << 0 << 1 << false << 1 << ten << twenty << noon << true << false;
    QTest::newRow("switch holding 2 counts as on") << 2 << 1 << false << 0 << ten << twenty << noon << false << false;

    // The screen saver is asked only when it is meant to silence the clock.
    QTest::newRow("saver silences, running") << 1 << 0 << true << 0 << ten << twenty << noon << true << true;
    QTest::newRow("chime during saver: not asked") << 1 << 1 << true << 0 << ten << twenty << noon << false << false;
    QTest::newRow("chime during saver: range decides, outside")
        << 1 << 1 << true << 1 << ten << twenty << QTime(21, 0) << true << false;
    QTest::newRow("saver running beats the range") << 1 << 0 << true << 1 << ten << twenty << noon << true << true;

    // A range inside one day excludes both ends.
    QTest::newRow("10-20 at 10:00:00") << 1 << 1 << false << 1 << ten << twenty << ten << true << false;
    QTest::newRow("10-20 at 10:00:01") << 1 << 1 << false << 1 << ten << twenty << QTime(10, 0, 1) << false << false;
    QTest::newRow("10-20 at 19:45:00") << 1 << 1 << false << 1 << ten << twenty << QTime(19, 45) << false << false;
    QTest::newRow("10-20 at 19:59:59") << 1 << 1 << false << 1 << ten << twenty << QTime(19, 59, 59) << false << false;
    QTest::newRow("10-20 at 20:00:00") << 1 << 1 << false << 1 << ten << twenty << twenty << true << false;

    // A range across midnight includes both ends.
    const QTime ten_pm(22, 0), seven(7, 0);
    QTest::newRow("22-07 at 23:00") << 1 << 1 << false << 1 << ten_pm << seven << QTime(23, 0) << false << false;
    QTest::newRow("22-07 at 03:00") << 1 << 1 << false << 1 << ten_pm << seven << QTime(3, 0) << false << false;
    QTest::newRow("22-07 at 12:00") << 1 << 1 << false << 1 << ten_pm << seven << noon << true << false;
    QTest::newRow("22-07 at 22:00:00") << 1 << 1 << false << 1 << ten_pm << seven << ten_pm << false << false;
    QTest::newRow("22-07 at 07:00:00") << 1 << 1 << false << 1 << ten_pm << seven << seven << false << false;
    QTest::newRow("22-07 at 07:00:01") << 1 << 1 << false << 1 << ten_pm << seven << QTime(7, 0, 1) << true << false;

    // Equal ends let every time pass.
    const QTime eight(8, 0);
    QTest::newRow("08-08 at 08:00") << 1 << 1 << false << 1 << eight << eight << eight << false << false;
    QTest::newRow("08-08 at 20:00") << 1 << 1 << false << 1 << eight << eight << twenty << false << false;

    // Only Plage = 1 applies the range.
    QTest::newRow("no range, outside times") << 1 << 1 << false << 0 << ten << twenty << QTime(23, 0) << false << false;
}

void TestQuietRules::silencieux()
{
    QFETCH(int, activer);
    QFETCH(int, veille);
    QFETCH(bool, saverRunning);
    QFETCH(int, plage);
    QFETCH(QTime, debut);
    QFETCH(QTime, fin);
    QFETCH(QTime, heure);
    QFETCH(bool, silent);
    QFETCH(bool, saverAsked);

    MemorySettingsStore store;
    store.write(QStringLiteral("Réglages"), QStringLiteral("Activer"), QString::number(activer));
    store.write(QStringLiteral("Réglages"), QStringLiteral("Veille"), QString::number(veille));
    store.write(QStringLiteral("Plage"), QStringLiteral("Check"), QString::number(plage));
    store.write(QStringLiteral("Plage"), QStringLiteral("Debut"), debut.toString(QStringLiteral("HH:mm:ss")));
    store.write(QStringLiteral("Plage"), QStringLiteral("Fin"), fin.toString(QStringLiteral("HH:mm:ss")));
    SettingsError error;
    const std::unique_ptr<Configuration> config = Configuration::create(store, &error);
    QVERIFY2(config, qPrintable(error.description()));

    FakeScreenSaver saver;
    saver.active = saverRunning;
    SettingsQuietRules rules(*config, saver);
    QCOMPARE(rules.Silencieux(DateTimeValue::fromTime(heure)), silent);
    QCOMPARE(saver.asked > 0, saverAsked);
}

QTEST_APPLESS_MAIN(TestQuietRules)
#include "tst_quietrules.moc"
