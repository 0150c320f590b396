#pragma once

#include <cstdint>

// The clock window's top-left corner, in twips. Shared by reference between
// the settings object and its users; only Configuration::SavePos stores it.
class Position
{
public:
    int32_t Top = 0;
    int32_t Left = 0;
};
