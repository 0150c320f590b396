#include "TestDisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTest>

#include <xcb/xcb.h>

#include <grp.h>
#include <pwd.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

TestDisplay::TestDisplay() = default;

TestDisplay::~TestDisplay()
{
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(3000))
            m_server.kill();
        m_server.waitForFinished(3000);
    }
}

bool TestDisplay::start(const QString &screen)
{
    for (int number = 90 + int(getpid() % 400); number < 1000; number += 7) {
        if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number))
            || QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            continue;
        const QString name = QStringLiteral(":%1").arg(number);
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(QStringLiteral("Xvfb"), {name, QStringLiteral("-screen"), QStringLiteral("0"), screen,
                                                QStringLiteral("-noreset"), QStringLiteral("-nolisten"),
                                                QStringLiteral("tcp")});
        if (!m_server.waitForStarted(5000))
            return false;
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_server.state() == QProcess::Running) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))) {
                xcb_connection_t *c = xcb_connect(name.toLatin1().constData(), nullptr);
                const bool ok = !xcb_connection_has_error(c);
                xcb_disconnect(c);
                if (ok) {
                    m_name = name;
                    return true;
                }
            }
            m_server.waitForFinished(20);
        }
        m_server.kill();
        m_server.waitForFinished(3000);
    }
    return false;
}

TestHome::TestHome()
{
    QDir root(m_dir.path());
    for (const char *folder : {"config", "data", "cache", "runtime"})
        root.mkpath(QString::fromLatin1(folder));
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
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

namespace {
template <typename T>
std::unique_ptr<T, decltype(&std::free)> owned(T *reply)
{
    return {reply, &std::free};
}
} // namespace

struct DisplayObserver::Private
{
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;

    std::vector<xcb_window_t> children(xcb_window_t w)
    {
        const auto t = owned(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
        return t ? std::vector(xcb_query_tree_children(t.get()), xcb_query_tree_children(t.get()) + t->children_len)
                 : std::vector<xcb_window_t>();
    }
    // The child of the root that holds `w`: its frame, when a manager has one.
    xcb_window_t topLevel(xcb_window_t w)
    {
        for (auto t = owned(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr)); t && t->parent != root;
             t = owned(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr)))
            w = t->parent;
        return w;
    }
    void roundTrip() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
};

DisplayObserver::DisplayObserver(const QString &display)
    : d(std::make_unique<Private>())
{
    d->c = xcb_connect(display.toLatin1().constData(), nullptr);
    if (!xcb_connection_has_error(d->c))
        d->root = xcb_setup_roots_iterator(xcb_get_setup(d->c)).data->root;
}

DisplayObserver::~DisplayObserver()
{
    xcb_disconnect(d->c);
}

bool DisplayObserver::isConnected() const
{
    return !xcb_connection_has_error(d->c);
}

quint32 DisplayObserver::root() const
{
    return d->root;
}

quint32 DisplayObserver::atom(const char *name)
{
    const auto r = owned(xcb_intern_atom_reply(d->c, xcb_intern_atom(d->c, 0, uint16_t(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QByteArray DisplayObserver::property(quint32 window, const char *name)
{
    const auto r = owned(xcb_get_property_reply(
        d->c, xcb_get_property(d->c, 0, window, atom(name), XCB_ATOM_ANY, 0, 1024), nullptr));
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
    if (!isConnected())
        return result;
    std::vector<xcb_window_t> pending = d->children(d->root);
    while (!pending.empty()) {
        const xcb_window_t w = pending.back();
        pending.pop_back();
        const QByteArray pidValue = property(w, "_NET_WM_PID");
        if (pidValue.size() != 4 || *reinterpret_cast<const quint32 *>(pidValue.constData()) != quint32(pid)) {
            const auto inside = d->children(w); // a manager's frame holds its client
            pending.insert(pending.end(), inside.begin(), inside.end());
            continue;
        }
        SeenWindow seen;
        seen.id = w;
        QByteArray title = property(w, "_NET_WM_NAME");
        seen.title = QString::fromUtf8(title.isEmpty() ? property(w, "WM_NAME") : title);
        const auto g = owned(xcb_get_geometry_reply(d->c, xcb_get_geometry(d->c, w), nullptr));
        const auto at = owned(xcb_translate_coordinates_reply(d->c, xcb_translate_coordinates(d->c, w, d->root, 0, 0), nullptr));
        if (g && at)
            seen.geometry = QRect(at->dst_x, at->dst_y, g->width, g->height);
        const auto a = owned(xcb_get_window_attributes_reply(d->c, xcb_get_window_attributes(d->c, w), nullptr));
        seen.mapped = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        result.push_back(seen);
    }
    return result;
}

QPoint DisplayObserver::place(quint32 window)
{
    const auto r = owned(xcb_translate_coordinates_reply(d->c, xcb_translate_coordinates(d->c, window, d->root, 0, 0), nullptr));
    return r ? QPoint(r->dst_x, r->dst_y) : QPoint(-1, -1);
}

quint32 DisplayObserver::focus()
{
    const auto r = owned(xcb_get_input_focus_reply(d->c, xcb_get_input_focus(d->c), nullptr));
    return r ? r->focus : 0;
}

bool DisplayObserver::above(quint32 upper, quint32 lower)
{
    const auto order = d->children(d->root); // bottom to top
    return std::find(order.begin(), order.end(), d->topLevel(upper))
        > std::find(order.begin(), order.end(), d->topLevel(lower));
}

quint32 DisplayObserver::openWindow(QRect r, bool mapped)
{
    const xcb_window_t w = xcb_generate_id(d->c);
    xcb_create_window(d->c, XCB_COPY_FROM_PARENT, w, d->root, int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()),
                      uint16_t(r.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (mapped)
        map(w);
    d->roundTrip();
    return w;
}

void DisplayObserver::map(quint32 window)
{
    xcb_map_window(d->c, window);
    d->roundTrip();
}

bool DisplayObserver::exists(quint32 window)
{
    return owned(xcb_get_geometry_reply(d->c, xcb_get_geometry(d->c, window), nullptr)) != nullptr;
}

bool DisplayObserver::viewable(quint32 window)
{
    const auto a = owned(xcb_get_window_attributes_reply(d->c, xcb_get_window_attributes(d->c, window), nullptr));
    return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
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
    xcb_send_event(d->c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    d->roundTrip(); // the server has handled the request before we go on
}

void DisplayObserver::move(quint32 window, QPoint topLeft)
{
    const uint32_t values[] = {uint32_t(topLeft.x()), uint32_t(topLeft.y())};
    xcb_configure_window(d->c, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    d->roundTrip();
}

std::optional<SeenWindow> DisplayObserver::faceOf(qint64 pid)
{
    for (const SeenWindow &w : windowsOf(pid))
        if (w.title.isEmpty() && w.mapped)
            return w;
    return std::nullopt;
}

std::optional<SeenWindow> DisplayObserver::titledWindowOf(qint64 pid, const QString &title, bool mappedOnly)
{
    for (const SeenWindow &w : windowsOf(pid))
        if (w.title == title && (w.mapped || !mappedOnly))
            return w;
    return std::nullopt;
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
          {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
           QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--delay"), QStringLiteral("80"),
           QStringLiteral("1")},
          &ok);
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
    return {QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
            QStringLiteral("--clear-groups")};
}

bool otherUserAvailable()
{
    QProcess probe;
    probe.start(asOtherUser().first(), asOtherUser().mid(1) << QStringLiteral("true"));
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

void openHomeToOtherUser(const TestHome &home)
{
    const passwd *user = ::getpwnam("nobody");
    const group *nogroup = ::getgrnam("nogroup");
    if (!user || !nogroup)
        return;
    for (const QString &folder : {home.path(), home.configHome()})
        QFile::setPermissions(folder, QFile::permissions(folder) | QFile::ReadOther | QFile::ExeOther);
    for (const char *folder : {"data", "cache", "runtime"})
        if (::chown(QFile::encodeName(home.path() + QLatin1Char('/') + QLatin1String(folder)).constData(),
                    user->pw_uid, nogroup->gr_gid) != 0)
            qWarning("cannot hand %s to nobody", folder);
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
    if (options.asOtherUser)
        clock->start(asOtherUser().first(), asOtherUser().mid(1) << program);
    else
        clock->start(program, {});
    clock->waitForStarted(10000);
    return clock;
}
