#include "TestWindowManager.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

// True when the root window names a manager window that exists.
bool managerAnnounced(xcb_connection_t *c)
{
    bool announced = false;
    {
        const char name[] = "_NET_SUPPORTING_WM_CHECK";
        auto *atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        if (atom && atom->atom != XCB_ATOM_NONE) {
            auto *reply = xcb_get_property_reply(
                c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
            if (reply && reply->format == 32 && xcb_get_property_value_length(reply) == 4) {
                const xcb_window_t check = *static_cast<xcb_window_t *>(xcb_get_property_value(reply));
                auto *geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, check), nullptr);
                announced = geometry != nullptr;
                std::free(geometry);
            }
            std::free(reply);
        }
        std::free(atom);
    }
    return announced;
}

bool viewable(xcb_connection_t *c, xcb_window_t w)
{
    auto *a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
    const bool result = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(a);
    return result;
}

} // namespace

TestWindowManager::~TestWindowManager()
{
    stop();
}

bool TestWindowManager::start(const QString &display, bool wait)
{
    m_display = display;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.path());
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_process.waitForStarted(10000))
        return false;
    return !wait || waitUntilRunning();
}

bool TestWindowManager::waitUntilRunning(int timeoutMs)
{
    // Announced is not yet ready: openbox drops the map requests that reach
    // it before its event loop runs. A probe window is asked for until the
    // manager maps it.
    xcb_connection_t *c = xcb_connect(m_display.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_window_t probe = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    bool ready = false;
    const QDeadlineTimer deadline(timeoutMs);
    while (!ready && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if (managerAnnounced(c)) {
            xcb_map_window(c, probe);
            xcb_flush(c);
        }
        QThread::msleep(20);
        ready = viewable(c, probe);
    }
    xcb_destroy_window(c, probe);
    xcb_disconnect(c);
    return ready;
}

void TestWindowManager::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}
