#pragma once

#include "SettingsStore.h"

#include <QByteArray>
#include <functional>
#include <sys/types.h>

// The settings file $XDG_CONFIG_HOME/Tintarel/Tintarel.ini, one group per
// section, read and written as the text file a user may edit by hand: a
// byte-order mark, '#' and ';' comments and CRLF line ends are understood,
// section and key names match whatever their case (the first match in the
// file wins), and a write changes the one line of its key and nothing else.
// Names are written percent-encoded ("[R%E9glages]"), as the programs always
// wrote them; a raw name in UTF-8 or Latin-1 reads as the name it stands for.
//
// Both programs write the file while the other may be running, so every
// write re-reads the file under a lock of our own and replaces it atomically
// (a checked copy renamed over it, through a symbolic link to its target).
class IniSettingsStore : public SettingsStore
{
public:
    // How the user hears that a write could not be made: the file and why.
    using FailureNotice = std::function<void(const QString &file, const QString &reason)>;

    explicit IniSettingsStore(const QString &filePath, FailureNotice notice = showFailureNotice);

    // The file the programs use for the current user.
    static QString defaultFilePath();
    // A warning box that leaves the program running (not modal), where the
    // program has widgets, and a line on the standard error stream.
    static void showFailureNotice(const QString &file, const QString &reason);

    std::optional<QString> read(const QString &section, const QString &key) const override;
    // A failed write tells the user once; the next failures stay quiet until
    // a write succeeds again.
    bool write(const QString &section, const QString &key, const QString &text) override;
    QString location() const override { return m_filePath; }
    // Why the last write failed, in the user's words; empty after a success.
    QString lastFailure() const { return m_lastFailure; }

private:
    bool fail(const QString &reason);
    bool writeLocked(const QString &target, const QString &section, const QString &key, const QString &text);

    QString m_filePath;
    FailureNotice m_notice;
    QString m_lastFailure;
    bool m_told = false;

    // The file as last read, reused while it is the same file unchanged.
    mutable QByteArray m_cached;
    mutable dev_t m_cachedDevice = 0;
    mutable ino_t m_cachedInode = 0;
    mutable off_t m_cachedSize = -1;
    mutable long long m_cachedTime = 0;
};
