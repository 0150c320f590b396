#include "X11Window.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

using Reply = std::unique_ptr<void, decltype(&std::free)>;

xcb_window_t rootOf(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

// The first 32-bit value of a window property, if it has one.
std::optional<uint32_t> cardinalProperty(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property,
                                         xcb_atom_t type)
{
    auto *reply = xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1), nullptr);
    Reply owner(reply, &std::free);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) < 4)
        return std::nullopt;
    return *static_cast<const uint32_t *>(xcb_get_property_value(reply));
}

// Asks the window manager to change a _NET_WM_STATE of a mapped window.
void sendStateChange(xcb_connection_t *c, xcb_window_t window, bool add, xcb_atom_t first, xcb_atom_t second)
{
    xcb_client_message_event_t event {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(c, "_NET_WM_STATE");
    event.data.data32[0] = add ? 1 : 0;
    event.data.data32[1] = first;
    event.data.data32[2] = second;
    event.data.data32[3] = 1; // a normal application
    xcb_send_event(c, 0, rootOf(c),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

} // namespace

namespace X11Window {

void removeTitle(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t utf8Name = atom(c, "_NET_WM_NAME");
    const xcb_atom_t visibleName = atom(c, "_NET_WM_VISIBLE_NAME");
    if (utf8Name != XCB_ATOM_NONE)
        xcb_delete_property(c, id, utf8Name);
    if (visibleName != XCB_ATOM_NONE)
        xcb_delete_property(c, id, visibleName);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(c);
}

} // namespace X11Window

namespace X11Window {

void skipTaskbar(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skip[] = {atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    if (window->isVisible()) {
        sendStateChange(c, id, true, skip[0], skip[1]);
    } else {
        // Before the window is mapped the window manager reads the property;
        // the states already there (Qt's own) are kept.
        auto *reply = xcb_get_property_reply(c, xcb_get_property(c, 0, id, state, XCB_ATOM_ATOM, 0, 64), nullptr);
        Reply owner(reply, &std::free);
        std::vector<xcb_atom_t> atoms;
        if (reply && reply->format == 32) {
            const auto *held = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
            atoms.assign(held, held + xcb_get_property_value_length(reply) / 4);
        }
        for (xcb_atom_t wanted : skip)
            if (std::find(atoms.begin(), atoms.end(), wanted) == atoms.end())
                atoms.push_back(wanted);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                            atoms.data());
    }
    xcb_flush(c);
}

void raiseAboveOthers(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window || !window->isVisible())
        return;
    const auto id = xcb_window_t(window->winId());
    sendStateChange(c, id, true, atom(c, "_NET_WM_STATE_ABOVE"), atom(c, "_NET_WM_STATE_STAYS_ON_TOP"));
    // Restacking asks for no focus; window managers honour it for a window
    // that is already in the band above the others.
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, id, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(c);
}

void moveTo(QWidget *window, int x, int y)
{
    xcb_connection_t *c = connection();
    if (!c || !window || !window->internalWinId())
        return;
    const uint32_t place[] = {uint32_t(x), uint32_t(y)};
    xcb_configure_window(c, xcb_window_t(window->internalWinId()), XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, place);
    xcb_flush(c);
}

bool isForeground(const QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window || !window->internalWinId())
        return false;
    const auto id = xcb_window_t(window->internalWinId());
    auto *attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
    Reply attributesOwner(attributes, &std::free);
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return false;
    const xcb_window_t root = rootOf(c);
    const xcb_atom_t supportingCheck = atom(c, "_NET_SUPPORTING_WM_CHECK");
    if (cardinalProperty(c, root, supportingCheck, XCB_ATOM_WINDOW)) {
        const auto active = cardinalProperty(c, root, atom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
        if (active)
            return *active == id;
    }
    auto *focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    Reply owner(focus, &std::free);
    return focus && focus->focus == id;
}

} // namespace X11Window

namespace {

// A window that Qt holds for shown but that nobody has mapped: no manager
// has taken it (it has no WM_STATE) and the server shows it unmapped.
bool lostMapRequest(xcb_connection_t *c, xcb_window_t id)
{
    auto *attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
    Reply attributesOwner(attributes, &std::free);
    if (!attributes || attributes->map_state != XCB_MAP_STATE_UNMAPPED)
        return false;
    const xcb_atom_t wmState = atom(c, "WM_STATE");
    auto *state = xcb_get_property_reply(c, xcb_get_property(c, 0, id, wmState, wmState, 0, 2), nullptr);
    Reply stateOwner(state, &std::free);
    return !state || state->type == XCB_ATOM_NONE;
}

// Asks again for the place, size and mapping that were lost.
void mapAgain(xcb_connection_t *c, xcb_window_t id, const QRect &place)
{
    const uint32_t values[] = {uint32_t(place.x()), uint32_t(place.y()), uint32_t(place.width()),
                               uint32_t(place.height())};
    xcb_configure_window(c, id,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH
                             | XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    xcb_map_window(c, id);
    xcb_flush(c);
}

// Without a window manager nothing keeps the window above one mapped after
// it: each such window is answered by raising ours again.
class MapWatch : public QAbstractNativeEventFilter
{
public:
    explicit MapWatch(QWidget *window)
        : m_window(window)
    {
        xcb_connection_t *c = connection();
        m_root = rootOf(c);
        m_supportingCheck = atom(c, "_NET_SUPPORTING_WM_CHECK");
        // Qt has its own events selected on the root window; ours are added.
        auto *attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, m_root), nullptr);
        Reply owner(attributes, &std::free);
        const uint32_t mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c);
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t" || !m_window || !m_window->internalWinId())
            return false;
        const auto id = xcb_window_t(m_window->internalWinId());
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        switch (event->response_type & 0x7f) {
        case XCB_CLIENT_MESSAGE:
            // The requests clients send the manager through the root window
            // (ours too) reach us now; Qt would warn of each.
            return reinterpret_cast<const xcb_client_message_event_t *>(event)->window == m_root;
        case XCB_MAP_NOTIFY: {
            // Menus and tips (override-redirect) may cover it.
            const auto *map = reinterpret_cast<const xcb_map_notify_event_t *>(event);
            if (map->event == m_root && map->window != id && !map->override_redirect && !m_raiseQueued
                && m_window->isVisible()) {
                m_raiseQueued = true;
                // After Qt has handled the event, never inside its event dispatch.
                QMetaObject::invokeMethod(m_window, [this] { raiseWithoutManager(); }, Qt::QueuedConnection);
            }
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    void raiseWithoutManager()
    {
        m_raiseQueued = false;
        xcb_connection_t *c = connection();
        if (!c || !m_window || !m_window->isVisible() || !m_window->internalWinId()
            || cardinalProperty(c, m_root, m_supportingCheck, XCB_ATOM_WINDOW))
            return;
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, xcb_window_t(m_window->internalWinId()), XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_flush(c);
    }

    QPointer<QWidget> m_window;
    xcb_window_t m_root = 0;
    xcb_atom_t m_supportingCheck = XCB_ATOM_NONE;
    bool m_raiseQueued = false;
};

} // namespace

namespace X11Window {

void ensureMapped(QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window || !window->isVisible() || !window->internalWinId())
        return;
    const auto id = xcb_window_t(window->internalWinId());
    if (lostMapRequest(c, id))
        mapAgain(c, id, window->geometry());
}

void keepAboveWithoutManager(QWidget *window)
{
    if (!connection() || !window)
        return;
    auto watch = std::make_shared<MapWatch>(window);
    qApp->installNativeEventFilter(watch.get());
    QObject::connect(window, &QObject::destroyed, qApp, [watch] { qApp->removeNativeEventFilter(watch.get()); });
}

} // namespace X11Window
