// The floor for bench_cli: the least a Qt program does to make `kelvo status`'s request. Qt Core and Network only:
// one GET of the address it is given, asking for gzip as Kelvo does, the answer written to standard output as it
// came, exit status 0 on a 200 answer.

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s URL\n", argv[0]);
        return 2;
    }
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QString::fromLocal8Bit(argv[1])));
    request.setRawHeader("Accept-Encoding", "gzip");
    QNetworkReply* reply = network.get(request);
    QObject::connect(reply, &QNetworkReply::finished, &app, [reply] {
        const QByteArray body = reply->readAll();
        std::fwrite(body.constData(), 1, std::size_t(body.size()), stdout);
        const bool ok = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
        reply->deleteLater();
        QCoreApplication::exit(ok ? 0 : 1);
    });
    return app.exec();
}
