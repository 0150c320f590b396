#include "DemarrApp.h"

namespace {

// Folder and file name of a program, joined with the platform's separator.
std::string programPath(const std::string &folder, const std::string &fileName)
{
    return folder + "/" + fileName;
}

} // namespace

std::optional<bool> DemarrApp::RegDemarrAjouter(const ostrevol::IApplicationObject &Application, bool MessageErreur)
{
    const char *title = Application.property("Title");
    const char *path = Application.property("Path");
    const char *exeName = Application.property("EXEName");
    if (!title || !path || !exeName)
        return std::nullopt;
    return m_reg.RegDemarrEcrire(1, title, programPath(path, exeName), MessageErreur);
}

std::optional<bool> DemarrApp::RegDemarrSupprimer(const ostrevol::IApplicationObject &Application, bool MessageErreur)
{
    const char *title = Application.property("Title");
    if (!title)
        return std::nullopt;
    return m_reg.RegDemarrEffacer(title, MessageErreur);
}

std::string DemarrApp::CléLectureValeur(ostrevol::HKey HKey, const std::string &Chemin, const std::string &Clé,
                                        bool MessageErreur)
{
    RegValue value;
    if (!m_reg.RegLectureValeur(std::uint32_t(HKey), Chemin, Clé, 1, value, MessageErreur))
        return {};
    if (const auto *number = std::get_if<std::int32_t>(&value))
        return std::to_string(*number);
    if (const auto *text = std::get_if<std::string>(&value))
        return *text;
    return {};
}

bool DemarrApp::RegDemarrAjoutApp(const std::string &AppTitre, const std::string &AppChemin,
                                  const std::string &AppNomExe, bool MessageErreur)
{
    return m_reg.RegDemarrEcrire(1, AppTitre, programPath(AppChemin, AppNomExe), MessageErreur);
}

bool DemarrApp::RegDemarrSupprimApp(const std::string &AppTitre, bool MessageErreur)
{
    return m_reg.RegDemarrEffacer(AppTitre, MessageErreur);
}
