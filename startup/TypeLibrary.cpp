#include "TypeLibrary.h"

namespace {

using namespace ostrevol;

const OstrevolParameterInfo messageErreur = {"MessageErreur", "Boolean", 1, "True"};

const OstrevolParameterInfo ajouterParameters[] = {{"Application", "Object", 0, nullptr}, messageErreur};
const OstrevolParameterInfo supprimerParameters[] = {{"Application", "Object", 0, nullptr}, messageErreur};
const OstrevolParameterInfo lectureParameters[] = {
    {"HKey", "HKey", 0, nullptr}, {"Chemin", "String", 0, nullptr}, {"Clé", "String", 0, nullptr}, messageErreur};
const OstrevolParameterInfo ajoutAppParameters[] = {{"AppTitre", "String", 0, nullptr},
                                                    {"AppChemin", "String", 0, nullptr},
                                                    {"AppNomExe", "String", 0, nullptr},
                                                    messageErreur};
const OstrevolParameterInfo supprimAppParameters[] = {{"AppTitre", "String", 0, nullptr}, messageErreur};

const OstrevolMethodInfo methods[] = {
    {0x60030000, "RegDemarrAjouter",
     R"(Ajoute aux applications au démarrage de la session le nom et le chemin de l'application pour obtenir son démarrage à chaque ouverture de session.)",
     "Boolean", ajouterParameters, 2},
    {0x60030001, "RegDemarrSupprimer",
     R"(Supprime des applications au démarrage de la session le nom et le chemin de l'application pour annuler son démarrage à chaque ouverture de session.)",
     "Boolean", supprimerParameters, 2},
    {0x60030002, "CléLectureValeur",
     R"(Renvoie la valeur d'une clef donnée. HKey : choisir dans les valeurs le registre qui convient. Chemin : ne doit ni commencer ni finir par "\" . Renvoie un texte vide en cas d'erreur.)",
     "String", lectureParameters, 4},
    {0x60030003, "RegDemarrAjoutApp",
     R"(Ajoute aux applications au démarrage de la session le nom et le chemin de l'application précisés dans des arguments séparés pour obtenir son démarrage à chaque ouverture de session.)",
     "Boolean", ajoutAppParameters, 4},
    {0x60030004, "RegDemarrSupprimApp",
     R"(Supprime des applications au démarrage de la session le nom et le chemin de l'application avec pour argument le titre de l'application pour annuler son démarrage à chaque ouverture de session.)",
     "Boolean", supprimAppParameters, 2},
};

const OstrevolEnumMemberInfo hkeyMembers[] = {
    {"HKEY_CLASSES_ROOT", 0x80000000u}, {"HKEY_CURRENT_USER", 0x80000001u},   {"HKEY_LOCAL_MACHINE", 0x80000002u},
    {"HKEY_USERS", 0x80000003u},        {"HKEY_CURRENT_CONFIG", 0x80000005u}, {"HKEY_DYN_DATA", 0x80000006u},
};

const OstrevolTypeInfo types[] = {
    {OstrevolInterface, "_DemarrApp", IID__DemarrApp, OstrevolHidden | OstrevolDual | OstrevolOleAutomation, methods,
     5, nullptr, nullptr, nullptr, nullptr, 0},
    {OstrevolClass, "DemarrApp", CLSID_DemarrApp, OstrevolCreatable | OstrevolApplicationObject, nullptr, 0,
     &IID__DemarrApp, progId, "Apartment", nullptr, 0},
    {OstrevolEnum, "HKey", GUID_HKey, 0, nullptr, 0, nullptr, nullptr, nullptr, hkeyMembers, 6},
};

} // namespace

const OstrevolTypeLibrary ostrevolTypeLibrary = {
    "Ostrevol", LIBID_Ostrevol, 7, 0, "Interventions sur les applications au démarrage de la session et les réglages du bureau", types, 3,
};
