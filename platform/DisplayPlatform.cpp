#include "platform/DisplayPlatform.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QStringList>

namespace {
bool environmentHas(const char* name)
{
    return !qEnvironmentVariableIsEmpty(name);
}

// Whether Qt's Wayland platform plugin is installed where Qt will look for it.
bool waylandPluginInstalled()
{
    QStringList folders = qEnvironmentVariable("QT_PLUGIN_PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts);
    folders.append(QLibraryInfo::path(QLibraryInfo::PluginsPath));
    for (const QString& folder : folders) {
        if (QFileInfo::exists(folder + QStringLiteral("/platforms/libqwayland-generic.so"))) {
            return true;
        }
    }
    return false;
}

// The compositor's socket: WAYLAND_DISPLAY names it in $XDG_RUNTIME_DIR unless it is a path itself.
QString waylandSocket()
{
    const QString name = qEnvironmentVariable("WAYLAND_DISPLAY");
    return name.startsWith(QLatin1Char('/')) ? name : qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + name;
}
} // namespace

QString chooseDisplayPlatform()
{
    if (environmentHas("QT_QPA_PLATFORM")) {
        return {};
    }
    if (environmentHas("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        return {};
    }
    if (environmentHas("WAYLAND_DISPLAY")) {
        if (!waylandPluginInstalled()) {
            return QStringLiteral("Kelvo needs Qt's Wayland platform plugin (the qt6-wayland package) on a Wayland "
                                  "session without XWayland.");
        }
        if (!QFileInfo::exists(waylandSocket())) {
            return QStringLiteral("Kelvo cannot reach the Wayland display %1 (WAYLAND_DISPLAY).").arg(waylandSocket());
        }
        qputenv("QT_QPA_PLATFORM", "wayland");
        return {};
    }
    return QStringLiteral("Kelvo needs a graphical desktop session (DISPLAY or WAYLAND_DISPLAY is not set).");
}
