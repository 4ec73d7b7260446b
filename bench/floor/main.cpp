// The floor for bench_memory: the least a Qt Widgets tray utility holds. It shows a tray icon and an empty popup
// of the panel's width, then says "ready" on standard output and waits to be ended.
// Options: --height N (popup height, default 400).

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    int height = 400;
    const QStringList arguments = app.arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--height")); at >= 0 && at + 1 < arguments.size()) {
        height = arguments.at(at + 1).toInt();
    }

    QPixmap picture(22, 22);
    picture.fill(QColor(40, 120, 220));
    QSystemTrayIcon tray{QIcon(picture)};
    tray.show();

    QWidget popup(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    popup.resize(300, height);
    popup.show();

    QTimer::singleShot(0, &app, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return app.exec();
}
