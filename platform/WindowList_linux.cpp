#include "WindowList.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QString>
#include <QSysInfo>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace win {
namespace {

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
// Every xcb reply and error is malloc'ed and ours to free.
template<class T>
using Reply = std::unique_ptr<T, FreeDeleter>;
using Error = Reply<xcb_generic_error_t>;

// Asks for a reply with its error taken here: an error left to the event
// queue would reach Qt, which reports it on the console.
template<class T, class Cookie, class ReplyFunction>
Reply<T> replyTo(xcb_connection_t *c, ReplyFunction function, Cookie cookie)
{
    xcb_generic_error_t *error = nullptr;
    Reply<T> reply(function(c, cookie, &error));
    Error guard(error);
    return reply;
}

bool succeeded(xcb_connection_t *c, xcb_void_cookie_t cookie)
{
    return !Error(xcb_request_check(c, cookie));
}

// What decides whether a window is blocked by a modal one.
struct ModalFacts
{
    HWND window = 0;
    bool mapped = false;
    bool modal = false;
    HWND transientFor = 0;
};

class X11WindowList final : public WindowList
{
public:
    explicit X11WindowList(xcb_connection_t *connection)
        : m_c(connection)
    {
        const char *names[] = {"_NET_WM_PID", "_NET_CLIENT_LIST", "_NET_WM_NAME", "UTF8_STRING",
                               "_NET_WM_STATE", "_NET_WM_STATE_MODAL", "WM_PROTOCOLS", "WM_DELETE_WINDOW"};
        xcb_atom_t *atoms[] = {&m_pid, &m_clientList, &m_netName, &m_utf8, &m_state, &m_modal, &m_protocols,
                               &m_deleteWindow};
        std::vector<xcb_intern_atom_cookie_t> cookies;
        for (const char *name : names)
            cookies.push_back(xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name));
        for (std::size_t i = 0; i < cookies.size(); ++i)
            if (auto reply = replyTo<xcb_intern_atom_reply_t>(m_c, xcb_intern_atom_reply, cookies[i]))
                *atoms[i] = reply->atom;
        m_hostName = QSysInfo::machineHostName().toLocal8Bit();
    }

    bool enumThreadWindows(std::uint32_t threadId, const WNDENUMPROC &proc, LPARAM lParam) override
    {
        const std::vector<HWND> windows = windowsOfProcess(threadId);
        for (HWND window : windows)
            if (!proc(window, lParam))
                break;
        return !windows.empty();
    }

    int windowTextLength(HWND window) override { return int(title(window).size()); }

    int windowText(HWND window, char *buffer, int size) override
    {
        if (!buffer || size <= 0)
            return 0;
        const QByteArray text = title(window);
        const int copied = std::min(int(text.size()), size - 1);
        std::memcpy(buffer, text.constData(), std::size_t(copied));
        buffer[copied] = '\0';
        return copied;
    }

    bool isWindowEnabled(HWND window) override { return isWindow(window) && blockers(window).empty(); }

    HWND lastActivePopup(HWND window) override
    {
        if (!isWindow(window))
            return 0;
        const std::vector<HWND> blocking = blockers(window);
        return blocking.empty() ? window : blocking.back();
    }

    bool isWindow(HWND window) override
    {
        return window != 0
               && replyTo<xcb_get_window_attributes_reply_t>(m_c, xcb_get_window_attributes_reply,
                                                             xcb_get_window_attributes(m_c, window));
    }

    bool windowRect(HWND window, RECT *rect) override
    {
        auto geometry = replyTo<xcb_get_geometry_reply_t>(m_c, xcb_get_geometry_reply, xcb_get_geometry(m_c, window));
        if (!geometry || !rect)
            return false;
        // Relative to the root, also for a window inside a window manager's frame.
        auto origin = replyTo<xcb_translate_coordinates_reply_t>(
            m_c, xcb_translate_coordinates_reply, xcb_translate_coordinates(m_c, window, geometry->root, 0, 0));
        if (!origin)
            return false;
        rect->left = origin->dst_x;
        rect->top = origin->dst_y;
        rect->right = origin->dst_x + geometry->width;
        rect->bottom = origin->dst_y + geometry->height;
        return true;
    }

    bool setWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT) override
    {
        RECT current;
        if (insertAfter != HWND_BOTTOM || !windowRect(window, &current))
            return false;
        // Only what changes is sent: a window manager may read a position
        // as its frame's, and would move a window asked to stay where it is.
        uint16_t mask = 0;
        std::vector<uint32_t> values;
        const auto add = [&](uint16_t bit, int value, bool changed) {
            if (changed) {
                mask |= bit;
                values.push_back(uint32_t(value));
            }
        };
        add(XCB_CONFIG_WINDOW_X, x, x != current.left);
        add(XCB_CONFIG_WINDOW_Y, y, y != current.top);
        add(XCB_CONFIG_WINDOW_WIDTH, cx, cx > 0 && cx != current.right - current.left);
        add(XCB_CONFIG_WINDOW_HEIGHT, cy, cy > 0 && cy != current.bottom - current.top);
        add(XCB_CONFIG_WINDOW_STACK_MODE, XCB_STACK_MODE_BELOW, true);
        return succeeded(m_c, xcb_configure_window_checked(m_c, window, mask, values.data()));
    }

    bool postMessage(HWND window, UINT message, WPARAM, LPARAM) override
    {
        if (message != WM_CLOSE || m_protocols == XCB_ATOM_NONE)
            return false;
        xcb_client_message_event_t event {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = m_protocols;
        event.data.data32[0] = m_deleteWindow;
        event.data.data32[1] = XCB_CURRENT_TIME;
        // With no event mask the event goes to the client that created the window.
        return succeeded(m_c, xcb_send_event_checked(m_c, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                                     reinterpret_cast<const char *>(&event)));
    }

private:
    Reply<xcb_get_property_reply_t> property(HWND window, xcb_atom_t name, xcb_atom_t type, uint32_t longs)
    {
        return replyTo<xcb_get_property_reply_t>(m_c, xcb_get_property_reply,
                                                 xcb_get_property(m_c, 0, window, name, type, 0, longs));
    }

    static QByteArray bytes(const xcb_get_property_reply_t *reply)
    {
        if (!reply || reply->type == XCB_ATOM_NONE)
            return QByteArray();
        return QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                          xcb_get_property_value_length(reply));
    }

    template<class T>
    static std::vector<T> values(const xcb_get_property_reply_t *reply)
    {
        std::vector<T> result;
        if (reply && reply->format == 32) {
            const auto *data = static_cast<const T *>(xcb_get_property_value(reply));
            result.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        return result;
    }

    QByteArray title(HWND window)
    {
        QByteArray text = bytes(property(window, m_netName, m_utf8, 1024).get());
        if (!text.isEmpty())
            return text;
        const auto name = property(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 1024);
        text = bytes(name.get());
        // STRING is Latin-1; COMPOUND_TEXT is taken as it is, right for ASCII.
        if (name && name->type == XCB_ATOM_STRING)
            return QString::fromLatin1(text).toUtf8();
        return text;
    }

    // Root children, bottom to top, then managed windows not among them.
    std::vector<HWND> topLevelWindows()
    {
        std::vector<HWND> windows;
        for (auto screens = xcb_setup_roots_iterator(xcb_get_setup(m_c)); screens.rem; xcb_screen_next(&screens)) {
            const xcb_window_t root = screens.data->root;
            if (auto tree = replyTo<xcb_query_tree_reply_t>(m_c, xcb_query_tree_reply, xcb_query_tree(m_c, root))) {
                const xcb_window_t *children = xcb_query_tree_children(tree.get());
                windows.insert(windows.end(), children, children + xcb_query_tree_children_length(tree.get()));
            }
            for (HWND managed : values<xcb_window_t>(property(root, m_clientList, XCB_ATOM_WINDOW, 65536).get()))
                if (std::find(windows.begin(), windows.end(), managed) == windows.end())
                    windows.push_back(managed);
        }
        return windows;
    }

    std::vector<HWND> windowsOfProcess(std::uint32_t processId)
    {
        std::vector<HWND> result;
        if (processId == 0 || m_pid == XCB_ATOM_NONE)
            return result;
        const std::vector<HWND> windows = topLevelWindows();
        std::vector<xcb_get_property_cookie_t> pids, machines;
        for (HWND window : windows) {
            pids.push_back(xcb_get_property(m_c, 0, window, m_pid, XCB_ATOM_CARDINAL, 0, 1));
            machines.push_back(xcb_get_property(m_c, 0, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 0, 64));
        }
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const auto pid = replyTo<xcb_get_property_reply_t>(m_c, xcb_get_property_reply, pids[i]);
            const auto machine = replyTo<xcb_get_property_reply_t>(m_c, xcb_get_property_reply, machines[i]);
            const std::vector<uint32_t> owner = values<uint32_t>(pid.get());
            if (owner.size() != 1 || owner.front() != processId)
                continue;
            // A process id means this process only on the machine it names.
            const QByteArray host = bytes(machine.get());
            if (!host.isEmpty() && host != m_hostName)
                continue;
            result.push_back(windows[i]);
        }
        return result;
    }

    std::vector<ModalFacts> modalFacts(const std::vector<HWND> &windows)
    {
        std::vector<xcb_get_window_attributes_cookie_t> attributes;
        std::vector<xcb_get_property_cookie_t> states, transients;
        for (HWND window : windows) {
            attributes.push_back(xcb_get_window_attributes(m_c, window));
            states.push_back(xcb_get_property(m_c, 0, window, m_state, XCB_ATOM_ATOM, 0, 64));
            transients.push_back(xcb_get_property(m_c, 0, window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1));
        }
        std::vector<ModalFacts> facts(windows.size());
        for (std::size_t i = 0; i < windows.size(); ++i) {
            facts[i].window = windows[i];
            const auto attribute =
                replyTo<xcb_get_window_attributes_reply_t>(m_c, xcb_get_window_attributes_reply, attributes[i]);
            facts[i].mapped = attribute && attribute->map_state == XCB_MAP_STATE_VIEWABLE;
            const auto state = replyTo<xcb_get_property_reply_t>(m_c, xcb_get_property_reply, states[i]);
            const std::vector<xcb_atom_t> atoms = values<xcb_atom_t>(state.get());
            facts[i].modal = m_modal != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), m_modal) != atoms.end();
            const auto transient = replyTo<xcb_get_property_reply_t>(m_c, xcb_get_property_reply, transients[i]);
            const std::vector<xcb_window_t> owner = values<xcb_window_t>(transient.get());
            facts[i].transientFor = owner.empty() ? 0 : owner.front();
        }
        return facts;
    }

    // The mapped modal windows that block `window`, bottom to top.
    std::vector<HWND> blockers(HWND window)
    {
        const auto pid = values<uint32_t>(property(window, m_pid, XCB_ATOM_CARDINAL, 1).get());
        if (pid.size() != 1)
            return {};
        const std::vector<ModalFacts> facts = modalFacts(windowsOfProcess(pid.front()));
        const auto factsOf = [&](HWND w) -> const ModalFacts * {
            for (const ModalFacts &f : facts)
                if (f.window == w)
                    return &f;
            return nullptr;
        };
        const auto isTransientOf = [&](HWND w, HWND ancestor) {
            // Bounded, in case of a loop of transients.
            for (std::size_t steps = 0; steps <= facts.size(); ++steps) {
                const ModalFacts *f = factsOf(w);
                if (!f || f->transientFor == 0)
                    return false;
                if (f->transientFor == ancestor)
                    return true;
                w = f->transientFor;
            }
            return false;
        };
        const auto position = [&](HWND w) {
            return std::find_if(facts.begin(), facts.end(), [w](const ModalFacts &f) { return f.window == w; })
                   - facts.begin();
        };

        std::vector<HWND> result;
        const ModalFacts *self = factsOf(window);
        for (const ModalFacts &dialog : facts) {
            if (dialog.window == window || !dialog.mapped || !dialog.modal)
                continue;
            if (dialog.transientFor == window) {
                result.push_back(dialog.window);
                continue;
            }
            if (factsOf(dialog.transientFor))
                continue; // modal for another window of the process only
            if (isTransientOf(window, dialog.window))
                continue;
            if (self && self->mapped && self->modal && position(window) > position(dialog.window))
                continue;
            result.push_back(dialog.window);
        }
        return result;
    }

    xcb_connection_t *m_c;
    xcb_atom_t m_pid = XCB_ATOM_NONE;
    xcb_atom_t m_clientList = XCB_ATOM_NONE;
    xcb_atom_t m_netName = XCB_ATOM_NONE;
    xcb_atom_t m_utf8 = XCB_ATOM_NONE;
    xcb_atom_t m_state = XCB_ATOM_NONE;
    xcb_atom_t m_modal = XCB_ATOM_NONE;
    xcb_atom_t m_protocols = XCB_ATOM_NONE;
    xcb_atom_t m_deleteWindow = XCB_ATOM_NONE;
    QByteArray m_hostName;
};

// Where there is no X display, there are no windows.
class NoWindows final : public WindowList
{
public:
    bool enumThreadWindows(std::uint32_t, const WNDENUMPROC &, LPARAM) override { return false; }
    int windowTextLength(HWND) override { return 0; }
    int windowText(HWND, char *buffer, int size) override
    {
        if (buffer && size > 0)
            buffer[0] = '\0';
        return 0;
    }
    bool isWindowEnabled(HWND) override { return false; }
    HWND lastActivePopup(HWND) override { return 0; }
    bool isWindow(HWND) override { return false; }
    bool windowRect(HWND, RECT *) override { return false; }
    bool setWindowPos(HWND, HWND, int, int, int, int, UINT) override { return false; }
    bool postMessage(HWND, UINT, WPARAM, LPARAM) override { return false; }
};

} // namespace

std::unique_ptr<WindowList> makeSystemWindowList()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return makeSystemWindowList(x11 ? x11->connection() : nullptr);
}

std::unique_ptr<WindowList> makeSystemWindowList(xcb_connection_t *connection)
{
    if (!connection || xcb_connection_has_error(connection))
        return std::make_unique<NoWindows>();
    return std::make_unique<X11WindowList>(connection);
}

} // namespace win
