#include "app/AppDelegate.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {
// Drawn here at the sizes taskbars and window switchers ask for, so that no icon plugin is needed.
QIcon applicationIcon()
{
    QSvgRenderer svg(QStringLiteral(":/assets/app.kelvo.Kelvo.svg"));
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
} // namespace

void AppDelegate::applicationDidFinishLaunching()
{
    // The desktop entry's name (the Wayland app id) and its icon on every window; on X11 the taskbar matches the
    // entry's StartupWMClass with the window class, the application's name.
    QGuiApplication::setDesktopFileName(QStringLiteral("app.kelvo.Kelvo"));
    QGuiApplication::setWindowIcon(applicationIcon());
    QGuiApplication::setQuitOnLastWindowClosed(false);
}
