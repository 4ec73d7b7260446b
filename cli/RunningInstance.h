#pragma once

#include <QByteArray>
#include <QString>

// Tells the tray Kelvo listening on `socketPath` one of the instance socket's messages: to load its devices now,
// so that its panel and icon show a change made here at once, or to read the stored API key again. No Kelvo running
// is nothing to do; it waits at most `timeoutMs` for one that does not answer.
void askRunningInstance(const QString& socketPath, const QByteArray& message, int timeoutMs = 500);
