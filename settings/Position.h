#pragma once

#include <cstdint>

// The clock window's top-left corner, in twips. Shared by reference between
// the settings object and its users; only Configuration::SavePos stores it.
class Position
{
public:
    int16_t Top = 0;
    int16_t Left = 0;
};
