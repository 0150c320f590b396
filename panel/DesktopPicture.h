#pragma once

#include "basPublics.h"

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>
#include <optional>

class StartupLibrary;

// The desktop wallpaper in the start-position editor's picture of the
// screen, and in the dialog's own background.
namespace DesktopPicture {

// A registry value counts when it holds at least 4 characters.
bool isPresent(const QString &value);

// The first wallpaper value present of the four per-user places it may be
// read from; empty text when none is.
QString wallpaperPath(StartupLibrary &library);

// Where an image of pw × ph is drawn so that it covers a W × H area with
// the screen's proportions SW × SH kept, centred: the relatively wider image
// is drawn at the full height and cut equally left and right, any other at
// the full width and cut equally top and bottom.
QRectF coverRect(float W, float H, int pw, int ph, float SW, float SH);

// The image's natural size from its header; an error when the file is
// missing (53) or no image.
std::optional<QSize> imageSize(const QString &path, basPublics::RunError *error);

// The image decoded no larger than needed to fill `size` pixels when it is
// drawn over `drawn`, within Qt's allocation limit; an error otherwise.
std::optional<QImage> readImage(const QString &path, QSizeF drawn, basPublics::RunError *error);

} // namespace DesktopPicture
