#include "app/KelvoApp.h"
#include "app/SingleInstance.h"
#include "cli/CommandLine.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>

#include <cstdio>

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

// Wayland gives a client no global position, so the panel could not be placed next to its tray icon: prefer
// XWayland when it is there, and Wayland itself (the panel as a window) when it is not. An explicit
// QT_QPA_PLATFORM always wins. Returns what keeps Kelvo from starting, if anything.
QString choosePlatform()
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
} // namespace

int main(int argc, char* argv[])
{
    // Subcommands, --help and --version: handled here, with no display and no QApplication.
    if (CommandLine::isCommandLine(argc, argv)) {
        return CommandLine::run(argc, argv);
    }
    if (const QString problem = choosePlatform(); !problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", problem.toLocal8Bit().constData());
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvo"));
    QApplication::setApplicationVersion(QStringLiteral(KELVO_VERSION));

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Role::First:
        break;
    case SingleInstance::Role::HandedOver:
        std::printf("Kelvo is already running; its panel was opened.\n");
        return 0;
    case SingleInstance::Role::Unreachable:
        std::fprintf(stderr, "%s\n", instance.unreachableMessage().toLocal8Bit().constData());
        return 1;
    }

    KelvoApp kelvo;
    QObject::connect(&instance, &SingleInstance::activationRequested, &kelvo, &KelvoApp::openPanel);
    QObject::connect(&instance, &SingleInstance::refreshRequested, &kelvo, &KelvoApp::refreshNow);
    kelvo.start();
    return application.exec();
}
