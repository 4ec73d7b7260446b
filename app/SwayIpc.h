#pragma once

#include <QPoint>
#include <QRect>
#include <QWindow>

#include <optional>

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
    // The part of `screen` that sway leaves to windows: the rectangle of the workspace shown there, which is the
    // output less what its bars reserve (sway tells X nothing about them). Asked and answered at once; nothing when
    // sway does not answer within a moment.
    static std::optional<QRect> usableArea(const QRect& screen);
};
