#pragma once

#include "Position.h"
#include "SettingsStore.h"
#include "StartupLibrary.h"

#include <QString>
#include <cstdint>
#include <memory>

// Why the settings object could not be created: the first stored text that
// does not convert, with where it was found, or the startup-registration
// library that could not be loaded, in message.
struct SettingsError
{
    QString section;
    QString key;
    QString text;
    QString message;
    QString description() const;
};

// Every setting of the clock, read once from the store when the object is
// created and held in memory; each assignment writes its one key at once.
// Setters return false when the store could not be written; the held value
// has changed all the same.
class Configuration
{
public:
    static constexpr uint32_t defaultForeColor = 0x80000012; // button text
    static constexpr uint32_t defaultBackColor = 0x8000000F; // button face

    // Reads every setting in its fixed order, then asks the startup library
    // (the program's global DemarrApp when none is given) for Démarrage.
    // Fails at the first text that does not convert, or when the library
    // cannot be loaded; nothing is written back in any case.
    static std::unique_ptr<Configuration> create(SettingsStore &store, SettingsError *error = nullptr,
                                                 StartupLibrary *library = nullptr);

    std::shared_ptr<::Position> Position() const { return m_Position; }
    void setPosition(std::shared_ptr<::Position> position) { m_Position = std::move(position); }
    bool SavePos();

    int Carillons() const { return m_Carillons; }
    bool setCarillons(int value);
    int Taille() const { return m_Taille; }
    bool setTaille(int value);
    int Visibilité() const { return m_Visibilité; }
    bool setVisibilité(int value);
    int EnumHeures() const { return m_EnumHeures; }
    bool setEnumHeures(int value);
    int Calendrier() const { return m_Calendrier; }
    bool setCalendrier(int value);
    int Veille() const { return m_Veille; }
    bool setVeille(int value);
    // 1 when the clock starts with the session. Assigning 1 or 0 adds or
    // removes the session-start entry (the library shows its messages), and
    // the value is then read back from the entry; nothing of the store is
    // written.
    int Démarrage() const { return m_Démarrage; }
    bool setDémarrage(int value);
    int Activer() const { return m_Activer; }
    bool setActiver(int value);
    int Plage() const { return m_Plage; }
    bool setPlage(int value);
    double DateDeb() const { return m_DateDeb; }
    bool setDateDeb(double value);
    double DateFin() const { return m_DateFin; }
    bool setDateFin(double value);
    uint32_t ForeColor() const { return m_ForeColor; }
    bool setForeColor(uint32_t value);
    uint32_t BackColor() const { return m_BackColor; }
    bool setBackColor(uint32_t value);
    int StartPos() const { return m_StartPos; }
    bool setStartPos(int value);

    SettingsStore &store() const { return m_store; }

private:
    explicit Configuration(SettingsStore &store);
    bool writeInteger(const char *section, const char *key, int32_t value);
    void deriveDémarrage();

    SettingsStore &m_store;
    StartupLibrary *m_library = nullptr;
    std::shared_ptr<::Position> m_Position;
    int m_Carillons = 0;
    int m_Visibilité = 0;
    int m_EnumHeures = 0;
    int m_Calendrier = 0;
    int m_Veille = 0;
    int m_Activer = 0;
    int m_Plage = 0;
    int m_Démarrage = 0;
    int m_Taille = 0;
    int m_StartPos = 0;
    double m_DateDeb = 0;
    double m_DateFin = 0;
    uint32_t m_ForeColor = 0;
    uint32_t m_BackColor = 0;
};
