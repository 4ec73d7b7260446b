#include "app/AppDelegate.h"

#include <QGuiApplication>

void AppDelegate::applicationDidFinishLaunching()
{
    QGuiApplication::setDesktopFileName(QStringLiteral("app.kelvo.Kelvo"));
    QGuiApplication::setQuitOnLastWindowClosed(false);
}
