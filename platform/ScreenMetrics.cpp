#include "ScreenMetrics.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <limits>

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

QRect virtualDesktop()
{
    QScreen *s = screen();
    return s ? s->virtualGeometry() : QRect();
}

// Pixels between a point and the nearest point of a rectangle.
double distance(QPoint p, const QRect &r)
{
    const int dx = std::max({r.left() - p.x(), 0, p.x() - r.right()});
    const int dy = std::max({r.top() - p.y(), 0, p.y() - r.bottom()});
    return std::hypot(double(dx), double(dy));
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
    const QRect desktop = virtualDesktop();
    return desktop.isValid() ? desktop.right() + 1 : 0;
}

int screenHeightPixels()
{
    const QRect desktop = virtualDesktop();
    return desktop.isValid() ? desktop.bottom() + 1 : 0;
}

QList<QRect> monitors()
{
    QList<QRect> result;
    if (qGuiApp)
        for (QScreen *s : QGuiApplication::screens())
            result.append(s->geometry());
    return result;
}

QPoint placeOnMonitors(const QRect &window, const QList<QRect> &monitors)
{
    const QRect *nearest = nullptr;
    double best = std::numeric_limits<double>::max();
    for (const QRect &monitor : monitors) {
        if (monitor.intersects(window))
            return window.topLeft();
        const double d = distance(window.center(), monitor);
        if (d < best) {
            best = d;
            nearest = &monitor;
        }
    }
    if (!nearest)
        return window.topLeft();
    const int x = std::clamp(window.x(), nearest->left(), std::max(nearest->left(), nearest->right() + 1 - window.width()));
    const int y = std::clamp(window.y(), nearest->top(), std::max(nearest->top(), nearest->bottom() + 1 - window.height()));
    return QPoint(x, y);
}

} // namespace ScreenMetrics
