#pragma once

#include <QRect>

// Where the tray icon most likely is when no host has said: on the bar the desktop keeps windows off (the widest
// strip between the screen's `geometry` and its `available` part), at the end where trays sit (the right end of a
// top or bottom bar, the lower end of a side bar); with no such strip at the top right, where GNOME's top bar shows
// its icons. The answer is a point just outside `available`, as a host would report a click on that bar, so that
// the panel opens in that corner 4 px from the bar.
QRect likelyTrayAnchor(const QRect& geometry, const QRect& available);
