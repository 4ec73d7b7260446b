#pragma once

#include <QString>

// Picks Qt's platform plugin for the tray program before the application object exists, by setting
// QT_QPA_PLATFORM: XWayland when it is there (a Wayland client cannot place its panel next to the icon), with Wayland
// itself to fall back on when the X server turns Kelvo away (a DISPLAY left over, no XAUTHORITY), and Wayland alone
// when there is no X. An explicit QT_QPA_PLATFORM always wins. Returns what keeps Kelvo from starting, if anything.
QString chooseDisplayPlatform();

// From here until displayOpened(), Qt failing to open any display (it aborts) ends the program instead with one
// line on stderr that says which display could not be reached, and exit status 1; Qt's own complaints about the
// plugins it tried are held back meanwhile. Call just before the application object is made.
void guardDisplayOpening();
// The application object has its display: Qt's held-back messages go out, and a QT_QPA_PLATFORM that
// chooseDisplayPlatform() set is taken out of the environment again, so that programs Kelvo starts choose their own.
void displayOpened();
