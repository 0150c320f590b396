#pragma once

#include <functional>

// Runs `handler` from the event loop when the process receives SIGTERM,
// SIGINT or SIGHUP, so that it can shut down as if asked by its window.
void onTerminationSignal(std::function<void()> handler);
