#pragma once

#include <QString>

class SensiboService;

// The tray icon's tooltip body: the selected device and its state ("Living Room — Cool, 22°C", with ", off in 1 h
// 12 min" while a timer is set), "Loading…" while the first list loads, the error, or what is missing. The title is
// always "Kelvo".
QString trayToolTipBody(const SensiboService& service);
