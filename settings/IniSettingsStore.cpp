#include "IniSettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace {

QString keyPath(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}

} // namespace

IniSettingsStore::IniSettingsStore(const QString &filePath)
    : m_filePath(filePath)
{
}

QString IniSettingsStore::defaultFilePath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + QStringLiteral("/Tintarel/Tintarel.ini");
}

std::optional<QString> IniSettingsStore::read(const QString &section, const QString &key) const
{
    QFileInfo info(m_filePath);
    if (!info.exists() || !info.isFile())
        return std::nullopt;
    QSettings settings(m_filePath, QSettings::IniFormat);
    const QVariant value = settings.value(keyPath(section, key));
    if (!value.isValid())
        return std::nullopt;
    // An unquoted comma makes QSettings split the text into a list; the
    // store holds plain text, so put it back together.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

bool IniSettingsStore::write(const QString &section, const QString &key, const QString &text)
{
    const QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    if (info.exists() && !info.isFile())
        return false;

    // QSettings re-reads the file before writing only when its size or
    // modification time changed, which two quick writers can defeat; our
    // own lock (not QSettings' ".lock") makes read-modify-write exclusive.
    QLockFile lock(m_filePath + QStringLiteral(".writer-lock"));
    // A write holds the lock for milliseconds; a writer killed while taking
    // it can leave a lock that names no owner, which only its age tells.
    lock.setStaleLockTime(3000);
    if (!lock.tryLock(5000))
        return false;

    QSettings settings(m_filePath, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return false; // never rewrite a file we could not parse: its keys would be lost
    settings.setValue(keyPath(section, key), text);
    settings.sync();
    return settings.status() == QSettings::NoError;
}
