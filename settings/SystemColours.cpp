#include "SystemColours.h"

namespace {

QColor systemColour(int index, const QPalette &p)
{
    switch (index) {
    case 1: return p.color(QPalette::Dark);                   // desktop
    case 2: case 27: return p.color(QPalette::Highlight);     // active caption
    case 3: case 28: return p.color(QPalette::Mid);           // inactive caption
    case 4: case 30: return p.color(QPalette::Window);         // menu, menu bar
    case 5: return p.color(QPalette::Base);                   // window
    case 6: return p.color(QPalette::Shadow);                 // window frame
    case 7: return p.color(QPalette::WindowText);             // menu text
    case 8: return p.color(QPalette::Text);                   // window text
    case 9: return p.color(QPalette::HighlightedText);        // caption text
    case 10: case 11: return p.color(QPalette::Button);       // borders
    case 12: return p.color(QPalette::Mid);                   // app workspace
    case 13: case 29: return p.color(QPalette::Highlight);
    case 14: return p.color(QPalette::HighlightedText);
    case 15: return p.color(QPalette::Button);                // button face
    case 16: return p.color(QPalette::Dark);                  // button shadow
    case 17: return p.color(QPalette::Disabled, QPalette::Text); // grey text
    case 18: return p.color(QPalette::ButtonText);            // button text
    case 19: return p.color(QPalette::Disabled, QPalette::WindowText);
    case 20: return p.color(QPalette::Light);                 // button highlight
    case 21: return p.color(QPalette::Shadow);
    case 22: return p.color(QPalette::Midlight);
    case 23: return p.color(QPalette::ToolTipText);
    case 24: return p.color(QPalette::ToolTipBase);
    case 26: return p.color(QPalette::Link);                  // hot light
    default: return p.color(QPalette::Window);                // scroll bar and unknown
    }
}

} // namespace

QColor colourFromValue(uint32_t value, const QPalette &palette)
{
    if (value & 0x80000000u)
        return systemColour(int(value & 0xFFu), palette);
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}
