#pragma once

#include <QString>
#include <optional>

// The start-position editor's arithmetic between screen pixels, stored
// twips and the reduced picture of the screen. The picture maps top-left
// corners proportionally on each axis; everything is computed in single
// precision, each ratio rounded to single before it is multiplied.
namespace PositionMapping {

// A position field's text as a number: a decimal with a point or a comma,
// optionally signed. Nothing for empty text or text that is no number.
std::optional<double> readNumber(const QString &text);

// Whole part (rounded down) of v, then clamped to 0..upper by v itself.
QString validatedText(double v, int upper);

// pixels → picture: picture × (pixels × twipsPerPixel / screenTwips).
float pixelsToPicture(float pixels, float twipsPerPixel, float screenTwips, float pictureSize);
// picture → pixels: whole part of screenTwips × (picture / pictureSize) / twipsPerPixel.
int pictureToPixels(float picture, float pictureSize, float screenTwips, float twipsPerPixel);
// stored twips → picture: picture × (twips / screenTwips).
float twipsToPicture(float twips, float screenTwips, float pictureSize);

// A stored twips value shown in pixels, with its fraction.
QString pixelsText(double twips, double twipsPerPixel);

} // namespace PositionMapping
