#pragma once

#include <QDateTime>
#include <functional>

class Configuration;

// What the visibility rule does to the clock window.
class VisibilityWindow
{
public:
    virtual ~VisibilityWindow() = default;
    // True when the desktop's foreground window is the clock window itself.
    virtual bool EstPremierPlan() = 0;
    // Visible, and above other windows without taking the focus.
    virtual void showOnTop() = 0;
    virtual void hideWindow() = 0;
};

// Shows or hides the clock by `Visibilité`, at most once in six seconds,
// and never while the user has the clock in the foreground.
class VisibilityRule
{
public:
    using Clock = std::function<QDateTime()>;
    VisibilityRule(const Configuration &config, VisibilityWindow &window, std::function<int()> etatCarillon,
                   std::function<bool()> ecranVeilleActif, Clock clock = &QDateTime::currentDateTime);

    void AppliquerVisibilite();

private:
    const Configuration &m_config;
    VisibilityWindow &m_window;
    std::function<int()> m_etatCarillon;
    std::function<bool()> m_ecranVeilleActif;
    Clock m_clock;
    QDateTime DerniereVerification;
};
