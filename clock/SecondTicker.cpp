#include "SecondTicker.h"

namespace {

// Past the boundary by a little, so that a timer a millisecond early still
// reads the new second.
constexpr int marginMs = 3;

} // namespace

SecondTicker::SecondTicker(std::function<void()> onTick, Clock clock)
    : m_onTick(std::move(onTick)), m_clock(std::move(clock))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        arm();
        m_onTick();
    });
}

int SecondTicker::delayToNextSecond(const QDateTime &now)
{
    return 1000 - now.time().msec() + marginMs;
}

void SecondTicker::start()
{
    arm();
}

void SecondTicker::stop()
{
    m_timer.stop();
}

void SecondTicker::arm()
{
    m_timer.start(delayToNextSecond(m_clock()));
}
