#pragma once

#include <QString>

class Configuration;

// Program-wide declarations of the clock.
namespace basPublics {

// The application title: the clock's name, carried by its hidden
// application window, which takes the close requests of other programs.
inline const QString applicationTitle = QStringLiteral("Tintarel");
// The title a second instance takes for itself before it ends.
inline const QString stoppingTitle = QStringLiteral("Horloge arrêt");

inline const QString idleHint = QStringLiteral("Double click pour configurer, click droit pour quitter");
inline const QString playingHint = QStringLiteral("Double-cliquez pour interrompre le carillon");
inline const QString cancelledHint = QStringLiteral("Annulation du carillon");
inline const QString failureHint = QStringLiteral("Echec du carillon");

// The settings object, held for the program's whole life.
Configuration &Config();
void setConfig(Configuration *config);

} // namespace basPublics
