#pragma once

#include <QDateTime>
#include <QMap>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct xcb_connection_t;

// An Xvfb server of the test's own, started with -noreset so that the
// screen saver state survives clients coming and going.
class TestDisplay
{
public:
    ~TestDisplay();
    bool start(const QString &screen = QStringLiteral("1280x1024x24"));
    QString name() const { return m_name; }

private:
    QProcess m_server;
    QString m_name;
};

// A temporary home for one test: XDG config, data and runtime folders, and
// the environment that points a program at them and at a display.
class TestHome
{
public:
    TestHome();
    QString path() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/config"); }
    QString settingsFile() const { return configHome() + QStringLiteral("/Tintarel/Tintarel.ini"); }
    void writeSettings(const QByteArray &iniText) const;
    QByteArray readSettings() const;
    QProcessEnvironment environment(const QString &display) const;

private:
    QTemporaryDir m_dir;
};

// A program started for a test, killed if the test ends before it does.
class TestProgram : public QProcess
{
public:
    ~TestProgram() override
    {
        kill();
        waitForFinished(5000);
    }
};

// A top-level window as another X client sees it; its geometry is on the root window.
struct SeenWindow
{
    quint32 id = 0;
    QString title; // _NET_WM_NAME, else WM_NAME
    QRect geometry;
    bool mapped = false;
};

// Looks at a display from outside, as another program would, managed
// windows included.
class DisplayObserver
{
public:
    explicit DisplayObserver(const QString &display);
    ~DisplayObserver();
    bool isConnected() const;
    quint32 root() const { return m_root; }
    QByteArray property(quint32 window, const char *name);
    // Whether an atom list property (_NET_WM_STATE, say) holds `value`.
    bool hasAtom(quint32 window, const char *property, const char *value);
    // Windows whose _NET_WM_PID is `pid`, wherever a manager put them.
    std::vector<SeenWindow> windowsOf(qint64 pid);
    // The clock's face: its mapped window without a title.
    std::optional<SeenWindow> faceOf(qint64 pid);
    std::optional<SeenWindow> titledWindowOf(qint64 pid, const QString &title, bool mappedOnly = false);
    QPoint place(quint32 window);
    bool viewable(quint32 window);
    quint32 focus();
    // Whether `upper`'s top-level window (its frame, if managed) is stacked above `lower`'s.
    bool above(quint32 upper, quint32 lower);
    // A plain window of another program, mapped unless asked not to.
    quint32 openWindow(QRect geometry, bool mapped = true);
    void map(quint32 window);
    // Sends WM_DELETE_WINDOW, as a window manager's close button does.
    void requestClose(quint32 window);
    // Moves a window, as a user would through a window manager.
    void move(quint32 window, QPoint topLeft);

private:
    quint32 atom(const char *name);
    std::vector<quint32> children(quint32 window);
    void roundTrip();

    xcb_connection_t *m_c;
    quint32 m_root = 0;
};

// What an X tool (xdotool, xkill) prints, run on `display`; `ok` tells whether it ran and succeeded.
QString xTool(const QString &display, const QString &tool, const QStringList &arguments, bool *ok = nullptr);
// A double-click with the real pointer, as a user gives it.
bool doubleClickAt(const QString &display, QPoint at);
// Presses at `from`, moves in 12 steps to `to` without a pause, and releases.
bool quickDrag(const QString &display, QPoint from, QPoint to);

// Polls `condition` while events are processed, as QTRY_VERIFY does.
bool waitFor(const std::function<bool()> &condition, int milliseconds);

// Root ignores file modes; a file is made read-only for a program by running
// it as another user (the command that goes before the program).
QStringList asOtherUser();
bool otherUserAvailable();
// Opens `home` to that user and gives it the folders a program writes beside
// its settings; false when there is no such user to be.
bool openHomeToOtherUser(const TestHome &home);

// A real window manager (openbox) on a test's display, stopped by its own
// process id, never by name: other tests run theirs.
class TestWindowManager
{
public:
    ~TestWindowManager();
    bool start(const QString &display, bool waitUntilItMaps = true);

private:
    QProcess m_process;
    QTemporaryDir m_home;
};

// Copies the program folder, so that a test may spoil one of its files.
bool copyProgramFolder(const QString &to);

struct ClockOptions
{
    QString folder = QStringLiteral(TINTAREL_PROGRAM_DIR);
    QString fakeStart; // a faked wall clock start, as "2026-12-06 10:29:58"
    // The wall clock then follows setWallClock() while the clock runs, as
    // after a sleep or a clock step; the monotonic clock and sounds stay real.
    bool movable = false;
    bool asOtherUser = false;
    QMap<QString, QString> environment; // set last, over the home's and the faked clock's
};

// Sets the faked wall clock of the clocks of `home` started movable. The
// file is replaced whole, so a clock never reads half of it.
bool setWallClock(const TestHome &home, const QDateTime &to);

// The clock, logging its chime events and ticks on its merged output.
std::unique_ptr<TestProgram> startClock(const TestHome &home, const QString &display,
                                        const ClockOptions &options = {});
