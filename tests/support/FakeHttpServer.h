#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class QTcpServer;
class QTcpSocket;

// A real HTTP/1.1 server on 127.0.0.1 for tests and demos. It records every request it receives and answers each
// one from a handler (or canned responses), with any status, headers and body, gzip-compressed on request,
// optionally after a delay, or by dropping the connection.
class FakeHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QByteArray target;                    // path + query exactly as on the request line
        QMap<QByteArray, QByteArray> headers; // names lower-cased
        QByteArray body;

        QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    };

    struct Response {
        int status = 200;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers; // extra headers, e.g. Content-Type
        bool gzip = false;                                // compress the body and send Content-Encoding: gzip
        int delayMs = 0;                                  // wait before answering
        bool dropConnection = false;                      // close the socket without answering
        int dropAfterBytes = -1;                          // >= 0: send this many bytes of the full answer, then close
        int trickleMs = 0;                                // > 0: send the answer one byte at a time, this far apart
        bool endlessBody = false; // status 200 and a chunked body that never ends, sent as fast as it is taken
    };

    using Handler = std::function<Response(const Request&)>;

    explicit FakeHttpServer(QObject* parent = nullptr);
    ~FakeHttpServer() override;

    // Listens on 127.0.0.1; port 0 picks a free one. Returns false when it cannot listen.
    bool listen(quint16 port = 0);
    quint16 port() const;
    QString baseUrl() const; // "http://127.0.0.1:<port>"

    // Answers every request (when no handler is set, the queued responses are used in order, the last one
    // repeating; with none queued the answer is 404).
    void setHandler(Handler handler);
    void enqueue(Response response);

    const QList<Request>& requests() const { return m_requests; }
    // How many endless bodies were begun, and how many of their bytes went out, over all connections.
    int endlessAnswers() const { return m_endlessAnswers; }
    qint64 endlessBytesSent() const { return m_endlessBytesSent; }
    void clearRequests() { m_requests.clear(); }

Q_SIGNALS:
    void requestReceived(const FakeHttpServer::Request& request);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Request& request);
    void processBuffered(QTcpSocket* socket);
    Response nextResponse(const Request& request);
    void send(QTcpSocket* socket, const Response& response, bool headOnly, bool closeAfter);
    void trickle(QTcpSocket* socket, const QByteArray& data, int intervalMs, bool closeAfter);
    void sendEndless(QTcpSocket* socket);
    void forget(QTcpSocket* socket);

    QTcpServer* m_server;
    Handler m_handler;
    QList<Response> m_queue;
    QList<Request> m_requests;
    QMap<QTcpSocket*, QByteArray> m_buffers;
    QSet<QTcpSocket*> m_busy; // connections whose current answer is delayed or still going out
    int m_endlessAnswers = 0;
    qint64 m_endlessBytesSent = 0;
};

// Gzip-compresses `data` (RFC 1952), as a cloud answer with Content-Encoding: gzip carries it.
QByteArray gzipCompress(const QByteArray& data);
