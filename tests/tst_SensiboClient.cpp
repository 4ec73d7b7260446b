#include "model/Decoding.h"
#include "model/DeviceExtras.h"
#include "service/SensiboClient.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/FakeSensiboCloud.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTest>

using Kind = StateChangeOutcome::Kind;
Q_DECLARE_METATYPE(ACValue)

namespace {
FakeHttpServer::Response respond(int status, QByteArray body = {})
{
    FakeHttpServer::Response response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

const QByteArray confirmedBody = R"({"status":"success","result":{"status":"Success","reason":"UserRequest",
    "acState":{"on":true,"mode":"heat","targetTemperature":25,"temperatureUnit":"C"},"changedProperties":["mode"],
    "id":"x1","failureReason":null}})";
} // namespace

class tst_SensiboClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void deviceListGoesOutExactly();
    void stateChangeGoesOutExactly_data();
    void stateChangeGoesOutExactly();
    void deviceListStatusesBecomeTheirMessages_data();
    void deviceListStatusesBecomeTheirMessages();
    void redirectIsNotFollowed();
    void gzipAnswersAreInflated();
    void brokenOrOversizedGzipIsAFailure_data();
    void brokenOrOversizedGzipIsAFailure();
    void transferFailuresCarryTheirDescription();
    void timeoutIsNotDescribedAsCanceled();
    void cancelAbortsTheTransfer();
    void piecesOutsideTheSafeSetDoNotParse_data();
    void piecesOutsideTheSafeSetDoNotParse();
    void stateChangeOutcomes_data();
    void stateChangeOutcomes();
    void extrasRequestsGoOutExactly_data();
    void extrasRequestsGoOutExactly();

private:
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<FakeSensiboCloud> m_cloud;
    std::unique_ptr<SensiboClient> m_client;
};

void tst_SensiboClient::init()
{
    m_network = std::make_unique<QNetworkAccessManager>();
    m_cloud = std::make_unique<FakeSensiboCloud>();
    QVERIFY(m_cloud->listen());
    m_client = std::make_unique<SensiboClient>(m_network.get(), m_cloud->baseUrl());
}

void tst_SensiboClient::cleanup()
{
    m_client.reset();
    m_cloud.reset();
    m_network.reset();
}

void tst_SensiboClient::deviceListGoesOutExactly()
{
    const auto outcome = QCoro::waitFor(m_client->listDevices(QStringLiteral("test-key")));
    QVERIFY2(outcome.ok(), qPrintable(outcome.message));
    QCOMPARE(outcome.devices->size(), 2);
    QCOMPARE(outcome.devices->at(0).id, QStringLiteral("abc123"));

    QCOMPARE(m_cloud->requests().size(), 1);
    const auto& request = m_cloud->requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/api/v2/users/me/pods?apiKey=test-key"
                                        "&fields=id,room,acState,measurements,connectionStatus,remoteCapabilities"));
    QCOMPARE(request.header("Accept-Encoding"), QByteArray("gzip"));
    QVERIFY(request.body.isEmpty());
}

void tst_SensiboClient::stateChangeGoesOutExactly_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<ACValue>("value");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("power") << "on" << ACValue(true) << QByteArray(R"({"newValue":true})");
    QTest::newRow("temperature is a JSON integer")
        << "targetTemperature" << ACValue(qint64(22)) << QByteArray(R"({"newValue":22})");
    QTest::newRow("negative temperature")
        << "targetTemperature" << ACValue(qint64(-3)) << QByteArray(R"({"newValue":-3})");
    QTest::newRow("mode") << "mode" << ACValue(QStringLiteral("heat")) << QByteArray(R"({"newValue":"heat"})");
    QTest::newRow("text stays text") << "targetTemperature" << ACValue(QStringLiteral("22"))
                                     << QByteArray(R"({"newValue":"22"})");
    QTest::newRow("quotes escaped") << "light" << ACValue(QStringLiteral("a\"b"))
                                    << QByteArray(R"({"newValue":"a\"b"})");
}

void tst_SensiboClient::stateChangeGoesOutExactly()
{
    QFETCH(QString, property);
    QFETCH(ACValue, value);
    QFETCH(QByteArray, body);

    QCoro::waitFor(m_client->changeState(QStringLiteral("test-key"), QStringLiteral("abc123"),
                                         *settingFromWireName(property), value));
    QCOMPARE(m_cloud->requests().size(), 1);
    const auto& request = m_cloud->requests().first();
    QCOMPARE(request.method, QByteArray("PATCH"));
    QCOMPARE(request.target, "/api/v2/pods/abc123/acStates/" + property.toLatin1() + "?apiKey=test-key");
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(request.header("Accept-Encoding"), QByteArray("gzip"));
    QCOMPARE(request.body, body);
}

void tst_SensiboClient::deviceListStatusesBecomeTheirMessages_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    const QByteArray good = R"({"status":"success","result":[]})";
    QTest::newRow("401") << 401 << good << "Invalid API key";
    QTest::newRow("403 reads as 401") << 403 << good << "Invalid API key";
    QTest::newRow("429") << 429 << good << "Rate limited — try again later";
    QTest::newRow("500") << 500 << good << "Server error (500)";
    QTest::newRow("204") << 204 << QByteArray() << "Server error (204)";
    QTest::newRow("201 with a good body") << 201 << good << "Server error (201)";
    QTest::newRow("400") << 400 << good << "Server error (400)";
    QTest::newRow("404") << 404 << good << "Server error (404)";
    QTest::newRow("503") << 503 << good << "Server error (503)";
    QTest::newRow("407") << 407 << good << "Server error (407)";
    QTest::newRow("200 empty") << 200 << QByteArray() << decodeDeviceListResponse({}).error();
    QTest::newRow("200 html") << 200 << QByteArray("<html>busy</html>")
                              << decodeDeviceListResponse("<html>busy</html>").error();
    QTest::newRow("200 status word failure is fine")
        << 200 << QByteArray(R"({"status":"failure","result":[]})") << QString();
}

void tst_SensiboClient::deviceListStatusesBecomeTheirMessages()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    m_cloud->overrideDeviceList(respond(status, body));

    const CapturedLog log("kelvo.cloud");
    const auto outcome = QCoro::waitFor(m_client->listDevices(QStringLiteral("test-key")));
    if (message.isEmpty()) {
        QVERIFY(outcome.ok());
        QVERIFY(outcome.devices->isEmpty());
    } else {
        QVERIFY(!outcome.ok());
        QVERIFY(!message.isEmpty());
        QCOMPARE(outcome.message, message);
    }
    // A refusal or an undecodable answer leaves one debug line naming the request, never the key in its query.
    QCOMPARE(log.lines.size(), message.isEmpty() ? 0 : 1);
    QVERIFY(message.isEmpty() || log.lines.first().startsWith(u"GET /api/v2/users/me/pods: "));
    QVERIFY(!log.lines.join(u'\n').contains(u"test-key"));
}

void tst_SensiboClient::redirectIsNotFollowed()
{
    auto moved = respond(301);
    moved.headers.append(
        std::pair<QByteArray, QByteArray>("Location", m_cloud->baseUrl().toLatin1() + "/elsewhere?apiKey=test-key"));
    m_cloud->overrideDeviceList(moved, 1);
    const auto outcome = QCoro::waitFor(m_client->listDevices(QStringLiteral("test-key")));
    QCOMPARE(outcome.message, QStringLiteral("Server error (301)"));
    QCOMPARE(m_cloud->requests().size(), 1);
}

void tst_SensiboClient::gzipAnswersAreInflated()
{
    m_cloud->setGzip(true);
    const auto outcome = QCoro::waitFor(m_client->listDevices(QStringLiteral("test-key")));
    QVERIFY2(outcome.ok(), qPrintable(outcome.message));
    QCOMPARE(outcome.devices->size(), 2);

    const auto change = QCoro::waitFor(m_client->changeState(QStringLiteral("test-key"), QStringLiteral("abc123"),
                                                             ACSetting::Mode, QStringLiteral("heat")));
    QCOMPARE(change.kind, Kind::Confirmed);
    QCOMPARE(change.confirmedState.mode, QStringLiteral("heat"));
}

void tst_SensiboClient::brokenOrOversizedGzipIsAFailure_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    const QByteArray whole = gzipCompress(R"({"status":"success","result":[]})");
    QTest::newRow("cut short") << whole.left(whole.size() / 2) << "The compressed answer was cut short.";
    QTest::newRow("not gzip") << QByteArray("plainly not gzip") << "The compressed answer is damaged.";
    // 40 MiB of spaces compress to a few tens of KiB.
    QTest::newRow("bomb") << gzipCompress(QByteArray(40 * 1024 * 1024, ' '))
                          << "The answer is too large: more than 32 MiB once decompressed.";
}

void tst_SensiboClient::brokenOrOversizedGzipIsAFailure()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    auto answer = respond(200, body);
    answer.headers.append(std::pair<QByteArray, QByteArray>("Content-Encoding", "gzip"));
    m_cloud->overrideDeviceList(answer);
    const auto outcome = QCoro::waitFor(m_client->listDevices(QStringLiteral("test-key")));
    QCOMPARE(outcome.message, message);

    m_cloud->overrideStateChange(answer);
    const auto change = QCoro::waitFor(
        m_client->changeState(QStringLiteral("test-key"), QStringLiteral("abc123"), ACSetting::Power, true));
    QCOMPARE(change.kind, Kind::Failed);
    QCOMPARE(change.message, message);
}

void tst_SensiboClient::transferFailuresCarryTheirDescription()
{
    auto dropped = respond(200);
    dropped.dropConnection = true;
    m_cloud->overrideDeviceList(dropped);
    auto outcome = QCoro::waitFor(m_client->listDevices(QStringLiteral("test-key")));
    QVERIFY(!outcome.ok());
    QVERIFY(!outcome.message.isEmpty());
    QVERIFY(!outcome.message.startsWith(u"Server error"));

    // Reset after the status line and part of the body: a failed transfer, not an undecodable answer.
    auto cut = respond(200, R"({"status":"success","result":[{"id":"abc123","room":{"name":")" + QByteArray(900, 'x') +
                                R"("}}]})");
    cut.dropAfterBytes = 500;
    m_cloud->overrideDeviceList(cut);
    outcome = QCoro::waitFor(m_client->listDevices(QStringLiteral("test-key")));
    QVERIFY(!outcome.ok());
    QCOMPARE(outcome.message, QStringLiteral("Connection closed"));

    // Nobody listening: the client's own words.
    QTcpServer placeholder;
    QVERIFY(placeholder.listen(QHostAddress::LocalHost));
    const quint16 closedPort = placeholder.serverPort();
    placeholder.close();
    SensiboClient nowhere(m_network.get(), QStringLiteral("http://127.0.0.1:%1/api/v2").arg(closedPort));
    outcome = QCoro::waitFor(nowhere.listDevices(QStringLiteral("test-key")));
    QCOMPARE(outcome.message, QStringLiteral("Connection refused"));
}

void tst_SensiboClient::timeoutIsNotDescribedAsCanceled()
{
    m_cloud->setDelayMs(3000);
    m_client->setTimeout(200);
    const auto outcome = QCoro::waitFor(m_client->listDevices(QStringLiteral("test-key")));
    QCOMPARE(outcome.message, QStringLiteral("The request timed out."));
    const auto change = QCoro::waitFor(
        m_client->changeState(QStringLiteral("test-key"), QStringLiteral("abc123"), ACSetting::Power, true));
    QCOMPARE(change.message, QStringLiteral("The request timed out."));
}

void tst_SensiboClient::cancelAbortsTheTransfer()
{
    m_cloud->setDelayMs(3000);
    CancelToken cancel;
    std::optional<DeviceListOutcome> outcome;
    auto task = m_client->listDevices(QStringLiteral("test-key"), cancel);
    QTRY_COMPARE(m_cloud->requests().size(), 1);
    cancel.cancel();
    outcome = QCoro::waitFor(task);
    QCOMPARE(outcome->message, QStringLiteral("Operation canceled"));
}

void tst_SensiboClient::piecesOutsideTheSafeSetDoNotParse_data()
{
    QTest::addColumn<QString>("apiKey");
    QTest::addColumn<QString>("deviceId");
    for (const char* key : {"k&fields=*", "k#x", "k+y", "k=y", "k?y", "k y", "k/y", "kä", "k%26", "k\n"}) {
        QTest::newRow(key) << QString::fromUtf8(key) << QStringLiteral("abc123");
    }
    QTest::newRow("device id with a slash") << QStringLiteral("test-key") << QStringLiteral("abc/../x");
    QTest::newRow("device id with a query") << QStringLiteral("test-key") << QStringLiteral("abc?apiKey=other");
}

void tst_SensiboClient::piecesOutsideTheSafeSetDoNotParse()
{
    QFETCH(QString, apiKey);
    QFETCH(QString, deviceId);
    if (deviceId == u"abc123") {
        QVERIFY(!m_client->deviceListAddress(apiKey));
        const auto list = QCoro::waitFor(m_client->listDevices(apiKey));
        QCOMPARE(list.message, QStringLiteral("Invalid URL"));
    }
    const auto change = QCoro::waitFor(m_client->changeState(apiKey, deviceId, ACSetting::Power, true));
    QCOMPARE(change.kind, Kind::NotSent);
    QVERIFY(change.message.isEmpty());
    QVERIFY(!m_client->deviceDetailsAddress(apiKey, deviceId) && !m_client->timerAddress(apiKey, deviceId) &&
            !m_client->climateReactAddress(apiKey, deviceId) && !m_client->historyAddress(apiKey, deviceId, 1));
    const auto timer = QCoro::waitFor(m_client->cancelTimer(apiKey, deviceId));
    QCOMPARE(timer.kind, ExtrasChangeOutcome::Kind::NotSent);
    QCOMPARE(QCoro::waitFor(m_client->history(apiKey, deviceId)).message, "Invalid URL");
    QCOMPARE(m_cloud->requests().size(), 0);
}

void tst_SensiboClient::stateChangeOutcomes_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("confirmed") << "mode" << 200 << confirmedBody << int(Kind::Confirmed) << QString();
    QTest::newRow("200 without acState") << "mode" << 200 << QByteArray(R"({"status":"success","result":{}})")
                                         << int(Kind::Accepted) << QString();
    QTest::newRow("200 not JSON") << "mode" << 200 << QByteArray("OK") << int(Kind::Accepted) << QString();
    QTest::newRow("429 is not the rate-limit text")
        << "mode" << 429 << QByteArray() << int(Kind::Failed) << "Failed to update mode";
    QTest::newRow("401") << "on" << 401 << QByteArray() << int(Kind::Failed) << "Failed to update on";
    QTest::newRow("500") << "targetTemperature" << 500 << confirmedBody << int(Kind::Failed)
                         << "Failed to update targetTemperature";
    QTest::newRow("204") << "swing" << 204 << QByteArray() << int(Kind::Failed) << "Failed to update swing";
    QTest::newRow("407") << "fanLevel" << 407 << QByteArray() << int(Kind::Failed) << "Failed to update fanLevel";
}

void tst_SensiboClient::stateChangeOutcomes()
{
    QFETCH(QString, property);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, kind);
    QFETCH(QString, message);
    m_cloud->overrideStateChange(respond(status, body));
    const auto outcome = QCoro::waitFor(m_client->changeState(QStringLiteral("test-key"), QStringLiteral("abc123"),
                                                              *settingFromWireName(property), QStringLiteral("x")));
    QCOMPARE(int(outcome.kind), kind);
    QCOMPARE(outcome.message, message);
    if (outcome.kind == Kind::Confirmed) {
        ACState expected;
        expected.on = true;
        expected.mode = QStringLiteral("heat");
        expected.targetTemperature = 25;
        expected.temperatureUnit = QStringLiteral("C");
        QCOMPARE(outcome.confirmedState, expected);
    }
}

void tst_SensiboClient::extrasRequestsGoOutExactly_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("status"); // the cloud's answer; 0: the fake cloud's own
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("outcome");
    const QByteArray details = "GET /api/v2/pods/abc123?apiKey=test-key&fields=timer,smartMode";
    const QByteArray history = "GET /api/v2/pods/abc123/historicalMeasurements?apiKey=test-key&days=1";
    const QByteArray timer = "/api/v1/pods/abc123/timer/?apiKey=test-key";
    const QByteArray setTimer = "PUT " + timer +
                                R"( {"acState":{"mode":"cool","on":false,"targetTemperature":22,)"
                                R"("temperatureUnit":"C"},"minutesFromNow":90})";
    const QByteArray react = "PUT /api/v2/pods/abc123/smartmode?apiKey=test-key";
    QTest::newRow("details") << "details" << 0 << details << "timer: none, Climate React: off";
    QTest::newRow("history") << "history" << 0 << history << "readings: 960, 960";
    QTest::newRow("history of a week") << "history 7" << 0 << QByteArray(history).replace("days=1", "days=7")
                                       << "readings: 6720, 6720";
    QTest::newRow("set a timer") << "set timer" << 0 << setTimer << "done";
    QTest::newRow("cancel the timer") << "cancel timer" << 0 << "DELETE " + timer << "done";
    QTest::newRow("Climate React on") << "react on" << 0 << react + R"( {"enabled":true})"
                                      << "done";
    QTest::newRow("Climate React off") << "react off" << 0 << react + R"( {"enabled":false})"
                                       << "done";
    QTest::newRow("details refused") << "details" << 401 << details << "Invalid API key";
    QTest::newRow("history rate limited") << "history" << 429 << history << "Rate limited — try again later";
    QTest::newRow("history of no JSON") << "history" << 200 << history
                                        << "The answer is not valid JSON: expected a value at offset 1";
    QTest::newRow("timer refused") << "set timer" << 500 << setTimer << "Failed to set the timer";
    QTest::newRow("cancel refused") << "cancel timer" << 404 << "DELETE " + timer << "Failed to cancel the timer";
    QTest::newRow("cancel answered 204") << "cancel timer" << 204 << "DELETE " + timer << "done";
    QTest::newRow("Climate React on refused") << "react on" << 403 << react + R"( {"enabled":true})"
                                              << "Failed to turn on Climate React";
    QTest::newRow("Climate React off refused") << "react off" << 429 << react + R"( {"enabled":false})"
                                               << "Failed to turn off Climate React";
}

// Each request of the timer, Climate React and the history: method, address (the key in the query, the timer under
// version 1 of the API) and body, and what its answers come to.
void tst_SensiboClient::extrasRequestsGoOutExactly()
{
    QFETCH(QString, call);
    QFETCH(int, status);
    QFETCH(QByteArray, request);
    QFETCH(QString, outcome);
    QJsonObject device = FakeSensiboCloud::makeDevice("abc123", "Living Room");
    device["smartMode"] = FakeSensiboCloud::makeSmartMode(false);
    m_cloud->setDevices({device});
    m_cloud->setGzip(true);
    for (const auto endpoint : {FakeSensiboCloud::Endpoint::DeviceDetails, FakeSensiboCloud::Endpoint::History,
                                FakeSensiboCloud::Endpoint::Timer, FakeSensiboCloud::Endpoint::ClimateReact}) {
        if (status != 0) {
            m_cloud->overrideEndpoint(endpoint, respond(status, status == 200 ? "OK" : "{}"));
        }
    }

    const QString key = QStringLiteral("test-key");
    const QString id = QStringLiteral("abc123");
    const auto changed = [](const ExtrasChangeOutcome& change) {
        return change.kind == ExtrasChangeOutcome::Kind::Done ? QStringLiteral("done") : change.message;
    };
    QString result;
    if (call == u"details") {
        const auto answer = QCoro::waitFor(m_client->deviceDetails(key, id));
        const DeviceExtras extras =
            answer.ok() ? deviceExtras(*answer.details, QDateTime::currentDateTimeUtc()) : DeviceExtras{};
        result = !answer.ok() ? answer.message
                              : QStringLiteral("timer: %1, Climate React: %2")
                                    .arg(extras.timerKnown && !extras.timer ? "none" : "?",
                                         extras.climateReact ? (extras.climateReact->enabled ? "on" : "off") : "none");
    } else if (call.startsWith(u"history")) {
        const auto answer = QCoro::waitFor(m_client->history(key, id, call == u"history" ? 1 : 7));
        result = !answer.ok() ? answer.message
                              : QStringLiteral("readings: %1, %2")
                                    .arg(answer.history->temperature.value.size())
                                    .arg(answer.history->humidity.value.size());
    } else if (call == u"set timer") {
        ACState state;
        state.mode = QStringLiteral("cool");
        state.targetTemperature = 22;
        state.temperatureUnit = QStringLiteral("C");
        result = changed(QCoro::waitFor(m_client->setTimer(key, id, 90, state)));
    } else if (call == u"cancel timer") {
        result = changed(QCoro::waitFor(m_client->cancelTimer(key, id)));
    } else {
        result = changed(QCoro::waitFor(m_client->setClimateReact(key, id, call == u"react on")));
    }
    QCOMPARE(result, outcome);

    QCOMPARE(m_cloud->requests().size(), 1);
    const auto& sent = m_cloud->requests().first();
    QCOMPARE(sent.method + ' ' + sent.target + (sent.body.isEmpty() ? QByteArray() : ' ' + sent.body), request);
    QCOMPARE(sent.header("Accept-Encoding"), QByteArray("gzip"));
    QCOMPARE(sent.header("Content-Type"), sent.body.isEmpty() ? QByteArray() : QByteArray("application/json"));

    // Version 1 is found only next to version 2; the cloud gives a week of readings at most.
    QVERIFY(!SensiboClient(m_network.get(), "https://cloud.example/api").timerAddress(key, id));
    QVERIFY(!m_client->historyAddress(key, id, 0) && !m_client->historyAddress(key, id, 8));
}

QTEST_GUILESS_MAIN(tst_SensiboClient)
#include "tst_SensiboClient.moc"
