#include "service/HttpTransfer.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/FakeHttpServer.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

Q_LOGGING_CATEGORY(lcTest, "kelvo.test", QtWarningMsg)

using Failure = HttpResult::Failure;

namespace {
constexpr qsizetype cap = 1024 * 1024;

// One request and the answer the server gives it, then what the transfer must make of them. Every request goes to
// /t with the key in its query; /moved answers 200 "moved here".
struct Case {
    FakeHttpServer::Response answer{};
    QByteArray method = "GET";
    QByteArray json{};
    bool readEveryStatus = false;
    bool followRedirects = false;
    int timeoutMs = 5'000;
    int deadlineMs = 10'000;
    bool cancelOnArrival = false;

    Failure failure = Failure::None;
    QString error{};
    std::optional<int> status{};
    QByteArray body{};
    QString logged{}; // the one debug line after "<method> /t: ", if any
    bool cutWhileReading = false;
    bool redirected = false;
};

FakeHttpServer::Response answer(int status, QByteArray body = {})
{
    FakeHttpServer::Response response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

FakeHttpServer::Response gzipped(QByteArray body)
{
    auto response = answer(200, std::move(body));
    response.headers.emplaceBack("Content-Encoding", "gzip");
    return response;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class tst_HttpTransfer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void transfersEndAsTheyShould_data();
    void transfersEndAsTheyShould();
};

void tst_HttpTransfer::transfersEndAsTheyShould_data()
{
    QTest::addColumn<Case>("row");
    const QString timedOut = QStringLiteral("The request timed out.");
    auto slow = answer(200, "late");
    slow.delayMs = 3'000;
    auto trickle = answer(200, "one byte at a time");
    trickle.trickleMs = 20;
    auto moved = answer(301);
    moved.headers.emplaceBack("Location", "/moved");
    const QByteArray whole = gzipCompress("hello");

    QTest::newRow("plain answer") << Case{.answer = answer(200, "hello"), .status = 200, .body = "hello"};
    QTest::newRow("gzip answer is inflated") << Case{.answer = gzipped(whole), .status = 200, .body = "hello"};
    QTest::newRow("gzip cut short") << Case{.answer = gzipped(whole.left(whole.size() / 2)),
                                            .failure = Failure::Error,
                                            .error = "The compressed answer was cut short.",
                                            .status = 200,
                                            .logged = "failed: The compressed answer was cut short."};
    QTest::newRow("gzip inflating past the cap")
        << Case{.answer = gzipped(gzipCompress(QByteArray(2 * cap, ' '))),
                .failure = Failure::TooLarge,
                .error = "The answer is too large: more than 1 MiB once decompressed.",
                .status = 200,
                .logged = "cut off: The answer is too large: more than 1 MiB once decompressed."};
    QTest::newRow("cut at the cap while reading")
        << Case{.answer = answer(200, QByteArray(4 * cap, 'x')),
                .failure = Failure::TooLarge,
                .error = "The answer is too large: more than 1 MiB.",
                .status = 200,
                .logged = "cut off: The answer is too large: more than 1 MiB.",
                .cutWhileReading = true};
    QTest::newRow("silence timeout") << Case{.answer = slow,
                                             .timeoutMs = 200,
                                             .failure = Failure::TimedOut,
                                             .error = timedOut,
                                             .logged = "timed out: silent for 200 ms"};
    // A byte every 20 ms keeps the silence timeout away; the whole request still ends at its deadline.
    QTest::newRow("overall deadline") << Case{.answer = trickle,
                                              .timeoutMs = 400,
                                              .deadlineMs = 300,
                                              .failure = Failure::TimedOut,
                                              .error = timedOut,
                                              .logged = "timed out: not done within 300 ms"};
    QTest::newRow("cancel is no timeout") << Case{.answer = slow,
                                                  .cancelOnArrival = true,
                                                  .failure = Failure::Cancelled,
                                                  .error = "Operation canceled",
                                                  .logged = "cancelled"};
    QTest::newRow("redirect refused") << Case{.answer = moved, .status = 301, .logged = "refused: status 301"};
    QTest::newRow("redirect followed when asked")
        << Case{.answer = moved, .followRedirects = true, .status = 200, .body = "moved here", .redirected = true};
    for (const int status : {201, 204, 400, 401, 403, 404, 407, 429, 500, 503}) {
        QTest::addRow("status %d refused", status) << Case{
            .answer = answer(status, "why"), .status = status, .logged = QString("refused: status %1").arg(status)};
    }
    auto busy = gzipped(gzipCompress("busy"));
    busy.status = 500;
    QTest::newRow("status 500 gzip read when every status is")
        << Case{.answer = busy, .readEveryStatus = true, .status = 500, .body = "busy"};
    QTest::newRow("PATCH with a JSON body") << Case{
        .answer = answer(200, "{}"), .method = "PATCH", .json = R"({"newValue":22})", .status = 200, .body = "{}"};
    QTest::newRow("DELETE without a body") << Case{.answer = answer(200), .method = "DELETE", .status = 200};
}

void tst_HttpTransfer::transfersEndAsTheyShould()
{
    QFETCH(Case, row);
    FakeHttpServer server;
    QVERIFY(server.listen());
    server.setHandler([&row](const FakeHttpServer::Request& request) {
        return request.target.startsWith("/moved") ? answer(200, "moved here") : row.answer;
    });
    QNetworkAccessManager network;
    HttpTransfer transfer(&network, lcTest);
    transfer.setTimeout(row.timeoutMs);
    transfer.setDeadline(row.deadlineMs);

    const HttpRequest request{.method = row.method,
                              .url = QUrl(server.baseUrl() + QStringLiteral("/t?apiKey=secret-key")),
                              .jsonBody = row.json,
                              .maxAnswerSize = cap,
                              .readEveryStatus = row.readEveryStatus,
                              .followRedirects = row.followRedirects};
    CancelToken cancel;
    if (row.cancelOnArrival) {
        connect(&server, &FakeHttpServer::requestReceived, &server, [cancel] { cancel.cancel(); });
    }
    const CapturedLog log("kelvo.test");
    const HttpResult result = QCoro::waitFor(transfer.send(request, cancel));

    QCOMPARE(result.failure, row.failure);
    QCOMPARE(result.error, row.error);
    if (row.failure != Failure::TimedOut && row.failure != Failure::Cancelled) {
        QCOMPARE(result.status, row.status);
    }
    QCOMPARE(result.body, row.body);
    // Counted as it came, past the cap when it was cut there.
    QCOMPARE(result.received > cap, row.cutWhileReading);
    QCOMPARE(log.lines, row.logged.isEmpty() ? QStringList()
                                             : QStringList{QString::fromLatin1(row.method) + " /t: " + row.logged});

    // What went on the wire.
    const FakeHttpServer::Request& sent = server.requests().first();
    QCOMPARE(sent.method, row.method);
    QCOMPARE(sent.target, QByteArray("/t?apiKey=secret-key"));
    QCOMPARE(sent.header("Accept-Encoding"), QByteArray("gzip"));
    QCOMPARE(sent.header("Content-Type"), row.json.isEmpty() ? QByteArray() : QByteArray("application/json"));
    QCOMPARE(sent.body, row.json);
    QCOMPARE(server.requests().last().target == "/moved", row.redirected);

    // Every reply is gone once the deferred deletions have run.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(network.findChildren<QNetworkReply*>().isEmpty());
}

QTEST_GUILESS_MAIN(tst_HttpTransfer)
#include "tst_HttpTransfer.moc"
