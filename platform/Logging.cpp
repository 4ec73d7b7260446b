#include "platform/Logging.h"

// Qt shows debug lines of every category not named "qt.*" unless told otherwise: these start at warnings.
Q_LOGGING_CATEGORY(lcCloud, "kelvo.cloud", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTray, "kelvo.tray", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPrefs, "kelvo.prefs", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUpdates, "kelvo.updates", QtWarningMsg)
