#include "ChimePlayer.h"
#include "ChimeSequencer.h"
#include "Configuration.h"
#include "MemorySettingsStore.h"
#include "DateTimeValue.h"
#include "QuietRules.h"

#include <QFileInfo>
#include <QMap>
#include <QtTest>

namespace {

class FakeTime : public TimeSource
{
public:
    QDateTime now() const override { return current; }
    QDateTime current;
};

class FakeQuiet : public QuietRules
{
public:
    bool Silencieux(double) override { return silent; }
    bool silent = false;
};

// A player whose sounds last a set number of seconds of the fake time.
// Everything it is told goes to the shared log, in order.
class FakePlayer : public ChimePlayer
{
public:
    FakePlayer(const FakeTime &time, QStringList &log) : m_time(time), m_log(log) {}

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
        if (command == QLatin1String("Open")) {
            m_log << QStringLiteral("Open ") + file;
            opened << m_fileName;
            m_open = false;
            if (m_deviceType != QLatin1String("MPEGVideo") || missing.contains(file))
                return Result::CannotOpenFile;
            m_open = true;
            m_failed = false;
            m_playing = false;
            m_length = lengthOf(file);
            return Result::Ok;
        }
        m_log << command;
        if (command == QLatin1String("Close")) {
            m_open = m_playing = false;
            return Result::Ok;
        }
        if (!m_open)
            return Result::NotOpen;
        if (command == QLatin1String("Play")) {
            m_playing = true;
            m_started = m_time.now();
            return Result::Ok;
        }
        if (command == QLatin1String("Stop")) {
            m_playing = false;
            return Result::Ok;
        }
        return Result::UnknownCommand;
    }

    int mode() const override
    {
        if (!m_open)
            return ModeNotOpen;
        const bool sounding = m_playing && !m_failed && m_time.now() < m_started.addSecs(m_length);
        return sounding ? ModePlaying : ModeStopped;
    }

    // A completion notice, as the event loop would deliver it between ticks.
    void notify(int code)
    {
        if (code == NotifyFailure)
            m_failed = true;
        if (m_handler)
            m_handler(code);
    }
    bool hasHandler() const { return bool(m_handler); }

    int chimeLength = 30;
    int melodyLength = 10;
    int strikeLength = 10;
    QStringList missing;
    QStringList opened;

private:
    int lengthOf(const QString &file) const
    {
        if (file.startsWith(QLatin1String("CarillH")))
            return strikeLength;
        return file == QLatin1String("Carill1.mp3") ? melodyLength : chimeLength;
    }

    const FakeTime &m_time;
    QStringList &m_log;
    QString m_deviceType;
    QString m_fileName;
    CompletionHandler m_handler;
    QDateTime m_started;
    int m_length = 0;
    bool m_open = false;
    bool m_playing = false;
    bool m_failed = false;
};

class FakeHost : public ChimeHost
{
public:
    explicit FakeHost(QStringList &log) : m_log(log) {}

    void AfficherAide(const QString &text) override
    {
        m_log << QStringLiteral("hint ") + text;
        hints << text;
    }
    void AppliquerVisibilite() override
    {
        m_log << QStringLiteral("visibility");
        visibilityAt << tickNumber;
    }
    void showTime(const QString &text) override { shownTimes << text; }
    void refreshDate(const QDate &today) override
    {
        m_log << QStringLiteral("date");
        dates << today;
    }

    int tickNumber = 0;
    QStringList hints;
    QList<int> visibilityAt;
    QStringList shownTimes;
    QList<QDate> dates;

private:
    QStringList &m_log;
};

const QString folder = QStringLiteral("/opt/tintarel");
const QDate day(2026, 12, 6);

// The sequencer with fakes around it; settings at their defaults.
struct Rig
{
    MemorySettingsStore store;
    std::unique_ptr<Configuration> config = Configuration::create(store);
    FakeTime time;
    FakeQuiet quiet;
    QStringList log;
    FakePlayer player{time, log};
    FakeHost host{log};
    ChimeSequencer sequencer{*config, quiet, player, host, time, folder};

    // One tick at i seconds after begin, a few milliseconds past the second.
    void tickAt(const QDateTime &begin, int i)
    {
        time.current = begin.addSecs(i);
        host.tickNumber = i;
        sequencer.tick();
    }
};

QDateTime at(const QTime &time, int msec = 3)
{
    return QDateTime(day, time).addMSecs(msec);
}

QString joined(const QList<int> &numbers)
{
    QStringList parts;
    for (int n : numbers)
        parts << QString::number(n);
    return parts.join(QLatin1Char(' '));
}

QStringList fileNames(const QStringList &paths)
{
    QStringList names;
    for (const QString &path : paths)
        names << QFileInfo(path).fileName();
    return names;
}

} // namespace

class TestChimeSequencer : public QObject
{
    Q_OBJECT

private slots:
    void sequence_data();
    void sequence();
    void quarterChimeTalksToPlayerAndFace();
    void failureHintRepeatsUntilIdle();
    void dateRefresh_data();
    void dateRefresh();
    void completionNotices_data();
    void completionNotices();
    void userStopWithNothingPlaying();
    void shownTimeIsTruncated();
    void wholeDay_data();
    void wholeDay();
};

// Each row runs the machine one tick a second from its start and compares
// the state changes ("tick:state"), the files opened and the ticks at which
// the visibility rule ran.
void TestChimeSequencer::sequence_data()
{
    QTest::addColumn<QTime>("start");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("carillons");
    QTest::addColumn<int>("enumHeures");
    QTest::addColumn<QList<int>>("lengths"); // chime, melody, strike in seconds
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QList<int>>("events"); // tick of silence, user stop, failure notice; -1 none
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("visibility");

    const QList<int> none{-1, -1, -1};
    const QList<int> lengths{30, 10, 10};
    const QStringList present;
    const QString idle0to5 = QStringLiteral("0 1 2 3 4 5");
    auto files = [](const char *text) { return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts); };

    // Starts from idle.
    QTest::newRow("quarter past ends by itself") << QTime(10, 15) << 20 << 3 << 1 << QList<int>{7, 10, 10} << present << none
                                                 << "0:1 7:0" << files("Carill2.mp3") << "0 7";
    QTest::newRow("quarter past cut at 10 s") << QTime(10, 15) << 20 << 3 << 1 << lengths << present << none << "0:1 10:0"
                                              << files("Carill2.mp3") << "0 10";
    QTest::newRow("half past with Carillons 2") << QTime(10, 30) << 20 << 2 << 1 << lengths << present << none
                                                << "0:1 10:0" << files("Carill3.mp3") << "0 10";
    QTest::newRow("quarter past with Carillons 2") << QTime(10, 15) << 20 << 2 << 1 << lengths << present << none << ""
                                                   << files("") << idle0to5;
    QTest::newRow("quarter to with Carillons 3") << QTime(10, 45) << 20 << 3 << 1 << lengths << present << none
                                                 << "0:1 10:0" << files("Carill4.mp3") << "0 10";
    QTest::newRow("quarter to with Carillons 2") << QTime(10, 45) << 20 << 2 << 1 << lengths << present << none << ""
                                                 << files("") << idle0to5;
    QTest::newRow("half past with Carillons 1") << QTime(10, 30) << 20 << 1 << 1 << lengths << present << none << ""
                                                << files("") << idle0to5;
    QTest::newRow("full hour with Carillons 0") << QTime(11, 0) << 20 << 0 << 1 << lengths << present << none << ""
                                                << files("") << idle0to5;
    QTest::newRow("other minute") << QTime(11, 7) << 20 << 3 << 1 << lengths << present << none << "" << files("")
                                  << idle0to5;

    // Late ticks.
    QTest::newRow("first tick at second 3") << QTime(10, 15, 3) << 20 << 3 << 1 << lengths << present << none
                                            << "0:1 10:0" << files("Carill2.mp3") << "0 10";
    QTest::newRow("first tick at second 6") << QTime(10, 15, 6) << 20 << 3 << 1 << lengths << present << none << ""
                                            << files("") << "";
    QTest::newRow("chime shorter than the start window")
        << QTime(10, 15) << 20 << 3 << 1 << QList<int>{2, 10, 10} << present << none << "0:1 2:0 3:1 5:0"
        << files("Carill2.mp3 Carill2.mp3") << "0 2 3 5";

    // The full hour.
    QTest::newRow("melody then the hours") << QTime(14, 0) << 30 << 1 << 1 << QList<int>{30, 12, 5} << present << none
                                           << "0:2 12:3 17:0" << files("Carill1.mp3 CarillH2.mp3") << "0 17";
    QTest::newRow("melody ending at 20 s is followed")
        << QTime(14, 0) << 30 << 1 << 1 << QList<int>{30, 20, 5} << present << none << "0:2 20:3 25:0"
        << files("Carill1.mp3 CarillH2.mp3") << "0 25";
    QTest::newRow("strike cut at 40 s") << QTime(14, 0) << 59 << 1 << 1 << QList<int>{30, 12, 90} << present << none
                                        << "0:2 12:3 52:0" << files("Carill1.mp3 CarillH2.mp3") << "0 52";
    QTest::newRow("melody over 20 s with striking")
        << QTime(14, 0) << 80 << 1 << 1 << QList<int>{30, 25, 5} << present << none << "0:2 25:-1 70:0"
        << files("Carill1.mp3") << "0";
    QTest::newRow("melody over 20 s without striking")
        << QTime(14, 0) << 59 << 1 << 0 << QList<int>{30, 25, 5} << present << none << "0:2 21:0"
        << files("Carill1.mp3") << "0 21";
    QTest::newRow("melody ended without striking") << QTime(14, 0) << 30 << 3 << 0 << QList<int>{30, 8, 5} << present
                                                   << none << "0:2 8:0" << files("Carill1.mp3") << "0 8";
    QTest::newRow("hour 0 strikes 12") << QTime(0, 0) << 30 << 1 << 1 << QList<int>{30, 3, 2} << present << none
                                       << "0:2 3:3 5:0" << files("Carill1.mp3 CarillH12.mp3") << "0 5";
    QTest::newRow("hour 12 strikes 12") << QTime(12, 0) << 30 << 1 << 1 << QList<int>{30, 3, 2} << present << none
                                        << "0:2 3:3 5:0" << files("Carill1.mp3 CarillH12.mp3") << "0 5";
    QTest::newRow("hour 13 strikes 1") << QTime(13, 0) << 30 << 1 << 1 << QList<int>{30, 3, 2} << present << none
                                       << "0:2 3:3 5:0" << files("Carill1.mp3 CarillH1.mp3") << "0 5";
    QTest::newRow("hour 23 strikes 11") << QTime(23, 0) << 30 << 1 << 1 << QList<int>{30, 3, 2} << present << none
                                        << "0:2 3:3 5:0" << files("Carill1.mp3 CarillH11.mp3") << "0 5";

    // Failures to start: 70 s from the attempt, then idle.
    QTest::newRow("quarter file missing") << QTime(10, 30) << 80 << 3 << 1 << lengths
                                          << QStringList{QStringLiteral("Carill3.mp3")} << none << "0:-1 70:0"
                                          << files("Carill3.mp3") << "0";
    QTest::newRow("sound that never plays") << QTime(10, 30) << 80 << 3 << 1 << QList<int>{0, 10, 10} << present << none
                                            << "0:-1 70:0" << files("Carill3.mp3") << "0";
    QTest::newRow("strike file missing") << QTime(14, 0) << 90 << 1 << 1 << QList<int>{30, 12, 5}
                                         << QStringList{QStringLiteral("CarillH2.mp3")} << none << "0:2 12:-1 82:0"
                                         << files("Carill1.mp3 CarillH2.mp3") << "0";

    // Silence arriving while a sound plays.
    QTest::newRow("silence during the quarter") << QTime(10, 15) << 20 << 3 << 1 << lengths << present
                                                << QList<int>{4, -1, -1} << "0:1 4:0" << files("Carill2.mp3") << "0 4 5";
    QTest::newRow("silence during the melody") << QTime(14, 0) << 30 << 1 << 1 << QList<int>{30, 12, 5} << present
                                               << QList<int>{4, -1, -1} << "0:2 4:0" << files("Carill1.mp3")
                                               << "0 4 5";
    QTest::newRow("silence during the hours") << QTime(14, 0) << 30 << 1 << 1 << QList<int>{30, 12, 10} << present
                                              << QList<int>{14, -1, -1} << "0:2 12:3 14:0"
                                              << files("Carill1.mp3 CarillH2.mp3") << "0 14";
    QTest::newRow("silent at the quarter") << QTime(10, 15) << 20 << 3 << 1 << lengths << present
                                           << QList<int>{0, -1, -1} << "" << files("") << idle0to5;

    // The user's stop holds the machine until 60 s after the stopped start.
    QTest::newRow("user stop at 10:30:02") << QTime(10, 30) << 90 << 3 << 1 << lengths << present
                                           << QList<int>{-1, 2, -1} << "0:1 2:4 60:0" << files("Carill3.mp3")
                                           << "0 60 61 62 63 64 65";
    QTest::newRow("user stop during the hours") << QTime(14, 0) << 80 << 1 << 1 << QList<int>{30, 12, 30} << present
                                                << QList<int>{-1, 14, -1} << "0:2 12:3 14:4 72:0"
                                                << files("Carill1.mp3 CarillH2.mp3") << "0 72";

    // A failure reported by the player while it plays.
    QTest::newRow("failure notice during the quarter")
        << QTime(10, 15) << 80 << 3 << 1 << lengths << present << QList<int>{-1, -1, 3} << "0:1 3:-1 70:0"
        << files("Carill2.mp3") << "0";
    QTest::newRow("failure notice during the melody")
        << QTime(14, 0) << 80 << 1 << 1 << QList<int>{30, 12, 5} << present << QList<int>{-1, -1, 5} << "0:2 5:-1 70:0"
        << files("Carill1.mp3") << "0";
}

void TestChimeSequencer::sequence()
{
    QFETCH(QTime, start);
    QFETCH(int, ticks);
    QFETCH(int, carillons);
    QFETCH(int, enumHeures);
    QFETCH(QList<int>, lengths);
    QFETCH(QStringList, missing);
    QFETCH(QList<int>, events);
    QFETCH(QString, trace);
    QFETCH(QStringList, files);
    QFETCH(QString, visibility);

    Rig rig;
    rig.config->setCarillons(carillons);
    rig.config->setEnumHeures(enumHeures);
    rig.player.chimeLength = lengths[0];
    rig.player.melodyLength = lengths[1];
    rig.player.strikeLength = lengths[2];
    rig.player.missing = missing;

    const QDateTime begin = at(start);
    QStringList changes;
    int state = rig.sequencer.EtatCarillon();
    for (int i = 0; i < ticks; ++i) {
        if (i == events[0])
            rig.quiet.silent = true;
        if (i == events[1])
            QVERIFY(rig.sequencer.stopByUser());
        if (i == events[2])
            rig.player.notify(ChimePlayer::NotifyFailure);
        rig.tickAt(begin, i);
        if (rig.sequencer.EtatCarillon() != state) {
            state = rig.sequencer.EtatCarillon();
            changes << QStringLiteral("%1:%2").arg(i).arg(state);
        }
        // The failure hint is the last hint of every tick spent in state -1.
        if (state == -1)
            QCOMPARE(rig.host.hints.last(), ChimeHint::Failed);
    }
    QCOMPARE(changes.join(QLatin1Char(' ')), trace);
    QCOMPARE(fileNames(rig.player.opened), files);
    QCOMPARE(joined(rig.host.visibilityAt), visibility);
    QCOMPARE(rig.sequencer.EtatCarillon(), 0);
    QVERIFY(rig.player.mode() != ChimePlayer::ModePlaying);
}

void TestChimeSequencer::quarterChimeTalksToPlayerAndFace()
{
    Rig rig;
    const QDateTime begin = at(QTime(10, 15));
    rig.tickAt(begin, 0);
    QCOMPARE(rig.player.deviceType(), QStringLiteral("MPEGVideo"));
    QCOMPARE(rig.player.opened, QStringList{folder + QStringLiteral("/Carill2.mp3")});
    QCOMPARE(rig.log, (QStringList{"Close", "Open Carill2.mp3", "notify", "Play",
                                   "hint Double-cliquez pour interrompre le carillon", "visibility"}));
    QCOMPARE(rig.sequencer.EtatCarillon(), 1);
    QCOMPARE(DateTimeValue::formatLongTime(rig.sequencer.DebutCarillon()), QStringLiteral("10:15:00"));

    rig.log.clear();
    for (int i = 1; i < 10; ++i)
        rig.tickAt(begin, i);
    QVERIFY(rig.log.isEmpty());
    rig.tickAt(begin, 10);
    QCOMPARE(rig.log, (QStringList{"hint Double click pour configurer, click droit pour quitter", "Close", "visibility"}));

    // Silence stops a playing sound before the state winds it down.
    rig.log.clear();
    rig.tickAt(at(QTime(10, 30)), 0);
    rig.log.clear();
    rig.quiet.silent = true;
    rig.tickAt(at(QTime(10, 30)), 1);
    QCOMPARE(rig.log, (QStringList{"Stop", "Close", "hint Double click pour configurer, click droit pour quitter",
                                   "Close", "visibility"}));

    // The user's stop.
    rig.quiet.silent = false;
    rig.tickAt(at(QTime(10, 45)), 0);
    rig.log.clear();
    QVERIFY(rig.sequencer.stopByUser());
    QCOMPARE(rig.log, (QStringList{"Stop", "Close", "hint Annulation du carillon"}));
    QCOMPARE(rig.sequencer.EtatCarillon(), 4);
}

void TestChimeSequencer::failureHintRepeatsUntilIdle()
{
    Rig rig;
    rig.player.missing << QStringLiteral("Carill3.mp3");
    const QDateTime begin = at(QTime(10, 30));
    rig.tickAt(begin, 0);
    // No hint from the failed start itself: the tick's own failure hint follows.
    QCOMPARE(rig.log, (QStringList{"Close", "Open Carill3.mp3", "visibility", "hint Echec du carillon"}));
    for (int i = 1; i < 70; ++i)
        rig.tickAt(begin, i);
    QCOMPARE(rig.host.hints.count(ChimeHint::Failed), 70);
    QCOMPARE(rig.sequencer.EtatCarillon(), -1);

    rig.log.clear();
    rig.tickAt(begin, 70);
    QCOMPARE(rig.log, (QStringList{"hint Double click pour configurer, click droit pour quitter", "Close"}));
    QCOMPARE(rig.sequencer.EtatCarillon(), 0);
}

void TestChimeSequencer::dateRefresh_data()
{
    QTest::addColumn<QTime>("start");
    QTest::addColumn<int>("carillons");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("refreshes");

    QTest::newRow("hour, no chimes: every tick from 0 to 5") << QTime(11, 0) << 0 << false << 6;
    QTest::newRow("hour, melody starts: first tick only") << QTime(11, 0) << 1 << false << 1;
    QTest::newRow("hour, from second 4") << QTime(11, 0, 4) << 0 << false << 2;
    QTest::newRow("hour, from second 6") << QTime(11, 0, 6) << 0 << false << 0;
    QTest::newRow("hour, silent") << QTime(11, 0) << 0 << true << 0;
    QTest::newRow("half hour") << QTime(11, 30) << 0 << false << 0;
}

void TestChimeSequencer::dateRefresh()
{
    QFETCH(QTime, start);
    QFETCH(int, carillons);
    QFETCH(bool, silent);
    QFETCH(int, refreshes);

    Rig rig;
    rig.config->setCarillons(carillons);
    rig.quiet.silent = silent;
    for (int i = 0; i < 20; ++i)
        rig.tickAt(at(start), i);
    QCOMPARE(rig.host.dates.size(), refreshes);
    for (const QDate &date : rig.host.dates)
        QCOMPARE(date, day);
}

void TestChimeSequencer::completionNotices_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("state");
    QTest::newRow("successful") << int(ChimePlayer::NotifySuccessful) << 1;
    QTest::newRow("superseded") << int(ChimePlayer::NotifySuperseded) << 1;
    QTest::newRow("aborted") << int(ChimePlayer::NotifyAborted) << 1;
    QTest::newRow("failure") << int(ChimePlayer::NotifyFailure) << -1;
}

void TestChimeSequencer::completionNotices()
{
    QFETCH(int, code);
    QFETCH(int, state);

    Rig rig;
    QVERIFY(rig.player.hasHandler());
    rig.tickAt(at(QTime(10, 15)), 0);
    rig.log.clear();
    rig.player.notify(code);
    QCOMPARE(rig.sequencer.EtatCarillon(), state);
    // The notice itself shows nothing; the next tick does.
    QVERIFY(rig.log.isEmpty());
}

void TestChimeSequencer::userStopWithNothingPlaying()
{
    Rig rig;
    QVERIFY(!rig.sequencer.stopByUser());
    QVERIFY(rig.log.isEmpty());

    // A sound that has ended but is still open is not playing either.
    rig.player.chimeLength = 3;
    const QDateTime begin = at(QTime(10, 15));
    rig.tickAt(begin, 0);
    rig.time.current = begin.addSecs(4);
    rig.log.clear();
    QVERIFY(!rig.sequencer.stopByUser());
    QVERIFY(rig.log.isEmpty());
    QCOMPARE(rig.sequencer.EtatCarillon(), 1);
}

void TestChimeSequencer::shownTimeIsTruncated()
{
    Rig rig;
    rig.player.chimeLength = 2;
    // 999 ms past 10:14:59 is still 10:14:59: no chime yet.
    rig.time.current = at(QTime(10, 14, 59), 999);
    rig.sequencer.tick();
    rig.time.current = at(QTime(10, 15, 0), 999);
    rig.sequencer.tick();
    QCOMPARE(rig.host.shownTimes, (QStringList{"10:14:59", "10:15:00"}));
    QCOMPARE(rig.player.opened.size(), 1);
    QCOMPARE(DateTimeValue::formatLongTime(rig.sequencer.DebutCarillon()), QStringLiteral("10:15:00"));
}

void TestChimeSequencer::wholeDay_data()
{
    QTest::addColumn<int>("carillons");
    for (int c = 0; c <= 3; ++c)
        QTest::addRow("Carillons %d", c) << c;
}

void TestChimeSequencer::wholeDay()
{
    QFETCH(int, carillons);

    Rig rig;
    rig.config->setCarillons(carillons);
    rig.config->setEnumHeures(1);
    rig.player.chimeLength = 8;
    rig.player.melodyLength = 9;
    rig.player.strikeLength = 6;

    QStringList expected;
    for (int h = 0; h < 24; ++h) {
        if (carillons >= 1)
            expected << QStringLiteral("Carill1.mp3") << QStringLiteral("CarillH%1.mp3").arg(h % 12 == 0 ? 12 : h % 12);
        if (carillons == 3)
            expected << QStringLiteral("Carill2.mp3");
        if (carillons >= 2)
            expected << QStringLiteral("Carill3.mp3");
        if (carillons == 3)
            expected << QStringLiteral("Carill4.mp3");
    }

    const QDateTime begin = at(QTime(0, 0));
    for (int i = 0; i < 86400; ++i)
        rig.tickAt(begin, i);
    QCOMPARE(fileNames(rig.player.opened), expected);
    QVERIFY(!rig.host.hints.contains(ChimeHint::Failed));
    QCOMPARE(rig.sequencer.EtatCarillon(), 0);
    QCOMPARE(rig.host.shownTimes.last(), QStringLiteral("23:59:59"));
}

QTEST_APPLESS_MAIN(TestChimeSequencer)
#include "tst_chimesequencer.moc"
