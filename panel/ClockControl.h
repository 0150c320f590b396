#pragma once

#include <QString>
#include <memory>

// The running clock as the configuration program sees it: found by its
// executable name, taken down, and started again.
class ClockControl
{
public:
    virtual ~ClockControl() = default;

    // True when a process of the clock's executable name runs.
    virtual bool find() = 0;
    // Closes every such process, by close requests and then by force;
    // returns once none is left or the last attempt is over.
    virtual void close() = 0;
    // The clock will be started again when this program ends, whichever
    // way it ends, even without a window to end from; start() settles it.
    virtual void promiseRestart() = 0;
    // Starts the clock from this program's folder without an argument and
    // without waiting for it. False, with the reason, when it cannot start.
    virtual bool start(QString *error) = 0;
};

// The clock control of this platform. Made before the application object:
// keeping the promise of a restart takes a helper process, forked while the
// program has no thread but its own.
std::unique_ptr<ClockControl> makeClockControl();
