#pragma once

#include <QCursor>
#include <QIcon>
#include <QString>

// The dialog's image list: 20 × 20 images keyed "Play", "Stop" and
// "Point", drawn from vector shapes so that they stay sharp at any scale.
namespace imlConfig {

constexpr int imageSize = 20;

// A null icon for an unknown key.
QIcon image(const QString &key);
// The image keyed "Point" as a mouse pointer, its hot spot in the centre.
QCursor pointer(qreal devicePixelRatio);

} // namespace imlConfig
