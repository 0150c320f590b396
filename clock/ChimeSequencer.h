#pragma once

#include "ProgramFolder.h"

#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <optional>

class ChimePlayer;
class Configuration;
class QuietRules;

// The hints the chime sequence shows on the clock face.
namespace ChimeHint {
inline const QString Idle = QStringLiteral("Double click pour configurer, click droit pour quitter");
inline const QString Playing = QStringLiteral("Double-cliquez pour interrompre le carillon");
inline const QString Cancelled = QStringLiteral("Annulation du carillon");
inline const QString Failed = QStringLiteral("Echec du carillon");
} // namespace ChimeHint

// What the clock window does for the chime sequence.
class ChimeHost
{
public:
    virtual ~ChimeHost() = default;
    // Sets the face's hint and enables "Interrompre le carillon" only for ChimeHint::Playing.
    virtual void AfficherAide(const QString &text) = 0;
    virtual void AppliquerVisibilite() = 0;
    // Shows the time of day ("HH:mm:ss") in lblHorloge.
    virtual void showTime(const QString &text) = 0;
    // Puts the day's long date in lblDate, then runs CouperDate.
    virtual void refreshDate(const QDate &today) = 0;
};

// Where the clock reads the time: the wall clock it shows, and a clock that
// counts real elapsed time, which no setting of the wall clock moves.
class TimeSource
{
public:
    virtual ~TimeSource() = default;
    virtual QDateTime now() const = 0;
    virtual qint64 monotonicMs() const = 0;
};

// The monotonic clock stands still while the machine sleeps, so a wake shows
// as a step of the wall clock against it.
class SystemTimeSource final : public TimeSource
{
public:
    SystemTimeSource() { m_monotonic.start(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 monotonicMs() const override { return m_monotonic.elapsed(); }

private:
    QElapsedTimer m_monotonic;
};

// The once-a-second chime schedule: starts the quarter chimes, the melody of
// the full hour and the striking of the hours in seconds 0 to 5 of minutes
// 0, 15, 30 and 45, and winds each sequence down by the player's mode and
// fixed waits. EtatCarillon: 0 idle, 1 quarter chime, 2 hour melody,
// 3 hour strike, 4 stopped by the user, -1 failure.
class ChimeSequencer
{
public:
    // The sound files are looked up in soundFolder only. The sequencer takes
    // the player's completion notices for as long as it lives.
    ChimeSequencer(const Configuration &config, QuietRules &quietRules, ChimePlayer &player, ChimeHost &host,
                   const TimeSource &time, QString soundFolder = programFolder());
    ~ChimeSequencer();
    ChimeSequencer(const ChimeSequencer &) = delete;
    ChimeSequencer &operator=(const ChimeSequencer &) = delete;

    // One tick of the clock: show the time, ask the quiet rules, advance the sequence.
    void tick();
    // Shows the time of day as the tick does, in whole seconds, and returns
    // the moment read.
    QDateTime showTime();

    // Starts one file from the sound folder; true when it is playing.
    bool JouerCarillon(const QString &file);

    // The double-click and "Interrompre le carillon": stops and closes a
    // sound that is playing, then keeps the sequence away from idle for the
    // rest of its quarter. False, and nothing done, when nothing plays.
    bool stopByUser();

    // Shut-down: releases whatever the player holds.
    void closePlayer();

    bool isPlaying() const;
    int EtatCarillon() const { return m_EtatCarillon; }
    // Time of day (date part zero, whole seconds) of the latest start attempt.
    double DebutCarillon() const { return m_DebutCarillon; }

    static QString hourStrikeFile(int hour);

private:
    void onCompletion(int code);
    void setEtatCarillon(int state);
    void afficherAide(const QString &text);
    void send(const QString &command);
    void startChime(const QString &file, int stateWhenPlaying);
    void endSequence();
    void endAfterClockStep(qint64 stepMs);
    int elapsedSeconds() const;

    const Configuration &m_config;
    QuietRules &m_quietRules;
    ChimePlayer &m_player;
    ChimeHost &m_host;
    const TimeSource &m_time;
    QString m_soundFolder;

    int m_EtatCarillon = 0;
    double m_DebutCarillon = 0;
    // The latest start attempt on both clocks, in milliseconds.
    qint64 m_startWallMs = 0;
    qint64 m_startMonotonicMs = 0;
    // The wall clock less the monotonic clock at the previous tick.
    std::optional<qint64> m_clockOffsetMs;
    // The start of the latest quarter whose sound was started, in seconds
    // since the epoch.
    std::optional<qint64> m_lastQuarter;
};
