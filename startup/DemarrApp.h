#pragma once

#include "Ostrevol.h"
#include "basReg.h"

#include <optional>
#include <string>

// The five methods of the class DemarrApp over one registry and one message
// sink. The class keeps nothing between calls: the library makes one of
// these for each call it receives.
class DemarrApp
{
public:
    DemarrApp(reg::Registry &registry, MessageSink &messages) : m_reg(registry, messages) {}

    // Nothing when the application object lacks Title, Path or EXEName;
    // then nothing is written.
    std::optional<bool> RegDemarrAjouter(const ostrevol::IApplicationObject &Application, bool MessageErreur = true);
    std::optional<bool> RegDemarrSupprimer(const ostrevol::IApplicationObject &Application, bool MessageErreur = true);
    std::string CléLectureValeur(ostrevol::HKey HKey, const std::string &Chemin, const std::string &Clé,
                                 bool MessageErreur = true);
    bool RegDemarrAjoutApp(const std::string &AppTitre, const std::string &AppChemin, const std::string &AppNomExe,
                           bool MessageErreur = true);
    bool RegDemarrSupprimApp(const std::string &AppTitre, bool MessageErreur = true);

private:
    basReg m_reg;
};
