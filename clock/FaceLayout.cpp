#include "FaceLayout.h"

namespace FaceLayout {

namespace {

Metrics metricsFor(int calendrier, int taille)
{
    Metrics m;
    m.taille = taille;
    m.horlogeHeight = 375;
    m.horlogePoints = taille == 0 ? 14 : 20;
    if (calendrier == 0) {
        m.window = taille == 0 ? Size{1320, 425} : Size{1800, 555};
    } else {
        m.window = taille == 0 ? Size{1530, 895} : Size{1885, 1100};
        m.hasDate = true;
        m.dateTop = taille == 0 ? 300 : 420;
        m.dateHeight = taille == 0 ? 450 : 570;
        m.datePoints = taille == 0 ? 8 : 10;
    }
    return m;
}

} // namespace

std::optional<Size> startSize(int calendrier, int taille)
{
    if ((calendrier != 0 && calendrier != 1) || (taille != 0 && taille != 1))
        return std::nullopt;
    return metricsFor(calendrier, taille).window;
}

std::optional<Metrics> snap(int calendrier, Size current, Size previous)
{
    double widthThreshold = 0;
    double heightThreshold = 0;
    if (calendrier == 0) {
        widthThreshold = 1560;
        heightThreshold = 490;
    } else if (calendrier == 1) {
        widthThreshold = 1707.5;
        heightThreshold = 997.5;
    } else {
        return std::nullopt;
    }
    const double w = current.width;
    const double h = current.height;
    const bool widthChanged = w != previous.width;
    const bool heightChanged = h != previous.height;
    if ((w <= widthThreshold && widthChanged) || (h <= heightThreshold && heightChanged))
        return metricsFor(calendrier, 0);
    if ((w > widthThreshold && widthChanged) || (h > heightThreshold && heightChanged))
        return metricsFor(calendrier, 1);
    return std::nullopt;
}

QString couperDate(const QString &date, const std::function<double(const QString &)> &width,
                   double available)
{
    qsizetype space = date.lastIndexOf(QLatin1Char(' '));
    if (space < 0)
        return date;
    if (width(date.left(space)) >= available) {
        space = space > 0 ? date.lastIndexOf(QLatin1Char(' '), space - 1) : -1;
        if (space < 0)
            return date;
    }
    return date.left(space) + QLatin1Char('\n') + date.mid(space + 1);
}

} // namespace FaceLayout
