#include "app/KelvoApp.h"
#include "app/SingleInstance.h"
#include "platform/DisplayPlatform.h"

#include <QApplication>

#include <cstdio>

// Kelvo in the tray: what a bare `kelvo` starts. It lives in a library of its own that the `kelvo` program loads
// only for this, so that a call on the command line never maps the widget and window-system libraries.
extern "C" __attribute__((visibility("default"))) int kelvoTrayMain(int argc, char* argv[])
{
    if (const QString problem = chooseDisplayPlatform(); !problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", problem.toLocal8Bit().constData());
        return 1;
    }
    guardDisplayOpening();
    QApplication application(argc, argv);
    displayOpened();
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
    QObject::connect(&instance, &SingleInstance::keyReloadRequested, &kelvo, &KelvoApp::reloadApiKey);
    kelvo.start();
    return application.exec();
}
