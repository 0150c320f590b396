#pragma once

#include "Position.h"

#include <QString>
#include <cstdint>
#include <optional>

class Configuration;

// What "OK" stores: the state of the dialog's controls when it is pressed.
struct DialogChoices
{
    int Carillons = 0;
    int Visibilité = 0;
    int Démarrage = 0;
    int EnumHeures = 0;
    int Veille = 0;
    int Calendrier = 0;
    int Plage = 0;
    double DateDeb = 0;
    double DateFin = 0;
    int Activer = 0;
    uint32_t ForeColor = 0;
    uint32_t BackColor = 0;
    int StartPos = 0;
    // The position fields' texts, in screen pixels.
    QString horizontal;
    QString vertical;
};

namespace DialogRules {

// Chimes "Aucun" with visibility "Jamais": the clock would never be heard
// nor seen, which the user must confirm.
bool needsNeverAudibleGuard(int carillons, int visibility);
QString neverAudibleNeverVisibleText();

// The position fields in twips, each pixels × twips-per-pixel rounded half
// to even. Nothing, with a message for the user, when a field is no number
// or a value does not fit the 32 bits the store keeps.
std::optional<Position> positionInTwips(const QString &horizontal, const QString &vertical, double twipsPerPixelX,
                                        double twipsPerPixelY, QString *message);

// Stores the choices one assignment at a time in their fixed order, and the
// position (for modes 1 and 2) last. Stops at the first write that fails and
// names that setting in *failed.
bool storeChoices(Configuration &config, const DialogChoices &choices, const std::optional<Position> &position,
                  QString *failed);

} // namespace DialogRules
