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

// Keeps a window that Qt has shown mapped on the screen. A window manager
// that is starting up when the window is shown can read its map request
// into a queue of its own and act on it only when another request reaches
// it; Qt then holds the window for shown while it stays withdrawn. The
// request is made again each time the manager is seen at work; a window
// that is mapped, or that a manager has taken, is left alone. Where no
// window manager runs, the window is also raised above each window mapped
// after it. Lasts as long as the window.
void keepMapped(QWidget *window);
// The same, once, now: a shown window that nobody mapped is asked for again,
// which also hands a manager sitting on the first request a new one.
void ensureMapped(QWidget *window);

} // namespace X11Window
