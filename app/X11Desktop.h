#pragma once

#include <QList>
#include <QRect>
#include <QString>

class QScreen;
class QWindow;

// What Kelvo asks of an X11 desktop beyond what Qt offers: the room the docks (panel bars) keep on each monitor, and
// keeping the panel out of taskbars. Elsewhere it answers Qt's own values and does nothing.
class X11Desktop
{
public:
    // A dock's _NET_WM_STRUT_PARTIAL (the left, right, top and bottom widths, then the start and end of each along
    // its edge), or its older _NET_WM_STRUT (the four widths alone: the whole edge).
    using Strut = QList<quint32>;

    // The screen's available geometry: Qt's, less what the docks keep on that screen. Qt takes it from
    // _NET_WORKAREA, one rectangle for all monitors, which cannot leave out a bar at an edge between two monitors;
    // without a window manager there is no work area at all. Under sway, which tells X nothing about its bars, also
    // less what they keep (SwayIpc::usableArea).
    static QRect availableGeometry(QScreen* screen);
    // `available`, on `screen`, less the parts of the screen the struts keep, in a root window of `root` size.
    static QRect withStruts(const QRect& screen, QRect available, const QList<Strut>& struts, const QSize& root);
    // Asks the window manager to leave the window out of taskbars and pagers; call it before the window is shown.
    static void keepOffTaskbars(QWindow* window);
    // Gives the window the startup id (_NET_STARTUP_ID) it is shown for, or takes it away when `id` is empty; call
    // it before the window maps. A window manager that keeps the keyboard from windows nobody asked for lets one with
    // the id of a recent click have it; Mutter takes the tray host's xdg-activation token here too.
    static void setStartupId(QWindow* window, const QString& id);
    // The running window manager's name (_NET_WM_NAME of its _NET_SUPPORTING_WM_CHECK window, "GNOME Shell" for
    // Mutter under GNOME), or empty without one or off X11.
    static QString windowManagerName();
};
