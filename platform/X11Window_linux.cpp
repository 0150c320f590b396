#include "X11Window.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

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
        // Before the window is mapped the window manager reads the property.
        xcb_change_property(c, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 2, skip);
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

bool isForeground(const QWidget *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window || !window->internalWinId())
        return false;
    const auto id = xcb_window_t(window->internalWinId());
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
