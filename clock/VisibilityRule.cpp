#include "VisibilityRule.h"

#include "Configuration.h"

VisibilityRule::VisibilityRule(const Configuration &config, VisibilityWindow &window,
                               std::function<int()> etatCarillon, std::function<bool()> ecranVeilleActif,
                               Clock clock)
    : m_config(config)
    , m_window(window)
    , m_etatCarillon(std::move(etatCarillon))
    , m_ecranVeilleActif(std::move(ecranVeilleActif))
    , m_clock(std::move(clock))
{
}

void VisibilityRule::AppliquerVisibilite()
{
    const QDateTime now = m_clock();
    if (DerniereVerification.isValid()) {
        const qint64 elapsed = DerniereVerification.msecsTo(now);
        // A wall clock set back must not hold the rule off until it catches up.
        if (elapsed >= 0 && elapsed <= 5000)
            return;
    }
    DerniereVerification = now;

    if (m_window.EstPremierPlan())
        return;

    enum class Decision { Show, Hide, Nothing };
    Decision decision = Decision::Nothing;
    switch (m_config.Visibilité()) {
    case 0:
        decision = Decision::Hide;
        break;
    case 1: {
        const int etat = m_etatCarillon();
        decision = (etat == 1 || etat == 2 || etat == 3) ? Decision::Show : Decision::Hide;
        break;
    }
    case 2:
        decision = Decision::Show;
        break;
    case 3:
        decision = m_ecranVeilleActif() ? Decision::Hide : Decision::Show;
        break;
    default:
        break;
    }
    if (decision == Decision::Show)
        m_window.showOnTop();
    else if (decision == Decision::Hide)
        m_window.hideWindow();
}
