#include "ChimePlayer.h"
#include "ChimeSequencer.h"
#include "Configuration.h"
#include "DateTimeValue.h"
#include "FaceLayout.h"
#include "MemorySettingsStore.h"
#include "QuietRules.h"
#include "ScreenSaver.h"
#include "SecondTicker.h"
#include "VisibilityRule.h"

#include <QFileInfo>
#include <QTimeZone>
#include <QtTest>

using FaceLayout::Size;
Q_DECLARE_METATYPE(FaceLayout::Size)

namespace {

const QTimeZone paris("Europe/Paris");
const QString folder = QStringLiteral("/opt/tintarel");

// Everything around the sequencer: the wall clock, which tests step, and the
// monotonic clock, which only runs; the quiet rules; the face; and a player
// whose sounds last a set number of real seconds. What the player and the
// face are told goes to the log, in order.
struct Rig : TimeSource, QuietRules, ChimeHost, ChimePlayer
{
    // The clocks a few milliseconds past a time on 6 December 2026, or past a
    // date and time, in Paris unless it gives its offset.
    explicit Rig(const QString &start)
    {
        QDateTime begin = QDateTime::fromString(start.contains('T') ? start : "2026-12-06T" + start, Qt::ISODate);
        if (begin.timeSpec() == Qt::LocalTime)
            begin = QDateTime(begin.date(), begin.time(), paris);
        wallMs = begin.toMSecsSinceEpoch() + 3;
    }
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(wallMs, paris); }
    qint64 monotonicMs() const override { return monoMs; }
    bool Silencieux(double) override { return silent; }
    void AfficherAide(const QString &text) override { log << "hint " + (hint = text); }
    void AppliquerVisibilite() override { log << "visibility"; }
    void showTime(const QString &text) override { shownTimes << text; }
    void refreshDate(const QDate &today) override { dates << today; }

    void setDeviceType(const QString &type) override { device = type; }
    QString deviceType() const override { return device; }
    void setFileName(const QString &name) override { file = name; }
    QString fileName() const override { return file; }
    void setNotify(bool on) override { log << (on ? "notify" : "no notice"); }
    void setCompletionHandler(CompletionHandler h) override { handler = std::move(h); }
    Result command(const QString &command) override
    {
        const QString name = QFileInfo(file).fileName();
        log << (command == "Open" ? "Open " + name : command);
        ends = monoMs + length * 1000;
        if (command == "Open") {
            opened << name;
            open = device == "MPEGVideo" && !missing.contains(name);
            playing = failed = false;
            length = lengths[name.startsWith("CarillH") ? 2 : name == "Carill1.mp3" ? 1 : 0];
            return open ? Result::Ok : Result::CannotOpenFile;
        }
        open = open && command != "Close";
        playing = open && command == "Play";
        return open || command == "Close" ? Result::Ok : Result::NotOpen;
    }
    int mode() const override { return playing && !failed && monoMs < ends ? ModePlaying : ModeStopped; }
    // A completion notice, as the event loop would deliver it between ticks.
    void notify(int code)
    {
        failed = code == NotifyFailure;
        handler(code);
    }
    // One tick, then a second passes.
    void tick()
    {
        sequencer.tick();
        wallMs += 1000;
        monoMs += 1000;
    }

    qint64 wallMs = 0, monoMs = 1000000, ends = 0, length = 0;
    bool silent = false, open = false, playing = false, failed = false;
    QString hint, device, file;
    QStringList log, shownTimes, opened, missing;
    QList<QDate> dates;
    QList<int> lengths{30, 10, 10}; // quarter chime, melody, hour strike, in seconds
    CompletionHandler handler;
    MemorySettingsStore store;
    std::unique_ptr<Configuration> config = Configuration::create(store);
    ChimeSequencer sequencer{*config, *this, *this, *this, *this, folder};
};

struct FakeScreenSaver : ScreenSaver
{
    bool isActive() override { return ++asked > 0 && active; }
    bool active = false;
    int asked = 0;
};

struct FakeWindow : VisibilityWindow
{
    bool EstPremierPlan() override { return foreground; }
    void showOnTop() override { shown = true; }
    void hideWindow() override { shown = false; }
    bool foreground = false, shown = false;
};

} // namespace

// The clock's rules with fakes around them: the chime sequence, the quiet
// rules, the visibility rule, the face's snap and the second ticker.
class tst_ClockRules : public QObject
{
    Q_OBJECT

private slots:
    // Each row runs the machine one tick a second from its start, 130 ticks
    // or Tn, and compares the state changes ("tick:state") and the files
    // opened (CarillX.mp3 as X). Setup: Cn Carillons, Hn EnumHeures, a/b/c
    // the lengths of quarter chime, melody and strike, -File a missing file.
    // Events "tick:event" before a tick: quiet (silent from then on), stop
    // (the user's), fail (the player's failure notice), notify (the other
    // notices), +n/-n a step of the wall clock by n seconds.
    void sequence_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("trace");
        QTest::addColumn<QString>("files");
        auto row = [](const char *name, const char *start, const char *setup, const char *trace, const char *files) {
            QTest::newRow(name) << QString(start) << QString(setup) << QString(trace) << QString(files);
        };

        // The schedule.
        row("quarter past cut at 10 s", "10:15:00", "", "0:1 10:0", "2");
        row("half past with Carillons 2", "10:30:00", "C2", "0:1 10:0", "3");
        row("quarter past with Carillons 2", "10:15:00", "C2", "", "");
        row("quarter to with Carillons 3", "10:45:00", "", "0:1 10:0", "4");
        row("half past with Carillons 1", "10:30:00", "C1", "", "");
        row("full hour with Carillons 0", "11:00:00", "C0", "", "");
        row("first tick at second 5", "10:15:05", "", "0:1 10:0", "2");
        row("first tick at second 6", "10:15:06", "", "", "");
        row("chime shorter than the start window is not repeated", "10:15:00", "2/10/10", "0:1 2:0", "2");
        row("melody ending at 20 s is followed", "14:00:00", "30/20/5", "0:2 20:3 25:0", "1 H2");
        row("strike cut at 40 s", "14:00:00", "30/12/90", "0:2 12:3 52:0", "1 H2");
        row("melody over 20 s with striking", "14:00:00", "30/25/5", "0:2 25:-1 70:0", "1");
        row("melody over 20 s without striking", "14:00:00", "H0 30/25/5", "0:2 21:0", "1");
        row("melody ended without striking", "14:00:00", "H0 30/8/5", "0:2 8:0", "1");
        row("hour 0 strikes 12", "00:00:00", "30/3/2", "0:2 3:3 5:0", "1 H12");
        row("hour 13 strikes 1", "13:00:00", "30/3/2", "0:2 3:3 5:0", "1 H1");
        // A melody that does not end gives way after a minute, and the next quarter chimes.
        row("endless melody with striking", "10:00:00", "T920 30/960/5", "0:2 60:-1 70:0 900:1 910:0", "1 2");

        // Failures, silence and the user's stop.
        row("quarter file missing", "10:30:00", "-Carill3.mp3", "0:-1 70:0", "3");
        row("sound that never plays", "10:30:00", "0/10/10", "0:-1 70:0", "3");
        row("strike file missing", "14:00:00", "30/12/5 -CarillH2.mp3", "0:2 12:-1 82:0", "1 H2");
        row("failure notice during the quarter", "10:15:00", "3:fail", "0:1 3:-1 70:0", "2");
        row("other notices change nothing", "10:15:00", "3:notify", "0:1 10:0", "2");
        row("failure notice during the melody", "14:00:00", "30/12/5 5:fail", "0:2 5:-1 70:0", "1");
        row("silence during the quarter", "10:15:00", "4:quiet", "0:1 4:0", "2");
        row("silence during the melody", "14:00:00", "30/12/5 4:quiet", "0:2 4:0", "1");
        row("silent at the quarter", "10:15:00", "0:quiet", "", "");
        row("user stop at 10:30:02", "10:30:00", "2:stop", "0:1 2:4 60:0", "3");
        row("user stop just after the sound ended", "10:15:00", "3/10/10 3:stop", "0:1 3:0", "2");

        // Steps of the wall clock. Up to a minute every wait counts real time;
        // beyond, the running sequence ends there and then.
        row("idle: back a minute over the quarter", "10:15:00", "7/10/10 20:-60", "0:1 7:0", "2");
        row("idle: forward a night into a quarter", "23:31:00", "2:+30534", "6:2 16:3 26:0", "1 H8");
        row("quarter: forward 5 s", "10:15:00", "3:+5", "0:1 10:0", "2");
        row("quarter: forward 2 min", "10:15:00", "3:+120", "0:1 3:0", "2");
        row("quarter: back 2 min", "10:15:00", "3:-120", "0:1 3:0", "2");
        row("melody: back 10 s over midnight", "00:00:00", "30/12/5 3:-10", "0:2 12:3 17:0", "1 H12");
        row("melody: forward a night", "23:00:00", "30/12/5 3:+30000", "0:2 3:0", "1");
        row("melody: back a night", "07:00:00", "T30 30/12/5 3:-28000", "0:2 3:0", "1");
        row("strike: forward 30 s", "14:00:00", "30/12/90 20:+30", "0:2 12:3 52:0", "1 H2");
        row("strike: forward 2 min", "14:00:00", "30/12/90 20:+120", "0:2 12:3 20:0", "1 H2");
        row("stopped: forward 40 s", "10:30:00", "2:stop 10:+40", "0:1 2:4 60:0", "3");
        row("stopped: forward a night", "23:30:00", "2:stop 5:+30591", "0:1 2:4 5:0 9:2 19:3 29:0", "3 1 H8");
        row("failed: forward 30 s", "10:30:00", "-Carill3.mp3 10:+30", "0:-1 70:0", "3");
        row("failed: back 30 s over midnight", "00:00:00", "-Carill1.mp3 10:-30", "0:-1 70:0", "1");
        row("failed: forward 2 min", "10:30:00", "-Carill3.mp3 10:+120", "0:-1 10:0", "3");

        // Daylight saving in Paris: autumn's repeated hour chimes again, spring's
        // skipped hour never shows.
        row("autumn change", "2026-10-25T02:29:55+02:00", "T3620 7/10/10",
            "5:1 12:0 905:1 912:0 1805:2 1815:3 1825:0 2705:1 2712:0 3605:1 3612:0", "3 4 1 H2 2 3");
        row("spring change", "2026-03-29T01:44:55", "T930 7/10/10", "5:1 12:0 905:2 915:3 925:0", "4 1 H3");
        row("spring change, woken after a night", "2026-03-28T23:30:00", "2:stop 5:+26991", "0:1 2:4 5:0 9:2 19:3 29:0",
            "3 1 H8");
    }

    void sequence()
    {
        QFETCH(QString, start);
        QFETCH(QString, setup);
        QFETCH(QString, trace);
        QFETCH(QString, files);

        Rig rig(start);
        int ticks = 130;
        QMultiMap<int, QString> script;
        for (const QString &item : setup.split(' ', Qt::SkipEmptyParts)) {
            if (item.contains(':'))
                script.insert(item.section(':', 0, 0).toInt(), item.section(':', 1));
            else if (item[0] == 'T')
                ticks = item.mid(1).toInt();
            else if (item[0] == 'C')
                rig.config->setCarillons(item.mid(1).toInt());
            else if (item[0] == 'H')
                rig.config->setEnumHeures(item.mid(1).toInt());
            else if (item[0] == '-')
                rig.missing << item.mid(1);
            else
                for (int k = 0; k < 3; ++k)
                    rig.lengths[k] = item.section('/', k, k).toInt();
        }
        QStringList changes;
        for (int i = 0, state = 0; i < ticks; ++i) {
            for (const QString &event : script.values(i)) {
                if (event == "quiet")
                    rig.silent = true;
                else if (event == "stop")
                    rig.sequencer.stopByUser();
                else if (event == "fail")
                    rig.notify(Rig::NotifyFailure);
                else if (event == "notify")
                    for (int code : {Rig::NotifySuccessful, Rig::NotifySuperseded, Rig::NotifyAborted})
                        rig.notify(code);
                else
                    rig.wallMs += event.toLongLong() * 1000;
            }
            rig.tick();
            if (rig.sequencer.EtatCarillon() != state)
                changes << QStringLiteral("%1:%2").arg(i).arg(state = rig.sequencer.EtatCarillon());
            // The failure hint is the last hint of every tick spent in state -1.
            if (state == -1)
                QCOMPARE(rig.hint, ChimeHint::Failed);
        }
        QCOMPARE(changes.join(' '), trace);
        QCOMPARE(rig.opened.join(' ').remove(".mp3").remove("Carill"), files);
        QVERIFY(rig.mode() != ChimePlayer::ModePlaying);
    }

    // What the player and the face are told, in order.
    void playerAndFace()
    {
        // 999 ms past 10:14:59 is still 10:14:59: no chime yet.
        Rig rig("2026-12-06T10:14:59.996");
        QVERIFY(!rig.sequencer.stopByUser());
        rig.tick();
        rig.tick();
        QCOMPARE(rig.shownTimes, (QStringList{"10:14:59", "10:15:00"}));
        QCOMPARE(rig.file, folder + "/Carill2.mp3");
        QCOMPARE(rig.log, (QStringList{"Close", "Open Carill2.mp3", "notify", "Play", "hint " + ChimeHint::Playing,
                                       "visibility"}));
        QVERIFY(rig.sequencer.stopByUser());
        QCOMPARE(rig.log.mid(6), (QStringList{"Stop", "Close", "hint " + ChimeHint::Cancelled}));

        // A step of the wall clock beyond a minute ends the sound quietly, then
        // the idle clock carries on with the time it shows (second 1).
        Rig woken("23:00:00");
        woken.tick();
        woken.log.clear();
        woken.wallMs += 30000 * 1000;
        woken.tick();
        QCOMPARE(woken.log, (QStringList{"Stop", "hint " + ChimeHint::Idle, "Close", "visibility", "visibility"}));
    }

    // The date line is refreshed at every tick from second 0 to 5 of the full
    // hour that starts no melody, when the clock is not silent.
    void dateRefresh()
    {
        for (const auto &[start, carillons, silent, refreshes] :
             {std::tuple("11:00:00", 0, false, 6), {"11:00:00", 1, false, 1}, {"11:00:04", 0, false, 2},
              {"11:00:06", 0, false, 0}, {"11:00:00", 0, true, 0}, {"11:30:00", 0, false, 0}}) {
            Rig rig(start);
            rig.config->setCarillons(carillons);
            rig.silent = silent;
            for (int i = 0; i < 20; ++i)
                rig.tick();
            QCOMPARE(rig.dates, QList<QDate>(refreshes, QDate(2026, 12, 6)));
        }
    }

    // Settings: Activer, Veille, screen saver running, Plage, Debut, Fin; the
    // times of day that are silent, and those that pass.
    void quietRules_data()
    {
        QTest::addColumn<QString>("silentAt");
        QTest::addColumn<QString>("passesAt");
        QTest::addColumn<bool>("saverAsked");
        auto row = [](const char *settings, const char *silentAt, const char *passesAt, bool saverAsked) {
            QTest::newRow(settings) << QString(silentAt) << QString(passesAt) << saverAsked;
        };
        // Chimes off silence everything and ask nothing more; 2 counts as on.
        row("0 1 0 1 10:00 20:00", "12:00:00", "", false);
        row("2 1 0 0 10:00 20:00", "", "12:00:00", false);
        // The screen saver is asked only when it is meant to silence the clock,
        // and then beats the range.
        row("1 0 1 0 10:00 20:00", "12:00:00", "", true);
        row("1 1 1 0 10:00 20:00", "", "12:00:00", false);
        row("1 0 1 1 10:00 20:00", "12:00:00", "", true);
        // A range inside one day excludes both ends, one across midnight includes
        // them, equal ends let every time pass; only Plage = 1 applies the range.
        row("1 1 0 1 10:00 20:00", "10:00:00 20:00:00", "10:00:01 19:59:59", false);
        row("1 1 0 1 22:00 07:00", "07:00:01", "22:00:00 23:00:00 03:00:00 07:00:00", false);
        row("1 1 0 1 08:00 08:00", "", "08:00:00", false);
        row("1 1 0 0 10:00 20:00", "", "23:00:00", false);
    }
    void quietRules()
    {
        QFETCH(QString, silentAt);
        QFETCH(QString, passesAt);
        QFETCH(bool, saverAsked);
        const QStringList s = QString(QTest::currentDataTag()).split(' ');
        MemorySettingsStore store;
        int i = 0;
        for (const char *key : {"Réglages/Activer", "Réglages/Veille", "", "Plage/Check", "Plage/Debut", "Plage/Fin"})
            store.values[key] = s[i++];
        const std::unique_ptr<Configuration> config = Configuration::create(store);
        FakeScreenSaver saver;
        saver.active = s[2] == "1";
        SettingsQuietRules rules(*config, saver);
        for (const QString &heure : (silentAt + ' ' + passesAt).split(' ', Qt::SkipEmptyParts)) {
            const double t = DateTimeValue::fromTime(QTime::fromString(heure, Qt::ISODate));
            QVERIFY2(rules.Silencieux(t) == silentAt.contains(heure), qPrintable(heure));
        }
        QCOMPARE(saver.asked > 0, saverAsked);
    }

    // Runs of the rule, each "seconds later:state" (an EtatCarillon, s the
    // screen saver running, f the clock in the foreground), with what is
    // shown after each, from a face shown ("1...") or hidden ("0...").
    void visibility_data()
    {
        QTest::addColumn<int>("visibilite");
        QTest::addColumn<QString>("runs");
        QTest::addColumn<QString>("shown");
        QTest::newRow("never") << 0 << "0:1" << "10";
        // Idle, quarter, melody, strikes, stopped, failed.
        QTest::newRow("while chiming") << 1 << "0:0 6:1 6:2 6:3 6:4 6:-1" << "1011100";
        QTest::newRow("always") << 2 << "0:s" << "01";
        QTest::newRow("other value leaves it shown") << 7 << "0:0" << "11";
        QTest::newRow("other value leaves it hidden") << 7 << "0:1" << "00";
        // A chime starting 5 s after a run waits for the run 6 s after it.
        QTest::newRow("at most once in six seconds") << 1 << "0:0 5:1 1:1" << "1001";
        QTest::newRow("a quarter shown, then hidden") << 1 << "0:0 60:1 8:0" << "1010";
        // A wall clock set back must not hold the rule off until it catches up.
        QTest::newRow("wall clock set back") << 3 << "0:0 -3600:s" << "110";
        QTest::newRow("except screen saver, on and off") << 3 << "0:s 6:0" << "101";
        // The foreground clock is left alone, and the check still counts as a run.
        QTest::newRow("foreground clock left alone") << 0 << "0:f 3:0 3:0" << "1110";
    }
    void visibility()
    {
        QFETCH(int, visibilite);
        QFETCH(QString, runs);
        QFETCH(QString, shown);
        MemorySettingsStore store;
        store.values["Réglages/Visibilité"] = QString::number(visibilite);
        const auto config = Configuration::create(store);
        FakeWindow window;
        window.shown = shown.startsWith('1');
        QString state;
        QDateTime now(QDate(2026, 12, 6), QTime(10, 14, 0));
        VisibilityRule rule(
            *config, window, [&] { return state.toInt(); }, [&] { return state == "s"; }, [&] { return now; });
        QString seen = shown.left(1);
        for (const QString &run : runs.split(' ')) {
            state = run.section(':', 1);
            now = now.addSecs(run.section(':', 0, 0).toInt());
            window.foreground = state == "f";
            rule.AppliquerVisibilite();
            seen += window.shown ? '1' : '0';
        }
        QCOMPARE(seen, shown);
    }

    // Twips; taille -1: no snap.
    void faceSnap_data()
    {
        QTest::addColumn<int>("calendrier");
        QTest::addColumn<Size>("current");
        QTest::addColumn<Size>("previous");
        QTest::addColumn<int>("taille");
        QTest::addColumn<Size>("window");
        auto row = [](const char *name, int calendrier, Size current, Size previous, int taille, Size window) {
            QTest::newRow(name) << calendrier << current << previous << taille << window;
        };
        row("wider than the threshold", 0, {1600, 425}, {1320, 425}, 1, {1800, 555});
        row("width at the threshold is small", 0, {1560, 555}, {1800, 555}, 0, {1320, 425});
        row("unchanged size keeps", 0, {1800, 555}, {1800, 555}, -1, {});
        row("small wins when both changed", 0, {1700, 450}, {1320, 555}, 0, {1320, 425});
        row("only the height changed, up", 0, {1320, 500}, {1320, 425}, 1, {1800, 555});
        row("date: designed size snaps large", 1, {2070, 1260}, {0, 0}, 1, {1885, 1100});
        row("date: 1707.5 is small", 1, {1707.5, 1100}, {1885, 1100}, 0, {1530, 895});
        row("date: just above 1707.5 is large", 1, {1708, 895}, {1530, 895}, 1, {1885, 1100});
        row("date: 997.5 is small", 1, {1885, 997.5}, {1885, 1100}, 0, {1530, 895});
        row("other Calendrier keeps any size", 3, {5000, 5000}, {0, 0}, -1, {});
    }
    void faceSnap()
    {
        QFETCH(int, calendrier);
        QFETCH(Size, current);
        QFETCH(Size, previous);
        QFETCH(int, taille);
        QFETCH(Size, window);
        const auto metrics = FaceLayout::snap(calendrier, current, previous);
        QCOMPARE(metrics.has_value(), taille >= 0);
        if (!metrics)
            return;
        QCOMPARE(metrics->taille, taille);
        QCOMPARE(metrics->window.width, window.width);
        QCOMPARE(metrics->window.height, window.height);
        QCOMPARE(metrics->hasDate, calendrier == 1);
    }

    void tickLandsJustAfterTheNextSecond()
    {
        const QDateTime next(QDate(2026, 12, 7), QTime(0, 0, 0, 3));
        for (int msec : {0, 4, 500, 997, 999}) {
            const QDateTime now(QDate(2026, 12, 6), QTime(23, 59, 59, msec));
            QCOMPARE(now.addMSecs(SecondTicker::delayToNextSecond(now)), next);
        }
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
        SecondTicker ticker([&] { seen << QTime::currentTime().toString("HH:mm:ss"); });
        ticker.start();
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 3, 20000);
        ticker.stop();
        QCOMPARE(seen.removeDuplicates(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_ClockRules)
#include "tst_clockrules.moc"
