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
    std::fputs(QJsonDocument(report).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const QString command = arguments.value(0);

    if (command == QLatin1String("register") || command == QLatin1String("unregister")) {
        void *handle = ::dlopen(QFile::encodeName(arguments.value(1)).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return print({{"error", QString::fromLocal8Bit(::dlerror())}});
        const auto function = reinterpret_cast<inproc::DllRegisterServerFunction>(
            ::dlsym(handle, command == QLatin1String("register") ? "DllRegisterServer" : "DllUnregisterServer"));
        const int result = function ? int(function()) : -1;
        ::dlclose(handle);
        return print({{"result", result}});
    }
    QString error;
    if (command == QLatin1String("create")) {
        constexpr inproc::Guid unknown = {0x0BADC0DE, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
        const QString variant = arguments.value(1);
        const auto object = createInstance<ostrevol::_DemarrApp>(
            variant == QLatin1String("wrong-class") ? unknown : ostrevol::CLSID_DemarrApp,
            variant == QLatin1String("wrong-interface") ? unknown : ostrevol::IID__DemarrApp, programFolder(),
            QString::fromUtf8(ostrevol::libraryFileName), &error);
        return print({{"created", bool(object)}, {"error", error}});
    }

    IniSettingsStore store(IniSettingsStore::defaultFilePath());
    SettingsError settingsError;
    if (command == QLatin1String("settings")) {
        const auto config = Configuration::create(store, &settingsError);
        return print({{"created", bool(config)}, {"error", settingsError.description()}});
    }
    // Démarrage as the configuration program sees it, then assigned as its
    // "OK" assigns it.
    RecordingMessageBox messages;
    const auto library = StartupLibrary::load(QStringLiteral(TINTAREL_PROGRAM_DIR), messages, &error);
    const auto config = library ? Configuration::create(store, &settingsError, library.get()) : nullptr;
    if (!config)
        return print({{"error", library ? settingsError.description() : error}});
    const int before = config->Démarrage();
    config->setDémarrage(arguments.value(1).toInt());
    return print({{"before", before}, {"after", config->Démarrage()}, {"messages", messages.shown}});
}
