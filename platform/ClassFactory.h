#pragma once

#include "InProcessServer.h"

#include <QString>
#include <memory>
#include <optional>
#include <utility>

// Creating a class by its class id from a library that serves it
// in-process, and the per-user registration that says which library that is.

// A loaded library; it is let go when the last object made by it is
// released.
class ServerLibrary;

// An owned interface pointer of an object that a loaded library made.
// Copies share the object; the last one releases it.
template <class Interface>
class InstancePtr
{
public:
    InstancePtr() = default;
    InstancePtr(Interface *object, std::shared_ptr<ServerLibrary> library)
        : m_object(object), m_library(std::move(library))
    {
    }
    InstancePtr(const InstancePtr &other) : m_object(other.m_object), m_library(other.m_library)
    {
        if (m_object)
            m_object->AddRef();
    }
    InstancePtr(InstancePtr &&other) noexcept
        : m_object(std::exchange(other.m_object, nullptr)), m_library(std::move(other.m_library))
    {
    }
    InstancePtr &operator=(InstancePtr other) noexcept
    {
        std::swap(m_object, other.m_object);
        std::swap(m_library, other.m_library);
        return *this;
    }
    ~InstancePtr() { reset(); }

    void reset()
    {
        if (m_object)
            std::exchange(m_object, nullptr)->Release();
        m_library.reset();
    }
    Interface *get() const { return m_object; }
    Interface *operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

    // Another interface of the same object, or an empty pointer.
    template <class Other>
    InstancePtr<Other> query(const inproc::Guid &iid) const
    {
        void *other = nullptr;
        if (!m_object || !inproc::succeeded(m_object->QueryInterface(iid, &other)) || !other)
            return {};
        return InstancePtr<Other>(static_cast<Other *>(other), m_library);
    }

private:
    Interface *m_object = nullptr;
    std::shared_ptr<ServerLibrary> m_library;
};

// What registering a class records.
struct ClassRegistration
{
    inproc::Guid clsid;
    QString className;
    QString libraryPath;
    QString threadingModel;
    QString progId;
    inproc::Guid iid;
    QString interfaceName;
    inproc::Guid libid;
    QString typeLibraryName;
    QString typeLibraryVersion;
    QString typeLibraryHelpString;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
QString guidText(const inproc::Guid &guid);

// The per-user class registration file, $XDG_DATA_HOME/tintarel/classes.ini:
// one group per class id.
QString classRegistrationFile();
// Adds or replaces the class's group. False when the file cannot be written.
bool writeClassRegistration(const ClassRegistration &registration);
// Removes the class's group. False when the file cannot be written.
bool removeClassRegistration(const inproc::Guid &clsid);
// The whole record of a registered class, if it is registered.
std::optional<ClassRegistration> readClassRegistration(const inproc::Guid &clsid);

// Makes an instance of the class and returns its interface iid, from the
// library registered for the class, or when the class is not registered,
// from defaultLibrary in folder (the programs give their own folder).
// On failure returns null and says why in *error, naming the library.
void *createInstanceFrom(const inproc::Guid &clsid, const inproc::Guid &iid, const QString &defaultLibrary,
                         const QString &folder, std::shared_ptr<ServerLibrary> *library, QString *error);

template <class Interface>
InstancePtr<Interface> createInstance(const inproc::Guid &clsid, const inproc::Guid &iid,
                                      const QString &folder, const QString &defaultLibrary,
                                      QString *error = nullptr)
{
    std::shared_ptr<ServerLibrary> library;
    void *object = createInstanceFrom(clsid, iid, defaultLibrary, folder, &library, error);
    if (!object)
        return {};
    return InstancePtr<Interface>(static_cast<Interface *>(object), std::move(library));
}
