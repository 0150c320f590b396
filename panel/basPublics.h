#pragma once

#include <QString>
#include <memory>

class Configuration;

// Program-wide declarations of the configuration program.
namespace basPublics {

// The program's title: the caption of its own message boxes.
inline const QString applicationTitle = QStringLiteral("TintarelPanel");
// The caption of the program's questions.
inline const QString questionTitle = QStringLiteral("Configuration de l'horloge");
inline const QString errorPrefix = QStringLiteral("Survenue d'une erreur : ");
// The clock program, beside this one.
inline const QString clockExeName = QStringLiteral("Tintarel");

// A run-time error: its number and the system's description.
struct RunError
{
    int number = 0;
    QString description;
};

constexpr int errFileNotFound = 53;
constexpr int errInvalidPropertyValue = 380;
constexpr int errNoSuchControl = 340;
constexpr int errInvalidPicture = 481;
constexpr int errCannotCreateObject = 429;

// The settings object, held from the dialog's load until the program ends;
// null before, and when it could not be created.
Configuration *Config();
void setConfig(std::unique_ptr<Configuration> config);

} // namespace basPublics
