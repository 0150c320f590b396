#pragma once

#include "Ostrevol.h"

// The library's description of its types: names, ids, dispatch ids and
// help strings.
extern const ostrevol::OstrevolTypeLibrary ostrevolTypeLibrary;
