#pragma once

#include "tests/support/FakeHttpServer.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>

#include <optional>
#include <utility>

class QUrlQuery;

// The Sensibo cloud as Kelvo talks to it, on 127.0.0.1: the device list (GET /api/v2/users/me/pods), the change of
// one acState property (PATCH /api/v2/pods/<id>/acStates/<property>), one device's details (GET /api/v2/pods/<id>),
// its timer (PUT and DELETE /api/v1/pods/<id>/timer/), Climate React (PUT /api/v2/pods/<id>/smartmode) and the
// room's history (GET /api/v2/pods/<id>/historicalMeasurements?days=N). It keeps the devices' state, so a change
// shows in the next list; a timer fires when it is due and applies its state; and it can be told to answer badly.
class FakeSensiboCloud : public QObject
{
    Q_OBJECT

public:
    explicit FakeSensiboCloud(QObject* parent = nullptr);

    // Listens on 127.0.0.1; port 0 picks a free one.
    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.port(); }
    QString baseUrl() const; // "http://127.0.0.1:<port>/api/v2"

    FakeHttpServer& server() { return m_server; }
    const QList<FakeHttpServer::Request>& requests() const { return m_server.requests(); }
    void clearRequests() { m_server.clearRequests(); }

    // The key every request must carry as ?apiKey=; "test-key" unless set.
    void setApiKey(const QString& key) { m_apiKey = key; }
    QString apiKey() const { return m_apiKey; }

    // The account's devices, as the list returns them (before narrowing to the requested fields). Two devices
    // ("abc123" in the living room, "def456" in the bedroom) unless set.
    void setDevices(const QJsonArray& devices) { m_devices = devices; }
    QJsonArray devices() const { return m_devices; }
    QJsonObject device(const QString& id) const; // empty when there is no such device
    // Changes a device's acState as if someone used the remote; false when there is no such device.
    bool setAcStateProperty(const QString& id, const QString& property, const QJsonValue& value);

    enum class Endpoint { DeviceList, StateChange, DeviceDetails, Timer, ClimateReact, History };

    // Answers the next `times` requests of that kind with `response` exactly as given (times < 0: every request
    // until cleared with std::nullopt), after answering the first `skip` as usual. An overridden change leaves the
    // device as it was.
    void overrideEndpoint(Endpoint endpoint, std::optional<FakeHttpServer::Response> response, int times = -1,
                          int skip = 0);
    void overrideDeviceList(std::optional<FakeHttpServer::Response> response, int times = -1)
    {
        overrideEndpoint(Endpoint::DeviceList, std::move(response), times);
    }
    void overrideStateChange(std::optional<FakeHttpServer::Response> response, int times = -1, int skip = 0)
    {
        overrideEndpoint(Endpoint::StateChange, std::move(response), times, skip);
    }

    // Gzip-compresses the answers to requests that accept gzip, as the real cloud does.
    void setGzip(bool gzip) { m_gzip = gzip; }
    // Holds every answer back this long.
    void setDelayMs(int delayMs) { m_delayMs = delayMs; }
    // Narrows each device to the top-level keys named in ?fields= (on unless set; "*" means all).
    void setHonourFields(bool honour) { m_honourFields = honour; }

    // How many requests of a kind came (with any answer, overridden ones included).
    int requestCount(Endpoint endpoint) const { return m_counts.value(endpoint); }
    int deviceListCount() const { return requestCount(Endpoint::DeviceList); }
    int stateChangeCount() const { return requestCount(Endpoint::StateChange); }

    // A device as the cloud describes it, with the keys Kelvo reads and a good number it does not.
    // The measured temperature is always in Celsius; targetTemperature is in `temperatureUnit`.
    static QJsonObject makeDevice(const QString& id, const QString& roomName, bool on = true,
                                  const QString& mode = QStringLiteral("cool"), int targetTemperature = 22,
                                  const QString& temperatureUnit = QStringLiteral("C"), double roomTemperature = 23.4,
                                  double humidity = 51.3, bool alive = true);
    // A typical split unit: cool/heat/dry/auto with 16..30 °C (61..86 °F), fan without temperatures; dry has no
    // fan levels.
    static QJsonObject makeRemoteCapabilities();
    // A mode's "temperatures": 16..30 in Celsius (native) and the same range in Fahrenheit.
    static QJsonObject makeTemperatureRanges();
    static QJsonArray defaultDevices();
    // A timer as the cloud keeps it under "timer": enabled, due in `minutesFromNow`, applying the device's state with
    // "on" set to `turnsOn`.
    static QJsonObject makeTimer(const QJsonObject& device, bool turnsOn, int minutesFromNow);
    // Climate React set up as the cloud describes it: heat below `low`, cool above `high` (degrees Celsius).
    static QJsonObject makeSmartMode(bool enabled, double low = 20, double high = 27.5);
    // A room's readings as the history answer lists them: `days` of them, one every 90 s up to now, a day's swing
    // around the device's temperature and humidity that ends at the current readings.
    static QJsonObject makeHistory(const QJsonObject& device, int days);

Q_SIGNALS:
    // A state change was applied to a device.
    void acStateChanged(const QString& deviceId, const QString& property, const QJsonValue& value);

private:
    struct Override {
        std::optional<FakeHttpServer::Response> response;
        int times = -1;
        int skip = 0;
    };

    FakeHttpServer::Response handle(const FakeHttpServer::Request& request);
    FakeHttpServer::Response deviceList(const FakeHttpServer::Request& request, const QUrlQuery& query);
    FakeHttpServer::Response stateChange(const FakeHttpServer::Request& request, const QString& deviceId,
                                         const QString& property);
    FakeHttpServer::Response details(const FakeHttpServer::Request& request, const QString& deviceId,
                                     const QUrlQuery& query);
    FakeHttpServer::Response timer(const FakeHttpServer::Request& request, const QString& deviceId);
    FakeHttpServer::Response climateReact(const FakeHttpServer::Request& request, const QString& deviceId);
    FakeHttpServer::Response history(const FakeHttpServer::Request& request, const QString& deviceId,
                                     const QUrlQuery& query);
    // Where a request goes, by its path: the endpoint and the device it names.
    std::optional<std::pair<Endpoint, QString>> route(const QString& path) const;
    void fireTimer(const QString& deviceId, const QString& timerId);
    QJsonObject narrowed(const QJsonObject& device, const QString& fields) const;
    void setDeviceKey(const QString& deviceId, const QString& key, const QJsonValue& value);
    FakeHttpServer::Response json(const FakeHttpServer::Request& request, int status, const QJsonObject& body) const;
    FakeHttpServer::Response error(const FakeHttpServer::Request& request, int status, const QString& reason,
                                   const QString& message) const;
    static std::optional<FakeHttpServer::Response> takeOverride(Override& override);
    qsizetype indexOfDevice(const QString& id) const;

    FakeHttpServer m_server;
    QString m_apiKey = QStringLiteral("test-key");
    QJsonArray m_devices;
    QHash<Endpoint, Override> m_overrides;
    QHash<Endpoint, int> m_counts;
    bool m_gzip = false;
    int m_delayMs = 0;
    bool m_honourFields = true;
    int m_nextChangeId = 1;
    int m_nextTimerId = 1;
};
