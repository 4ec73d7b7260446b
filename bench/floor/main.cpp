// The floor the benchmarks compare Kelvo with: the least a Qt Widgets tray utility that reads one device list does.
// It shows a tray icon and an empty popup of the panel's size, asks the cloud once for the device list (at
// KELVO_SENSIBO_API_URL, with the key in KELVO_BENCH_API_KEY, as Kelvo would), says "ready" on standard output when
// the answer is in and waits to be ended.
// Options: --height N (popup height, default 374), --request-first (ask before the icon and popup are made),
// --repeat-ms N (ask again every N ms, as Kelvo's refresh does), --text (the popup shows a few lines of text, as any
// panel that says something must: fonts, shaping and glyphs).

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QWidget>

#include <cstdio>
#include <utility>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    int height = 374;
    const QStringList arguments = app.arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--height")); at >= 0 && at + 1 < arguments.size()) {
        height = arguments.at(at + 1).toInt();
    }
    const bool requestFirst = arguments.contains(QStringLiteral("--request-first"));
    int repeatMs = 0;
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--repeat-ms")); at >= 0 && at + 1 < arguments.size()) {
        repeatMs = arguments.at(at + 1).toInt();
    }

    QNetworkAccessManager network;
    bool answered = false;
    const auto request = [&] {
        QUrl url(qEnvironmentVariable("KELVO_SENSIBO_API_URL") + QStringLiteral("/users/me/pods"));
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("apiKey"), qEnvironmentVariable("KELVO_BENCH_API_KEY"));
        query.addQueryItem(QStringLiteral("fields"), QStringLiteral("*"));
        url.setQuery(query);
        QNetworkReply* reply = network.get(QNetworkRequest(url));
        QObject::connect(reply, &QNetworkReply::finished, &app, [reply, &answered] {
            const QByteArray body = reply->readAll();
            if (reply->error() != QNetworkReply::NoError) {
                std::fprintf(stderr, "the device list failed: %s\n", qPrintable(reply->errorString()));
            }
            reply->deleteLater();
            if (!std::exchange(answered, true)) {
                std::printf("ready %lld\n", static_cast<long long>(body.size()));
                std::fflush(stdout);
            }
        });
    };
    QTimer repeat;
    if (repeatMs > 0) {
        QObject::connect(&repeat, &QTimer::timeout, &app, request);
        repeat.start(repeatMs);
    }
    if (requestFirst) {
        request();
    }

    QPixmap picture(22, 22);
    picture.fill(QColor(40, 120, 220));
    QSystemTrayIcon tray{QIcon(picture)};
    tray.show();

    QWidget popup(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    popup.resize(300, height);
    if (arguments.contains(QStringLiteral("--text"))) {
        auto* label = new QLabel(QStringLiteral("Living Room\n22.5°C · 45% humidity\nOnline"), &popup);
        label->move(16, 16);
    }
    popup.show();

    if (!requestFirst) {
        request();
    }
    return app.exec();
}
