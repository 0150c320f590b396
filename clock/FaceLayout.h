#pragma once

#include <QString>
#include <functional>
#include <optional>

// The arithmetic of the clock face: which of its two sizes the window
// snaps to after a size change, with the label metrics of each size, and
// the two-line split of the long date. All lengths in twips.
namespace FaceLayout {

struct Size
{
    double width = 0;
    double height = 0;
};

struct Metrics
{
    Size window;
    int taille = 0;            // 0 small, 1 large
    double horlogeHeight = 0;
    int horlogePoints = 0;
    bool hasDate = false;
    double dateTop = 0;
    double dateHeight = 0;
    int datePoints = 0;
};

// The window size at start-up for the two settings, or nothing when
// either holds a value outside its range.
std::optional<Size> startSize(int calendrier, int taille);

// The snap decided for a window of size `current` after the last layout
// left it at `previous`; nothing when the window keeps its size (or when
// `calendrier` is neither 0 nor 1). The small size is tested first.
std::optional<Metrics> snap(int calendrier, Size current, Size previous);

// Splits a long date over two lines: everything before its last space on
// the first line, or when that is too wide (as measured by `width`, in the
// same unit as `available`), everything before the space before it.
// A date whose split is undefined stays on one line.
QString couperDate(const QString &date, const std::function<double(const QString &)> &width,
                   double available);

} // namespace FaceLayout
