#pragma once

#include <memory>

// Whether the desktop's screen saver is running at this moment.
class ScreenSaver
{
public:
    virtual ~ScreenSaver() = default;
    // The state at the moment of the call. The clock asks on every tick, so
    // this never blocks for longer than a few milliseconds.
    virtual bool isActive() = 0;
};

// The screen saver of this platform. A service that takes longer than
// answerWaitMs to answer is heard at the next question instead.
std::unique_ptr<ScreenSaver> makeScreenSaver(int answerWaitMs = 5);
