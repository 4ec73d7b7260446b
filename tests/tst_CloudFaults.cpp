#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "service/SensiboService.h"
#include "tests/support/FakeSensiboCloud.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace std::chrono_literals;

// How Kelvo copes when the cloud misbehaves: each fault is served to the periodic refresh for several loads in a row,
// then the cloud answers well again. Throughout, the right message shows, the last good list stays on screen, and
// the loads keep their cadence, never faster than one per refresh interval.
namespace {
constexpr auto interval = 150ms;

// The preferences writer run as a child process, which the store test kills at random moments.
constexpr auto writerFlag = "--write-preferences";
constexpr auto counterKey = "faultCounter";
constexpr auto payloadKey = "faultPayload";

// A value large enough that a write takes a while, and that tells which write it belongs to.
QString payloadFor(qint64 counter)
{
    return QString::number(counter).repeated(20'000);
}

// Writes ever-larger counters with their payloads, announcing each finished write on stdout; never returns.
int writePreferencesForever(const QString& directory)
{
    Preferences preferences(directory);
    qint64 counter = preferences.text(QLatin1String(counterKey)).value_or(QStringLiteral("0")).toLongLong();
    for (;;) {
        ++counter;
        // Two writes a turn, the payload first: the file may hold counter N with payload N, or, between the two,
        // counter N with payload N + 1, and nothing else.
        if (!preferences.setText(QLatin1String(payloadKey), payloadFor(counter))
            || !preferences.setText(QLatin1String(counterKey), QString::number(counter))) {
            // Announcing a write that did not happen would blame the wrong side.
            std::fprintf(stderr, "write failed: %s\n", qPrintable(preferences.lastError()));
            return 3;
        }
        std::printf("%lld\n", static_cast<long long>(counter));
        std::fflush(stdout);
    }
}

FakeHttpServer::Response respond(int status, QByteArray body = {})
{
    FakeHttpServer::Response response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

QByteArray listOf(const QJsonArray& devices, const QJsonObject& extra = {})
{
    QJsonObject answer{{"status", "success"}, {"result", devices}};
    for (auto it = extra.begin(); it != extra.end(); ++it) {
        answer.insert(it.key(), it.value());
    }
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

// What one finished load left on screen.
struct LoadEnd {
    std::optional<QString> message;
    QList<SensiboDevice> devices;
    std::optional<QString> selectedDeviceId;
};
} // namespace

class tst_CloudFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void connectionResetMidBody();
    void truncatedGzip();
    void invalidUtf8();
    void htmlWithStatus200();
    void fiveMegabytesOfDevicesDecode();
    void fiveMegabytesOfPaddingDecode();
    void rateLimitStorm();
    void slowAnswersEndAsTimeouts_data();
    void slowAnswersEndAsTimeouts();
    void endlessBodyEndsAtTheCap();
    void networkGoneAndBack();
    void preferencesSurviveKillDuringWrite();

private:
    // A service on the fake cloud that has loaded the default list and runs its refresh loop every `interval`.
    void startService();
    // Serves `fault` to every load until `loads` loads have ended with it, checks what each showed and the cadence,
    // then lets the cloud answer well again and checks that the next load recovers.
    void serveFault(const FakeHttpServer::Response& fault, const QString& expectedMessage, int loads = 4);
    void checkCadence(const QList<qint64>& starts, const char* where);
    void checkRecovery();
    void watch();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<FakeSensiboCloud> m_cloud;
    std::unique_ptr<SensiboService> m_service;
    QList<SensiboDevice> m_goodList;
    QElapsedTimer m_clock;
    QList<qint64> m_loadStarts; // when each load of the service began, in ms on m_clock
    QList<qint64> m_requests;   // when the cloud received each device-list request, in ms on m_clock
    QList<LoadEnd> m_loadEnds;
};

void tst_CloudFaults::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_preferences = std::make_unique<Preferences>(m_dir->path());
    m_preferences->setText(QLatin1String(PreferenceKeys::sensiboAPIKey), QStringLiteral("test-key"));
    m_network = std::make_unique<QNetworkAccessManager>();
    m_cloud = std::make_unique<FakeSensiboCloud>();
    QVERIFY(m_cloud->listen());
    m_clock.start();
    m_loadStarts.clear();
    m_loadEnds.clear();
    m_requests.clear();
    connect(&m_cloud->server(), &FakeHttpServer::requestReceived, this, [this](const FakeHttpServer::Request& r) {
        if (r.target.contains("/users/me/pods")) {
            m_requests.append(m_clock.elapsed());
        }
    });
}

void tst_CloudFaults::cleanup()
{
    m_service.reset();
    m_cloud.reset();
    m_network.reset();
    m_preferences.reset();
    m_dir.reset();
}

void tst_CloudFaults::watch()
{
    connect(m_service.get(), &SensiboService::isLoadingChanged, this, [this] {
        if (m_service->isLoading()) {
            m_loadStarts.append(m_clock.elapsed());
        } else {
            m_loadEnds.append({m_service->errorMessage(), m_service->devices(), m_service->selectedDeviceId()});
        }
    });
}

void tst_CloudFaults::startService()
{
    m_service = std::make_unique<SensiboService>(*m_preferences, m_network.get(), m_cloud->baseUrl());
    m_service->setRefreshInterval(interval);
    watch();
    m_service->initialLoad();
    // The first load, then the refresh loop's own first one at once.
    QTRY_VERIFY(m_loadEnds.size() >= 2);
    QCOMPARE(m_service->devices().size(), 2);
    QCOMPARE(m_service->errorMessage(), std::nullopt);
    // Select the second device, so that a fault which reset the selection would show.
    m_service->setSelectedDeviceId(m_service->devices().last().id);
    m_goodList = m_service->devices();
}

void tst_CloudFaults::checkCadence(const QList<qint64>& starts, const char* where)
{
    // The first load and the refresh loop's first one come at once; from then on, each starts only after the one
    // before has ended and a whole interval has passed (a millisecond's allowance for the clock's rounding).
    QVERIFY2(starts.size() >= 4, where);
    const qint64 least = std::chrono::milliseconds(interval).count() - 1;
    for (qsizetype i = 2; i < starts.size(); ++i) {
        const qint64 gap = starts.at(i) - starts.at(i - 1);
        QVERIFY2(gap >= least, qPrintable(QStringLiteral("%1: load %2 began %3 ms after the one before, less than the "
                                                         "%4 ms interval")
                                              .arg(QLatin1String(where))
                                              .arg(i)
                                              .arg(gap)
                                              .arg(least + 1)));
    }
}

void tst_CloudFaults::checkRecovery()
{
    m_cloud->overrideDeviceList(std::nullopt);
    QJsonArray devices = FakeSensiboCloud::defaultDevices();
    devices.append(FakeSensiboCloud::makeDevice(QStringLiteral("ghi789"), QStringLiteral("Office")));
    m_cloud->setDevices(devices);
    QTRY_COMPARE(m_service->devices().size(), 3);
    QCOMPARE(m_service->errorMessage(), std::nullopt);
    QCOMPARE(m_service->selectedDeviceId(), m_goodList.last().id);
}

void tst_CloudFaults::serveFault(const FakeHttpServer::Response& fault, const QString& expectedMessage, int loads)
{
    startService();
    m_cloud->overrideDeviceList(fault);
    // The load running now may still have had the good answer; count from the next one.
    QTRY_COMPARE(m_service->isLoading(), true);
    const qsizetype first = m_loadEnds.size() + 1;
    QTRY_VERIFY_WITH_TIMEOUT(m_loadEnds.size() >= first + loads, 30'000);
    for (qsizetype i = first; i < m_loadEnds.size(); ++i) {
        const LoadEnd& end = m_loadEnds.at(i);
        QCOMPARE(end.message, expectedMessage);
        QCOMPARE(end.devices, m_goodList);
        QCOMPARE(end.selectedDeviceId, m_goodList.last().id);
    }
    checkRecovery();
    checkCadence(m_loadStarts, "loads");
    checkCadence(m_requests, "requests at the cloud");
}

void tst_CloudFaults::connectionResetMidBody()
{
    FakeHttpServer::Response fault = respond(200, listOf(FakeSensiboCloud::defaultDevices()));
    fault.headers = {{"Content-Type", "application/json"}};
    // The status line and the headers (under 100 bytes) and the start of the body.
    fault.dropAfterBytes = 200;
    serveFault(fault, QStringLiteral("Connection closed"));
}

void tst_CloudFaults::truncatedGzip()
{
    const QByteArray compressed = gzipCompress(listOf(FakeSensiboCloud::defaultDevices()));
    FakeHttpServer::Response fault = respond(200, compressed.left(compressed.size() / 2));
    fault.headers = {{"Content-Type", "application/json"}, {"Content-Encoding", "gzip"}};
    serveFault(fault, QStringLiteral("The compressed answer was cut short."));
}

void tst_CloudFaults::invalidUtf8()
{
    QByteArray body = listOf(FakeSensiboCloud::defaultDevices());
    const qsizetype room = body.indexOf("Living Room");
    QVERIFY(room > 0);
    body.replace(room, 6, "Liv\xff\xfe\xc3"); // a stray byte pair and a lead byte without its continuation
    FakeHttpServer::Response fault = respond(200, body);
    fault.headers = {{"Content-Type", "application/json"}};
    // The reader counts offsets from 1: the first bad byte is the one after "Liv".
    serveFault(fault,
               QStringLiteral("The answer is not valid JSON: invalid UTF-8 in a string at offset %1").arg(room + 4));
}

void tst_CloudFaults::htmlWithStatus200()
{
    FakeHttpServer::Response fault = respond(200, "<!DOCTYPE html>\n<html><head><title>Maintenance</title></head>"
                                                  "<body><h1>We'll be back soon</h1></body></html>\n");
    fault.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    serveFault(fault, QStringLiteral("The answer is not valid JSON: expected a value at offset 1"));
}

void tst_CloudFaults::fiveMegabytesOfDevicesDecode()
{
    QJsonArray many = FakeSensiboCloud::defaultDevices();
    QByteArray body;
    for (int i = 0; body.size() < 5 * 1024 * 1024; i += 500) {
        for (int j = i; j < i + 500; ++j) {
            many.append(FakeSensiboCloud::makeDevice(QStringLiteral("dev%1").arg(j), QStringLiteral("Room %1").arg(j)));
        }
        body = listOf(many);
    }
    startService();
    FakeHttpServer::Response big = respond(200, body);
    big.headers = {{"Content-Type", "application/json"}};
    m_cloud->overrideDeviceList(big);
    QTRY_VERIFY_WITH_TIMEOUT(m_service->devices().size() == many.size(), 60'000);
    QCOMPARE(m_service->errorMessage(), std::nullopt);
    QCOMPARE(m_service->devices().last().id, many.last().toObject().value("id").toString());
    // Still a device of the list, the selection stays.
    QCOMPARE(m_service->selectedDeviceId(), m_goodList.last().id);
    const qsizetype more = m_loadEnds.size() + 3;
    QTRY_VERIFY_WITH_TIMEOUT(m_loadEnds.size() >= more, 60'000);
    QCOMPARE(m_loadEnds.last().devices.size(), many.size());
    checkRecovery();
    checkCadence(m_loadStarts, "loads");
    checkCadence(m_requests, "requests at the cloud");
}

void tst_CloudFaults::fiveMegabytesOfPaddingDecode()
{
    const QByteArray body =
        listOf(m_cloud->devices(), {{"padding", QString(5 * 1024 * 1024, QLatin1Char('x'))},
                                    {"morePadding", QJsonArray{QJsonObject{{"deep", QJsonArray{1, 2.5, "three"}}}}}});
    QVERIFY(body.size() > 5 * 1024 * 1024);
    // The padded answers carry every key of a device; so does the good list to compare them with.
    m_cloud->setHonourFields(false);
    startService();
    QJsonArray renamed = m_cloud->devices();
    QJsonObject device = renamed.at(0).toObject();
    device.insert("room", QJsonObject{{"name", "Padded room"}, {"icon", "Livingroom"}});
    renamed.replace(0, device);
    FakeHttpServer::Response big =
        respond(200, listOf(renamed, {{"padding", QString(5 * 1024 * 1024, QLatin1Char('x'))}}));
    big.gzip = true; // as the cloud sends it
    big.headers = {{"Content-Type", "application/json"}};
    m_cloud->overrideDeviceList(big, 1);
    QTRY_VERIFY_WITH_TIMEOUT(m_service->devices().value(0).room &&
                                 m_service->devices().value(0).room->name == QStringLiteral("Padded room"),
                             30'000);
    QCOMPARE(m_service->errorMessage(), std::nullopt);

    FakeHttpServer::Response plain = respond(200, body);
    plain.headers = {{"Content-Type", "application/json"}};
    m_cloud->overrideDeviceList(plain);
    const qsizetype first = m_loadEnds.size() + 1;
    QTRY_VERIFY_WITH_TIMEOUT(m_loadEnds.size() >= first + 3, 30'000);
    for (qsizetype i = first; i < m_loadEnds.size(); ++i) {
        QCOMPARE(m_loadEnds.at(i).message, std::nullopt);
        QCOMPARE(m_loadEnds.at(i).devices, m_goodList);
    }
    checkCadence(m_loadStarts, "loads");
    checkCadence(m_requests, "requests at the cloud");
}

void tst_CloudFaults::rateLimitStorm()
{
    FakeHttpServer::Response fault = respond(429, R"({"status": "error", "reason": "TooManyRequests"})");
    fault.headers = {{"Content-Type", "application/json"}, {"Retry-After", "1"}};
    serveFault(fault, QStringLiteral("Rate limited — try again later"), 8);
}

void tst_CloudFaults::slowAnswersEndAsTimeouts_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("trickleMs");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("deadlineMs");        // 0: the service's own
    QTest::addColumn<bool>("requestsCadence"); // the requests reaching the cloud keep the cadence too
    QTest::newRow("answer slower than the timeout") << 3'000 << 0 << 300 << 0 << true;
    // A byte every 20 ms never lets the silence timeout fire; the whole request still ends at its deadline.
    QTest::newRow("trickle ends at the deadline") << 0 << 20 << 400 << 1'000 << false;
}

void tst_CloudFaults::slowAnswersEndAsTimeouts()
{
    QFETCH(int, delayMs);
    QFETCH(int, trickleMs);
    QFETCH(int, timeoutMs);
    QFETCH(int, deadlineMs);
    QFETCH(bool, requestsCadence);
    FakeHttpServer::Response fault = respond(200, listOf(FakeSensiboCloud::defaultDevices()));
    fault.delayMs = delayMs;
    fault.trickleMs = trickleMs;
    startService();
    m_service->setRequestTimeout(timeoutMs);
    if (deadlineMs > 0) {
        m_service->setRequestDeadline(deadlineMs);
    }
    m_cloud->overrideDeviceList(fault);
    QTRY_COMPARE(m_service->isLoading(), true);
    const qsizetype first = m_loadEnds.size() + 1;
    QTRY_VERIFY_WITH_TIMEOUT(m_loadEnds.size() >= first + 3, 30'000);
    for (qsizetype i = first; i < m_loadEnds.size(); ++i) {
        QCOMPARE(m_loadEnds.at(i).message, QStringLiteral("The request timed out."));
        QCOMPARE(m_loadEnds.at(i).devices, m_goodList);
    }
    checkRecovery();
    checkCadence(m_loadStarts, "loads");
    if (requestsCadence) {
        checkCadence(m_requests, "requests at the cloud");
    }
}

void tst_CloudFaults::endlessBodyEndsAtTheCap()
{
    FakeHttpServer::Response fault;
    fault.endlessBody = true;
    serveFault(fault, QStringLiteral("The answer is too large: more than 32 MiB."), 2);
    // Each endless answer was cut soon after the cap: what the sockets and Qt's read-ahead held on the way besides,
    // not the whole stream.
    const FakeHttpServer& server = m_cloud->server();
    QVERIFY(server.endlessAnswers() >= 2);
    QVERIFY2(server.endlessBytesSent() <= server.endlessAnswers() * (SensiboClient::maxAnswerSize + 16 * 1024 * 1024),
             qPrintable(
                 QStringLiteral("%1 bytes in %2 answers").arg(server.endlessBytesSent()).arg(server.endlessAnswers())));
}

void tst_CloudFaults::networkGoneAndBack()
{
    startService();
    const quint16 port = m_cloud->port();
    // The cloud goes away: nothing listens on its port any more.
    m_cloud.reset();
    const qsizetype first = m_loadEnds.size() + 1;
    QTRY_VERIFY_WITH_TIMEOUT(m_loadEnds.size() >= first + 4, 30'000);
    for (qsizetype i = first; i < m_loadEnds.size(); ++i) {
        QCOMPARE(m_loadEnds.at(i).message, QStringLiteral("Connection refused"));
        QCOMPARE(m_loadEnds.at(i).devices, m_goodList);
        QCOMPARE(m_loadEnds.at(i).selectedDeviceId, m_goodList.last().id);
    }

    // Back on the same address.
    m_cloud = std::make_unique<FakeSensiboCloud>();
    QVERIFY(m_cloud->listen(port));
    checkRecovery();
    checkCadence(m_loadStarts, "loads");
}

void tst_CloudFaults::preferencesSurviveKillDuringWrite()
{
    const QString directory = m_dir->filePath(QStringLiteral("killed"));
    qint64 lastAnnounced = 0;
    for (int round = 0; round < 6; ++round) {
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(QCoreApplication::applicationFilePath(), {QLatin1String(writerFlag), directory});
        QVERIFY(writer.waitForStarted());
        // Wait until it has finished at least one write of its own, then let it run a random while longer.
        QTRY_VERIFY_WITH_TIMEOUT(writer.canReadLine(), 30'000);
        QTest::qWait(int(QRandomGenerator::global()->bounded(1, 200)));
        writer.kill(); // SIGKILL: no chance to finish the write in hand
        QVERIFY(writer.waitForFinished());
        for (const QByteArray& line : writer.readAllStandardOutput().split('\n')) {
            if (!line.isEmpty()) {
                lastAnnounced = line.toLongLong();
            }
        }

        Preferences reread(directory);
        QCOMPARE(reread.movedAsideTo(), std::nullopt); // the file parsed
        const qint64 counter = reread.text(QLatin1String(counterKey)).value_or(QString()).toLongLong();
        // The last finished write, or the one in hand when it had just been put in place.
        QVERIFY2(counter == lastAnnounced || counter == lastAnnounced + 1,
                 qPrintable(QStringLiteral("stored %1, last announced %2").arg(counter).arg(lastAnnounced)));
        // And the payload is whole and belongs to that counter or the next one (written before the counter).
        const QString payload = reread.text(QLatin1String(payloadKey)).value_or(QString());
        QVERIFY(payload == payloadFor(counter) || payload == payloadFor(counter + 1));
        lastAnnounced = counter;
    }
}

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], writerFlag) == 0) {
        return writePreferencesForever(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    tst_CloudFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_CloudFaults.moc"
