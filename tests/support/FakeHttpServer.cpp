#include "tests/support/FakeHttpServer.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <zlib.h>

#include <memory>

namespace {

constexpr qsizetype kMaxHeaderBytes = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 202:
        return "Accepted";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Unknown";
    }
}

bool statusHasNoBody(int status)
{
    return (status >= 100 && status < 200) || status == 204 || status == 304;
}

bool hasHeader(const QList<std::pair<QByteArray, QByteArray>>& headers, const QByteArray& name)
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

enum class ParseResult { Incomplete, Complete, Malformed };

// Takes one complete request off the front of `buffer`, leaving whatever follows it (the next request on a
// keep-alive connection) in place.
ParseResult takeRequest(QByteArray& buffer, FakeHttpServer::Request& request)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        return buffer.size() > kMaxHeaderBytes ? ParseResult::Malformed : ParseResult::Incomplete;
    }

    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine[0].isEmpty() || requestLine[1].isEmpty() ||
        !requestLine[2].startsWith("HTTP/1.")) {
        return ParseResult::Malformed;
    }

    FakeHttpServer::Request parsed;
    parsed.method = requestLine[0];
    parsed.target = requestLine[1];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty()) {
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            return ParseResult::Malformed;
        }
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (parsed.headers.contains(name)) {
            parsed.headers[name] += ", " + value;
        } else {
            parsed.headers.insert(name, value);
        }
    }

    qsizetype contentLength = 0;
    if (parsed.headers.contains("content-length")) {
        bool ok = false;
        contentLength = parsed.headers.value("content-length").toLongLong(&ok);
        if (!ok || contentLength < 0) {
            return ParseResult::Malformed;
        }
    }

    const qsizetype bodyStart = headerEnd + 4;
    if (buffer.size() - bodyStart < contentLength) {
        return ParseResult::Incomplete;
    }
    parsed.body = buffer.mid(bodyStart, contentLength);
    buffer.remove(0, bodyStart + contentLength);
    request = std::move(parsed);
    return ParseResult::Complete;
}

QByteArray serialize(const FakeHttpServer::Response& response, bool headOnly, bool closeAfter)
{
    const bool noBody = statusHasNoBody(response.status);
    const QByteArray body = noBody ? QByteArray() : (response.gzip ? gzipCompress(response.body) : response.body);

    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    // A header the caller supplies wins over the one the server would add, so a test can make the answer lie.
    if (!noBody && !hasHeader(response.headers, "Content-Length")) {
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    for (const auto& [name, value] : response.headers) {
        out += name + ": " + value + "\r\n";
    }
    if (response.gzip && !noBody && !hasHeader(response.headers, "Content-Encoding")) {
        out += "Content-Encoding: gzip\r\n";
    }
    if (!hasHeader(response.headers, "Connection")) {
        out += closeAfter ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    }
    out += "\r\n";
    if (!headOnly) {
        out += body;
    }
    return out;
}

} // namespace

FakeHttpServer::FakeHttpServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &FakeHttpServer::onNewConnection);
}

FakeHttpServer::~FakeHttpServer()
{
    // The sockets are children of m_server; stop tracking them before they go.
    for (QTcpSocket* socket : m_server->findChildren<QTcpSocket*>()) {
        socket->disconnect(this);
    }
    m_server->close();
}

bool FakeHttpServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 FakeHttpServer::port() const
{
    return m_server->serverPort();
}

QString FakeHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void FakeHttpServer::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

void FakeHttpServer::enqueue(Response response)
{
    m_queue.append(std::move(response));
}

void FakeHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            forget(socket);
            socket->deleteLater();
        });
        connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
    }
}

void FakeHttpServer::onReadyRead(QTcpSocket* socket)
{
    if (!m_buffers.contains(socket)) {
        return;
    }
    m_buffers[socket] += socket->readAll();
    processBuffered(socket);
}

void FakeHttpServer::processBuffered(QTcpSocket* socket)
{
    // One request at a time per connection: while an answer is delayed, later requests wait in the buffer so that
    // the answers go out in the order of the requests.
    while (m_buffers.contains(socket) && !m_busy.contains(socket) &&
           socket->state() == QAbstractSocket::ConnectedState) {
        Request request;
        const ParseResult result = takeRequest(m_buffers[socket], request);
        if (result == ParseResult::Incomplete) {
            return;
        }
        if (result == ParseResult::Malformed) {
            Response bad;
            bad.status = 400;
            socket->write(serialize(bad, false, true));
            forget(socket);
            socket->disconnectFromHost();
            return;
        }

        m_requests.append(request);
        QPointer<QTcpSocket> guard(socket);
        Q_EMIT requestReceived(request);
        if (!guard) {
            return;
        }
        answer(socket, request);
    }
}

FakeHttpServer::Response FakeHttpServer::nextResponse(const Request& request)
{
    if (m_handler) {
        return m_handler(request);
    }
    if (m_queue.isEmpty()) {
        Response notFound;
        notFound.status = 404;
        return notFound;
    }
    return m_queue.size() > 1 ? m_queue.takeFirst() : m_queue.first();
}

void FakeHttpServer::answer(QTcpSocket* socket, const Request& request)
{
    const Response response = nextResponse(request);
    const bool headOnly = request.method == "HEAD";
    const bool closeAfter = request.header("connection").toLower() == "close";

    if (response.delayMs <= 0) {
        send(socket, response, headOnly, closeAfter);
        return;
    }

    m_busy.insert(socket);
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(response.delayMs, this, [this, guard, response, headOnly, closeAfter] {
        if (!guard) {
            return; // the client went away while we waited
        }
        QTcpSocket* waiting = guard.data();
        m_busy.remove(waiting);
        if (waiting->state() != QAbstractSocket::ConnectedState) {
            return;
        }
        send(waiting, response, headOnly, closeAfter);
        if (guard) {
            processBuffered(waiting);
        }
    });
}

void FakeHttpServer::send(QTcpSocket* socket, const Response& response, bool headOnly, bool closeAfter)
{
    if (response.dropConnection) {
        forget(socket);
        socket->abort();
        socket->deleteLater();
        return;
    }

    if (response.endlessBody) {
        sendEndless(socket);
        return;
    }
    const QByteArray data = serialize(response, headOnly, closeAfter);
    if (response.trickleMs > 0) {
        trickle(socket, data, response.trickleMs, closeAfter);
        return;
    }
    if (response.dropAfterBytes >= 0) {
        socket->write(data.left(response.dropAfterBytes));
        socket->flush();
        while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(1000)) {
        }
        forget(socket);
        socket->abort();
        socket->deleteLater();
        return;
    }

    socket->write(data);
    if (closeAfter) {
        forget(socket);
        socket->disconnectFromHost();
    }
}

void FakeHttpServer::trickle(QTcpSocket* socket, const QByteArray& data, int intervalMs, bool closeAfter)
{
    m_busy.insert(socket);
    auto* timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [this, socket, timer, data, sent, closeAfter] {
        if (socket->state() != QAbstractSocket::ConnectedState) {
            timer->deleteLater();
            return;
        }
        socket->write(data.mid((*sent)++, 1));
        if (*sent < data.size()) {
            return;
        }
        timer->deleteLater();
        m_busy.remove(socket);
        if (closeAfter) {
            forget(socket);
            socket->disconnectFromHost();
        } else {
            processBuffered(socket);
        }
    });
    timer->start(intervalMs);
}

void FakeHttpServer::sendEndless(QTcpSocket* socket)
{
    // Only a little is queued at a time: the body goes out as fast as the client reads it, and no faster.
    static const QByteArray chunk = QByteArray::number(64 * 1024, 16) + "\r\n" + QByteArray(64 * 1024, ' ') + "\r\n";
    m_busy.insert(socket);
    ++m_endlessAnswers;
    const auto topUp = [this, socket] {
        while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 4 * chunk.size()) {
            socket->write(chunk);
            m_endlessBytesSent += chunk.size();
        }
    };
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
    connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
    topUp();
}

void FakeHttpServer::forget(QTcpSocket* socket)
{
    m_buffers.remove(socket);
    m_busy.remove(socket);
}

QByteArray gzipCompress(const QByteArray& data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return {};
    }

    QByteArray out;
    out.resize(qsizetype(deflateBound(&stream, uLong(data.size()))) + 32);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());

    int status = Z_OK;
    while (status == Z_OK) {
        if (stream.total_out >= uLong(out.size())) {
            out.resize(out.size() * 2);
        }
        stream.next_out = reinterpret_cast<Bytef*>(out.data()) + stream.total_out;
        stream.avail_out = uInt(out.size() - qsizetype(stream.total_out));
        status = deflate(&stream, Z_FINISH);
    }
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}
