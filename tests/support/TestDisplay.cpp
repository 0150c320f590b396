#include "TestDisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QSaveFile>
#include <QTest>
#include <QThread>

#include <xcb/xcb.h>

#include <grp.h>
#include <pwd.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

TestDisplay::~TestDisplay()
{
    m_server.terminate();
    if (!m_server.waitForFinished(3000))
        m_server.kill();
    m_server.waitForFinished(3000);
}

bool TestDisplay::start(const QString &screen)
{
    // Xvfb picks a free display itself and names it once it takes connections.
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", screen, "-noreset", "-nolisten", "tcp"});
    while (!m_server.canReadLine() && m_server.waitForReadyRead(10000)) {
    }
    if (m_server.canReadLine())
        m_name = QLatin1Char(':') + QString::fromLatin1(m_server.readLine().trimmed());
    return !m_name.isEmpty();
}

TestHome::TestHome()
{
    for (const char *folder : {"config", "data", "cache", "runtime"})
        QDir(m_dir.path()).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(m_dir.path() + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestHome::writeSettings(const QByteArray &iniText) const
{
    QDir().mkpath(QFileInfo(settingsFile()).absolutePath());
    QFile file(settingsFile());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(iniText);
}

QByteArray TestHome::readSettings() const
{
    QFile file(settingsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QProcessEnvironment TestHome::environment(const QString &display) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.path() + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path() + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("fr_FR.UTF-8"));
    for (const char *name : {"QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    return env;
}

namespace {
template <typename T>
std::unique_ptr<T, decltype(&std::free)> owned(T *reply)
{
    return {reply, &std::free};
}
} // namespace

DisplayObserver::DisplayObserver(const QString &display)
    : m_c(xcb_connect(display.toLatin1().constData(), nullptr))
{
    if (isConnected())
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
}

DisplayObserver::~DisplayObserver() { xcb_disconnect(m_c); }

bool DisplayObserver::isConnected() const { return !xcb_connection_has_error(m_c); }

void DisplayObserver::roundTrip() { std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

std::vector<quint32> DisplayObserver::children(quint32 window)
{
    const auto t = owned(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, window), nullptr));
    return t ? std::vector<quint32>(xcb_query_tree_children(t.get()), xcb_query_tree_children(t.get()) + t->children_len)
             : std::vector<quint32>();
}

quint32 DisplayObserver::atom(const char *name)
{
    const auto r = owned(xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QByteArray DisplayObserver::property(quint32 window, const char *name)
{
    const auto r = owned(
        xcb_get_property_reply(m_c, xcb_get_property(m_c, 0, window, atom(name), XCB_ATOM_ANY, 0, 1024), nullptr));
    return r && r->type != XCB_ATOM_NONE ? QByteArray(static_cast<const char *>(xcb_get_property_value(r.get())),
                                                      xcb_get_property_value_length(r.get()))
                                         : QByteArray();
}

bool DisplayObserver::hasAtom(quint32 window, const char *list, const char *value)
{
    const xcb_atom_t wanted = atom(value);
    return property(window, list).contains(QByteArray::fromRawData(reinterpret_cast<const char *>(&wanted), 4));
}

std::vector<SeenWindow> DisplayObserver::windowsOf(qint64 pid)
{
    std::vector<SeenWindow> result;
    std::vector<quint32> pending = isConnected() ? children(m_root) : std::vector<quint32>();
    while (!pending.empty()) {
        const xcb_window_t w = pending.back();
        pending.pop_back();
        const QByteArray pidValue = property(w, "_NET_WM_PID");
        if (pidValue.size() != 4 || *reinterpret_cast<const quint32 *>(pidValue.constData()) != quint32(pid)) {
            const auto inside = children(w); // a manager's frame holds its client
            pending.insert(pending.end(), inside.begin(), inside.end());
            continue;
        }
        const QByteArray title = property(w, "_NET_WM_NAME");
        const auto g = owned(xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, w), nullptr));
        result.push_back({w, QString::fromUtf8(title.isEmpty() ? property(w, "WM_NAME") : title),
                          g ? QRect(place(w), QSize(g->width, g->height)) : QRect(), viewable(w)});
    }
    return result;
}

std::optional<SeenWindow> DisplayObserver::faceOf(qint64 pid)
{
    return titledWindowOf(pid, QString(), true);
}

std::optional<SeenWindow> DisplayObserver::titledWindowOf(qint64 pid, const QString &title, bool mappedOnly)
{
    for (const SeenWindow &w : windowsOf(pid))
        if (w.title == title && (w.mapped || !mappedOnly))
            return w;
    return std::nullopt;
}

QPoint DisplayObserver::place(quint32 window)
{
    const auto r = owned(xcb_translate_coordinates_reply(m_c, xcb_translate_coordinates(m_c, window, m_root, 0, 0), nullptr));
    return r ? QPoint(r->dst_x, r->dst_y) : QPoint(-1, -1);
}

bool DisplayObserver::viewable(quint32 window)
{
    const auto a = owned(xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, window), nullptr));
    return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
}

quint32 DisplayObserver::focus()
{
    const auto r = owned(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    return r ? r->focus : 0;
}

bool DisplayObserver::above(quint32 upper, quint32 lower)
{
    // The child of the root that holds a window: its frame, when a manager has one.
    const auto topLevel = [this](xcb_window_t w) {
        for (auto t = owned(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr)); t && t->parent != m_root;
             t = owned(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr)))
            w = t->parent;
        return w;
    };
    const auto order = children(m_root); // bottom to top
    return std::find(order.begin(), order.end(), topLevel(upper)) > std::find(order.begin(), order.end(), topLevel(lower));
}

quint32 DisplayObserver::openWindow(QRect r, bool mapped)
{
    const xcb_window_t w = xcb_generate_id(m_c);
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, w, m_root, int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()),
                      uint16_t(r.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (mapped)
        xcb_map_window(m_c, w);
    roundTrip();
    return w;
}

void DisplayObserver::map(quint32 window)
{
    xcb_map_window(m_c, window);
    roundTrip();
}

void DisplayObserver::requestClose(quint32 window)
{
    xcb_client_message_event_t event {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    roundTrip(); // the server has handled the request before we go on
}

void DisplayObserver::move(quint32 window, QPoint topLeft)
{
    const uint32_t values[] = {uint32_t(topLeft.x()), uint32_t(topLeft.y())};
    xcb_configure_window(m_c, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    roundTrip();
}

QString xTool(const QString &display, const QString &tool, const QStringList &arguments, bool *ok)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(env);
    process.start(tool, arguments);
    const bool ran = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    if (ok)
        *ok = ran;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

bool doubleClickAt(const QString &display, QPoint at)
{
    bool ok = false;
    xTool(display, QStringLiteral("xdotool"),
          {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "--repeat", "2", "--delay", "80", "1"},
          &ok);
    return ok;
}

bool quickDrag(const QString &display, QPoint from, QPoint to)
{
    QStringList args{"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1"};
    for (int i = 1; i <= 12; ++i) {
        const QPoint p = from + (to - from) * i / 12;
        args << "mousemove" << QString::number(p.x()) << QString::number(p.y());
    }
    bool ok = false;
    xTool(display, QStringLiteral("xdotool"), args << "mouseup" << "1", &ok);
    return ok;
}

bool waitFor(const std::function<bool()> &condition, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

QStringList asOtherUser()
{
    return {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
}

bool otherUserAvailable()
{
    QProcess probe;
    probe.start(asOtherUser().first(), asOtherUser().mid(1) << QStringLiteral("true"));
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

bool openHomeToOtherUser(const TestHome &home)
{
    const passwd *user = ::getpwnam("nobody");
    const group *nogroup = ::getgrnam("nogroup");
    if (!otherUserAvailable() || !user || !nogroup)
        return false;
    for (const QString &folder : {home.path(), home.configHome()})
        QFile::setPermissions(folder, QFile::permissions(folder) | QFile::ReadOther | QFile::ExeOther);
    for (const char *folder : {"/data", "/cache", "/runtime"})
        if (::chown(QFile::encodeName(home.path() + QLatin1String(folder)).constData(), user->pw_uid, nogroup->gr_gid))
            return false;
    return true;
}

TestWindowManager::~TestWindowManager()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool TestWindowManager::start(const QString &display, bool waitUntilItMaps)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        env.insert(QString::fromLatin1(name), m_home.path());
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_process.waitForStarted(10000) || !waitUntilItMaps)
        return m_process.state() == QProcess::Running;
    // Announced is not yet ready: openbox drops the map requests that reach
    // it before its event loop runs. A probe window is asked for until the
    // manager maps it.
    DisplayObserver screen(display);
    const quint32 probe = screen.openWindow(QRect(0, 0, 1, 1), false);
    const QDeadlineTimer deadline(20000);
    while (screen.isConnected() && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        // A manager gone leaves its announcement; the window it names is gone with it.
        const QByteArray check = screen.property(screen.root(), "_NET_SUPPORTING_WM_CHECK");
        const quint32 checkWindow = check.size() == 4 ? *reinterpret_cast<const quint32 *>(check.constData()) : 0;
        if (checkWindow && !screen.property(checkWindow, "_NET_SUPPORTING_WM_CHECK").isEmpty())
            screen.map(probe);
        QThread::msleep(20);
        if (screen.viewable(probe))
            return true;
    }
    return false;
}

bool copyProgramFolder(const QString &to)
{
    const QDir source(QStringLiteral(TINTAREL_PROGRAM_DIR));
    for (const QString &name : source.entryList(QDir::Files)) {
        const QString target = to + QLatin1Char('/') + name;
        if (!QFile::copy(source.filePath(name), target)
            || !QFile::setPermissions(target, QFile::permissions(source.filePath(name))))
            return false;
    }
    return true;
}

bool setWallClock(const TestHome &home, const QDateTime &to)
{
    // An offset from the real clock, not a start time: exact whenever it is read.
    const qint64 offset = to.toSecsSinceEpoch() - QDateTime::currentSecsSinceEpoch();
    QSaveFile stamp(home.path() + QStringLiteral("/faketime"));
    return stamp.open(QIODevice::WriteOnly)
        && stamp.write((offset < 0 ? QByteArray() : QByteArray("+")) + QByteArray::number(offset)) > 0 && stamp.commit();
}

std::unique_ptr<TestProgram> startClock(const TestHome &home, const QString &display, const ClockOptions &options)
{
    auto clock = std::make_unique<TestProgram>();
    QProcessEnvironment env = home.environment(display);
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tintarel.chimes=true;tintarel.tick=true"));
    if (options.movable || !options.fakeStart.isEmpty()) {
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1"));
        // Sound needs the real monotonic clock, or a file never ends.
        env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    }
    if (options.movable) {
        env.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), home.path() + QStringLiteral("/faketime"));
        env.insert(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
        if (!options.fakeStart.isEmpty()) // else the test has set it
            setWallClock(home, QDateTime::fromString(options.fakeStart, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    } else if (!options.fakeStart.isEmpty()) {
        env.insert(QStringLiteral("FAKETIME"), QLatin1Char('@') + options.fakeStart);
    }
    for (auto it = options.environment.cbegin(); it != options.environment.cend(); ++it)
        env.insert(it.key(), it.value());
    clock->setProcessEnvironment(env);
    clock->setProcessChannelMode(QProcess::MergedChannels);
    const QString program = options.folder + QStringLiteral("/Tintarel");
    clock->start(options.asOtherUser ? asOtherUser().first() : program,
                 options.asOtherUser ? asOtherUser().mid(1) << program : QStringList());
    clock->waitForStarted(10000);
    return clock;
}
