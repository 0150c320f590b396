#pragma once

#include <QString>

// Program-wide declarations of the clock.
namespace basPublics {

// The application title: the clock's name, carried by its hidden
// application window, which takes the close requests of other programs.
inline const QString applicationTitle = QStringLiteral("Tintarel");
// The title a second instance takes for itself before it ends.
inline const QString stoppingTitle = QStringLiteral("Horloge arrêt");

} // namespace basPublics
