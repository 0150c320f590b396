#pragma once

#include <QString>

namespace reg {

// The wallpaper of the desktop in use, as a local file path, or empty text
// when it cannot be found. Reads settings files and databases only: nothing
// is started to answer.
QString currentWallpaperPath();

} // namespace reg
