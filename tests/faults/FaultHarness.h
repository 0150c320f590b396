#pragma once

#include "TestDisplay.h"

#include <QMap>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

// What the fault tests share: mounts of their own for read-only files and
// full disks, a second user where mounts are refused, the clock started
// from a program folder, and the settings file seen as QSettings reads it.
namespace faults {

// Gives this process, and every program it starts, a mount namespace of its
// own. Call it first thing in main(), before any thread exists. Returns why
// not, or an empty string; TINTAREL_FAULTS_NO_MOUNTS=1 refuses on purpose,
// to try the other user's way on a machine that allows mounts.
QString enterPrivateMounts();
QString privateMountsRefused();

bool bindReadOnly(const QString &path);
bool mountTmpfs(const QString &folder, int kilobytes);

// A mount taken down when the test ends, before its folder is removed.
class Mount
{
public:
    explicit Mount(QString path = {}) : m_path(std::move(path)) {}
    ~Mount();
    Mount(const Mount &) = delete;
    Mount &operator=(const Mount &) = delete;

private:
    QString m_path;
};

// Root ignores file modes; where no mount can be made, a file is made
// read-only by running the program as this other user.
QStringList asOtherUser(); // the command that goes before the program
bool otherUserAvailable();
// Opens `home` to the other user and gives it the folders a program writes.
void openHomeToOtherUser(const TestHome &home);

// Copies the program folder, so that a test may spoil one of its files.
bool copyProgramFolder(const QString &to);

struct ClockOptions
{
    QString folder = QStringLiteral(TINTAREL_PROGRAM_DIR);
    QString fakeStart;      // a faked wall clock start, as "2026-12-06 10:29:58"
    bool asOtherUser = false;
    QMap<QString, QString> environment;
};

// The clock, logging its chime events and ticks on its merged output.
std::unique_ptr<TestProgram> startClock(const TestHome &home, const QString &display,
                                        const ClockOptions &options = {});

// Polls `condition` while events are processed, as QTRY_VERIFY does.
bool waitFor(const std::function<bool()> &condition, int milliseconds);

// Right-clicks the face and picks the menu's last item, which turns the
// chimes on or off. Returns the message box that comes up, if one does.
std::optional<SeenWindow> toggleActivationAndFindBox(DisplayObserver &observer, const QString &display,
                                                     qint64 pid);

// Every key and value of a settings file; nullopt when it does not parse.
std::optional<QMap<QString, QVariant>> settingsOf(const QString &file);

// What a path holds, to compare before and after: a file's bytes, a
// folder's names, or its kind.
QByteArray snapshot(const QString &path);

} // namespace faults
