#pragma once

#include <QString>

// The clock runs once per user and X display. These give the display a
// canonical name (":0", "host:1") so that ":0", ":0.0" and "unix:0" match.
QString normalisedDisplay(const QString &display);
QString currentDisplay();

// A folder private to the user for sockets and locks ($XDG_RUNTIME_DIR, or
// a per-user folder under the temporary directory).
QString runtimeFolder();
