// Network: bytes on the wire for one device-list refresh with 10 devices, as Kelvo's client and the loopback cloud
// exchange them, with the cloud's gzip on (as the real cloud sends it) and, for comparison, off.
// Kelvo runs as its own process and talks to a small TCP proxy in this process that passes every byte on to the
// fake cloud and counts both directions; the bytes are HTTP as sent (request line and headers, status line,
// headers and body). The figure is for the first load; --wait-refresh also waits for the next periodic refresh
// (30 s later) in the first run of each encoding and reports it. Also reports how many device-list exchanges
// happen in Kelvo's first second.
// Not counted: TCP/IP framing, and TLS, which the real cloud (https) adds.
// Options: --runs N (default 5 for each encoding), --wait-refresh, --kelvo PATH, --platform NAME.

#include "bench/BenchSupport.h"
#include "tests/support/FakeSite.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <list>

namespace {

// Passes bytes between each client connection and the cloud, keeping a copy of each direction.
class CountingProxy
{
public:
    struct Connection {
        QByteArray up;   // client → cloud
        QByteArray down; // cloud → client
    };

    explicit CountingProxy(quint16 upstreamPort)
        : m_upstreamPort(upstreamPort)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_server.serverPort(); }
    const std::list<Connection>& connections() const { return m_connections; }
    void clear() { m_connections.clear(); }

private:
    void accept()
    {
        while (QTcpSocket* client = m_server.nextPendingConnection()) {
            m_connections.emplace_back();
            Connection* record = &m_connections.back();
            auto* upstream = new QTcpSocket(client);
            auto pending = std::make_shared<QByteArray>();
            QObject::connect(upstream, &QTcpSocket::connected, upstream, [upstream, pending] {
                upstream->write(*pending);
                pending->clear();
            });
            QObject::connect(client, &QTcpSocket::readyRead, client, [client, upstream, pending, record] {
                const QByteArray data = client->readAll();
                record->up += data;
                if (upstream->state() == QAbstractSocket::ConnectedState) {
                    upstream->write(data);
                } else {
                    *pending += data;
                }
            });
            QObject::connect(upstream, &QTcpSocket::readyRead, upstream, [client, upstream, record] {
                const QByteArray data = upstream->readAll();
                record->down += data;
                client->write(data);
            });
            QObject::connect(upstream, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
            QObject::connect(client, &QTcpSocket::disconnected, client, [client] { client->deleteLater(); });
            upstream->connectToHost(QHostAddress::LocalHost, m_upstreamPort);
        }
    }

    QTcpServer m_server;
    quint16 m_upstreamPort;
    std::list<Connection> m_connections;
};

struct Message {
    QByteArray head; // start line and headers, with the blank line
    qsizetype bodyBytes = 0;
    qsizetype total() const { return head.size() + bodyBytes; }
};

// Splits a byte stream into HTTP/1.1 messages framed by Content-Length (all Kelvo and the fake cloud use).
QList<Message> split(const QByteArray& stream)
{
    QList<Message> messages;
    qsizetype at = 0;
    while (at < stream.size()) {
        const qsizetype end = stream.indexOf("\r\n\r\n", at);
        if (end < 0) {
            break;
        }
        Message message;
        message.head = stream.mid(at, end + 4 - at);
        for (const QByteArray& line : message.head.split('\n')) {
            if (line.toLower().startsWith("content-length:")) {
                message.bodyBytes = line.mid(15).trimmed().toLongLong();
            }
        }
        if (end + 4 + message.bodyBytes > stream.size()) {
            break; // incomplete
        }
        at = end + 4 + message.bodyBytes;
        messages.append(message);
    }
    return messages;
}

struct Exchange {
    Message request;
    Message response;
    int connection = 0;
    qsizetype total() const { return request.total() + response.total(); }
};

// The device-list exchanges, in order.
QList<Exchange> deviceListExchanges(const std::list<CountingProxy::Connection>& connections)
{
    QList<Exchange> exchanges;
    int index = 0;
    for (const auto& connection : connections) {
        const QList<Message> requests = split(connection.up);
        const QList<Message> responses = split(connection.down);
        for (qsizetype i = 0; i < requests.size() && i < responses.size(); ++i) {
            if (requests[i].head.startsWith("GET /api/v2/users/me/pods")) {
                exchanges.append({requests[i], responses[i], index});
            }
        }
        ++index;
    }
    return exchanges;
}

QByteArray headerNames(const QByteArray& head)
{
    QByteArrayList names;
    const QList<QByteArray> lines = head.trimmed().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        names.append(lines[i].left(lines[i].indexOf(':')).trimmed());
    }
    return names.join(", ");
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int runs = bench::intOption(arguments, QStringLiteral("--runs"), 5);
    const bool waitRefresh = arguments.contains(QStringLiteral("--wait-refresh"));
    const QString kelvo = bench::kelvoPath(arguments);
    const QString platform = bench::platformName(arguments);

    bench::printMachine("bench_network", QStringLiteral("Kelvo on the %1 platform").arg(platform));

    FakeSensiboCloud cloud;
    FakeSite site;
    if (!cloud.listen() || !site.listen()) {
        std::printf("cannot listen on 127.0.0.1\n");
        return 1;
    }
    cloud.setApiKey(QStringLiteral("bench-key"));
    cloud.setDevices(bench::devices(10));
    CountingProxy proxy(cloud.port());
    if (!proxy.listen()) {
        std::printf("cannot listen on 127.0.0.1\n");
        return 1;
    }
    const QString proxiedUrl = QStringLiteral("http://127.0.0.1:%1/api/v2").arg(proxy.port());

    bool printedHeaders = false;
    for (const bool gzip : {true, false}) {
        cloud.setGzip(gzip);
        std::vector<double> requestBytes, responseHeadBytes, responseBodyBytes, totals;
        for (int run = 0; run < runs; ++run) {
            proxy.clear();
            bench::Spawned kelvoProcess;
            kelvoProcess.storeApiKey(QStringLiteral("bench-key"));
            // The first load; with --wait-refresh (first run only) also the periodic refresh 30 s later.
            const bool waitForRefresh = waitRefresh && run == 0;
            kelvoProcess.start(kelvo, bench::kelvoEnvironment(kelvoProcess, platform, proxiedUrl, site.baseUrl()));
            const auto exchangeCount = [&] { return deviceListExchanges(proxy.connections()).size(); };
            if (!bench::spinUntil([&] { return exchangeCount() >= 1 || !kelvoProcess.running(); }, 10000) ||
                exchangeCount() < 1) {
                std::printf("Kelvo's device list did not come through the proxy\n%s\n",
                            kelvoProcess.errors().constData());
                return 1;
            }
            bench::spinFor(1000);
            const qsizetype atStart = exchangeCount();
            if (waitForRefresh &&
                !bench::spinUntil([&] { return exchangeCount() > atStart || !kelvoProcess.running(); }, 45000)) {
                std::printf("no periodic refresh within 45 s\n");
                return 1;
            }
            bench::spinFor(200);
            kelvoProcess.stop();

            const QList<Exchange> exchanges = deviceListExchanges(proxy.connections());
            const Exchange& first = exchanges.first();
            requestBytes.push_back(double(first.request.total()));
            responseHeadBytes.push_back(double(first.response.head.size()));
            responseBodyBytes.push_back(double(first.response.bodyBytes));
            totals.push_back(double(first.total()));
            if (!printedHeaders) {
                printedHeaders = true;
                std::printf("request headers Kelvo sends: %s\n", headerNames(first.request.head).constData());
                std::printf("response headers the fake cloud sends: %s\n",
                            headerNames(first.response.head).constData());
            }
            if (run == 0) {
                std::printf("%s: device-list exchanges in Kelvo's first second: %lld (the first %lld B)\n",
                            gzip ? "gzip" : "without gzip", static_cast<long long>(atStart),
                            static_cast<long long>(first.total()));
            }
            if (waitForRefresh) {
                const Exchange& refresh = exchanges.last();
                std::printf(
                    "periodic refresh 30 s later (%s connection): request %lld B, response %lld B (head %lld "
                    "+ body %lld), total %lld B\n",
                    refresh.connection == first.connection ? "the same, kept-alive" : "a new",
                    static_cast<long long>(refresh.request.total()), static_cast<long long>(refresh.response.total()),
                    static_cast<long long>(refresh.response.head.size()),
                    static_cast<long long>(refresh.response.bodyBytes), static_cast<long long>(refresh.total()));
            }
        }
        std::printf("%s: request %s B; response head %s B, body %s B; per refresh %s B\n",
                    gzip ? "gzip (as the cloud sends it)" : "without gzip",
                    bench::describe(bench::summarize(requestBytes), 0).c_str(),
                    bench::describe(bench::summarize(responseHeadBytes), 0).c_str(),
                    bench::describe(bench::summarize(responseBodyBytes), 0).c_str(),
                    bench::describe(bench::summarize(totals), 0).c_str());
    }
    std::printf("(HTTP bytes over loopback; TCP/IP framing and the TLS the real cloud uses come on top)\n");
    return 0;
}
