#include "ChimePlayer.h"
#include "ChimeSequencer.h"
#include "Configuration.h"
#include "DateTimeValue.h"
#include "MemorySettingsStore.h"
#include "QuietRules.h"

#include <QFileInfo>
#include <QTimeZone>
#include <QtTest>

namespace {

const QTimeZone paris("Europe/Paris");

// The world around the sequencer: the wall clock, which tests step, and the
// monotonic clock, which only runs; the quiet rules; and the face.
class FakeWorld : public TimeSource, public QuietRules, public ChimeHost
{
public:
    explicit FakeWorld(QStringList &log) : m_log(log) {}
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(wallMs, paris); }
    qint64 monotonicMs() const override { return monoMs; }
    bool Silencieux(double) override { return silent; }
    void AfficherAide(const QString &text) override
    {
        m_log << QStringLiteral("hint ") + text;
        hints << text;
    }
    void AppliquerVisibilite() override { m_log << QStringLiteral("visibility"); }
    void showTime(const QString &text) override { shownTimes << text; }
    void refreshDate(const QDate &today) override { dates << today; }

    qint64 wallMs = 0;
    qint64 monoMs = 1000000;
    bool silent = false;
    QStringList hints;
    QStringList shownTimes;
    QList<QDate> dates;

private:
    QStringList &m_log;
};

// A player whose sounds last a set number of real seconds. Everything it is
// told goes to the shared log, in order.
class FakePlayer : public ChimePlayer
{
public:
    FakePlayer(const FakeWorld &time, QStringList &log) : m_time(time), m_log(log) {}

    void setDeviceType(const QString &deviceType) override { m_deviceType = deviceType; }
    QString deviceType() const override { return m_deviceType; }
    void setFileName(const QString &fileName) override { m_fileName = fileName; }
    QString fileName() const override { return m_fileName; }
    void setNotify(bool notify) override
    {
        if (notify)
            m_log << QStringLiteral("notify");
    }
    void setCompletionHandler(CompletionHandler handler) override { m_handler = std::move(handler); }

    Result command(const QString &command) override
    {
        const QString file = QFileInfo(m_fileName).fileName();
        const bool strike = file.startsWith(QLatin1String("CarillH"));
        m_log << (command == QLatin1String("Open") ? QStringLiteral("Open ") + file : command);
        m_started = m_time.monotonicMs();
        if (command == QLatin1String("Open")) {
            opened << file;
            if (!strike)
                quarters << m_time.now().toSecsSinceEpoch() / 900;
            m_open = m_deviceType == QLatin1String("MPEGVideo") && !missing.contains(file);
            m_playing = m_failed = false;
            m_length = lengths[strike ? 2 : file == QLatin1String("Carill1.mp3") ? 1 : 0];
            return m_open ? Result::Ok : Result::CannotOpenFile;
        }
        m_open = m_open && command != QLatin1String("Close");
        m_playing = m_open && command == QLatin1String("Play");
        return m_open || command == QLatin1String("Close") ? Result::Ok : Result::NotOpen;
    }
    int mode() const override
    {
        if (!m_open)
            return ModeNotOpen;
        return m_playing && !m_failed && m_time.monotonicMs() < m_started + m_length * 1000 ? ModePlaying : ModeStopped;
    }
    // A completion notice, as the event loop would deliver it between ticks.
    void notify(int code)
    {
        m_failed = code == NotifyFailure;
        if (m_handler)
            m_handler(code);
    }

    QList<int> lengths{30, 10, 10}; // quarter chime, melody, hour strike, in seconds
    QStringList missing;
    QStringList opened;
    QList<qint64> quarters; // of each quarter's sound started

private:
    const FakeWorld &m_time;
    QStringList &m_log;
    QString m_deviceType, m_fileName;
    CompletionHandler m_handler;
    qint64 m_started = 0, m_length = 0;
    bool m_open = false, m_playing = false, m_failed = false;
};

const QString folder = QStringLiteral("/opt/tintarel");

// The sequencer with fakes around it, settings at their defaults, and its
// clocks a few milliseconds past `start`: a time on 6 December 2026, or a
// date and time, in Paris unless it gives its offset.
struct Rig
{
    explicit Rig(const QString &start = QStringLiteral("10:15:00"))
    {
        const QString text = start.contains(QLatin1Char('T')) ? start : QStringLiteral("2026-12-06T") + start;
        QDateTime begin = QDateTime::fromString(text, Qt::ISODate);
        if (begin.timeSpec() == Qt::LocalTime)
            begin = QDateTime(begin.date(), begin.time(), paris);
        world.wallMs = begin.toMSecsSinceEpoch() + 3;
    }
    bool eachQuarterOnce() const
    {
        return QSet<qint64>(player.quarters.begin(), player.quarters.end()).size() == player.quarters.size();
    }
    // One tick, then a second passes.
    void tick()
    {
        sequencer.tick();
        world.wallMs += 1000;
        world.monoMs += 1000;
    }

    MemorySettingsStore store;
    std::unique_ptr<Configuration> config = Configuration::create(store);
    QStringList log;
    FakeWorld world{log};
    FakePlayer player{world, log};
    ChimeSequencer sequencer{*config, world, player, world, world, folder};
};

} // namespace

class TestChimeSequencer : public QObject
{
    Q_OBJECT

private slots:
    // Each row runs the machine one tick a second from its start and compares
    // the state changes ("tick:state") and the files opened. Setup: Cn
    // Carillons, Hn EnumHeures, a/b/c the lengths of quarter chime, melody and
    // strike, -File a missing file. Events before a tick: quiet (silent from
    // then on), stop (the user's), fail (the player's failure notice), notify
    // (the other notices), +n/-n a step of the wall clock by n seconds.
    void sequence_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("trace");
        QTest::addColumn<QString>("files");
        auto row = [](const char *name, const char *start, int ticks, const char *setup, const char *events,
                      const char *trace, const char *files) {
            QTest::newRow(name) << QString::fromLatin1(start) << ticks << QString::fromLatin1(setup)
                                << QString::fromLatin1(events) << QString::fromLatin1(trace) << QString::fromLatin1(files);
        };

        // The schedule.
        row("quarter past ends by itself", "10:15:00", 20, "7/10/10", "", "0:1 7:0", "Carill2");
        row("quarter past cut at 10 s", "10:15:00", 20, "", "", "0:1 10:0", "Carill2");
        row("half past with Carillons 2", "10:30:00", 20, "C2", "", "0:1 10:0", "Carill3");
        row("quarter past with Carillons 2", "10:15:00", 20, "C2", "", "", "");
        row("quarter to with Carillons 3", "10:45:00", 20, "", "", "0:1 10:0", "Carill4");
        row("half past with Carillons 1", "10:30:00", 20, "C1", "", "", "");
        row("full hour with Carillons 0", "11:00:00", 20, "C0", "", "", "");
        row("first tick at second 3", "10:15:03", 20, "", "", "0:1 10:0", "Carill2");
        row("first tick at second 6", "10:15:06", 20, "", "", "", "");
        row("chime shorter than the start window is not repeated", "10:15:00", 20, "2/10/10", "", "0:1 2:0", "Carill2");
        row("melody then the hours", "14:00:00", 30, "30/12/5", "", "0:2 12:3 17:0", "Carill1 CarillH2");
        row("melody ending at 20 s is followed", "14:00:00", 30, "30/20/5", "", "0:2 20:3 25:0", "Carill1 CarillH2");
        row("strike cut at 40 s", "14:00:00", 59, "30/12/90", "", "0:2 12:3 52:0", "Carill1 CarillH2");
        row("melody over 20 s with striking", "14:00:00", 80, "30/25/5", "", "0:2 25:-1 70:0", "Carill1");
        row("melody over 20 s without striking", "14:00:00", 59, "H0 30/25/5", "", "0:2 21:0", "Carill1");
        row("melody ended without striking", "14:00:00", 30, "H0 30/8/5", "", "0:2 8:0", "Carill1");
        row("hour 0 strikes 12", "00:00:00", 30, "30/3/2", "", "0:2 3:3 5:0", "Carill1 CarillH12");
        row("hour 13 strikes 1", "13:00:00", 30, "30/3/2", "", "0:2 3:3 5:0", "Carill1 CarillH1");
        // A melody that does not end gives way after a minute, and the next quarter chimes.
        row("endless melody with striking", "10:00:00", 920, "30/960/5", "", "0:2 60:-1 70:0 900:1 910:0", "Carill1 Carill2");

        // Failures, silence and the user's stop.
        row("quarter file missing", "10:30:00", 80, "-Carill3.mp3", "", "0:-1 70:0", "Carill3");
        row("sound that never plays", "10:30:00", 80, "0/10/10", "", "0:-1 70:0", "Carill3");
        row("strike file missing", "14:00:00", 90, "30/12/5 -CarillH2.mp3", "", "0:2 12:-1 82:0", "Carill1 CarillH2");
        row("failure notice during the quarter", "10:15:00", 80, "", "3:fail", "0:1 3:-1 70:0", "Carill2");
        row("other notices change nothing", "10:15:00", 20, "", "3:notify", "0:1 10:0", "Carill2");
        row("failure notice during the melody", "14:00:00", 80, "30/12/5", "5:fail", "0:2 5:-1 70:0", "Carill1");
        row("silence during the quarter", "10:15:00", 20, "", "4:quiet", "0:1 4:0", "Carill2");
        row("silence during the melody", "14:00:00", 30, "30/12/5", "4:quiet", "0:2 4:0", "Carill1");
        row("silence during the hours", "14:00:00", 30, "30/12/10", "14:quiet", "0:2 12:3 14:0", "Carill1 CarillH2");
        row("silent at the quarter", "10:15:00", 20, "", "0:quiet", "", "");
        row("user stop at 10:30:02", "10:30:00", 90, "", "2:stop", "0:1 2:4 60:0", "Carill3");
        row("user stop just after the sound ended", "10:15:00", 20, "3/10/10", "3:stop", "0:1 3:0", "Carill2");
        row("user stop during the hours", "14:00:00", 80, "30/12/30", "14:stop", "0:2 12:3 14:4 72:0", "Carill1 CarillH2");

        // Steps of the wall clock. Up to a minute every wait counts real time;
        // beyond, the running sequence ends there and then.
        row("idle: back 6 s after the quarter", "10:15:00", 20, "7/10/10", "9:-6", "0:1 7:0", "Carill2");
        row("idle: back a minute over the quarter", "10:15:00", 80, "7/10/10", "20:-60", "0:1 7:0", "Carill2");
        row("idle: forward a night into a quarter", "23:31:00", 30, "", "2:+30534", "6:2 16:3 26:0", "Carill1 CarillH8");
        row("quarter: forward 5 s", "10:15:00", 20, "", "3:+5", "0:1 10:0", "Carill2");
        row("quarter: back 6 s", "10:15:00", 20, "", "3:-6", "0:1 10:0", "Carill2");
        row("quarter: forward 2 min", "10:15:00", 20, "", "3:+120", "0:1 3:0", "Carill2");
        row("quarter: back 2 min", "10:15:00", 130, "", "3:-120", "0:1 3:0", "Carill2");
        row("melody: back 10 s over midnight", "00:00:00", 30, "30/12/5", "3:-10", "0:2 12:3 17:0", "Carill1 CarillH12");
        row("melody: forward a night", "23:00:00", 30, "30/12/5", "3:+30000", "0:2 3:0", "Carill1");
        row("melody: back a night", "07:00:00", 30, "30/12/5", "3:-28000", "0:2 3:0", "Carill1");
        row("strike: forward 30 s", "14:00:00", 59, "30/12/90", "20:+30", "0:2 12:3 52:0", "Carill1 CarillH2");
        row("strike: back 30 s", "14:00:00", 59, "30/12/90", "20:-30", "0:2 12:3 52:0", "Carill1 CarillH2");
        row("strike: forward 2 min", "14:00:00", 59, "30/12/90", "20:+120", "0:2 12:3 20:0", "Carill1 CarillH2");
        row("stopped: forward 40 s", "10:30:00", 90, "", "2:stop 10:+40", "0:1 2:4 60:0", "Carill3");
        row("stopped: back 40 s", "10:30:00", 90, "", "2:stop 10:-40", "0:1 2:4 60:0", "Carill3");
        row("stopped: forward a night", "23:30:00", 30, "", "2:stop 5:+30591", "0:1 2:4 5:0 9:2 19:3 29:0", "Carill3 Carill1 CarillH8");
        row("failed: forward 30 s", "10:30:00", 80, "-Carill3.mp3", "10:+30", "0:-1 70:0", "Carill3");
        row("failed: back 30 s over midnight", "00:00:00", 80, "-Carill1.mp3", "10:-30", "0:-1 70:0", "Carill1");
        row("failed: forward 2 min", "10:30:00", 80, "-Carill3.mp3", "10:+120", "0:-1 10:0", "Carill3");

        // Daylight saving in Paris: autumn's repeated hour chimes again, spring's
        // skipped hour never shows.
        row("autumn change", "2026-10-25T02:29:55+02:00", 3620, "7/10/10", "",
            "5:1 12:0 905:1 912:0 1805:2 1815:3 1825:0 2705:1 2712:0 3605:1 3612:0",
            "Carill3 Carill4 Carill1 CarillH2 Carill2 Carill3");
        row("spring change", "2026-03-29T01:44:55", 930, "7/10/10", "", "5:1 12:0 905:2 915:3 925:0", "Carill4 Carill1 CarillH3");
        row("spring change, woken after a night", "2026-03-28T23:30:00", 30, "", "2:stop 5:+26991", "0:1 2:4 5:0 9:2 19:3 29:0",
            "Carill3 Carill1 CarillH8");
    }

    void sequence()
    {
        QFETCH(QString, start);
        QFETCH(int, ticks);
        QFETCH(QString, setup);
        QFETCH(QString, events);
        QFETCH(QString, trace);
        QFETCH(QString, files);

        Rig rig(start);
        for (const QString &item : setup.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (item.startsWith(QLatin1Char('C')))
                rig.config->setCarillons(item.mid(1).toInt());
            else if (item.startsWith(QLatin1Char('H')))
                rig.config->setEnumHeures(item.mid(1).toInt());
            else if (item.startsWith(QLatin1Char('-')))
                rig.player.missing << item.mid(1);
            else
                for (int k = 0; k < 3; ++k)
                    rig.player.lengths[k] = item.section(QLatin1Char('/'), k, k).toInt();
        }
        QMultiMap<int, QString> script;
        for (const QString &item : events.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            script.insert(item.section(QLatin1Char(':'), 0, 0).toInt(), item.section(QLatin1Char(':'), 1));

        QStringList changes;
        int state = 0;
        for (int i = 0; i < ticks; ++i) {
            for (const QString &event : script.values(i)) {
                if (event == QLatin1String("quiet"))
                    rig.world.silent = true;
                else if (event == QLatin1String("stop"))
                    rig.sequencer.stopByUser();
                else if (event == QLatin1String("fail"))
                    rig.player.notify(ChimePlayer::NotifyFailure);
                else if (event == QLatin1String("notify"))
                    for (int code : {ChimePlayer::NotifySuccessful, ChimePlayer::NotifySuperseded, ChimePlayer::NotifyAborted})
                        rig.player.notify(code);
                else
                    rig.world.wallMs += event.toLongLong() * 1000;
            }
            rig.tick();
            if (QTest::currentTestFailed())
                return;
            if (rig.sequencer.EtatCarillon() != state) {
                state = rig.sequencer.EtatCarillon();
                changes << QStringLiteral("%1:%2").arg(i).arg(state);
            }
            // The failure hint is the last hint of every tick spent in state -1.
            if (state == -1)
                QCOMPARE(rig.world.hints.last(), ChimeHint::Failed);
        }
        QCOMPARE(changes.join(QLatin1Char(' ')), trace);
        QCOMPARE(rig.player.opened.join(QLatin1Char(' ')).remove(QStringLiteral(".mp3")), files);
        QVERIFY(rig.eachQuarterOnce());
        QCOMPARE(rig.sequencer.EtatCarillon(), 0);
        QVERIFY(rig.player.mode() != ChimePlayer::ModePlaying);
    }

    // What the player and the face are told, in order.
    void playerAndFace()
    {
        Rig rig;
        QVERIFY(!rig.sequencer.stopByUser());
        rig.tick();
        QCOMPARE(rig.player.fileName(), folder + QStringLiteral("/Carill2.mp3"));
        QCOMPARE(rig.log, (QStringList{"Close", "Open Carill2.mp3", "notify", "Play",
                                       "hint Double-cliquez pour interrompre le carillon", "visibility"}));
        QVERIFY(rig.sequencer.stopByUser());
        QCOMPARE(rig.log.mid(6), (QStringList{"Stop", "Close", "hint Annulation du carillon"}));

        // A step of the wall clock beyond a minute ends the sound quietly, then
        // the idle clock carries on with the time it shows (second 1).
        Rig woken(QStringLiteral("23:00:00"));
        woken.tick();
        woken.log.clear();
        woken.world.wallMs += 30000 * 1000;
        woken.tick();
        QCOMPARE(woken.log, (QStringList{"Stop", "hint Double click pour configurer, click droit pour quitter", "Close",
                                         "visibility", "visibility"}));
    }

    // The date line is refreshed at every tick from second 0 to 5 of the full
    // hour that starts no melody, when the clock is not silent.
    void dateRefresh()
    {
        for (const auto &[start, carillons, silent, refreshes] :
             {std::tuple("11:00:00", 0, false, 6), {"11:00:00", 1, false, 1}, {"11:00:04", 0, false, 2},
              {"11:00:06", 0, false, 0}, {"11:00:00", 0, true, 0}, {"11:30:00", 0, false, 0}}) {
            Rig rig(QString::fromLatin1(start));
            rig.config->setCarillons(carillons);
            rig.world.silent = silent;
            for (int i = 0; i < 20; ++i)
                rig.tick();
            QCOMPARE(rig.world.dates, QList<QDate>(refreshes, QDate(2026, 12, 6)));
        }
    }

    void shownTimeIsTruncated()
    {
        // 999 ms past 10:14:59 is still 10:14:59: no chime yet.
        Rig rig(QStringLiteral("2026-12-06T10:14:59.996"));
        rig.tick();
        rig.tick();
        QCOMPARE(rig.world.shownTimes, (QStringList{"10:14:59", "10:15:00"}));
        QCOMPARE(rig.player.opened.size(), 1);
        QCOMPARE(DateTimeValue::formatLongTime(rig.sequencer.DebutCarillon()), QStringLiteral("10:15:00"));

        // At start-up too, with the date of the same moment.
        Rig midnight(QStringLiteral("2026-12-06T23:59:59.500"));
        QCOMPARE(midnight.sequencer.showTime().date(), QDate(2026, 12, 6));
        QCOMPARE(midnight.world.shownTimes, QStringList{"23:59:59"});
    }

    // A day of ticks: every quarter chimes, once.
    void wholeDay()
    {
        Rig rig(QStringLiteral("00:00:00"));
        rig.player.lengths = {8, 9, 6};
        for (int i = 0; i < 86400; ++i)
            rig.tick();
        QCOMPARE(rig.player.opened.size(), 120);
        QVERIFY(rig.eachQuarterOnce());
        QVERIFY(!rig.world.hints.contains(ChimeHint::Failed));
    }
};

QTEST_APPLESS_MAIN(TestChimeSequencer)
#include "tst_chimesequencer.moc"
