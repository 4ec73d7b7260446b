#pragma once

#include <QString>

// Picks Qt's platform plugin for the tray program before the application object exists, by setting
// QT_QPA_PLATFORM: XWayland when it is there (a Wayland client cannot place its panel next to the icon), Wayland
// itself when it is not. An explicit QT_QPA_PLATFORM always wins. Returns what keeps Kelvo from starting, if
// anything.
QString chooseDisplayPlatform();
