#pragma once

#include <QString>
#include <optional>

// A per-user store of text values addressed by section and key.
// Reading never writes; each write reaches the disk before it returns.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // The stored text, or nothing when the key does not exist.
    virtual std::optional<QString> read(const QString &section, const QString &key) const = 0;
    // Replaces one key's text. False when the store could not be written.
    virtual bool write(const QString &section, const QString &key, const QString &text) = 0;
    // Where the store lives, for messages to the user.
    virtual QString location() const = 0;
};
