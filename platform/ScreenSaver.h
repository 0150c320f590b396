#pragma once

#include <memory>

// Whether the desktop's screen saver is running at this moment.
class ScreenSaver
{
public:
    virtual ~ScreenSaver() = default;
    // Must answer at once: the clock asks on every tick.
    virtual bool isActive() = 0;
};

// The screen saver of this platform.
std::unique_ptr<ScreenSaver> makeScreenSaver();
