#include "TestWindowManager.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

template <typename T>
std::unique_ptr<T, decltype(&std::free)> owned(T *reply)
{
    return {reply, &std::free};
}

// True when the root window names a manager window that exists.
bool managerAnnounced(xcb_connection_t *c, xcb_window_t root)
{
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    const auto atom = owned(xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    const auto reply = owned(
        xcb_get_property_reply(c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 4)
        return false;
    const xcb_window_t check = *static_cast<xcb_window_t *>(xcb_get_property_value(reply.get()));
    return owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, check), nullptr)) != nullptr;
}

} // namespace

TestWindowManager::~TestWindowManager()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool TestWindowManager::start(const QString &display, bool wait)
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
    return m_process.waitForStarted(10000) && (!wait || waitUntilRunning(display));
}

bool TestWindowManager::waitUntilRunning(const QString &display)
{
    // Announced is not yet ready: openbox drops the map requests that reach
    // it before its event loop runs. A probe window is asked for until the
    // manager maps it.
    xcb_connection_t *c = xcb_connect(display.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_window_t probe = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    bool ready = false;
    const QDeadlineTimer deadline(20000);
    while (!ready && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if (managerAnnounced(c, root)) {
            xcb_map_window(c, probe);
            xcb_flush(c);
        }
        QThread::msleep(20);
        const auto a = owned(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, probe), nullptr));
        ready = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    xcb_destroy_window(c, probe);
    xcb_disconnect(c);
    return ready;
}
