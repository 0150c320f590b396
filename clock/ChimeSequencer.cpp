#include "ChimeSequencer.h"

#include "ChimePlayer.h"
#include "Configuration.h"
#include "DateTimeValue.h"
#include "QuietRules.h"

#include <QLoggingCategory>

#include <cstdlib>

namespace {

Q_LOGGING_CATEGORY(lcChimes, "tintarel.chimes", QtWarningMsg)

QTime wholeSeconds(const QTime &time)
{
    return QTime(time.hour(), time.minute(), time.second());
}

// A wake from sleep or a clock set by hand, rather than a correction of a
// drifting clock.
constexpr qint64 maxClockStepMs = 60 * 1000;

// A melody may run past the 20 s after which the hours no longer follow it;
// at three times that it is a wrong file or a sound whose end is never
// reported, and it is cut with ten seconds of the failure hint left, well
// before the next quarter.
constexpr int longestMelodySeconds = 60;

} // namespace

ChimeSequencer::ChimeSequencer(const Configuration &config, QuietRules &quietRules, ChimePlayer &player,
                               ChimeHost &host, const TimeSource &time, QString soundFolder)
    : m_config(config), m_quietRules(quietRules), m_player(player), m_host(host), m_time(time),
      m_soundFolder(std::move(soundFolder))
{
    m_player.setCompletionHandler([this](int code) { onCompletion(code); });
}

ChimeSequencer::~ChimeSequencer()
{
    m_player.setCompletionHandler({});
}

QString ChimeSequencer::hourStrikeFile(int hour)
{
    const int n = hour == 0 ? 12 : hour <= 12 ? hour : hour - 12;
    return QStringLiteral("CarillH%1.mp3").arg(n);
}

bool ChimeSequencer::isPlaying() const
{
    return m_player.mode() == ChimePlayer::ModePlaying;
}

void ChimeSequencer::closePlayer()
{
    send(QStringLiteral("Close"));
}

QDateTime ChimeSequencer::showTime()
{
    const QDateTime now = m_time.now();
    m_host.showTime(DateTimeValue::formatLongTime(DateTimeValue::fromTime(wholeSeconds(now.time()))));
    return now;
}

void ChimeSequencer::tick()
{
    const QDateTime now = showTime();
    const QTime time = wholeSeconds(now.time());
    const double t = DateTimeValue::fromTime(time);

    const bool silent = m_quietRules.Silencieux(t);
    if (isPlaying() && silent) {
        send(QStringLiteral("Stop"));
        send(QStringLiteral("Close"));
    }

    // A step of the wall clock against real time: a wake from sleep, or the
    // clock set. Beyond a minute the running sequence belongs to another
    // moment and ends without another sound.
    const qint64 offset = now.toMSecsSinceEpoch() - m_time.monotonicMs();
    const qint64 step = m_clockOffsetMs ? offset - *m_clockOffsetMs : 0;
    m_clockOffsetMs = offset;
    if (std::abs(step) > maxClockStepMs && m_EtatCarillon != 0)
        endAfterClockStep(step);

    const int m = time.minute();
    const int h = time.hour();
    const int s = time.second();
    const int e = elapsedSeconds();

    switch (m_EtatCarillon) {
    case 0: {
        if (s > 5)
            break;
        if (silent) {
            m_host.AppliquerVisibilite();
            break;
        }
        QString file;
        int stateWhenPlaying = 1;
        if (m == 0) {
            m_host.refreshDate(now.date());
            if (m_config.Carillons() >= 1) {
                file = QStringLiteral("Carill1.mp3");
                stateWhenPlaying = 2;
            }
        } else if (m == 15 && m_config.Carillons() == 3) {
            file = QStringLiteral("Carill2.mp3");
        } else if (m == 30 && m_config.Carillons() >= 2) {
            file = QStringLiteral("Carill3.mp3");
        } else if (m == 45 && m_config.Carillons() == 3) {
            file = QStringLiteral("Carill4.mp3");
        }
        // A quarter is named by its instant, not by the time shown: a clock
        // set back over a quarter that has chimed finds it again and leaves
        // it alone, while autumn's repeated hour is made of other instants
        // and chimes again, and spring's skipped hour never shows.
        const qint64 quarter = now.toSecsSinceEpoch() - (m % 15) * 60 - s;
        if (!file.isEmpty() && m_lastQuarter != quarter) {
            m_lastQuarter = quarter;
            startChime(file, stateWhenPlaying);
        }
        m_host.AppliquerVisibilite();
        break;
    }

    case 1:
        if (e >= 10 || !isPlaying()) {
            afficherAide(ChimeHint::Idle);
            send(QStringLiteral("Close"));
            setEtatCarillon(0);
            m_host.AppliquerVisibilite();
        }
        break;

    case 2: {
        if (silent) {
            endSequence();
            break;
        }
        const bool ended = !isPlaying();
        const bool striking = m_config.EnumHeures() == 1;
        if (striking && e <= 20 && ended) {
            startChime(hourStrikeFile(h), 3);
        } else if (striking && e > 20 && ended) {
            // The melody ran too long for the hours to follow it.
            setEtatCarillon(-1);
        } else if (!striking && (e > 20 || ended)) {
            endSequence();
        } else if (striking && e >= longestMelodySeconds) {
            // A melody that does not end, or whose end is never reported,
            // would hold the clock past the next quarters.
            qCInfo(lcChimes) << "melody still playing after" << e << "s";
            send(QStringLiteral("Stop"));
            send(QStringLiteral("Close"));
            setEtatCarillon(-1);
        }
        break;
    }

    case 3:
        if (e >= 40 || !isPlaying())
            endSequence();
        break;

    case 4:
        // No "Close": the user's stop has closed the player already.
        if (e >= 60) {
            setEtatCarillon(0);
            afficherAide(ChimeHint::Idle);
            m_host.AppliquerVisibilite();
        }
        break;

    case -1:
        if (e >= 70) {
            setEtatCarillon(0);
            afficherAide(ChimeHint::Idle);
            send(QStringLiteral("Close"));
        }
        break;

    default:
        break;
    }

    // Repeated on every tick, whoever set the failure.
    if (m_EtatCarillon == -1)
        afficherAide(ChimeHint::Failed);
}

bool ChimeSequencer::JouerCarillon(const QString &file)
{
    m_player.setDeviceType(QStringLiteral("MPEGVideo"));
    m_player.setFileName(m_soundFolder + QLatin1Char('/') + file);
    ChimePlayer::Result result = m_player.command(QStringLiteral("Close"));
    if (result == ChimePlayer::Result::Ok)
        result = m_player.command(QStringLiteral("Open"));
    if (result == ChimePlayer::Result::Ok) {
        m_player.setNotify(true);
        result = m_player.command(QStringLiteral("Play"));
    }
    if (result != ChimePlayer::Result::Ok) {
        qCInfo(lcChimes).noquote() << "play" << file << "failed:" << describe(result);
        return false;
    }
    if (isPlaying()) {
        qCInfo(lcChimes).noquote() << "play" << file << "ok";
        afficherAide(ChimeHint::Playing);
        return true;
    }
    qCInfo(lcChimes).noquote() << "play" << file << "not playing, mode" << m_player.mode();
    setEtatCarillon(-1);
    afficherAide(ChimeHint::Failed);
    return false;
}

bool ChimeSequencer::stopByUser()
{
    if (!isPlaying())
        return false;
    qCInfo(lcChimes) << "stopped by the user";
    send(QStringLiteral("Stop"));
    send(QStringLiteral("Close"));
    setEtatCarillon(4);
    afficherAide(ChimeHint::Cancelled);
    return true;
}

void ChimeSequencer::onCompletion(int code)
{
    qCInfo(lcChimes) << "notice" << code;
    if (code == ChimePlayer::NotifyFailure)
        setEtatCarillon(-1);
}

void ChimeSequencer::startChime(const QString &file, int stateWhenPlaying)
{
    const bool ok = JouerCarillon(file);
    setEtatCarillon(ok ? stateWhenPlaying : -1);
    const QDateTime now = m_time.now();
    m_DebutCarillon = DateTimeValue::fromTime(wholeSeconds(now.time()));
    m_startWallMs = now.toMSecsSinceEpoch();
    m_startMonotonicMs = m_time.monotonicMs();
}

int ChimeSequencer::elapsedSeconds() const
{
    // The wall clock's reading at the start carried on by real elapsed time:
    // without a clock step this is the difference of the two times shown, in
    // whole seconds; across a step or midnight it still counts what passed.
    const qint64 carriedOnMs = m_startWallMs + (m_time.monotonicMs() - m_startMonotonicMs);
    return int(carriedOnMs / 1000 - m_startWallMs / 1000);
}

void ChimeSequencer::endAfterClockStep(qint64 stepMs)
{
    qCInfo(lcChimes) << "wall clock stepped by" << stepMs / 1000 << "s";
    if (isPlaying())
        send(QStringLiteral("Stop"));
    endSequence();
}

void ChimeSequencer::endSequence()
{
    setEtatCarillon(0);
    afficherAide(ChimeHint::Idle);
    send(QStringLiteral("Close"));
    m_host.AppliquerVisibilite();
}

void ChimeSequencer::setEtatCarillon(int state)
{
    if (state != m_EtatCarillon)
        qCInfo(lcChimes) << "state" << state;
    m_EtatCarillon = state;
}

void ChimeSequencer::afficherAide(const QString &text)
{
    qCInfo(lcChimes).noquote() << "hint" << text;
    m_host.AfficherAide(text);
}

void ChimeSequencer::send(const QString &command)
{
    // Failures here change nothing: the next tick reads the mode again.
    const ChimePlayer::Result result = m_player.command(command);
    if (result != ChimePlayer::Result::Ok)
        qCInfo(lcChimes).noquote() << command.toLower() << "failed:" << describe(result);
}
