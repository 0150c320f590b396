#include "ScreenMetrics.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace ScreenMetrics {

namespace {

QScreen *screen()
{
    return qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
}

double factor(double dpi)
{
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}

} // namespace

double twipsPerPixelX()
{
    QScreen *s = screen();
    return factor(s ? s->logicalDotsPerInchX() : 96.0);
}

double twipsPerPixelY()
{
    QScreen *s = screen();
    return factor(s ? s->logicalDotsPerInchY() : 96.0);
}

int toPixelsX(double twips)
{
    return int(std::lround(twips / twipsPerPixelX()));
}

int toPixelsY(double twips)
{
    return int(std::lround(twips / twipsPerPixelY()));
}

int screenWidthPixels()
{
    QScreen *s = screen();
    return s ? s->geometry().width() : 0;
}

int screenHeightPixels()
{
    QScreen *s = screen();
    return s ? s->geometry().height() : 0;
}

} // namespace ScreenMetrics
