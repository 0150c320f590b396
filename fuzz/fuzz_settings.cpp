// Configuration::create over arbitrary settings-file text, through IniSettingsStore. Writing Carillons leaves
// every other setting as it was (or, refused, the file); text written to a key of its own reads back the same.
#include "Configuration.h"
#include "FuzzCheck.h"
#include "IniSettingsStore.h"
#include "StartupLibrary.h"

#include <QCoreApplication>
#include <tuple>

// Only the library handed to create() is used; the global one would load libOstrevol.so, absent here.
StartupLibrary *StartupLibrary::global(QString *)
{
    return nullptr;
}

struct StandInLibrary : StartupLibrary
{
    bool registered = false;
    QString CléLectureValeur(ostrevol::HKey, const QString &, const QString &, bool) override
    {
        return registered ? QStringLiteral("/opt/tintarel/Tintarel") : QString();
    }
    bool RegDemarrAjoutApp(const QString &, const QString &, const QString &, bool) override { return true; }
    bool RegDemarrSupprimApp(const QString &, bool) override { return true; }
};

// Carillons first, so that it can be changed in a copy.
static auto valuesOf(const Configuration &c)
{
    return std::tuple(c.Carillons(), c.Position()->Top, c.Position()->Left, c.Taille(), c.EnumHeures(),
                      c.Calendrier(), c.Veille(), c.Visibilité(), c.Activer(), c.Plage(), c.StartPos(), c.DateDeb(),
                      c.DateFin(), c.ForeColor(), c.BackColor());
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv); // never deleted: Qt may keep using it at exit
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = scratchFolder() + QStringLiteral("/Tintarel.ini");
    const QByteArray ini(reinterpret_cast<const char *>(data), qsizetype(size));
    putFile(path, ini);
    bool told = false;
    IniSettingsStore store(path, [&](const QString &, const QString &) { told = true; });
    StandInLibrary library;
    library.registered = size % 2 == 1;
    SettingsError error;
    const auto config = Configuration::create(store, &error, &library);

    if (!config) {
        const auto stored = store.read(error.section, error.key);
        FUZZ_CHECK(error.message.isEmpty() && !error.key.isEmpty() && stored && *stored == error.text,
                   "failed for '%s' at %s/%s, or not on the text stored", qPrintable(error.message),
                   qPrintable(error.section), qPrintable(error.key));
    } else {
        FUZZ_CHECK(config->DateDeb() >= 0 && config->DateDeb() < 1, "DateDeb %.17g", config->DateDeb());
        FUZZ_CHECK(config->Démarrage() == (library.registered ? 1 : 0), "Démarrage %d", config->Démarrage());
        auto expected = valuesOf(*config);
        std::get<0>(expected) = config->Carillons() == 3 ? 0 : 3;
        if (config->setCarillons(std::get<0>(expected))) {
            SettingsError again;
            const auto reread = Configuration::create(store, &again, &library);
            FUZZ_CHECK(reread, "settings that loaded no longer load after writing Carillons: %s/%s '%s'",
                       qPrintable(again.section), qPrintable(again.key), qPrintable(again.text));
            FUZZ_CHECK(valuesOf(*reread) == expected, "writing Carillons changed another setting");
        } else {
            QFile file(path);
            FUZZ_CHECK(told && file.open(QIODevice::ReadOnly) && file.readAll() == ini,
                       "a refused write changed the file or said nothing");
        }
    }

    const QString text = QString::fromUtf8(ini.left(64));
    if (store.write(QStringLiteral("Réglages"), QStringLiteral("Fuzz\xE9"), text)) {
        const auto back = store.read(QStringLiteral("r\xE9GLAGES"), QStringLiteral("fuzz\xC9"));
        FUZZ_CHECK(back && *back == text, "wrote '%s', read back '%s'", qPrintable(text),
                   back ? qPrintable(*back) : "(none)");
    }
    QFile::remove(path);
    return 0;
}
