#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

// The screen's twips-per-pixel factors (1440 twips to the inch; 15 at the
// usual 96 logical dots per inch) and the desktop's size. Pixels here are
// Qt's device-independent pixels, so a scaled screen keeps physical sizes.
namespace ScreenMetrics {

double twipsPerPixelX();
double twipsPerPixelY();
// Whole pixels for a length in twips.
int toPixelsX(double twips);
int toPixelsY(double twips);
// The whole virtual desktop, every monitor included; its origin is the
// origin of the coordinates a window's place is given in.
int screenWidthPixels();
int screenHeightPixels();
// Each monitor's area on the virtual desktop.
QList<QRect> monitors();

// Where a window goes so that it can be seen: unchanged when it overlaps a
// monitor, else moved the least onto the monitor nearest to it (a monitor
// that was removed must not leave the window out of reach).
QPoint placeOnMonitors(const QRect &window, const QList<QRect> &monitors);

} // namespace ScreenMetrics
