#include "Configuration.h"

#include "DateTimeValue.h"
#include "ProgramFolder.h"

#include <QCoreApplication>
#include <cmath>
#include <limits>
#include <optional>

namespace {

const QString sectionRéglages = QStringLiteral("Réglages");
const QString sectionPosition = QStringLiteral("Position");
const QString sectionPlage = QStringLiteral("Plage");

// The session-start entry: its key, its name, and the clock's file name in
// the program folder.
const QString runKey = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString clockTitle = QStringLiteral("Tintarel");
const QString clockFileName = QStringLiteral("Tintarel");

// Converts stored text the way a numeric assignment does: any decimal
// number, rounded half to even, within the target's range.
std::optional<int64_t> toInteger(const QString &text, int64_t low, int64_t high)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value);
    if (rounded < double(low) || rounded > double(high))
        return std::nullopt;
    return int64_t(rounded);
}

// Reads one key with its default; records the first failure and stops all
// later reads once one has failed.
class Reader
{
public:
    explicit Reader(const SettingsStore &store) : m_store(store) {}

    int64_t integer(const QString &section, const char *key, const QString &defaultText,
                    int64_t low, int64_t high)
    {
        if (failed)
            return 0;
        const QString text = m_store.read(section, QString::fromUtf8(key)).value_or(defaultText);
        if (const auto value = toInteger(text, low, high))
            return *value;
        fail(section, key, text);
        return 0;
    }
    int16_t int16(const QString &section, const char *key, const QString &defaultText)
    {
        return int16_t(integer(section, key, defaultText, std::numeric_limits<int16_t>::min(),
                               std::numeric_limits<int16_t>::max()));
    }
    int32_t int32(const QString &section, const char *key, const QString &defaultText)
    {
        return int32_t(integer(section, key, defaultText, std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max()));
    }
    // The stored date-time, reduced to its time of day.
    double timeOfDay(const QString &section, const char *key, const QString &defaultText)
    {
        if (failed)
            return 0;
        const QString text = m_store.read(section, QString::fromUtf8(key)).value_or(defaultText);
        if (const auto value = DateTimeValue::parse(text))
            return DateTimeValue::fromTime(DateTimeValue::toTime(*value));
        fail(section, key, text);
        return 0;
    }

    bool failed = false;
    SettingsError error;

private:
    void fail(const QString &section, const char *key, const QString &text)
    {
        failed = true;
        error = {section, QString::fromUtf8(key), text, {}};
    }
    const SettingsStore &m_store;
};

} // namespace

QString SettingsError::description() const
{
    if (!message.isEmpty())
        return message;
    return QCoreApplication::translate("Configuration",
                                       "Le réglage « %1 » de la section « %2 » ne peut pas être lu : "
                                       "« %3 » n'est pas une valeur valide.")
        .arg(key, section, text);
}

Configuration::Configuration(SettingsStore &store)
    : m_store(store)
{
}

std::unique_ptr<Configuration> Configuration::create(SettingsStore &store, SettingsError *error,
                                                     StartupLibrary *library)
{
    std::unique_ptr<Configuration> config(new Configuration(store));
    Reader in(store);
    const QString hundred = QStringLiteral("100");

    config->m_Position = std::make_shared<::Position>();
    // 32 bits, not 16: a desktop of several monitors or a 4K one is wider
    // than 32767 twips; the stored text is the same decimal number.
    config->m_Position->Top = in.int32(sectionPosition, "Top", hundred);
    config->m_Position->Left = in.int32(sectionPosition, "Left", hundred);
    config->m_Carillons = in.int16(sectionRéglages, "Carillons", QStringLiteral("3"));
    config->m_Taille = in.int32(sectionPosition, "Taille", QStringLiteral("0"));
    config->m_EnumHeures = in.int16(sectionRéglages, "EnumHeures", QStringLiteral("1"));
    config->m_Calendrier = in.int16(sectionRéglages, "Calendrier", QStringLiteral("0"));
    config->m_Veille = in.int16(sectionRéglages, "Veille", QStringLiteral("1"));
    config->m_Visibilité = in.int16(sectionRéglages, "Visibilité", QStringLiteral("2"));
    config->m_Activer = in.int32(sectionRéglages, "Activer", QStringLiteral("1"));
    config->m_Plage = in.int32(sectionPlage, "Check", QStringLiteral("0"));
    config->m_DateDeb = in.timeOfDay(sectionPlage, "Debut", QStringLiteral("10:00:00"));
    config->m_DateFin = in.timeOfDay(sectionPlage, "Fin", QStringLiteral("20:00:00"));
    config->m_ForeColor = uint32_t(in.int32(sectionRéglages, "ForeColor",
                                            QString::number(int32_t(defaultForeColor))));
    config->m_BackColor = uint32_t(in.int32(sectionRéglages, "BackColor",
                                            QString::number(int32_t(defaultBackColor))));
    config->m_StartPos = in.int32(sectionRéglages, "StartPos", QStringLiteral("0"));

    if (in.failed) {
        if (error)
            *error = in.error;
        return nullptr;
    }

    QString why;
    config->m_library = library ? library : StartupLibrary::global(&why);
    if (!config->m_library) {
        if (error)
            *error = SettingsError{{}, {}, {}, why};
        return nullptr;
    }
    config->deriveDémarrage();
    return config;
}

bool Configuration::writeInteger(const char *section, const char *key, int32_t value)
{
    return m_store.write(QString::fromUtf8(section), QString::fromUtf8(key), QString::number(value));
}

bool Configuration::SavePos()
{
    const bool top = writeInteger("Position", "Top", m_Position->Top);
    if (!top)
        return false;
    return writeInteger("Position", "Left", m_Position->Left);
}

bool Configuration::setCarillons(int value)
{
    m_Carillons = value;
    return writeInteger("Réglages", "Carillons", value);
}

bool Configuration::setTaille(int value)
{
    m_Taille = value;
    return writeInteger("Position", "Taille", value);
}

bool Configuration::setVisibilité(int value)
{
    m_Visibilité = value;
    return writeInteger("Réglages", "Visibilité", value);
}

bool Configuration::setEnumHeures(int value)
{
    m_EnumHeures = value;
    return writeInteger("Réglages", "EnumHeures", value);
}

bool Configuration::setCalendrier(int value)
{
    m_Calendrier = value;
    return writeInteger("Réglages", "Calendrier", value);
}

bool Configuration::setVeille(int value)
{
    m_Veille = value;
    return writeInteger("Réglages", "Veille", value);
}

void Configuration::deriveDémarrage()
{
    const QString entry =
        m_library->CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, runKey, clockTitle, false);
    m_Démarrage = entry.isEmpty() ? 0 : 1;
}

bool Configuration::setDémarrage(int value)
{
    // The library's own results are not used: the entry is read back instead.
    if (value == 1 && m_Démarrage == 0)
        m_library->RegDemarrAjoutApp(clockTitle, programFolder(), clockFileName, true);
    else if (value == 0 && m_Démarrage == 1)
        m_library->RegDemarrSupprimApp(clockTitle, false);
    deriveDémarrage();
    return true;
}

bool Configuration::setActiver(int value)
{
    m_Activer = value;
    return writeInteger("Réglages", "Activer", value);
}

bool Configuration::setPlage(int value)
{
    m_Plage = value;
    return writeInteger("Plage", "Check", value);
}

bool Configuration::setDateDeb(double value)
{
    m_DateDeb = value;
    return m_store.write(sectionPlage, QStringLiteral("Debut"), DateTimeValue::toStoreText(value));
}

bool Configuration::setDateFin(double value)
{
    m_DateFin = value;
    return m_store.write(sectionPlage, QStringLiteral("Fin"), DateTimeValue::toStoreText(value));
}

bool Configuration::setForeColor(uint32_t value)
{
    m_ForeColor = value;
    return writeInteger("Réglages", "ForeColor", int32_t(value));
}

bool Configuration::setBackColor(uint32_t value)
{
    m_BackColor = value;
    return writeInteger("Réglages", "BackColor", int32_t(value));
}

bool Configuration::setStartPos(int value)
{
    m_StartPos = value;
    return writeInteger("Réglages", "StartPos", value);
}
