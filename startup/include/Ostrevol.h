#pragma once

#include "InProcessServer.h"

#include <cstdint>

// What a program and libOstrevol.so share: the fixed ids, the interfaces
// of the class DemarrApp, and the description of its types that the library
// carries. Texts are UTF-8. A text the library returns is allocated with
// malloc() and belongs to the caller, who frees it with free().
namespace ostrevol {

using inproc::Guid;
using inproc::HRESULT;

constexpr Guid LIBID_Ostrevol = {0x85DED262, 0xE385, 0x4873, {0x9D, 0x39, 0xCE, 0xD8, 0xB9, 0x61, 0xBD, 0x0A}};
constexpr Guid CLSID_DemarrApp = {0x80FF2DB2, 0x5D50, 0x4122, {0x9D, 0x24, 0xBC, 0x03, 0x78, 0x12, 0x6A, 0x2A}};
constexpr Guid IID__DemarrApp = {0xC8269185, 0xDF08, 0x4514, {0x92, 0xD5, 0x3B, 0xC6, 0x96, 0x2F, 0x5D, 0x97}};
constexpr Guid GUID_HKey = {0x6664E085, 0xED6D, 0x4566, {0x8C, 0xA4, 0x79, 0xAB, 0x5C, 0xEF, 0x9C, 0xCE}};
constexpr Guid IID_IMessageBoxSite = {0x3B0F6A52, 0x1C4E, 0x4D8B, {0xA6, 0x21, 0x5E, 0x90, 0x7D, 0x14, 0xC2, 0x3F}};

constexpr const char *libraryFileName = "libOstrevol.so";
constexpr const char *progId = "Ostrevol.DemarrApp";

enum class HKey : std::uint32_t {
    HKEY_CLASSES_ROOT = 0x80000000u,
    HKEY_CURRENT_USER = 0x80000001u,
    HKEY_LOCAL_MACHINE = 0x80000002u,
    HKEY_USERS = 0x80000003u,
    HKEY_CURRENT_CONFIG = 0x80000005u,
    HKEY_DYN_DATA = 0x80000006u,
};

// The late-bound application object of RegDemarrAjouter and
// RegDemarrSupprimer, implemented by the caller: a text property by name,
// or null when the object has no such property. The text stays valid while
// the object lives.
struct IApplicationObject
{
    virtual const char *property(const char *name) const = 0;

protected:
    ~IApplicationObject() = default;
};

// Message box styles, as the library asks for them.
constexpr std::uint32_t MB_OK = 0x00000000;
constexpr std::uint32_t MB_ICONWARNING = 0x00000030;

// Implemented by the program: shows one modal message box and returns when
// the user has closed it.
struct IMessageBoxHost
{
    virtual void showMessage(const char *caption, const char *text, std::uint32_t style) = 0;

protected:
    ~IMessageBoxHost() = default;
};

// The program hands its message box to a DemarrApp instance through this
// second interface. Without one, the library writes its messages to the
// standard error stream. The host must outlive the instance.
struct IMessageBoxSite : inproc::IUnknown
{
    virtual HRESULT SetMessageBoxHost(IMessageBoxHost *host) = 0;

protected:
    ~IMessageBoxSite() = default;
};

// The default interface of DemarrApp, its methods in dispatch-id order.
// A failed registry operation is not an error of the call: it gives false
// or empty text. An error result means the call itself could not be made.
struct _DemarrApp : inproc::IUnknown
{
    virtual HRESULT RegDemarrAjouter(const IApplicationObject *Application, bool MessageErreur, bool *result) = 0;
    virtual HRESULT RegDemarrSupprimer(const IApplicationObject *Application, bool MessageErreur, bool *result) = 0;
    virtual HRESULT CléLectureValeur(HKey HKey, const char *Chemin, const char *Clé, bool MessageErreur,
                                     char **result) = 0;
    virtual HRESULT RegDemarrAjoutApp(const char *AppTitre, const char *AppChemin, const char *AppNomExe,
                                      bool MessageErreur, bool *result) = 0;
    virtual HRESULT RegDemarrSupprimApp(const char *AppTitre, bool MessageErreur, bool *result) = 0;

    // MessageErreur is optional and true when omitted.
    HRESULT RegDemarrAjouter(const IApplicationObject *Application, bool *result)
    {
        return RegDemarrAjouter(Application, true, result);
    }
    HRESULT RegDemarrSupprimer(const IApplicationObject *Application, bool *result)
    {
        return RegDemarrSupprimer(Application, true, result);
    }
    HRESULT CléLectureValeur(HKey HKey, const char *Chemin, const char *Clé, char **result)
    {
        return CléLectureValeur(HKey, Chemin, Clé, true, result);
    }
    HRESULT RegDemarrAjoutApp(const char *AppTitre, const char *AppChemin, const char *AppNomExe, bool *result)
    {
        return RegDemarrAjoutApp(AppTitre, AppChemin, AppNomExe, true, result);
    }
    HRESULT RegDemarrSupprimApp(const char *AppTitre, bool *result)
    {
        return RegDemarrSupprimApp(AppTitre, true, result);
    }

protected:
    ~_DemarrApp() = default;
};

extern "C" {

// The type information the library carries, readable without creating
// anything: static data that lives as long as the library is loaded.
enum OstrevolTypeKind : std::uint32_t { OstrevolInterface = 0, OstrevolClass = 1, OstrevolEnum = 2 };

enum OstrevolTypeFlags : std::uint32_t {
    OstrevolHidden = 0x1,
    OstrevolDual = 0x2,
    OstrevolOleAutomation = 0x4,
    OstrevolCreatable = 0x8,
    OstrevolApplicationObject = 0x10,
};

struct OstrevolParameterInfo
{
    const char *name;
    const char *type;
    std::int32_t optional;
    const char *defaultValue; // null when the parameter has none
};

struct OstrevolMethodInfo
{
    std::int32_t dispatchId;
    const char *name;
    const char *helpString;
    const char *resultType;
    const OstrevolParameterInfo *parameters;
    std::uint32_t parameterCount;
};

struct OstrevolEnumMemberInfo
{
    const char *name;
    std::uint32_t value;
};

struct OstrevolTypeInfo
{
    OstrevolTypeKind kind;
    const char *name;
    Guid guid;
    std::uint32_t flags;
    const OstrevolMethodInfo *methods; // interfaces
    std::uint32_t methodCount;
    const Guid *defaultInterface; // classes
    const char *progId;           // classes
    const char *threadingModel;   // classes
    const OstrevolEnumMemberInfo *members; // enumerations
    std::uint32_t memberCount;
};

struct OstrevolTypeLibrary
{
    const char *name;
    Guid libid;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    const char *helpString;
    const OstrevolTypeInfo *types;
    std::uint32_t typeCount;
};

using OstrevolGetTypeLibraryFunction = const OstrevolTypeLibrary *(*)();
}

} // namespace ostrevol
