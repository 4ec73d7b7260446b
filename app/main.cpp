#include "platform/Preferences.h"
#include "service/SensiboService.h"
#include "updates/UpdateService.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QPointer>

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

// The first device load, then the first notice check: never in parallel.
QCoro::Task<> launch(SensiboService* devices, UpdateService* updater)
{
    co_await devices->initialLoad();
    co_await updater->checkOnLaunch();
}
} // namespace

int main(int argc, char* argv[])
{
    choosePlatform();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvo"));
    QApplication::setQuitOnLastWindowClosed(false);

    Preferences preferences;
    QNetworkAccessManager network; // one for the whole program; goes before the application object
    SensiboService devices(preferences, &network);
    UpdateService updater(preferences, &network, UpdateService::defaultSiteUrl());

    launch(&devices, &updater);
    return app.exec();
}
