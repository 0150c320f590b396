#include "DemarrApp.h"
#include "Ostrevol.h"
#include "Registry.h"
#include "TypeLibrary.h"

#include "ClassFactory.h"

#include <QFileInfo>
#include <QString>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <new>

#define OSTREVOL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using inproc::Guid;
using inproc::HRESULT;

// Objects and class-object references alive, and server locks: while any
// is held, the library must stay loaded.
std::atomic<long> liveReferences{0};

char *copyText(const std::string &text)
{
    char *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

class HostMessages : public MessageSink
{
public:
    explicit HostMessages(ostrevol::IMessageBoxHost *host) : m_host(host) {}
    void showWarning(const std::string &caption, const std::string &text) override
    {
        if (m_host)
            m_host->showMessage(caption.c_str(), text.c_str(), ostrevol::MB_OK | ostrevol::MB_ICONWARNING);
        else
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }

private:
    ostrevol::IMessageBoxHost *m_host;
};

// The class as the host sees it. Each call gets its own registry and its
// own DemarrApp, so nothing survives from one call to the next; the only
// field is the host's message box.
class DemarrAppObject final : public ostrevol::_DemarrApp, public ostrevol::IMessageBoxSite
{
public:
    DemarrAppObject() { ++liveReferences; }
    DemarrAppObject(const DemarrAppObject &) = delete;
    DemarrAppObject &operator=(const DemarrAppObject &) = delete;
    ~DemarrAppObject() { --liveReferences; }

    HRESULT QueryInterface(const Guid &iid, void **object) override
    {
        if (!object)
            return inproc::E_POINTER;
        if (iid == inproc::IID_IUnknown || iid == ostrevol::IID__DemarrApp)
            *object = static_cast<ostrevol::_DemarrApp *>(this);
        else if (iid == ostrevol::IID_IMessageBoxSite)
            *object = static_cast<ostrevol::IMessageBoxSite *>(this);
        else {
            *object = nullptr;
            return inproc::E_NOINTERFACE;
        }
        AddRef();
        return inproc::S_OK;
    }
    std::uint32_t AddRef() override { return ++m_references; }
    std::uint32_t Release() override
    {
        const std::uint32_t left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT SetMessageBoxHost(ostrevol::IMessageBoxHost *host) override
    {
        m_host = host;
        return inproc::S_OK;
    }

    HRESULT RegDemarrAjouter(const ostrevol::IApplicationObject *Application, bool MessageErreur, bool *result) override
    {
        return call(result, [&](DemarrApp &app) -> HRESULT {
            if (!Application)
                return inproc::E_POINTER;
            const auto written = app.RegDemarrAjouter(*Application, MessageErreur);
            if (!written)
                return inproc::DISP_E_UNKNOWNNAME;
            *result = *written;
            return inproc::S_OK;
        });
    }
    HRESULT RegDemarrSupprimer(const ostrevol::IApplicationObject *Application, bool MessageErreur, bool *result) override
    {
        return call(result, [&](DemarrApp &app) -> HRESULT {
            if (!Application)
                return inproc::E_POINTER;
            const auto deleted = app.RegDemarrSupprimer(*Application, MessageErreur);
            if (!deleted)
                return inproc::DISP_E_UNKNOWNNAME;
            *result = *deleted;
            return inproc::S_OK;
        });
    }
    HRESULT CléLectureValeur(ostrevol::HKey HKey, const char *Chemin, const char *Clé, bool MessageErreur,
                             char **result) override
    {
        return call(result, [&](DemarrApp &app) -> HRESULT {
            if (!Chemin || !Clé)
                return inproc::E_POINTER;
            *result = copyText(app.CléLectureValeur(HKey, Chemin, Clé, MessageErreur));
            return *result ? inproc::S_OK : inproc::E_OUTOFMEMORY;
        });
    }
    HRESULT RegDemarrAjoutApp(const char *AppTitre, const char *AppChemin, const char *AppNomExe, bool MessageErreur,
                              bool *result) override
    {
        return call(result, [&](DemarrApp &app) -> HRESULT {
            if (!AppTitre || !AppChemin || !AppNomExe)
                return inproc::E_POINTER;
            *result = app.RegDemarrAjoutApp(AppTitre, AppChemin, AppNomExe, MessageErreur);
            return inproc::S_OK;
        });
    }
    HRESULT RegDemarrSupprimApp(const char *AppTitre, bool MessageErreur, bool *result) override
    {
        return call(result, [&](DemarrApp &app) -> HRESULT {
            if (!AppTitre)
                return inproc::E_POINTER;
            *result = app.RegDemarrSupprimApp(AppTitre, MessageErreur);
            return inproc::S_OK;
        });
    }

private:
    template <class Result, class Body>
    HRESULT call(Result *result, Body body)
    {
        if (!result)
            return inproc::E_POINTER;
        *result = Result{};
        try {
            const std::unique_ptr<reg::Registry> registry = reg::makeSystemRegistry();
            HostMessages messages(m_host);
            DemarrApp app(*registry, messages);
            return body(app);
        } catch (const std::bad_alloc &) {
            return inproc::E_OUTOFMEMORY;
        } catch (...) {
            return inproc::E_UNEXPECTED;
        }
    }

    std::atomic<std::uint32_t> m_references{1};
    ostrevol::IMessageBoxHost *m_host = nullptr;
};

class DemarrAppClassObject final : public inproc::IClassFactory
{
public:
    HRESULT QueryInterface(const Guid &iid, void **object) override
    {
        if (!object)
            return inproc::E_POINTER;
        if (iid != inproc::IID_IUnknown && iid != inproc::IID_IClassFactory) {
            *object = nullptr;
            return inproc::E_NOINTERFACE;
        }
        *object = this;
        AddRef();
        return inproc::S_OK;
    }
    // The class object is static; its references only keep the library.
    std::uint32_t AddRef() override { return std::uint32_t(++liveReferences); }
    std::uint32_t Release() override { return std::uint32_t(--liveReferences); }

    HRESULT CreateInstance(inproc::IUnknown *outer, const Guid &iid, void **object) override
    {
        if (!object)
            return inproc::E_POINTER;
        *object = nullptr;
        if (outer)
            return inproc::CLASS_E_NOAGGREGATION;
        auto *instance = new (std::nothrow) DemarrAppObject;
        if (!instance)
            return inproc::E_OUTOFMEMORY;
        const HRESULT result = instance->QueryInterface(iid, object);
        instance->Release();
        return result;
    }
    HRESULT LockServer(std::int32_t lock) override
    {
        if (lock)
            ++liveReferences;
        else
            --liveReferences;
        return inproc::S_OK;
    }
};

DemarrAppClassObject classObject;

QString libraryPath()
{
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void *>(&libraryPath), &info) || !info.dli_fname)
        return {};
    return QFileInfo(QFile::decodeName(info.dli_fname)).absoluteFilePath();
}

} // namespace

OSTREVOL_EXPORT HRESULT DllGetClassObject(const Guid *clsid, const Guid *iid, void **object)
{
    if (!clsid || !iid || !object)
        return inproc::E_POINTER;
    *object = nullptr;
    if (*clsid != ostrevol::CLSID_DemarrApp)
        return inproc::CLASS_E_CLASSNOTAVAILABLE;
    return classObject.QueryInterface(*iid, object);
}

OSTREVOL_EXPORT HRESULT DllCanUnloadNow()
{
    return liveReferences == 0 ? inproc::S_OK : inproc::S_FALSE;
}

OSTREVOL_EXPORT HRESULT DllRegisterServer()
{
    try {
        const QString path = libraryPath();
        if (path.isEmpty())
            return inproc::SELFREG_E_CLASS;
        const ostrevol::OstrevolTypeLibrary &library = ostrevolTypeLibrary;
        ClassRegistration registration;
        registration.clsid = ostrevol::CLSID_DemarrApp;
        registration.className = QStringLiteral("DemarrApp");
        registration.libraryPath = path;
        registration.threadingModel = QStringLiteral("Apartment");
        registration.progId = QString::fromUtf8(ostrevol::progId);
        registration.iid = ostrevol::IID__DemarrApp;
        registration.interfaceName = QStringLiteral("_DemarrApp");
        registration.libid = library.libid;
        registration.typeLibraryName = QString::fromUtf8(library.name);
        registration.typeLibraryVersion = QStringLiteral("%1.%2").arg(library.majorVersion).arg(library.minorVersion);
        registration.typeLibraryHelpString = QString::fromUtf8(library.helpString);
        return writeClassRegistration(registration) ? inproc::S_OK : inproc::SELFREG_E_CLASS;
    } catch (...) {
        return inproc::SELFREG_E_CLASS;
    }
}

OSTREVOL_EXPORT HRESULT DllUnregisterServer()
{
    try {
        return removeClassRegistration(ostrevol::CLSID_DemarrApp) ? inproc::S_OK : inproc::SELFREG_E_CLASS;
    } catch (...) {
        return inproc::SELFREG_E_CLASS;
    }
}

OSTREVOL_EXPORT const ostrevol::OstrevolTypeLibrary *OstrevolGetTypeLibrary()
{
    return &ostrevolTypeLibrary;
}
