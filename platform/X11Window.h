#pragma once

class QWidget;

// Window facts that Qt does not expose on X11.
namespace X11Window {

// Removes every title from the window: Qt names an untitled window after
// the application, and that name must not appear on the clock face's window.
void removeTitle(QWidget *window);

// Keeps the window out of task bars and pagers. Call before every show: a
// window manager drops these states when the window is hidden.
void skipTaskbar(QWidget *window);

// Asks the X server (or the window manager) to put the window's top-left
// corner there, even where Qt believes it is there already: Qt's idea of
// the place lags behind a quick succession of moves.
void moveTo(QWidget *window, int x, int y);

// Puts a shown window at the top of the stacking order, in the band of
// windows kept above the others, without activating it.
void raiseAboveOthers(QWidget *window);

// True when the window is mapped and the window manager's active window
// (_NET_ACTIVE_WINDOW) is this window, or, without a window manager that
// says, when it has the input focus. A window that is not mapped is never
// the foreground, whatever a stale property names: window ids are reused.
bool isForeground(const QWidget *window);

// Where no window manager runs, raises the window above each window mapped
// after it. Lasts as long as the window.
void keepAboveWithoutManager(QWidget *window);

// Asks again for the place and the mapping of a window that Qt holds for
// shown but that is unmapped and that no window manager has taken. A
// manager that is starting up when the window is shown may read the map
// request into a queue of its own and act on it only when another request
// wakes it (openbox does): the new request is that one.
void ensureMapped(QWidget *window);

} // namespace X11Window
