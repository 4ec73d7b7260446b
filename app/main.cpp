#include "app/KelvoApp.h"
#include "app/SingleInstance.h"
#include "cli/CommandLine.h"

#include <QApplication>

namespace {
// Wayland gives a client no global position, so the panel could not be placed next to its tray icon: prefer
// XWayland when it is there. No display at all (a server, a CI machine): run without one. An explicit
// QT_QPA_PLATFORM always wins.
void choosePlatform()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        return;
    }
    if (qEnvironmentVariableIsSet("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else if (!qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}
} // namespace

int main(int argc, char* argv[])
{
    // Subcommands, --help and --version: handled here, with no display and no QApplication.
    if (CommandLine::isCommandLine(argc, argv)) {
        return CommandLine::run(argc, argv);
    }
    choosePlatform();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvo"));
    QApplication::setApplicationVersion(QStringLiteral(KELVO_VERSION));

    SingleInstance instance;
    if (instance.handOverToRunningInstance()) {
        return 0;
    }

    KelvoApp kelvo;
    QObject::connect(&instance, &SingleInstance::activationRequested, &kelvo, &KelvoApp::openPanel);
    QObject::connect(&instance, &SingleInstance::refreshRequested, &kelvo, &KelvoApp::refreshNow);
    kelvo.start();
    return application.exec();
}
