#pragma once

#include <QString>

class SensiboService;

// The tray icon's tooltip. The title carries the state, because some hosts (LXQt) show only the title: "Kelvo:
// Living Room — Cool, 22°C" (with ", off in 1 h 12 min" while a timer is set), "Kelvo: Loading…", the error, or
// what is missing. The body adds a refused change's message, shown in the panel's footer too, when a device is shown.
struct TrayToolTip {
    QString title;
    QString body;

    static TrayToolTip of(const SensiboService& service);
};
