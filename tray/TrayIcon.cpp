#include "tray/TrayIcon.h"
