// Configuration::create over arbitrary settings-file text, read through
// IniSettingsStore from a temporary file with a stand-in startup library, so
// that the real one is never loaded. When the settings load, Carillons is
// then written, which must leave every other setting as it was; and any text
// written to a key of its own must read back the same. A file the store
// will not write must be left as it was.
#include "Configuration.h"
#include "FuzzCheck.h"
#include "IniSettingsStore.h"
#include "StartupLibrary.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Only the library handed to create() is used; the global one would load
// libOstrevol.so, which this build does not have.
StartupLibrary *StartupLibrary::global(QString *error)
{
    if (error)
        *error = QStringLiteral("no startup library in the fuzz build");
    return nullptr;
}

namespace {

class StandInLibrary : public StartupLibrary
{
public:
    bool registered = false;
    QString CléLectureValeur(ostrevol::HKey, const QString &, const QString &, bool) override
    {
        return registered ? QStringLiteral("/opt/tintarel/Tintarel") : QString();
    }
    bool RegDemarrAjoutApp(const QString &, const QString &, const QString &, bool) override { return true; }
    bool RegDemarrSupprimApp(const QString &, bool) override { return true; }
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct Values
{
    int top, left, carillons, taille, enumHeures, calendrier, veille, visibilite, activer, plage, startPos;
    double dateDeb, dateFin;
    std::uint32_t foreColor, backColor;
    bool operator==(const Values &) const = default;
};

Values valuesOf(const Configuration &c)
{
    return {c.Position()->Top, c.Position()->Left, c.Carillons(), c.Taille(), c.EnumHeures(), c.Calendrier(),
            c.Veille(), c.Visibilité(), c.Activer(), c.Plage(), c.StartPos(), c.DateDeb(), c.DateFin(),
            c.ForeColor(), c.BackColor()};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv); // never deleted: Qt may keep using it at exit
    scratchFolder();
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
        FUZZ_CHECK(error.message.isEmpty() && !error.key.isEmpty(), "failed for '%s'", qPrintable(error.message));
        const auto stored = store.read(error.section, error.key);
        FUZZ_CHECK(stored && *stored == error.text, "the text reported for %s/%s is not the text stored",
                   qPrintable(error.section), qPrintable(error.key));
    } else {
        const Values before = valuesOf(*config);
        FUZZ_CHECK(before.dateDeb >= 0 && before.dateDeb < 1, "DateDeb %.17g", before.dateDeb);
        FUZZ_CHECK(config->Démarrage() == (library.registered ? 1 : 0), "Démarrage %d", config->Démarrage());
        const int carillons = before.carillons == 3 ? 0 : 3;
        if (config->setCarillons(carillons)) {
            SettingsError again;
            const auto reread = Configuration::create(store, &again, &library);
            FUZZ_CHECK(reread, "settings that loaded no longer load after writing Carillons: %s/%s '%s'",
                       qPrintable(again.section), qPrintable(again.key), qPrintable(again.text));
            Values expected = before;
            expected.carillons = carillons;
            FUZZ_CHECK(valuesOf(*reread) == expected, "writing Carillons changed another setting");
        } else {
            FUZZ_CHECK(told && contents(path) == ini, "a refused write changed the file or said nothing");
        }
    }

    // Any text, written to a key of its own, reads back as it was.
    const QString text = QString::fromUtf8(ini.left(64));
    if (store.write(QStringLiteral("Réglages"), QStringLiteral("Fuzz\xE9"), text)) {
        const auto back = store.read(QStringLiteral("r\xE9GLAGES"), QStringLiteral("fuzz\xC9"));
        FUZZ_CHECK(back && *back == text, "wrote '%s', read back '%s'", qPrintable(text),
                   back ? qPrintable(*back) : "(none)");
    }
    QFile::remove(path);
    return 0;
}
