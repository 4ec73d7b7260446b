#include "tests/support/FakeHttpServer.h"
#include "tests/support/FakeSensiboCloud.h"
#include "tests/support/FakeSite.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#include <zlib.h>

namespace {

// Waits for the reply to finish; false on timeout.
bool finish(QNetworkReply* reply, int timeoutMs = 5000)
{
    if (reply->isFinished()) {
        return true;
    }
    QSignalSpy spy(reply, &QNetworkReply::finished);
    return spy.wait(timeoutMs);
}

QByteArray gunzip(const QByteArray& data)
{
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        return {};
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    QByteArray out;
    char chunk[4096];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof(chunk);
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, qsizetype(sizeof(chunk) - stream.avail_out));
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray("<corrupt gzip stream>");
}

// Reads answers from a raw socket until `count` whole ones (headers and Content-Length body) have arrived. The
// server runs in this thread, so this waits with the event loop running.
QByteArray readAnswers(QTcpSocket& socket, int count = 1)
{
    QByteArray data;
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        data += socket.readAll();
        qsizetype at = 0;
        int complete = 0;
        while (complete < count) {
            const qsizetype headerEnd = data.indexOf("\r\n\r\n", at);
            const qsizetype lengthAt = data.indexOf("Content-Length: ", at);
            if (headerEnd < 0 || lengthAt < 0 || lengthAt > headerEnd) {
                break;
            }
            const qsizetype lineEnd = data.indexOf("\r\n", lengthAt);
            const qsizetype length = data.mid(lengthAt + 16, lineEnd - lengthAt - 16).toLongLong();
            if (data.size() < headerEnd + 4 + length) {
                break;
            }
            at = headerEnd + 4 + length;
            ++complete;
        }
        if (complete == count) {
            return data;
        }
        QSignalSpy readyRead(&socket, &QTcpSocket::readyRead);
        readyRead.wait(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return data;
}

FakeHttpServer::Response textResponse(const QByteArray& body)
{
    FakeHttpServer::Response response;
    response.body = body;
    response.headers.emplaceBack("Content-Type", "text/plain");
    return response;
}

} // namespace

class TestFakeHttpServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_nam = std::make_unique<QNetworkAccessManager>();
        m_nam->setProxy(QNetworkProxy::NoProxy);
    }

    void splitAndPipelinedRequestsOnOneConnection()
    {
        FakeHttpServer server;
        QVERIFY(server.listen());
        server.enqueue(textResponse("first"));
        server.enqueue(textResponse("second"));

        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(socket.waitForConnected(5000));

        // The first request arrives in three pieces, cut inside the headers and inside the body.
        socket.write("POST /one HTTP/1.1\r\nHost: x\r\nContent-Le");
        socket.flush();
        QTest::qWait(50);
        socket.write("ngth: 10\r\n\r\n01234");
        socket.flush();
        QTest::qWait(50);
        QCOMPARE(server.requests().size(), 0);
        socket.write("56789");
        const QByteArray first = readAnswers(socket);
        QVERIFY2(first.startsWith("HTTP/1.1 200 OK\r\n"), first.constData());
        QVERIFY(first.contains("Connection: keep-alive\r\n"));
        QVERIFY(first.endsWith("\r\n\r\nfirst"));
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(server.requests()[0].body, QByteArray("0123456789"));

        // Two more on the same connection in one write; the last queued answer repeats.
        socket.write("POST /two HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcGET /three HTTP/1.1\r\nHost: x\r\n\r\n");
        const QByteArray rest = readAnswers(socket, 2);
        QCOMPARE(rest.count("HTTP/1.1 200 OK\r\n"), 2);
        QCOMPARE(rest.count("second"), 2);
        QCOMPARE(server.requests().size(), 3);
        QCOMPARE(server.requests()[1].target, QByteArray("/two"));
        QCOMPARE(server.requests()[1].body, QByteArray("abc"));
        QCOMPARE(server.requests()[2].target, QByteArray("/three"));
        QCOMPARE(server.requests()[2].body, QByteArray());

        // Through Qt's own client, twice in a row.
        for (const char* path : {"/four", "/five"}) {
            std::unique_ptr<QNetworkReply> reply(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + path))));
            QVERIFY(finish(reply.get()));
            QCOMPARE(reply->error(), QNetworkReply::NoError);
            QCOMPARE(reply->readAll(), QByteArray("second"));
        }
        QCOMPARE(server.requests().last().target, QByteArray("/five"));
    }

    void statusesAndEmptyQueue()
    {
        FakeHttpServer server;
        QVERIFY(server.listen());

        std::unique_ptr<QNetworkReply> missing(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + "/x"))));
        QVERIFY(finish(missing.get()));
        QCOMPARE(missing->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
        QCOMPARE(missing->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(),
                 QStringLiteral("Not Found"));

        server.setHandler([](const FakeHttpServer::Request& request) {
            FakeHttpServer::Response response;
            response.status = request.target == "/limited" ? 429 : 204;
            response.body = "ignored for 204";
            response.headers.emplaceBack("Retry-After", "7");
            return response;
        });
        std::unique_ptr<QNetworkReply> limited(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + "/limited"))));
        QVERIFY(finish(limited.get()));
        QCOMPARE(limited->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 429);
        QCOMPARE(limited->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(),
                 QStringLiteral("Too Many Requests"));
        QCOMPARE(limited->rawHeader("Retry-After"), QByteArray("7"));
        QCOMPARE(limited->readAll(), QByteArray("ignored for 204"));

        std::unique_ptr<QNetworkReply> empty(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + "/empty"))));
        QVERIFY(finish(empty.get()));
        QCOMPARE(empty->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 204);
        QCOMPARE(empty->readAll(), QByteArray());
    }

    void gzipRoundTrip()
    {
        const QByteArray body = QByteArray("{\"status\":\"success\",\"result\":[]}").repeated(50);
        const QByteArray compressed = gzipCompress(body);
        QVERIFY(compressed.startsWith("\x1f\x8b"));
        QVERIFY(compressed.size() < body.size());
        QCOMPARE(gunzip(compressed), body);

        FakeHttpServer server;
        QVERIFY(server.listen());
        FakeHttpServer::Response response = textResponse(body);
        response.gzip = true;
        server.enqueue(response);

        // Asked for by hand, the compressed bytes reach us as they are.
        QNetworkRequest request(QUrl(server.baseUrl() + "/gz"));
        request.setRawHeader("Accept-Encoding", "gzip");
        std::unique_ptr<QNetworkReply> raw(m_nam->get(request));
        QVERIFY(finish(raw.get()));
        QCOMPARE(raw->error(), QNetworkReply::NoError);
        QCOMPARE(raw->rawHeader("Content-Encoding"), QByteArray("gzip"));
        QCOMPARE(gunzip(raw->readAll()), body);
        QCOMPARE(server.requests().last().header("Accept-Encoding"), QByteArray("gzip"));

        // Left to Qt, it asks for gzip itself and decodes the answer.
        std::unique_ptr<QNetworkReply> decoded(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + "/gz"))));
        QVERIFY(finish(decoded.get()));
        QCOMPARE(decoded->readAll(), body);
    }

    void recordsRequestBeforeAnswering()
    {
        FakeHttpServer server;
        QVERIFY(server.listen());
        QSignalSpy received(&server, &FakeHttpServer::requestReceived);
        int recordedWhenAnswering = -1;
        server.setHandler([&](const FakeHttpServer::Request&) {
            recordedWhenAnswering = int(server.requests().size());
            return textResponse("ok");
        });

        QNetworkRequest request(QUrl(server.baseUrl() + "/api/v2/pods/abc/acStates/on?apiKey=k%20y"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        request.setRawHeader("X-Custom-Thing", "Value");
        std::unique_ptr<QNetworkReply> reply(m_nam->sendCustomRequest(request, "PATCH", "{\"newValue\":true}"));
        QVERIFY(finish(reply.get()));
        QCOMPARE(reply->readAll(), QByteArray("ok"));

        QCOMPARE(recordedWhenAnswering, 1);
        QCOMPARE(received.size(), 1);
        const FakeHttpServer::Request recorded = server.requests().first();
        QCOMPARE(recorded.method, QByteArray("PATCH"));
        QCOMPARE(recorded.target, QByteArray("/api/v2/pods/abc/acStates/on?apiKey=k%20y"));
        QCOMPARE(recorded.body, QByteArray("{\"newValue\":true}"));
        QCOMPARE(recorded.headers.value("x-custom-thing"), QByteArray("Value"));
        QCOMPARE(recorded.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(recorded.header("content-length"), QByteArray("17"));
        QCOMPARE(received.first().first().value<FakeHttpServer::Request>().target, recorded.target);
    }

    void delayKeepsServerResponsive()
    {
        FakeHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const FakeHttpServer::Request& request) {
            FakeHttpServer::Response response = textResponse(request.target);
            response.delayMs = request.target == "/slow" ? 600 : 0;
            return response;
        });

        QElapsedTimer clock;
        clock.start();
        std::unique_ptr<QNetworkReply> slow(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + "/slow"))));
        QTRY_COMPARE(server.requests().size(), 1);
        std::unique_ptr<QNetworkReply> fast(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + "/fast"))));
        QVERIFY(finish(fast.get()));
        QCOMPARE(fast->readAll(), QByteArray("/fast"));
        QVERIFY(!slow->isFinished());
        QVERIFY(finish(slow.get()));
        QVERIFY(clock.elapsed() >= 550);
        QCOMPARE(slow->readAll(), QByteArray("/slow"));

        // A client that gives up while the answer is held back does not trouble the server.
        std::unique_ptr<QNetworkReply> abandoned(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + "/slow"))));
        QTRY_COMPARE(server.requests().size(), 3);
        abandoned->abort();
        QTest::qWait(700);
        std::unique_ptr<QNetworkReply> after(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + "/after"))));
        QVERIFY(finish(after.get()));
        QCOMPARE(after->readAll(), QByteArray("/after"));
    }

    void dropsGiveNetworkErrors()
    {
        FakeHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const FakeHttpServer::Request& request) {
            FakeHttpServer::Response response = textResponse(QByteArray(2000, 'x'));
            if (request.target == "/drop") {
                response.dropConnection = true;
            } else if (request.target == "/cut") {
                response.dropAfterBytes = 100; // past the headers, inside the body
            } else if (request.target == "/cut-at-zero") {
                response.dropAfterBytes = 0;
            }
            return response;
        });

        for (const char* path : {"/drop", "/cut", "/cut-at-zero"}) {
            std::unique_ptr<QNetworkReply> reply(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + path))));
            QVERIFY(finish(reply.get()));
            QVERIFY2(reply->error() != QNetworkReply::NoError, path);
            QCOMPARE(server.requests().last().target, QByteArray(path));
        }

        std::unique_ptr<QNetworkReply> whole(m_nam->get(QNetworkRequest(QUrl(server.baseUrl() + "/whole"))));
        QVERIFY(finish(whole.get()));
        QCOMPARE(whole->error(), QNetworkReply::NoError);
        QCOMPARE(whole->readAll().size(), 2000);
    }

    void cloudAppliesStateChanges()
    {
        FakeSensiboCloud cloud;
        QVERIFY(cloud.listen());
        QVERIFY(cloud.baseUrl().endsWith(QStringLiteral("/api/v2")));
        const QString fields =
            QStringLiteral("&fields=id,room,acState,measurements,connectionStatus,remoteCapabilities");

        auto get = [&](const QString& key) {
            std::unique_ptr<QNetworkReply> reply(
                m_nam->get(QNetworkRequest(QUrl(cloud.baseUrl() + "/users/me/pods?apiKey=" + key + fields))));
            finish(reply.get());
            return reply;
        };
        auto patch = [&](const QString& id, const QString& property, const QByteArray& body) {
            QNetworkRequest request(
                QUrl(cloud.baseUrl() + "/pods/" + id + "/acStates/" + property + "?apiKey=test-key"));
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            std::unique_ptr<QNetworkReply> reply(m_nam->sendCustomRequest(request, "PATCH", body));
            finish(reply.get());
            return reply;
        };
        auto status = [](const std::unique_ptr<QNetworkReply>& reply) {
            return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        };

        auto list = get(QStringLiteral("test-key"));
        QCOMPARE(status(list), 200);
        const QJsonObject listed = QJsonDocument::fromJson(list->readAll()).object();
        QCOMPARE(listed.value("status").toString(), QStringLiteral("success"));
        const QJsonObject first = listed.value("result").toArray().first().toObject();
        QCOMPARE(first.value("id").toString(), QStringLiteral("abc123"));
        QCOMPARE(first.value("acState").toObject().value("targetTemperature").toInt(), 22);
        QVERIFY(first.contains("remoteCapabilities"));
        QVERIFY(!first.contains("firmwareVersion")); // not among the requested fields

        QCOMPARE(status(get(QStringLiteral("wrong"))), 401);

        auto changed = patch("abc123", "targetTemperature", "{\"newValue\": 25}");
        QCOMPARE(status(changed), 200);
        const QJsonObject result = QJsonDocument::fromJson(changed->readAll()).object().value("result").toObject();
        QCOMPARE(result.value("status").toString(), QStringLiteral("Success"));
        QCOMPARE(result.value("acState").toObject().value("targetTemperature").toInt(), 25);
        QCOMPARE(result.value("acState").toObject().value("mode").toString(), QStringLiteral("cool"));
        QCOMPARE(result.value("changedProperties").toArray(), QJsonArray{QStringLiteral("targetTemperature")});
        QVERIFY(result.value("failureReason").isNull());
        QCOMPARE(cloud.requests().last().body, QByteArray("{\"newValue\": 25}"));

        QCOMPARE(status(patch("nosuch", "on", "{\"newValue\": true}")), 404);
        QCOMPARE(status(patch("abc123", "on", "{\"newValue\": tr")), 400);
        QCOMPARE(cloud.device("abc123").value("acState").toObject().value("on"), QJsonValue(true));

        // The change shows in the next list, here gzip-compressed and decoded by Qt.
        cloud.setGzip(true);
        auto again = get(QStringLiteral("test-key"));
        QVERIFY(cloud.requests().last().header("accept-encoding").contains("gzip"));
        const QJsonArray devices = QJsonDocument::fromJson(again->readAll()).object().value("result").toArray();
        QCOMPARE(devices.first().toObject().value("acState").toObject().value("targetTemperature").toInt(), 25);

        // A client that does not accept gzip gets plain JSON.
        QNetworkRequest plainRequest(QUrl(cloud.baseUrl() + "/users/me/pods?apiKey=test-key" + fields));
        plainRequest.setRawHeader("Accept-Encoding", "identity");
        std::unique_ptr<QNetworkReply> plain(m_nam->get(plainRequest));
        QVERIFY(finish(plain.get()));
        QVERIFY(!plain->hasRawHeader("Content-Encoding"));
        QVERIFY(QJsonDocument::fromJson(plain->readAll()).isObject());

        // A forced answer, once; then the cloud answers normally again.
        FakeHttpServer::Response unavailable;
        unavailable.status = 503;
        cloud.overrideDeviceList(unavailable, 1);
        QCOMPARE(status(get(QStringLiteral("test-key"))), 503);
        QCOMPARE(status(get(QStringLiteral("test-key"))), 200);
        QCOMPARE(cloud.deviceListCount(), 6);
        QCOMPARE(cloud.stateChangeCount(), 3);
    }

    void siteServesNotice()
    {
        FakeSite site;
        QVERIFY(site.listen());
        site.setNotice("Kelvo 1.1 is out.\n");

        std::unique_ptr<QNetworkReply> notice(m_nam->get(QNetworkRequest(QUrl(site.noticeUrl()))));
        QVERIFY(finish(notice.get()));
        QCOMPARE(notice->readAll(), QByteArray("Kelvo 1.1 is out.\n"));

        std::unique_ptr<QNetworkReply> zip(m_nam->get(QNetworkRequest(QUrl(site.baseUrl() + "/ac/Kelvo.zip"))));
        QVERIFY(finish(zip.get()));
        QCOMPARE(zip->readAll(), FakeSite::downloadBytes());

        std::unique_ptr<QNetworkReply> other(m_nam->get(QNetworkRequest(QUrl(site.baseUrl() + "/ac/other.txt"))));
        QVERIFY(finish(other.get()));
        QCOMPARE(other->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);

        site.setStatus(500);
        std::unique_ptr<QNetworkReply> failing(m_nam->get(QNetworkRequest(QUrl(site.noticeUrl()))));
        QVERIFY(finish(failing.get()));
        QCOMPARE(failing->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 500);
        QCOMPARE(site.requests().size(), 4);
    }

private:
    std::unique_ptr<QNetworkAccessManager> m_nam;
};

QTEST_GUILESS_MAIN(TestFakeHttpServer)
#include "tst_FakeHttpServer.moc"
