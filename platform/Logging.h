#pragma once

#include <QLoggingCategory>

// Diagnostics for the field, off by default. Switch them on without a rebuild:
//   QT_LOGGING_RULES="kelvo.*.debug=true" kelvo
// Each category logs with qCDebug only. The API key never goes into a line: log the request's path, not its URL.
Q_DECLARE_LOGGING_CATEGORY(lcCloud)   // kelvo.cloud: transfers cancelled, timed out, refused or cut off
Q_DECLARE_LOGGING_CATEGORY(lcTray)    // kelvo.tray: tray hosts, registrations, D-Bus errors, placement
Q_DECLARE_LOGGING_CATEGORY(lcPrefs)   // kelvo.prefs: failed reads and writes of the settings, locks
Q_DECLARE_LOGGING_CATEGORY(lcUpdates) // kelvo.updates: the notice download (the "[Update]" lines stay as they are)
