#pragma once

// The screen's twips-per-pixel factors (1440 twips to the inch; 15 at the
// usual 96 logical dots per inch) and its size. Pixels here are Qt's
// device-independent pixels, so a scaled screen keeps physical sizes.
namespace ScreenMetrics {

double twipsPerPixelX();
double twipsPerPixelY();
// Whole pixels for a length in twips.
int toPixelsX(double twips);
int toPixelsY(double twips);
int screenWidthPixels();
int screenHeightPixels();

} // namespace ScreenMetrics
