#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

// A stored colour: 0x00BBGGRR, or with the top bit set a reference to a
// system colour whose index is the low byte. References follow the desktop
// theme through the nearest palette role.
QColor colourFromValue(uint32_t value, const QPalette &palette);
