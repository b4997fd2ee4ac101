#pragma once

// What the X window manager is told about a window of ours that asks
// something over another one (an alert, the password prompt, the onboarding
// window): it keeps no frame, it can be moved and closed but never
// minimised, maximised or resized, and the task bar and the pager do not
// list it (its window, or the tray, stands for it). Set through the
// window's _MOTIF_WM_HINTS (functions move and close, no decorations) and
// _NET_WM_STATE (skip taskbar, skip pager) before it is mapped; a window
// manager reads both when it takes the window. Openbox, which offers a
// minimise to every dialog whatever its Motif functions, is told through
// _NET_WM_WINDOW_TYPE that the window is a toolbar before it is a dialog,
// so it offers none. A window manager that minimises it anyway (or takes it
// along with the window it belongs to) sees it come back at once, its window
// with it, with the keyboard. Nothing happens without an X server (Qt's
// offscreen platform).

class QWidget;

namespace tlr::WindowManagerHints {

// Call from the window's showEvent (the one that is not spontaneous): the
// window is created but not yet mapped then, and every show sets it again.
void keepWithItsWindow(QWidget* window);

// Asks the window manager to leave `window` out of the task bar (or to list
// it again) through its _NET_WM_STATE: a mapped window by a message to the
// root window, an unmapped one in its property, which Qt merges its own
// states into when it maps the window (a window manager drops the states of
// a window it withdrew, so call it before each show).
void setSkipTaskbar(QWidget* window, bool skip);

}  // namespace tlr::WindowManagerHints
