#pragma once

// Receives the application's life-cycle calls. Kelvo lives in the tray only: no taskbar entry, no main window, and
// closing its last window does not end it.
class AppDelegate
{
public:
    void applicationDidFinishLaunching();
};
