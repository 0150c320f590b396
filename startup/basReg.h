#pragma once

#include "Registry.h"

#include <cstdint>
#include <string>
#include <variant>

// Where the library's message boxes go: each one a warning with a single
// OK button, shown until the user closes it.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    virtual void showWarning(const std::string &caption, const std::string &text) = 0;
};

// A value read by RegLectureValeur: text or a 32-bit number; empty until a
// read succeeds.
using RegValue = std::variant<std::monostate, std::string, std::int32_t>;

// The library's three registry routines. Each opens and closes its own key,
// shows its own messages (some only when MessageErreur asks for them) and
// says by its result whether it succeeded.
class basReg
{
public:
    basReg(reg::Registry &registry, MessageSink &messages) : m_registry(registry), m_messages(messages) {}

    // Writes one value of the machine-wide Run key: type code 1 writes the
    // text as REG_SZ, 4 writes it converted to a number as REG_DWORD, any
    // other code writes nothing and succeeds.
    bool RegDemarrEcrire(std::int32_t typeCode, const std::string &valueName, const std::string &data,
                         bool MessageErreur);
    // Deletes one value of the machine-wide Run key.
    bool RegDemarrEffacer(const std::string &valueName, bool MessageErreur);
    // Reads one value of any key; value is changed only on success.
    bool RegLectureValeur(std::uint32_t root, const std::string &keyPath, const std::string &valueName,
                          std::int32_t requestedType, RegValue &value, bool MessageErreur);

private:
    // The entry's file (or folder) the registry last worked on, for messages.
    std::string placeOr(const std::string &otherwise) const
    {
        const std::string place = m_registry.lastPlace();
        return place.empty() ? otherwise : place;
    }
    bool ecrire(std::int32_t typeCode, const std::string &valueName, const std::string &data, bool MessageErreur);
    bool effacer(const std::string &valueName, bool MessageErreur);
    bool lecture(std::uint32_t root, const std::string &keyPath, const std::string &valueName,
                 std::int32_t requestedType, RegValue &value, bool MessageErreur);

    reg::Registry &m_registry;
    MessageSink &m_messages;
};
