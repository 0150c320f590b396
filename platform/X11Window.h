#pragma once

class QWidget;

// Window facts that Qt does not expose on X11.
namespace X11Window {

// Removes every title from the window: Qt names an untitled window after
// the application, and that name must not appear on the clock face's window.
void removeTitle(QWidget *window);

// Keeps the window out of task bars and pagers; call before it is first shown.
void skipTaskbar(QWidget *window);

// Puts a shown window at the top of the stacking order, in the band of
// windows kept above the others, without activating it.
void raiseAboveOthers(QWidget *window);

// True when the window manager's active window (_NET_ACTIVE_WINDOW) is this
// window, or, without a window manager that says, when it has the input focus.
bool isForeground(const QWidget *window);

} // namespace X11Window
