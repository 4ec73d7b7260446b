#include "platform/Preferences.h"
#include "service/SensiboService.h"
#include "tests/support/CloudFixture.h"
#include "tests/support/FakeSensiboCloud.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

using namespace std::chrono_literals;

namespace {
FakeHttpServer::Response respond(int status, QByteArray body = {}, int delayMs = 0)
{
    FakeHttpServer::Response response;
    response.status = status;
    response.body = std::move(body);
    response.delayMs = delayMs;
    return response;
}

QByteArray listOf(const QJsonArray& devices)
{
    return QJsonDocument(QJsonObject{{"status", "success"}, {"result", devices}}).toJson(QJsonDocument::Compact);
}

QJsonObject deviceWith(const QString& id, const QJsonObject& acState, const QJsonObject& capabilities = {})
{
    QJsonObject device{{"id", id}, {"room", QJsonObject{{"name", "Room " + id}}}};
    if (!acState.isEmpty()) {
        device.insert("acState", acState);
    }
    if (!capabilities.isEmpty()) {
        device.insert("remoteCapabilities", capabilities);
    }
    return device;
}

int deviceListRequests(const FakeSensiboCloud& cloud)
{
    int n = 0;
    for (const auto& request : cloud.requests()) {
        n += request.method == "GET";
    }
    return n;
}
} // namespace

class tst_SensiboService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startsQuietWithNothingStored();
    void startWithAKeyLoadsTwiceThenEveryInterval();
    void selectionRule();
    void failedLoadKeepsTheLastGoodList();
    void earlierMessageStaysWhileLoading();
    void propertiesNotifyOnlyOnChange();
    void overlappingLoadsApplyInArrivalOrder();
    void replacingTheRefreshTaskStopsTheOldLoop();
    void cancelledLoadLeavesTheMessageButATimeoutShows();
    void serviceMayGoAwayWhileItsTasksWait();
    void transfersEndWithTheService();

    void changeShowsAtOnceThenTakesTheConfirmedState();
    void powerOnForADeviceWithoutStateCreatesOne();
    void valueOfTheWrongTypeChangesNothingButIsSent();
    void refusedChangeShowsMessageThenReloads();
    void acceptedChangeKeepsTheOptimisticState();
    void changeWhoseAddressDoesNotParseIsPutBack();
    void changeWithEmptyKeyIsSentAndItsMessageStays();
    void changeWithoutSelectionDoesNothing();

    void menuBarIcon_data();
    void menuBarIcon();
    void monochromeToggleChangesTheIconAtOnce();
    void derivedListsFollowTheCurrentMode();
    void extrasAreFetchedWhenShownNeverOnTheLoop();

private:
    std::unique_ptr<SensiboService> makeService(const QString& key = QStringLiteral("test-key"));
    void loadDevices(SensiboService& service, const QJsonArray& devices);

    std::unique_ptr<CloudFixture> m_fixture;
};

void tst_SensiboService::init()
{
    m_fixture = std::make_unique<CloudFixture>();
    QVERIFY(m_fixture->listening);
}

void tst_SensiboService::cleanup()
{
    m_fixture.reset();
}

std::unique_ptr<SensiboService> tst_SensiboService::makeService(const QString& key)
{
    if (!key.isNull()) {
        m_fixture->preferences.setText(QStringLiteral("sensiboAPIKey"), key);
    }
    return m_fixture->makeService();
}

void tst_SensiboService::loadDevices(SensiboService& service, const QJsonArray& devices)
{
    m_fixture->cloud.setDevices(devices);
    QCoro::waitFor(service.fetchDevices());
    QVERIFY2(!service.errorMessage(), qPrintable(service.errorMessage().value_or(QString())));
}

void tst_SensiboService::startsQuietWithNothingStored()
{
    SensiboService service(m_fixture->preferences, &m_fixture->network, m_fixture->cloud.baseUrl());
    QCOMPARE(service.apiKey(), QString());
    QCOMPARE(service.useMonochromeIcons(), false);
    QCoro::waitFor(service.initialLoad());
    QCoro::waitFor(service.fetchDevices());
    QCOMPARE(service.isLoading(), false);
    QCOMPARE(service.hasStartedInitialLoad(), false);
    QCOMPARE(service.menuBarIconName(), QStringLiteral("ac-off"));
    QTest::qWait(50);
    QCOMPARE(m_fixture->cloud.requests().size(), 0);
}

void tst_SensiboService::startWithAKeyLoadsTwiceThenEveryInterval()
{
    m_fixture->preferences.setBool(QStringLiteral("useMonochromeIcons"), true);
    auto service = makeService();
    QCOMPARE(service->useMonochromeIcons(), true);
    m_fixture->cloud.setDevices({FakeSensiboCloud::makeDevice("a1", "Lounge"),
                                 FakeSensiboCloud::makeDevice("b2", "Den"),
                                 FakeSensiboCloud::makeDevice("c3", "Office")});
    service->setRefreshInterval(1h);

    service->initialLoad();
    service->initialLoad(); // arrives during the first load: nothing more
    QCOMPARE(service->isLoading(), true);
    QTRY_COMPARE(deviceListRequests(m_fixture->cloud), 2);
    QCOMPARE(service->selectedDeviceId(), QStringLiteral("a1"));
    QTRY_COMPARE(service->isLoading(), false);
    QCoro::waitFor(service->initialLoad()); // once per run, whatever happens later
    QTest::qWait(100);
    QCOMPARE(deviceListRequests(m_fixture->cloud), 2);

    // With a short pause the loop keeps loading by itself.
    auto fast = makeService();
    fast->setRefreshInterval(50ms);
    fast->initialLoad();
    QTRY_VERIFY(deviceListRequests(m_fixture->cloud) >= 6);
}

void tst_SensiboService::selectionRule()
{
    auto service = makeService();
    const QJsonArray three{deviceWith("a", {{"on", true}}), deviceWith("b", {{"on", true}}),
                           deviceWith("c", {{"on", true}})};
    loadDevices(*service, three);
    QCOMPARE(service->selectedDeviceId(), QStringLiteral("a"));

    service->setSelectedDeviceId(QStringLiteral("c"));
    loadDevices(*service, {three[1], three[2]});
    QCOMPARE(service->selectedDeviceId(), QStringLiteral("c")); // still there: stays

    loadDevices(*service, {three[1], three[0]});
    QCOMPARE(service->selectedDeviceId(), QStringLiteral("b")); // gone: the first of the new list

    loadDevices(*service, {});
    QCOMPARE(service->selectedDeviceId(), std::nullopt);
    QCOMPARE(service->selectedDevice(), std::nullopt);
    QCOMPARE(service->menuBarIconName(), QStringLiteral("ac-off"));

    // A selection of a device that is not listed does not fall back to the first one.
    loadDevices(*service, three);
    service->setSelectedDeviceId(QStringLiteral("zz"));
    QCOMPARE(service->selectedDevice(), std::nullopt);
}

void tst_SensiboService::failedLoadKeepsTheLastGoodList()
{
    auto service = makeService();
    loadDevices(*service, FakeSensiboCloud::defaultDevices());
    service->setSelectedDeviceId(service->devices().last().id);
    const auto before = service->devices();

    m_fixture->cloud.overrideDeviceList(respond(401), 1);
    QCoro::waitFor(service->fetchDevices());
    QCOMPARE(service->errorMessage(), QStringLiteral("Invalid API key"));
    QCOMPARE(service->devices(), before);
    QCOMPARE(service->selectedDeviceId(), before.last().id);
    QCOMPARE(service->isLoading(), false);

    QCoro::waitFor(service->fetchDevices());
    QCOMPARE(service->errorMessage(), std::nullopt);

    // A key the address refuses ends the load too, with its own message.
    service->setApiKey(QStringLiteral("bad key"));
    QCoro::waitFor(service->fetchDevices());
    QCOMPARE(service->errorMessage(), QStringLiteral("Invalid URL"));
    QCOMPARE(service->isLoading(), false);
}

void tst_SensiboService::earlierMessageStaysWhileLoading()
{
    auto service = makeService();
    m_fixture->cloud.overrideDeviceList(respond(500), 1);
    QCoro::waitFor(service->fetchDevices());
    QCOMPARE(service->errorMessage(), QStringLiteral("Server error (500)"));

    m_fixture->cloud.setDelayMs(200);
    service->fetchDevices();
    QTRY_COMPARE(m_fixture->cloud.requests().size(), 2);
    QCOMPARE(service->isLoading(), true);
    QCOMPARE(service->errorMessage(), QStringLiteral("Server error (500)"));
    QTRY_COMPARE(service->isLoading(), false);
    QCOMPARE(service->errorMessage(), std::nullopt);
}

void tst_SensiboService::propertiesNotifyOnlyOnChange()
{
    auto service = makeService();
    QSignalSpy devices(service.get(), &SensiboService::devicesChanged);
    QSignalSpy loading(service.get(), &SensiboService::isLoadingChanged);
    QSignalSpy selection(service.get(), &SensiboService::selectedDeviceIdChanged);
    QSignalSpy error(service.get(), &SensiboService::errorMessageChanged);
    QSignalSpy key(service.get(), &SensiboService::apiKeyChanged);
    QSignalSpy monochrome(service.get(), &SensiboService::useMonochromeIconsChanged);

    QCoro::waitFor(service->fetchDevices());
    QCoro::waitFor(service->fetchDevices()); // the same list again
    QCOMPARE(devices.size(), 2);             // every write of the list counts
    QCOMPARE(loading.size(), 4);
    QCOMPARE(selection.size(), 1);
    QCOMPARE(error.size(), 0);

    service->setApiKey(QStringLiteral("test-key"));
    service->setUseMonochromeIcons(false);
    service->setSelectedDeviceId(service->selectedDeviceId());
    QCOMPARE(key.size(), 0);
    QCOMPARE(monochrome.size(), 0);
    QCOMPARE(selection.size(), 1);
    service->setApiKey(QStringLiteral("other"));
    service->setUseMonochromeIcons(true);
    QCOMPARE(key.size(), 1);
    QCOMPARE(monochrome.size(), 1);
    QCOMPARE(m_fixture->preferences.text(QStringLiteral("sensiboAPIKey")),
             QStringLiteral("test-key")); // never stored here
}

void tst_SensiboService::overlappingLoadsApplyInArrivalOrder()
{
    auto service = makeService();
    const QJsonArray older{deviceWith("old", {{"on", false}})};
    const QJsonArray newer{deviceWith("new", {{"on", true}})};
    m_fixture->cloud.overrideDeviceList(respond(200, listOf(older), 400), 1);
    service->fetchDevices();
    QTRY_COMPARE(m_fixture->cloud.requests().size(), 1);
    m_fixture->cloud.overrideDeviceList(respond(200, listOf(newer)), 1);
    service->fetchDevices();

    QTRY_COMPARE(service->selectedDeviceId(), QStringLiteral("new"));
    QCOMPARE(service->isLoading(), false); // the first to finish ends loading, the slow one still runs
    QTRY_COMPARE(service->selectedDeviceId(), QStringLiteral("old"));
    QCOMPARE(service->devices().size(), 1);
}

void tst_SensiboService::replacingTheRefreshTaskStopsTheOldLoop()
{
    auto service = makeService();
    service->setRefreshInterval(30ms);
    service->startRefreshTask();
    QTRY_VERIFY(deviceListRequests(m_fixture->cloud) >= 3);

    service->setRefreshInterval(1h);
    service->startRefreshTask(); // loads at once, then sleeps an hour; the fast loop must be gone
    QTRY_COMPARE(service->isLoading(), false);
    const int settled = deviceListRequests(m_fixture->cloud);
    QTest::qWait(300);
    QVERIFY(deviceListRequests(m_fixture->cloud) - settled <= 1); // at most the old loop's load already in flight
    const int after = deviceListRequests(m_fixture->cloud);
    QTest::qWait(300);
    QCOMPARE(deviceListRequests(m_fixture->cloud), after);
}

void tst_SensiboService::cancelledLoadLeavesTheMessageButATimeoutShows()
{
    auto service = makeService();
    m_fixture->cloud.overrideDeviceList(respond(500), 1);
    QCoro::waitFor(service->fetchDevices());
    QCOMPARE(service->errorMessage(), QStringLiteral("Server error (500)"));

    // Save & Connect replaces the refresh task while its load is on the wire: nothing failed.
    service->setRequestTimeout(3000);
    service->setRefreshInterval(1h);
    m_fixture->cloud.setDelayMs(60'000);
    service->startRefreshTask();
    QTRY_COMPARE(deviceListRequests(m_fixture->cloud), 2);
    QSignalSpy message(service.get(), &SensiboService::errorMessageChanged);
    service->startRefreshTask();
    QCOMPARE(message.size(), 0);
    QCOMPARE(service->errorMessage(), QStringLiteral("Server error (500)"));

    // The new task's load runs out of time: Qt ends it the same way, but that is a failure to show.
    QTRY_COMPARE_WITH_TIMEOUT(service->errorMessage(), QStringLiteral("The request timed out."), 20'000);
    QCOMPARE(deviceListRequests(m_fixture->cloud), 3);
}

void tst_SensiboService::serviceMayGoAwayWhileItsTasksWait()
{
    auto service = makeService();
    service->setRefreshInterval(20ms);
    m_fixture->cloud.setDelayMs(150);
    service->startRefreshTask();
    service->fetchDevices();
    QTRY_VERIFY(m_fixture->cloud.requests().size() >= 2);
    service.reset();
    QTest::qWait(400); // the aborted load and the woken loop resume and find the service gone
    const int total = m_fixture->cloud.requests().size();
    QTest::qWait(100);
    QCOMPARE(m_fixture->cloud.requests().size(), total);
}

void tst_SensiboService::transfersEndWithTheService()
{
    auto service = makeService();
    loadDevices(*service, FakeSensiboCloud::defaultDevices());
    m_fixture->cloud.setDelayMs(60'000); // no answer comes while the test runs
    auto load = service->fetchDevices();
    auto change = service->updateACState(ACSetting::Power, false);
    QTRY_COMPARE(m_fixture->cloud.requests().size(), 3);
    QVERIFY(!load.isReady());
    QVERIFY(!change.isReady());

    // Both end with the service, at once: neither is left waiting on a reply that the network manager would take
    // with it when it goes, which would keep their tasks suspended for ever.
    service.reset();
    QVERIFY(load.isReady());
    QVERIFY(change.isReady());
}

void tst_SensiboService::changeShowsAtOnceThenTakesTheConfirmedState()
{
    auto service = makeService();
    loadDevices(*service, FakeSensiboCloud::defaultDevices());
    const QString id = *service->selectedDeviceId();
    QSignalSpy devices(service.get(), &SensiboService::devicesChanged);

    m_fixture->cloud.setDelayMs(150);
    auto change = service->updateACState(ACSetting::TargetTemperature, qint64(24));
    QCOMPARE(devices.size(), 1);
    QCOMPARE(service->selectedDevice()->acState->targetTemperature, 24); // before the cloud has answered
    QCoro::waitFor(change);

    QCOMPARE(m_fixture->cloud.requests().last().target,
             "/api/v2/pods/" + id.toLatin1() + "/acStates/targetTemperature?apiKey=test-key");
    QCOMPARE(m_fixture->cloud.requests().last().body, QByteArray(R"({"newValue":24})"));
    QCOMPARE(devices.size(), 2);
    const QJsonObject cloudState = m_fixture->cloud.device(id).value("acState").toObject();
    QCOMPARE(service->selectedDevice()->acState->targetTemperature, cloudState.value("targetTemperature").toInteger());
    QCOMPARE(service->selectedDevice()->acState->mode, cloudState.value("mode").toString());
    QCOMPARE(service->errorMessage(), std::nullopt);
}

void tst_SensiboService::powerOnForADeviceWithoutStateCreatesOne()
{
    auto service = makeService();
    loadDevices(*service, {QJsonObject{{"id", "bare"}}});
    QCOMPARE(service->selectedDevice()->acState, std::nullopt);
    m_fixture->cloud.overrideStateChange(respond(200, "{}", 100));

    auto change = service->updateACState(ACSetting::Power, true);
    ACState expected;
    expected.on = true;
    QCOMPARE(service->selectedDevice()->acState, expected);
    QCoro::waitFor(change);
    QCOMPARE(m_fixture->cloud.requests().last().body, QByteArray(R"({"newValue":true})"));
    QCOMPARE(service->selectedDevice()->acState, expected); // accepted without a state: ours stays
}

void tst_SensiboService::valueOfTheWrongTypeChangesNothingButIsSent()
{
    auto service = makeService();
    loadDevices(*service, FakeSensiboCloud::defaultDevices());
    const auto before = service->selectedDevice()->acState;
    QSignalSpy devices(service.get(), &SensiboService::devicesChanged);
    m_fixture->cloud.overrideStateChange(respond(200, "{}", 100));

    auto change = service->updateACState(ACSetting::TargetTemperature, QStringLiteral("25"));
    QCOMPARE(devices.size(), 1); // observers still see a write
    QCOMPARE(service->selectedDevice()->acState, before);
    QCoro::waitFor(change);
    QTRY_COMPARE(m_fixture->cloud.stateChangeCount(), 1);
    QCOMPARE(m_fixture->cloud.requests().last().body, QByteArray(R"({"newValue":"25"})"));
}

void tst_SensiboService::refusedChangeShowsMessageThenReloads()
{
    auto service = makeService();
    loadDevices(*service, FakeSensiboCloud::defaultDevices());
    const QString id = *service->selectedDeviceId();
    const auto cloudTemperature = m_fixture->cloud.device(id).value("acState").toObject().value("targetTemperature");
    QList<std::optional<QString>> messages;
    connect(service.get(), &SensiboService::errorMessageChanged, this,
            [&] { messages.append(service->errorMessage()); });

    m_fixture->cloud.overrideStateChange(respond(500), 1);
    QCoro::waitFor(service->updateACState(ACSetting::TargetTemperature, qint64(29)));
    QCOMPARE(messages,
             (QList<std::optional<QString>>{QStringLiteral("Failed to update targetTemperature"), std::nullopt}));
    QCOMPARE(m_fixture->cloud.requests().last().method, QByteArray("GET")); // the reload
    QCOMPARE(service->selectedDevice()->acState->targetTemperature, cloudTemperature.toInteger());

    // When the reload fails too, its message replaces the first.
    m_fixture->cloud.overrideStateChange(respond(500), 1);
    m_fixture->cloud.overrideDeviceList(respond(429), 1);
    QCoro::waitFor(service->updateACState(ACSetting::Mode, QStringLiteral("heat")));
    QCOMPARE(service->errorMessage(), QStringLiteral("Rate limited — try again later"));
    QCOMPARE(service->selectedDevice()->acState->mode, QStringLiteral("heat")); // until a load replaces it
}

void tst_SensiboService::acceptedChangeKeepsTheOptimisticState()
{
    auto service = makeService();
    loadDevices(*service, FakeSensiboCloud::defaultDevices());
    m_fixture->cloud.overrideStateChange(respond(500), 1);
    m_fixture->cloud.overrideDeviceList(respond(500), 1);
    QCoro::waitFor(service->updateACState(ACSetting::FanLevel, QStringLiteral("high")));
    QVERIFY(service->errorMessage());

    m_fixture->cloud.overrideStateChange(respond(200, R"({"status":"success"})"), 1);
    QCoro::waitFor(service->updateACState(ACSetting::FanLevel, QStringLiteral("low")));
    QCOMPARE(service->errorMessage(), std::nullopt);
    QCOMPARE(service->selectedDevice()->acState->fanLevel, QStringLiteral("low"));
}

void tst_SensiboService::changeWhoseAddressDoesNotParseIsPutBack()
{
    auto service = makeService();
    loadDevices(*service, FakeSensiboCloud::defaultDevices());
    const auto before = service->selectedDevice()->acState;
    m_fixture->cloud.clearRequests();

    service->setApiKey(QStringLiteral("key&fields=*"));
    QCoro::waitFor(service->updateACState(ACSetting::Power, !before->on));
    QCOMPARE(service->selectedDevice()->acState, before);
    QCOMPARE(service->errorMessage(), QStringLiteral("Invalid URL"));
    QTest::qWait(50);
    QCOMPARE(m_fixture->cloud.requests().size(), 0);
}

void tst_SensiboService::changeWithEmptyKeyIsSentAndItsMessageStays()
{
    auto service = makeService();
    loadDevices(*service, FakeSensiboCloud::defaultDevices());
    service->setApiKey(QString());
    m_fixture->cloud.clearRequests();

    QCoro::waitFor(service->updateACState(ACSetting::Power, true));
    QCOMPARE(m_fixture->cloud.requests().size(), 1); // no reload: loads need a key
    QVERIFY(m_fixture->cloud.requests().first().target.endsWith("/acStates/on?apiKey="));
    QCOMPARE(service->errorMessage(), QStringLiteral("Failed to update on"));
}

void tst_SensiboService::changeWithoutSelectionDoesNothing()
{
    auto service = makeService();
    QSignalSpy devices(service.get(), &SensiboService::devicesChanged);
    QCoro::waitFor(service->updateACState(ACSetting::Power, true));
    loadDevices(*service, FakeSensiboCloud::defaultDevices());
    service->setSelectedDeviceId(QStringLiteral("gone"));
    m_fixture->cloud.clearRequests();
    QCoro::waitFor(service->updateACState(ACSetting::Power, true));
    QCOMPARE(devices.size(), 1); // the load only
    QCOMPARE(m_fixture->cloud.requests().size(), 0);
    QCOMPARE(service->errorMessage(), std::nullopt);
}

void tst_SensiboService::menuBarIcon_data()
{
    QTest::addColumn<QJsonObject>("device");
    QTest::addColumn<bool>("monochrome");
    QTest::addColumn<QString>("icon");
    QTest::newRow("no state") << QJsonObject{{"id", "d"}} << false << "ac-off";
    QTest::newRow("off in cool") << deviceWith("d", {{"on", false}, {"mode", "cool"}}) << false << "ac-off";
    QTest::newRow("on, no mode") << deviceWith("d", {{"on", true}}) << false << "ac-on";
    QTest::newRow("cool") << deviceWith("d", {{"on", true}, {"mode", "cool"}}) << false << "ac-cool";
    QTest::newRow("heat") << deviceWith("d", {{"on", true}, {"mode", "heat"}}) << false << "ac-heat";
    QTest::newRow("dry") << deviceWith("d", {{"on", true}, {"mode", "dry"}}) << false << "ac-on";
    QTest::newRow("case counts") << deviceWith("d", {{"on", true}, {"mode", "Cool"}}) << false << "ac-on";
    QTest::newRow("monochrome heat") << deviceWith("d", {{"on", true}, {"mode", "heat"}}) << true << "ac-on";
    QTest::newRow("monochrome off") << deviceWith("d", {{"on", false}, {"mode", "heat"}}) << true << "ac-off";
}

void tst_SensiboService::menuBarIcon()
{
    QFETCH(QJsonObject, device);
    QFETCH(bool, monochrome);
    QFETCH(QString, icon);
    auto service = makeService();
    service->setUseMonochromeIcons(monochrome);
    loadDevices(*service, {device});
    QCOMPARE(service->menuBarIconName(), icon);
}

void tst_SensiboService::monochromeToggleChangesTheIconAtOnce()
{
    auto service = makeService();
    loadDevices(*service, {deviceWith("d", {{"on", true}, {"mode", "cool"}})});
    m_fixture->cloud.clearRequests();
    service->setUseMonochromeIcons(true);
    QCOMPARE(service->menuBarIconName(), QStringLiteral("ac-on"));
    service->setUseMonochromeIcons(false);
    QCOMPARE(service->menuBarIconName(), QStringLiteral("ac-cool"));
    QCOMPARE(m_fixture->cloud.requests().size(), 0);
}

void tst_SensiboService::derivedListsFollowTheCurrentMode()
{
    const QJsonObject capabilities{
        {"modes",
         QJsonObject{
             {"fan", QJsonObject{{"fanLevels", QJsonArray{"low", "high"}}}},
             {"wind", QJsonObject{}},
             {"cool", QJsonObject{{"temperatures", QJsonObject{{"C", QJsonObject{{"values", QJsonArray{30, 16, 24}}}},
                                                               {"F", QJsonObject{{"values", QJsonArray{}}}}}},
                                  {"fanLevels", QJsonArray{"quiet", "auto", "low"}},
                                  {"swing", QJsonArray{"stopped", "rangeFull"}},
                                  {"horizontalSwing", QJsonArray{"stopped"}},
                                  {"light", QJsonArray{"on", "off"}}}},
             {"auto", QJsonObject{}},
         }}};
    auto service = makeService();
    QCOMPARE(service->availableModes(), QStringList());
    QCOMPARE(service->temperatureRange(), std::nullopt);

    loadDevices(*service, {deviceWith("d", {{"on", true}, {"mode", "cool"}, {"temperatureUnit", "C"}}, capabilities)});
    QCOMPARE(service->availableModes(), (QStringList{"cool", "auto", "fan", "wind"}));
    QCOMPARE(service->availableFanLevels(), (QStringList{"quiet", "auto", "low"}));
    QCOMPARE(service->availableSwingModes(), (QStringList{"stopped", "rangeFull"}));
    QCOMPARE(service->availableHorizontalSwingModes(), QStringList{"stopped"});
    QCOMPARE(service->availableLightModes(), (QStringList{"on", "off"}));
    QCOMPARE(service->temperatureRange(), (std::pair<qint64, qint64>{16, 30}));

    loadDevices(*service, {deviceWith("d", {{"on", true}, {"mode", "cool"}, {"temperatureUnit", "F"}}, capabilities)});
    QCOMPARE(service->temperatureRange(), std::nullopt); // empty list
    loadDevices(*service, {deviceWith("d", {{"on", true}, {"mode", "cool"}}, capabilities)});
    QCOMPARE(service->temperatureRange(), std::nullopt); // no unit

    // A mode the map does not hold has no lists, although other modes do.
    loadDevices(*service, {deviceWith("d", {{"on", true}, {"mode", "heat"}, {"temperatureUnit", "C"}}, capabilities)});
    QCOMPARE(service->availableFanLevels(), QStringList());
    QCOMPARE(service->availableSwingModes(), QStringList());
    QCOMPARE(service->temperatureRange(), std::nullopt);
    QCOMPARE(service->availableModes().size(), 4);
}

// Details at most once a minute and history kept ten minutes, per device, counted on the service's clock; the 30 s
// loop asks for neither.
void tst_SensiboService::extrasAreFetchedWhenShownNeverOnTheLoop()
{
    QDateTime now(QDate(2026, 12, 8), QTime(22, 0), QTimeZone::utc());
    auto service = makeService();
    DeviceFeatures& features = service->features();
    features.setClock([&now] { return now; });
    loadDevices(*service, FakeSensiboCloud::defaultDevices());
    const FakeSensiboCloud& cloud = m_fixture->cloud;
    const auto asked = [&cloud] {
        return std::pair{cloud.requestCount(FakeSensiboCloud::Endpoint::DeviceDetails),
                         cloud.requestCount(FakeSensiboCloud::Endpoint::History)};
    };
    QCOMPARE(asked(), std::pair(0, 0));
    QVERIFY(features.offersTimer()); // before the details come, a timer can be set all the same
    QVERIFY(!features.history());

    QCoro::waitFor(features.showDevice("abc123"));
    QCOMPARE(asked(), std::pair(1, 1));
    QVERIFY(features.offersTimer() && !features.timer() && !features.climateReact());
    QVERIFY(features.history() && features.history()->drawable());
    QCoro::waitFor(features.showDevice("abc123"));
    QCOMPARE(asked(), std::pair(1, 1));
    QCoro::waitFor(features.showDevice("def456")); // another device has its own
    QCOMPARE(asked(), std::pair(2, 2));

    now = now.addSecs(61);
    QCoro::waitFor(features.showDevice("abc123"));
    QCOMPARE(asked(), std::pair(3, 2));
    now = now.addSecs(540);
    QCoro::waitFor(features.showDevice("abc123"));
    QCOMPARE(asked(), std::pair(4, 3));
    now = now.addSecs(-3600); // a clock set back does not hold them up
    QCoro::waitFor(features.showDevice("abc123"));
    QCOMPARE(asked(), std::pair(5, 4));

    QCoro::waitFor(service->fetchDevices());
    QCoro::waitFor(service->fetchDevices());
    QCOMPARE(asked(), std::pair(5, 4));
}

QTEST_GUILESS_MAIN(tst_SensiboService)
#include "tst_SensiboService.moc"
