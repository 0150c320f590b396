#pragma once

class Configuration;
class ScreenSaver;

// What the tick asks before it starts or continues a chime.
class QuietRules
{
public:
    virtual ~QuietRules() = default;
    // True when the clock must be silent at this time of day (date part zero).
    virtual bool Silencieux(double heure) = 0;
};

// The quiet rules from the user's settings: the master switch, the screen
// saver, then the daily range, the first that decides ending the test.
class SettingsQuietRules final : public QuietRules
{
public:
    SettingsQuietRules(const Configuration &config, ScreenSaver &screenSaver);

    bool Silencieux(double heure) override;
    bool EcranVeilleActif();

private:
    const Configuration &m_config;
    ScreenSaver &m_screenSaver;
};
