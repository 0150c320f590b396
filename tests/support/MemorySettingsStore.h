#pragma once

#include "SettingsStore.h"

#include <QMap>

// A settings store in memory, keyed "section/key", for the rules' tests.
class MemorySettingsStore : public SettingsStore
{
public:
    std::optional<QString> read(const QString &section, const QString &key) const override
    {
        const auto it = values.find(section + QLatin1Char('/') + key);
        return it == values.end() ? std::nullopt : std::optional<QString>(*it);
    }
    bool write(const QString &section, const QString &key, const QString &text) override
    {
        values.insert(section + QLatin1Char('/') + key, text);
        return true;
    }
    QString location() const override { return QStringLiteral("memory"); }
    QMap<QString, QString> values;
};
