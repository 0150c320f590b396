#include "IniSettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QDateTime>
#include <QDirIterator>
#include <QMap>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>

namespace {

QString keyPath(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}

// A writer killed half-way leaves its scratch copy behind
// ("Tintarel.ini.write-Ab3xYz", perhaps with ".read" or a suffix of QSettings'
// own after it). The next writer,
// holding the lock, removes those old enough that no live writer can own them.
void removeOrphanedCopies(const QString &filePath)
{
    const QFileInfo info(filePath);
    const QRegularExpression scratch(QStringLiteral("^%1\\.write-[A-Za-z0-9]{6}(\\..*)?$")
                                         .arg(QRegularExpression::escape(info.fileName())));
    const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-60);
    QDirIterator it(info.absolutePath(), QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (scratch.match(entry.fileName()).hasMatch() && entry.lastModified().toUTC() < old)
            QFile::remove(entry.filePath());
    }
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
    // QSettings parses sections lazily, and a section named like a key path
    // ("Position/A") can hide the keys of another; parse them all first.
    settings.allKeys();
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
    removeOrphanedCopies(m_filePath);

    // The change is made on a copy of the file as it is on disk (never on a
    // cached reading of it), and the copy replaces the file only when all of
    // it was understood: QSettings drops lines it cannot parse when it writes.
    QTemporaryFile copy(m_filePath + QStringLiteral(".write-XXXXXX"));
    if (!copy.open())
        return false;
    if (info.exists()) {
        QFile original(m_filePath);
        if (!original.open(QIODevice::ReadOnly))
            return false;
        while (!original.atEnd()) {
            const QByteArray chunk = original.read(64 * 1024);
            if (chunk.isEmpty() || copy.write(chunk) != chunk.size())
                return false;
        }
        copy.setPermissions(original.permissions());
    } else {
        copy.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    if (!copy.flush())
        return false;
    copy.close();

    QMap<QString, QVariant> written;
    {
        QSettings settings(copy.fileName(), QSettings::IniFormat);
        settings.allKeys();
        if (settings.status() != QSettings::NoError)
            return false;
        settings.setValue(keyPath(section, key), text);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return false;
        for (const QString &name : settings.allKeys())
            written.insert(name, settings.value(name));
    }

    // On a full disk QSettings reports success though its last write failed,
    // leaving the copy empty or cut short (Qt 6.4's QSaveFile ignores a
    // failed flush). Read the copy back under a name QSettings has never
    // cached, and let it replace the file only when every key came through.
    const QString readBack = copy.fileName() + QStringLiteral(".read");
    if (::rename(QFile::encodeName(copy.fileName()).constData(), QFile::encodeName(readBack).constData()) != 0)
        return false;
    copy.setAutoRemove(false); // it is under its new name now
    bool whole = false;
    {
        QSettings settings(readBack, QSettings::IniFormat);
        const QStringList names = settings.allKeys();
        whole = settings.status() == QSettings::NoError && names.size() == written.size();
        for (const QString &name : names)
            whole = whole && written.value(name) == settings.value(name);
    }
    if (!whole
        || ::rename(QFile::encodeName(readBack).constData(), QFile::encodeName(m_filePath).constData()) != 0) {
        QFile::remove(readBack);
        return false;
    }
    return true;
}
