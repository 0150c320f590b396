#pragma once

#include <cstdint>
#include <functional>
#include <memory>

struct xcb_connection_t;

// The top-level windows of a thread and what the configuration program does
// to them to close a running clock, in the terms of the window-manager calls
// it uses. Titles are UTF-8; lengths count bytes.
//
// On X11 a window is an X window id. A window belongs to a process through
// its _NET_WM_PID (on this machine, by WM_CLIENT_MACHINE), and the windows of
// a process are those of its main thread, whose id is the process's id;
// other threads have none. The top-level windows are the root window's
// children together with the window manager's _NET_CLIENT_LIST, since a
// managed window is reparented into a frame and a never-mapped one is not
// managed.
//
// X has no disabled windows. A window counts as disabled while a mapped modal
// window of its process (_NET_WM_STATE_MODAL) blocks it: one transient for it
// (WM_TRANSIENT_FOR), or one modal for the whole process (transient for no
// window of the process: the root, nothing, or a window without a pid such
// as the group leader), which blocks every window of the process but itself,
// its own transients and modal windows above it. Its last active popup is
// then the topmost window that blocks it; otherwise the window itself.
namespace win {

using HWND = std::uint32_t;
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

struct RECT
{
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

constexpr HWND HWND_BOTTOM = 1;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT WM_CLOSE = 0x0010;

// Called for each window; returning false stops the enumeration.
using WNDENUMPROC = std::function<bool(HWND window, LPARAM lParam)>;

class WindowList
{
public:
    virtual ~WindowList() = default;

    // Calls `proc` once for each top-level window of the thread, in the
    // stacking order from the bottom. False when the thread has none.
    virtual bool enumThreadWindows(std::uint32_t threadId, const WNDENUMPROC &proc, LPARAM lParam) = 0;
    // The title's length; 0 for an untitled or missing window.
    virtual int windowTextLength(HWND window) = 0;
    // Copies at most size - 1 bytes of the title and a NUL; returns the bytes
    // copied.
    virtual int windowText(HWND window, char *buffer, int size) = 0;
    virtual bool isWindowEnabled(HWND window) = 0;
    // 0 for a missing window.
    virtual HWND lastActivePopup(HWND window) = 0;
    // False once the window no longer exists.
    virtual bool isWindow(HWND window) = 0;
    // In screen pixels.
    virtual bool windowRect(HWND window, RECT *rect) = 0;
    // Only HWND_BOTTOM is supported for insertAfter; flags are not used (X
    // redraws what becomes visible whatever the flags).
    virtual bool setWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) = 0;
    // Only WM_CLOSE is supported: the close request a window manager's close
    // button sends (WM_DELETE_WINDOW). It is queued for the window's owner and
    // never waits for it.
    virtual bool postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// The windows of the display of this program's X connection (Qt's). Without
// one (no GUI application, or not on X11), a list that has no windows.
std::unique_ptr<WindowList> makeSystemWindowList();
// The windows of the display of the given connection, which must outlive the
// list.
std::unique_ptr<WindowList> makeSystemWindowList(xcb_connection_t *connection);

} // namespace win
