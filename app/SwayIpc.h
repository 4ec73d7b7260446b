#pragma once

#include <QPoint>
#include <QWindow>

// sway places every X11 window it floats in the middle of the screen, whatever position the window asks for; its
// own command socket moves it. Nothing happens outside sway.
class SwayIpc
{
public:
    // Under sway ($SWAYSOCK) on XWayland.
    static bool available();
    // Moves the X11 window to `position` (global, as Qt gives it), trying again for a second while sway does not know
    // the window yet; nobody waits for it.
    static void moveWindow(WId window, const QPoint& position);
};
