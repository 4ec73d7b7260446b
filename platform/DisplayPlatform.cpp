#include "platform/DisplayPlatform.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QList>
#include <QStringList>

#include <cstdio>
#include <unistd.h>

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

bool platformChosenHere = false;

void choosePlatform(const char* platforms)
{
    qputenv("QT_QPA_PLATFORM", platforms);
    platformChosenHere = true;
}

struct HeldMessage {
    QtMsgType type;
    const char* category; // Qt's categories are names with static storage
    QString text;
};
QtMessageHandler previousHandler = nullptr;
QList<HeldMessage> heldMessages;

// What could not be opened, for each platform Qt was given.
QString unreachable()
{
    QStringList parts;
    for (const QString& platform :
         qEnvironmentVariable("QT_QPA_PLATFORM").split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString name = platform.section(QLatin1Char(':'), 0, 0);
        if (name == QLatin1String("xcb")) {
            parts.append(QStringLiteral("the X server at DISPLAY=%1 is not running or refused the connection (check "
                                        "XAUTHORITY)")
                             .arg(qEnvironmentVariable("DISPLAY")));
        } else if (name.startsWith(QLatin1String("wayland"))) {
            parts.append(QStringLiteral("the Wayland compositor at WAYLAND_DISPLAY=%1 could not be reached")
                             .arg(qEnvironmentVariable("WAYLAND_DISPLAY")));
        } else {
            parts.append(QStringLiteral("Qt's \"%1\" platform (QT_QPA_PLATFORM) did not start").arg(name));
        }
    }
    return parts.join(QStringLiteral("; "));
}

void openingHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        const QString line = QStringLiteral("Kelvo cannot open a display: %1.\n").arg(unreachable());
        std::fputs(line.toLocal8Bit().constData(), stderr);
        ::_exit(1); // Qt's state is half made: nothing more to run
    }
    heldMessages.append({type, context.category, message});
}
} // namespace

QString chooseDisplayPlatform()
{
    if (environmentHas("QT_QPA_PLATFORM")) {
        return {};
    }
    const bool wayland = environmentHas("WAYLAND_DISPLAY") && waylandPluginInstalled();
    if (environmentHas("DISPLAY")) {
        // Qt tries the platforms in turn: an X server that turns Kelvo away leaves the Wayland one.
        choosePlatform(wayland && QFileInfo::exists(waylandSocket()) ? "xcb;wayland" : "xcb");
        return {};
    }
    if (environmentHas("WAYLAND_DISPLAY")) {
        if (!wayland) {
            return QStringLiteral("Kelvo needs Qt's Wayland platform plugin (the qt6-wayland package) on a Wayland "
                                  "session without XWayland.");
        }
        if (!QFileInfo::exists(waylandSocket())) {
            return QStringLiteral("Kelvo cannot reach the Wayland display %1 (WAYLAND_DISPLAY).").arg(waylandSocket());
        }
        choosePlatform("wayland");
        return {};
    }
    return QStringLiteral("Kelvo needs a graphical desktop session (DISPLAY or WAYLAND_DISPLAY is not set).");
}

void guardDisplayOpening()
{
    heldMessages.clear();
    previousHandler = qInstallMessageHandler(openingHandler);
}

void displayOpened()
{
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage& held : std::as_const(heldMessages)) {
        previousHandler(held.type, QMessageLogContext(nullptr, 0, nullptr, held.category), held.text);
    }
    heldMessages.clear();
    if (platformChosenHere) {
        qunsetenv("QT_QPA_PLATFORM");
    }
}
