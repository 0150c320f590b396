#include "basReg.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

const std::string libraryTitle = "Ostrevol";
const std::string odbcCaption = "ODBC Registry";
const std::string readFailureCaption = "YourAppName";
// The key's name in the registry contract; messages name the entry's file.
const std::string runKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string sessionSettings = "Applications au démarrage";
const std::string lineBreak = "\n";
const std::string quote = "\"";

// The run-time errors a conversion raises, with the runtime's own wording.
struct RunTimeError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// Data for a REG_DWORD value: a decimal number, rounded half to even.
std::int32_t toNumber(const std::string &text)
{
    const char *begin = text.c_str();
    char *end = nullptr;
    const double value = std::strtod(begin, &end);
    while (end && (*end == ' ' || *end == '\t'))
        ++end;
    if (end == begin || *end != '\0' || !std::isfinite(value))
        throw RunTimeError("Incompatibilité de type");
    const double rounded = std::nearbyint(value);
    if (rounded < -2147483648.0 || rounded > 2147483647.0)
        throw RunTimeError("Dépassement de capacité");
    return std::int32_t(rounded);
}

std::string describe(const std::exception &failure)
{
    if (dynamic_cast<const std::bad_alloc *>(&failure))
        return "Mémoire insuffisante";
    return failure.what();
}

// Closes the key when the routine is left by a failure it did not expect;
// the routine closes it itself otherwise, to report how that went.
class OpenedKey
{
public:
    explicit OpenedKey(reg::Registry &registry) : m_registry(registry) {}
    OpenedKey(const OpenedKey &) = delete;
    OpenedKey &operator=(const OpenedKey &) = delete;
    ~OpenedKey()
    {
        if (!m_open)
            return;
        // A destructor must not throw: a failure to close is only reported
        // where the routine closes the key itself.
        try {
            m_registry.closeKey(m_key);
        } catch (...) {
        }
    }
    reg::HKEY *receive() { return &m_key; }
    void opened() { m_open = true; }
    reg::HKEY get() const { return m_key; }
    long close()
    {
        m_open = false;
        return m_registry.closeKey(m_key);
    }

private:
    reg::Registry &m_registry;
    reg::HKEY m_key = 0;
    bool m_open = false;
};

} // namespace

bool basReg::RegDemarrEcrire(std::int32_t typeCode, const std::string &valueName, const std::string &data,
                             bool MessageErreur)
{
    try {
        return ecrire(typeCode, valueName, data, MessageErreur);
    } catch (const std::exception &failure) {
        m_messages.showWarning(libraryTitle, describe(failure));
    }
    return false;
}

bool basReg::RegDemarrEffacer(const std::string &valueName, bool MessageErreur)
{
    try {
        return effacer(valueName, MessageErreur);
    } catch (const std::exception &failure) {
        m_messages.showWarning(libraryTitle, describe(failure));
    }
    return false;
}

bool basReg::RegLectureValeur(std::uint32_t root, const std::string &keyPath, const std::string &valueName,
                              std::int32_t requestedType, RegValue &value, bool MessageErreur)
{
    try {
        return lecture(root, keyPath, valueName, requestedType, value, MessageErreur);
    } catch (const std::exception &failure) {
        m_messages.showWarning(readFailureCaption, describe(failure));
    }
    return false;
}

bool basReg::ecrire(std::int32_t typeCode, const std::string &valueName, const std::string &data,
                    bool MessageErreur)
{
    const auto creationFailed = [&](const std::string &what, long code) {
        if (MessageErreur)
            m_messages.showWarning(libraryTitle,
                                   "Error Creating Autostart Entry:" + lineBreak + "File=" + placeOr(what) + lineBreak
                                       + "Returned=" + std::to_string(code) + "Impossible d'ajouter l'application "
                                       + quote + valueName + quote + " au démarrage de la session. Vous pouvez ajouter "
                                       + "manuellement cette application " + "dans les réglages de session du bureau, "
                                       + quote + sessionSettings + quote + " "
                                       + "pour obtenir son lancement automatique.");
    };

    OpenedKey key(m_registry);
    long code = m_registry.createKey(reg::HKEY_LOCAL_MACHINE, runKeyPath, reg::KEY_ALL_ACCESS, key.receive());
    if (code != reg::ERROR_SUCCESS) {
        creationFailed(runKeyPath, code);
        return false;
    }
    key.opened();

    if (typeCode == 1) {
        const std::string text = data + '\0';
        code = m_registry.setValue(key.get(), valueName, reg::REG_SZ, reinterpret_cast<const std::uint8_t *>(text.data()),
                                   std::uint32_t(text.size()));
    } else if (typeCode == 4) {
        const std::uint32_t number = std::uint32_t(toNumber(data));
        const std::uint8_t bytes[4] = {std::uint8_t(number), std::uint8_t(number >> 8), std::uint8_t(number >> 16),
                                       std::uint8_t(number >> 24)};
        code = m_registry.setValue(key.get(), valueName, reg::REG_DWORD, bytes, 4);
    }
    if (code != reg::ERROR_SUCCESS) {
        creationFailed(valueName, code);
        return false;
    }

    code = key.close();
    if (code != reg::ERROR_SUCCESS) {
        m_messages.showWarning(libraryTitle, "Erreur pendant la fermeture de l'entrée de démarrage :" + lineBreak
                                                 + "File=" + placeOr(valueName) + lineBreak + "Returned="
                                                 + std::to_string(code) + lineBreak
                                                 + "Il peut être souhaitable de fermer la session et de la rouvrir.");
        return false;
    }
    return true;
}

bool basReg::effacer(const std::string &valueName, bool MessageErreur)
{
    OpenedKey key(m_registry);
    long code = m_registry.openKey(reg::HKEY_LOCAL_MACHINE, runKeyPath, reg::KEY_ALL_ACCESS, key.receive());
    if (code != reg::ERROR_SUCCESS) {
        if (MessageErreur)
            m_messages.showWarning(odbcCaption, "Error Opening Autostart Entries:" + lineBreak + "Path="
                                                    + placeOr(runKeyPath) + lineBreak + "Returned="
                                                    + std::to_string(code) + "Impossible de supprimer l'entrée "
                                                    + valueName + " des applications au démarrage de la session : "
                                                    + quote + placeOr(runKeyPath) + quote + ".");
        return false;
    }
    key.opened();

    code = m_registry.deleteValue(key.get(), valueName);
    if (code != reg::ERROR_SUCCESS) {
        m_messages.showWarning(odbcCaption, "Error Removing Autostart Entry:" + lineBreak + "File="
                                                + placeOr(runKeyPath) + lineBreak + "Returned=" + std::to_string(code)
                                                + lineBreak + "Impossible de supprimer l'entrée " + valueName
                                                + " des applications au démarrage de la session : " + quote
                                                + placeOr(runKeyPath) + quote + ".");
        return false;
    }

    code = key.close();
    if (code != reg::ERROR_SUCCESS) {
        m_messages.showWarning(libraryTitle, "Erreur pendant la fermeture de l'accès aux entrées de démarrage. "
                                                 + lineBreak + "Path=" + placeOr(runKeyPath) + lineBreak
                                                 + "Returned=" + std::to_string(code) + lineBreak
                                                 + "Il peut être souhaitable de fermer la session et de la rouvrir.");
        return false;
    }
    return true;
}

bool basReg::lecture(std::uint32_t root, const std::string &keyPath, const std::string &valueName,
                     std::int32_t requestedType, RegValue &value, bool MessageErreur)
{
    OpenedKey key(m_registry);
    long code = m_registry.openKey(root, keyPath, reg::KEY_ALL_ACCESS, key.receive());
    if (code != reg::ERROR_SUCCESS) {
        if (MessageErreur)
            m_messages.showWarning(odbcCaption, "Error Opening Registry Key Entry:" + lineBreak + "Key/Path=" + keyPath
                                                    + lineBreak + "Returned=" + std::to_string(code));
        return false;
    }
    key.opened();

    // A text is read into 255 bytes, or as many as it needs; a number into
    // 4 that start at zero.
    std::vector<std::uint8_t> buffer(255, 0);
    std::uint32_t size = 0;
    std::uint32_t storedType = reg::REG_NONE;
    if (requestedType == 1 || requestedType == 4) {
        size = requestedType == 1 ? 255 : 4;
        code = m_registry.queryValue(key.get(), valueName, &storedType, buffer.data(), &size);
        if (code == reg::ERROR_MORE_DATA && requestedType == 1 && size > buffer.size()) {
            buffer.assign(size, 0);
            code = m_registry.queryValue(key.get(), valueName, &storedType, buffer.data(), &size);
        }
    }
    if (code != reg::ERROR_SUCCESS) {
        if (MessageErreur)
            m_messages.showWarning(odbcCaption, "Error Retrieving Registry Key Entry:" + lineBreak + "Key="
                                                    + placeOr(valueName) + lineBreak + "Returned="
                                                    + std::to_string(code));
        return false;
    }
    key.close();

    if (storedType == reg::REG_SZ) {
        value = std::string(reinterpret_cast<const char *>(buffer.data()), size > 0 ? size - 1 : 0);
    } else if (storedType == reg::REG_DWORD) {
        // The 4 bytes read, wherever they landed: a number asked for as text
        // still reads as the number.
        value = std::int32_t(std::uint32_t(buffer[0]) | std::uint32_t(buffer[1]) << 8 | std::uint32_t(buffer[2]) << 16
                             | std::uint32_t(buffer[3]) << 24);
    } else {
        value = std::int32_t(1);
    }
    return true;
}
