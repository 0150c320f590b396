#include "PositionMapping.h"

#include <QLocale>

#include <cmath>

namespace PositionMapping {

std::optional<double> readNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    // A group separator would make "1,5" fifteen; the comma is the French decimal sign.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    double value = c.toDouble(trimmed, &ok);
    if (!ok)
        value = QLocale(QLocale::French).toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString validatedText(double v, int upper)
{
    if (v > upper)
        return QString::number(upper);
    if (v < 0)
        return QStringLiteral("0");
    return QString::number(std::floor(v), 'f', 0);
}

float pixelsToPicture(float pixels, float twipsPerPixel, float screenTwips, float pictureSize)
{
    const float ratio = pixels * twipsPerPixel / screenTwips;
    return pictureSize * ratio;
}

int pictureToPixels(float picture, float pictureSize, float screenTwips, float twipsPerPixel)
{
    const float ratio = picture / pictureSize;
    const float pixels = screenTwips * ratio / twipsPerPixel;
    return int(std::floor(pixels));
}

float twipsToPicture(float twips, float screenTwips, float pictureSize)
{
    const float ratio = twips / screenTwips;
    return pictureSize * ratio;
}

QString pixelsText(double twips, double twipsPerPixel)
{
    return QString::number(twips / twipsPerPixel, 'g', 7);
}

} // namespace PositionMapping
