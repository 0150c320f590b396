#pragma once

#include <QDateTime>
#include <QTimer>
#include <functional>

// Calls back once a second, just after each second boundary of the wall
// clock, so that the seconds shown and the chime starts land on the second.
// The timer is re-armed from the wall clock at every tick: a coarse 1000 ms
// timer drifts, and a clock step (suspend, NTP, a manual change) is caught up
// at the next tick.
class SecondTicker
{
public:
    using Clock = std::function<QDateTime()>;

    explicit SecondTicker(std::function<void()> onTick, Clock clock = &QDateTime::currentDateTime);

    // The first tick comes at the next second boundary.
    void start();
    void stop();
    bool isActive() const { return m_timer.isActive(); }
    // The delay the timer was last armed with, in milliseconds.
    int interval() const { return m_timer.interval(); }

    // From now to a few milliseconds after the next whole second.
    static int delayToNextSecond(const QDateTime &now);

private:
    void arm();

    std::function<void()> m_onTick;
    Clock m_clock;
    QTimer m_timer;
};
