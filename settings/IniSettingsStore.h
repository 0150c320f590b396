#pragma once

#include "SettingsStore.h"

// The settings file $XDG_CONFIG_HOME/Tintarel/Tintarel.ini, one group per
// section. Both programs write it while the other may be running, so every
// write re-reads the file under a lock of our own and replaces it atomically:
// a writer never drops a key that the other program wrote in between.
class IniSettingsStore : public SettingsStore
{
public:
    explicit IniSettingsStore(const QString &filePath);

    // The file the programs use for the current user.
    static QString defaultFilePath();

    std::optional<QString> read(const QString &section, const QString &key) const override;
    bool write(const QString &section, const QString &key, const QString &text) override;
    QString location() const override { return m_filePath; }

private:
    QString m_filePath;
};
