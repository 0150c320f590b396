#include "DialogChoices.h"

#include "Configuration.h"
#include "PositionMapping.h"

#include <cmath>
#include <limits>
#include <memory>

namespace DialogRules {

bool needsNeverAudibleGuard(int carillons, int visibility)
{
    return carillons == 0 && visibility == 0;
}

QString neverAudibleNeverVisibleText()
{
    return QStringLiteral("Les réglages que vous avez choisis font que l'horloge ")
        + QStringLiteral("ne sera jamais audible ni jamais visible") + QStringLiteral("\n\n")
        + QStringLiteral("Vous pouvez si vous le voulez désinstaller l'horloge à carillon ")
        + QStringLiteral("en sélectionnant ce nom dans \"Ajout/Suppression de programmes\" ")
        + QStringLiteral("du panneau de configuration.") + QStringLiteral("\n\n")
        + QStringLiteral("Etes-vous sûr de vouloir conserver ces réglages ? ");
}

namespace {

std::optional<int32_t> toTwips(double pixels, double twipsPerPixel)
{
    const double twips = std::nearbyint(pixels * twipsPerPixel);
    if (twips < std::numeric_limits<int32_t>::min() || twips > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return int32_t(twips);
}

int pixelLimit(double twipsPerPixel)
{
    return int(std::floor(std::numeric_limits<int32_t>::max() / twipsPerPixel));
}

} // namespace

std::optional<Position> positionInTwips(const QString &horizontal, const QString &vertical, double twipsPerPixelX,
                                        double twipsPerPixelY, QString *message)
{
    const auto x = PositionMapping::readNumber(horizontal);
    const auto y = PositionMapping::readNumber(vertical);
    if (!x || !y) {
        if (message)
            *message = QStringLiteral("Valeur de position non valide.");
        return std::nullopt;
    }
    const auto left = toTwips(*x, twipsPerPixelX);
    const auto top = toTwips(*y, twipsPerPixelY);
    if (!left || !top) {
        if (message)
            *message = QStringLiteral("L'emplacement %1, %2 est trop loin de l'origine de l'écran : l'horloge ne "
                                      "peut enregistrer qu'un emplacement de -%3 à %3 pixels à l'horizontale et de "
                                      "-%4 à %4 pixels à la verticale.")
                           .arg(horizontal.trimmed(), vertical.trimmed())
                           .arg(pixelLimit(twipsPerPixelX))
                           .arg(pixelLimit(twipsPerPixelY));
        return std::nullopt;
    }
    Position position;
    position.Left = *left;
    position.Top = *top;
    return position;
}

bool storeChoices(Configuration &config, const DialogChoices &choices, const std::optional<Position> &position,
                  QString *failed)
{
    const auto step = [failed](bool written, const char *name) {
        if (!written && failed)
            *failed = QString::fromUtf8(name);
        return written;
    };
    const bool stored = step(config.setCarillons(choices.Carillons), "Carillons")
        && step(config.setVisibilité(choices.Visibilité), "Visibilité")
        && step(config.setDémarrage(choices.Démarrage), "Démarrage")
        && step(config.setEnumHeures(choices.EnumHeures), "EnumHeures")
        && step(config.setVeille(choices.Veille), "Veille")
        && step(config.setCalendrier(choices.Calendrier), "Calendrier")
        && step(config.setPlage(choices.Plage), "Plage")
        && step(config.setDateDeb(choices.DateDeb), "DateDeb")
        && step(config.setDateFin(choices.DateFin), "DateFin")
        && step(config.setActiver(choices.Activer), "Activer")
        && step(config.setForeColor(choices.ForeColor), "ForeColor")
        && step(config.setBackColor(choices.BackColor), "BackColor")
        && step(config.setStartPos(choices.StartPos), "StartPos");
    if (!stored)
        return false;
    if (choices.StartPos == 1 || choices.StartPos == 2) {
        if (!position) {
            if (failed)
                *failed = QStringLiteral("Position");
            return false;
        }
        config.setPosition(std::make_shared<::Position>(*position));
        return step(config.SavePos(), "Position");
    }
    return true;
}

} // namespace DialogRules
