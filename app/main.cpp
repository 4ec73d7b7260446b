#include "app/KelvoApp.h"
#include "app/SingleInstance.h"
#include "cli/CommandLine.h"
#include "platform/DisplayPlatform.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Subcommands, --help and --version: handled here, with no display and no QApplication.
    if (CommandLine::isCommandLine(argc, argv)) {
        return CommandLine::run(argc, argv);
    }
    if (const QString problem = chooseDisplayPlatform(); !problem.isEmpty()) {
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
