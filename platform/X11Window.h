#pragma once

class QWidget;

// Window facts that Qt does not expose on X11.
namespace X11Window {

// Removes every title from the window: Qt names an untitled window after
// the application, and that name must not appear on the clock face's window.
void removeTitle(QWidget *window);

} // namespace X11Window
