#include "ClassFactory.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <dlfcn.h>

class ServerLibrary
{
public:
    ServerLibrary(void *handle, QString path) : m_handle(handle), m_path(std::move(path)) {}
    ServerLibrary(const ServerLibrary &) = delete;
    ServerLibrary &operator=(const ServerLibrary &) = delete;
    ~ServerLibrary()
    {
        // As with any in-process server, a library that still has objects
        // or locks is kept.
        auto canUnload = reinterpret_cast<inproc::DllCanUnloadNowFunction>(::dlsym(m_handle, "DllCanUnloadNow"));
        if (!canUnload || canUnload() == inproc::S_OK)
            ::dlclose(m_handle);
    }

    void *symbol(const char *name) const { return ::dlsym(m_handle, name); }
    const QString &path() const { return m_path; }

private:
    void *m_handle;
    QString m_path;
};

namespace {

QString bareGuid(const inproc::Guid &guid)
{
    return guidText(guid).mid(1, 36);
}

std::optional<inproc::Guid> parseGuid(QString text)
{
    text.remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    const QStringList parts = text.split(QLatin1Char('-'));
    if (parts.size() != 5 || parts[0].size() != 8 || parts[1].size() != 4 || parts[2].size() != 4
        || parts[3].size() != 4 || parts[4].size() != 12)
        return std::nullopt;
    bool ok = true;
    const auto number = [&ok](const QString &digits) {
        bool digitsOk = false;
        const uint value = digits.toUInt(&digitsOk, 16);
        ok = ok && digitsOk;
        return value;
    };
    inproc::Guid guid{};
    guid.data1 = number(parts[0]);
    guid.data2 = std::uint16_t(number(parts[1]));
    guid.data3 = std::uint16_t(number(parts[2]));
    const QString tail = parts[3] + parts[4];
    for (int i = 0; i < 8; ++i)
        guid.data4[i] = std::uint8_t(number(tail.mid(2 * i, 2)));
    if (!ok)
        return std::nullopt;
    return guid;
}

QString hex(inproc::HRESULT code)
{
    return QStringLiteral("0x") + QString::number(std::uint32_t(code), 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

QString guidText(const inproc::Guid &guid)
{
    QString text = QStringLiteral("{%1-%2-%3-")
                       .arg(guid.data1, 8, 16, QLatin1Char('0'))
                       .arg(guid.data2, 4, 16, QLatin1Char('0'))
                       .arg(guid.data3, 4, 16, QLatin1Char('0'));
    for (int i = 0; i < 8; ++i) {
        if (i == 2)
            text += QLatin1Char('-');
        text += QStringLiteral("%1").arg(guid.data4[i], 2, 16, QLatin1Char('0'));
    }
    return (text + QLatin1Char('}')).toUpper();
}

QString classRegistrationFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/tintarel/classes.ini");
}

bool writeClassRegistration(const ClassRegistration &registration)
{
    QSettings file(classRegistrationFile(), QSettings::IniFormat);
    file.beginGroup(bareGuid(registration.clsid));
    file.remove(QString());
    file.setValue(QStringLiteral("Class"), registration.className);
    file.setValue(QStringLiteral("InprocServer32"), registration.libraryPath);
    file.setValue(QStringLiteral("ThreadingModel"), registration.threadingModel);
    file.setValue(QStringLiteral("ProgID"), registration.progId);
    file.setValue(QStringLiteral("Interface"), bareGuid(registration.iid));
    file.setValue(QStringLiteral("InterfaceName"), registration.interfaceName);
    file.setValue(QStringLiteral("TypeLib"), bareGuid(registration.libid));
    file.setValue(QStringLiteral("TypeLibName"), registration.typeLibraryName);
    file.setValue(QStringLiteral("TypeLibVersion"), registration.typeLibraryVersion);
    file.setValue(QStringLiteral("TypeLibHelpString"), registration.typeLibraryHelpString);
    file.endGroup();
    file.sync();
    return file.status() == QSettings::NoError;
}

bool removeClassRegistration(const inproc::Guid &clsid)
{
    QSettings file(classRegistrationFile(), QSettings::IniFormat);
    file.remove(bareGuid(clsid));
    file.sync();
    return file.status() == QSettings::NoError;
}

std::optional<ClassRegistration> readClassRegistration(const inproc::Guid &clsid)
{
    if (!QFileInfo::exists(classRegistrationFile()))
        return std::nullopt;
    QSettings file(classRegistrationFile(), QSettings::IniFormat);
    file.beginGroup(bareGuid(clsid));
    const QString library = file.value(QStringLiteral("InprocServer32")).toString();
    if (library.isEmpty())
        return std::nullopt;
    const auto text = [&file](const char *key) { return file.value(QString::fromLatin1(key)).toString(); };
    ClassRegistration registration{};
    registration.clsid = clsid;
    registration.className = text("Class");
    registration.libraryPath = library;
    registration.threadingModel = text("ThreadingModel");
    registration.progId = text("ProgID");
    registration.iid = parseGuid(text("Interface")).value_or(inproc::Guid{});
    registration.interfaceName = text("InterfaceName");
    registration.libid = parseGuid(text("TypeLib")).value_or(inproc::Guid{});
    registration.typeLibraryName = text("TypeLibName");
    registration.typeLibraryVersion = text("TypeLibVersion");
    registration.typeLibraryHelpString = text("TypeLibHelpString");
    return registration;
}

void *createInstanceFrom(const inproc::Guid &clsid, const inproc::Guid &iid, const QString &defaultLibrary,
                         const QString &folder, std::shared_ptr<ServerLibrary> *library, QString *error)
{
    const auto registration = readClassRegistration(clsid);
    const QString path = registration ? registration->libraryPath : folder + QLatin1Char('/') + defaultLibrary;
    void *handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        setError(error, QStringLiteral("La bibliothèque « %1 » est introuvable ou ne peut pas être chargée : %2")
                            .arg(path, QString::fromLocal8Bit(::dlerror())));
        return nullptr;
    }
    auto loaded = std::make_shared<ServerLibrary>(handle, path);
    auto getClassObject = reinterpret_cast<inproc::DllGetClassObjectFunction>(loaded->symbol("DllGetClassObject"));
    if (!getClassObject) {
        setError(error, QStringLiteral("La bibliothèque « %1 » ne fournit aucune classe (DllGetClassObject absent).")
                            .arg(path));
        return nullptr;
    }
    void *factoryPointer = nullptr;
    inproc::HRESULT result = getClassObject(&clsid, &inproc::IID_IClassFactory, &factoryPointer);
    if (!inproc::succeeded(result) || !factoryPointer) {
        setError(error, QStringLiteral("La classe %1 n'est pas fournie par la bibliothèque « %2 » (code %3).")
                            .arg(guidText(clsid), path, hex(result)));
        return nullptr;
    }
    InstancePtr<inproc::IClassFactory> factory(static_cast<inproc::IClassFactory *>(factoryPointer), loaded);
    void *object = nullptr;
    result = factory->CreateInstance(nullptr, iid, &object);
    if (!inproc::succeeded(result) || !object) {
        setError(error, QStringLiteral("La classe %1 de la bibliothèque « %2 » ne fournit pas l'interface %3 (code %4).")
                            .arg(guidText(clsid), path, guidText(iid), hex(result)));
        return nullptr;
    }
    *library = std::move(loaded);
    return object;
}
