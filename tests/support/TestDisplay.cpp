#include "TestDisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <xcb/xcb.h>

#include <grp.h>
#include <pwd.h>
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

struct DisplayObserver::Private
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;

    xcb_atom_t atom(const char *name)
    {
        auto cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return result;
    }

    QByteArray property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
    {
        auto cookie = xcb_get_property(connection, 0, window, property, type, 0, 1024);
        xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, cookie, nullptr);
        QByteArray value;
        if (reply && reply->type != XCB_ATOM_NONE)
            value = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                               xcb_get_property_value_length(reply));
        std::free(reply);
        return value;
    }
};

DisplayObserver::DisplayObserver(const QString &display)
    : d(std::make_unique<Private>())
{
    d->connection = xcb_connect(display.toLatin1().constData(), nullptr);
    if (!xcb_connection_has_error(d->connection))
        d->root = xcb_setup_roots_iterator(xcb_get_setup(d->connection)).data->root;
}

DisplayObserver::~DisplayObserver()
{
    xcb_disconnect(d->connection);
}

bool DisplayObserver::isConnected() const
{
    return !xcb_connection_has_error(d->connection);
}

std::vector<SeenWindow> DisplayObserver::windowsOf(qint64 pid)
{
    std::vector<SeenWindow> result;
    if (!isConnected())
        return result;
    const xcb_atom_t pidAtom = d->atom("_NET_WM_PID");
    const xcb_atom_t netName = d->atom("_NET_WM_NAME");
    const xcb_atom_t utf8 = d->atom("UTF8_STRING");
    auto tree = xcb_query_tree_reply(d->connection, xcb_query_tree(d->connection, d->root), nullptr);
    if (!tree)
        return result;
    const xcb_window_t *children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
        const QByteArray pidValue = d->property(children[i], pidAtom, XCB_ATOM_CARDINAL);
        if (pidValue.size() != 4 || *reinterpret_cast<const quint32 *>(pidValue.constData()) != quint32(pid))
            continue;
        SeenWindow seen;
        seen.id = children[i];
        QByteArray title = d->property(children[i], netName, utf8);
        if (title.isEmpty())
            title = d->property(children[i], XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
        seen.title = QString::fromUtf8(title);
        auto geometry = xcb_get_geometry_reply(d->connection, xcb_get_geometry(d->connection, children[i]), nullptr);
        if (geometry)
            seen.geometry = QRect(geometry->x, geometry->y, geometry->width, geometry->height);
        std::free(geometry);
        auto attributes = xcb_get_window_attributes_reply(
            d->connection, xcb_get_window_attributes(d->connection, children[i]), nullptr);
        seen.mapped = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        result.push_back(seen);
    }
    std::free(tree);
    return result;
}

void DisplayObserver::requestClose(quint32 window)
{
    xcb_client_message_event_t event {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = d->atom("WM_PROTOCOLS");
    event.data.data32[0] = d->atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(d->connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    // A round trip: the server has handled the request before we go on.
    std::free(xcb_get_input_focus_reply(d->connection, xcb_get_input_focus(d->connection), nullptr));
}

void DisplayObserver::move(quint32 window, QPoint topLeft)
{
    const uint32_t values[] = {uint32_t(topLeft.x()), uint32_t(topLeft.y())};
    xcb_configure_window(d->connection, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    std::free(xcb_get_input_focus_reply(d->connection, xcb_get_input_focus(d->connection), nullptr));
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

std::unique_ptr<TestProgram> startClock(const TestHome &home, const QString &display, const ClockOptions &options)
{
    auto clock = std::make_unique<TestProgram>();
    QProcessEnvironment env = home.environment(display);
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tintarel.chimes=true;tintarel.tick=true"));
    if (!options.fakeStart.isEmpty()) {
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1"));
        env.insert(QStringLiteral("FAKETIME"), QLatin1Char('@') + options.fakeStart);
        // Sound needs the real monotonic clock, or a file never ends.
        env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
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
