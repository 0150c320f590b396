#include "ChimeSequencer.h"

#include "ChimePlayer.h"
#include "Configuration.h"
#include "DateTimeValue.h"
#include "QuietRules.h"

#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(lcChimes, "tintarel.chimes", QtWarningMsg)

QTime wholeSeconds(const QTime &time)
{
    return QTime(time.hour(), time.minute(), time.second());
}

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

void ChimeSequencer::tick()
{
    const QDateTime now = m_time.now();
    const QTime time = wholeSeconds(now.time());
    const double t = DateTimeValue::fromTime(time);
    m_host.showTime(DateTimeValue::formatLongTime(t));

    const bool silent = m_quietRules.Silencieux(t);
    if (isPlaying() && silent) {
        send(QStringLiteral("Stop"));
        send(QStringLiteral("Close"));
    }

    const int m = time.minute();
    const int h = time.hour();
    const int s = time.second();
    // Negative when midnight lies between the start and now, as a
    // difference of two times of day is.
    const int e = DateTimeValue::secondsOfDay(t) - DateTimeValue::secondsOfDay(m_DebutCarillon);

    switch (m_EtatCarillon) {
    case 0:
        if (s > 5)
            break;
        if (silent) {
            m_host.AppliquerVisibilite();
            break;
        }
        if (m == 0) {
            m_host.refreshDate(now.date());
            if (m_config.Carillons() >= 1)
                startChime(QStringLiteral("Carill1.mp3"), 2);
        } else if (m == 15) {
            if (m_config.Carillons() == 3)
                startChime(QStringLiteral("Carill2.mp3"), 1);
        } else if (m == 30) {
            if (m_config.Carillons() >= 2)
                startChime(QStringLiteral("Carill3.mp3"), 1);
        } else if (m == 45) {
            if (m_config.Carillons() == 3)
                startChime(QStringLiteral("Carill4.mp3"), 1);
        }
        m_host.AppliquerVisibilite();
        break;

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
    m_DebutCarillon = currentTimeOfDay();
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

double ChimeSequencer::currentTimeOfDay() const
{
    return DateTimeValue::fromTime(wholeSeconds(m_time.now().time()));
}
