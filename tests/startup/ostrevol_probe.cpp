// Loads DemarrApp the way the programs do and prints what happened as JSON,
// so that tests can run it from other folders, with other registrations,
// or as another user.
#include "ClassFactory.h"
#include "Configuration.h"
#include "IniSettingsStore.h"
#include "MessageBox.h"
#include "Ostrevol.h"
#include "ProgramFolder.h"
#include "StartupLibrary.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <dlfcn.h>

namespace {

class RecordingMessageBox : public MessageBox
{
public:
    QJsonArray shown;
    Answer show(const QString &, const QString &text, Icon, Buttons) override
    {
        shown.append(text);
        return Answer::Ok;
    }
};

int print(const QJsonObject &report)
{
    const QByteArray json = QJsonDocument(report).toJson(QJsonDocument::Compact);
    std::fwrite(json.constData(), 1, std::size_t(json.size()), stdout);
    return 0;
}

int selfRegistration(const QString &library, const char *entryPoint)
{
    void *handle = ::dlopen(QFile::encodeName(library).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return print({{QStringLiteral("error"), QString::fromLocal8Bit(::dlerror())}});
    const auto function = reinterpret_cast<inproc::DllRegisterServerFunction>(::dlsym(handle, entryPoint));
    const int result = function ? int(function()) : -1;
    ::dlclose(handle);
    return print({{QStringLiteral("result"), result}});
}

int create(const QString &variant)
{
    constexpr inproc::Guid unknown = {0x0BADC0DE, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    const bool wrongClass = variant == QLatin1String("wrong-class");
    const bool wrongInterface = variant == QLatin1String("wrong-interface");
    QString error;
    const auto object = createInstance<ostrevol::_DemarrApp>(
        wrongClass ? unknown : ostrevol::CLSID_DemarrApp, wrongInterface ? unknown : ostrevol::IID__DemarrApp,
        programFolder(), QString::fromUtf8(ostrevol::libraryFileName), &error);
    return print({{QStringLiteral("created"), bool(object)}, {QStringLiteral("error"), error}});
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const QString command = arguments.value(0);

    if (command == QLatin1String("register") || command == QLatin1String("unregister"))
        return selfRegistration(arguments.value(1), command == QLatin1String("register") ? "DllRegisterServer"
                                                                                          : "DllUnregisterServer");
    if (command == QLatin1String("create"))
        return create(arguments.value(1));

    IniSettingsStore store(IniSettingsStore::defaultFilePath());
    SettingsError settingsError;
    if (command == QLatin1String("settings")) {
        const auto config = Configuration::create(store, &settingsError);
        return print({{QStringLiteral("created"), bool(config)}, {QStringLiteral("error"), settingsError.description()}});
    }

    RecordingMessageBox messages;
    QString error;
    const auto library = StartupLibrary::load(QStringLiteral(TINTAREL_PROGRAM_DIR), messages, &error);
    if (!library)
        return print({{QStringLiteral("error"), error}});
    if (command != QLatin1String("demarrage"))
        return 2;
    // Démarrage as the configuration program sees it, then assigned as its
    // "OK" assigns it.
    const auto config = Configuration::create(store, &settingsError, library.get());
    if (!config)
        return print({{QStringLiteral("error"), settingsError.description()}});
    const int before = config->Démarrage();
    config->setDémarrage(arguments.value(1).toInt());
    return print({{QStringLiteral("before"), before},
                  {QStringLiteral("after"), config->Démarrage()},
                  {QStringLiteral("messages"), messages.shown}});
}
