#pragma once

#include <QString>

// Tells the tray Kelvo listening on `socketPath` to load its devices now, so that its panel and icon show a change
// made here at once. No Kelvo running is nothing to do; it waits at most `timeoutMs` for one that does not answer.
void askRunningInstanceToRefresh(const QString& socketPath, int timeoutMs = 500);
