// Creates the clock's settings object as the clock does at its start and
// prints what Démarrage reads, or why the object could not be created.
#include "Configuration.h"
#include "IniSettingsStore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    IniSettingsStore store(IniSettingsStore::defaultFilePath());
    SettingsError error;
    const std::unique_ptr<Configuration> config = Configuration::create(store, &error);
    if (!config) {
        std::fprintf(stderr, "%s\n", qPrintable(error.description()));
        return 1;
    }
    std::printf("Démarrage=%d\n", config->Démarrage());
    return 0;
}
