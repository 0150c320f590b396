#include "QuietRules.h"

#include "Configuration.h"
#include "DateTimeValue.h"
#include "ScreenSaver.h"

SettingsQuietRules::SettingsQuietRules(const Configuration &config, ScreenSaver &screenSaver)
    : m_config(config), m_screenSaver(screenSaver)
{
}

bool SettingsQuietRules::EcranVeilleActif()
{
    return m_screenSaver.isActive();
}

bool SettingsQuietRules::Silencieux(double heure)
{
    if (m_config.Activer() == 0)
        return true;
    if (m_config.Veille() == 0 && EcranVeilleActif())
        return true;
    if (m_config.Plage() != 1)
        return false;

    // Compared in whole seconds: the stored times and the tick's time carry
    // no fractions, and seconds keep rounding noise out of the range ends.
    const int now = DateTimeValue::secondsOfDay(heure);
    const int debut = DateTimeValue::secondsOfDay(m_config.DateDeb());
    const int fin = DateTimeValue::secondsOfDay(m_config.DateFin());
    if (fin > debut)
        return !(debut < now && now < fin);
    return !(now >= debut || now <= fin);
}
