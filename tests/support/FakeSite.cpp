#include "tests/support/FakeSite.h"

#include <QUrl>

FakeSite::FakeSite(QObject* parent)
    : QObject(parent)
{
    m_server.setHandler([this](const FakeHttpServer::Request& request) { return handle(request); });
}

bool FakeSite::listen(quint16 port)
{
    return m_server.listen(port);
}

QByteArray FakeSite::downloadBytes()
{
    // The start of an empty zip archive: enough for a download to have something to save.
    return QByteArray("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22);
}

FakeHttpServer::Response FakeSite::handle(const FakeHttpServer::Request& request) const
{
    const QString path = QUrl(QString::fromLatin1(request.target)).path();
    const bool readOnly = request.method == "GET" || request.method == "HEAD";

    FakeHttpServer::Response response;
    if (readOnly && path == QLatin1String("/ac/updates.txt")) {
        response.status = m_status;
        response.body = m_notice;
        response.headers.emplaceBack("Content-Type", "text/plain; charset=utf-8");
        response.delayMs = m_delayMs;
        response.trickleMs = m_trickleMs;
        response.dropConnection = m_dropConnection;
        response.dropAfterBytes = m_dropAfterBytes;
    } else if (readOnly && path == QLatin1String("/ac/Kelvo.zip")) {
        response.body = downloadBytes();
        response.headers.emplaceBack("Content-Type", "application/zip");
    } else {
        response.status = 404;
        response.body = "Not Found";
        response.headers.emplaceBack("Content-Type", "text/plain; charset=utf-8");
    }
    return response;
}
