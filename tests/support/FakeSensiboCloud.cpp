#include "tests/support/FakeSensiboCloud.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QSet>
#include <QTimeZone>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

const QString kApiPrefix = QStringLiteral("/api/v2");

// The cloud writes times with microseconds: "2025-01-06T23:32:17.280765Z".
QString cloudTime(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + QStringLiteral("000Z");
}

QJsonObject timeAgo(qint64 secondsAgo)
{
    return QJsonObject{
        {QStringLiteral("time"), cloudTime(QDateTime::currentDateTimeUtc().addSecs(-secondsAgo))},
        {QStringLiteral("secondsAgo"), secondsAgo},
    };
}

QJsonArray strings(std::initializer_list<const char*> values)
{
    QJsonArray array;
    for (const char* value : values) {
        array.append(QString::fromLatin1(value));
    }
    return array;
}

bool isKnownProperty(const QString& property)
{
    static const QSet<QString> known{
        QStringLiteral("on"),
        QStringLiteral("mode"),
        QStringLiteral("fanLevel"),
        QStringLiteral("targetTemperature"),
        QStringLiteral("temperatureUnit"),
        QStringLiteral("swing"),
        QStringLiteral("horizontalSwing"),
        QStringLiteral("light"),
    };
    return known.contains(property);
}

bool hasRightType(const QString& property, const QJsonValue& value)
{
    if (property == QLatin1String("on")) {
        return value.isBool();
    }
    if (property == QLatin1String("targetTemperature")) {
        return value.isDouble() && value.toDouble() == double(value.toInteger());
    }
    return value.isString();
}

// A timer as the cloud writes it: times in UTC without a zone, the wait counted from now.
QJsonObject timerObject(const QJsonObject& acState, int minutesFromNow)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto plain = [](const QDateTime& time) { return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")); };
    return QJsonObject{
        {QStringLiteral("isEnabled"), true},
        {QStringLiteral("acState"), acState},
        {QStringLiteral("createTime"), plain(now)},
        {QStringLiteral("createTimeSecondsAgo"), 0},
        {QStringLiteral("targetTime"), plain(now.addSecs(qint64(minutesFromNow) * 60))},
        {QStringLiteral("targetTimeSecondsFromNow"), qint64(minutesFromNow) * 60},
    };
}

} // namespace

FakeSensiboCloud::FakeSensiboCloud(QObject* parent)
    : QObject(parent)
    , m_devices(defaultDevices())
{
    m_server.setHandler([this](const FakeHttpServer::Request& request) { return handle(request); });
}

bool FakeSensiboCloud::listen(quint16 port)
{
    return m_server.listen(port);
}

QString FakeSensiboCloud::baseUrl() const
{
    return m_server.baseUrl() + kApiPrefix;
}

QJsonObject FakeSensiboCloud::device(const QString& id) const
{
    const qsizetype index = indexOfDevice(id);
    return index < 0 ? QJsonObject() : m_devices.at(index).toObject();
}

bool FakeSensiboCloud::setAcStateProperty(const QString& id, const QString& property, const QJsonValue& value)
{
    const qsizetype index = indexOfDevice(id);
    if (index < 0) {
        return false;
    }
    QJsonObject device = m_devices.at(index).toObject();
    QJsonObject acState = device.value(QStringLiteral("acState")).toObject();
    acState.insert(property, value);
    acState.insert(QStringLiteral("timestamp"), timeAgo(0));
    device.insert(QStringLiteral("acState"), acState);
    device.insert(QStringLiteral("lastStateChange"), timeAgo(0));
    m_devices.replace(index, device);
    return true;
}

void FakeSensiboCloud::overrideEndpoint(Endpoint endpoint, std::optional<FakeHttpServer::Response> response, int times,
                                        int skip)
{
    m_overrides[endpoint] = Override{std::move(response), times, skip};
}

std::optional<FakeHttpServer::Response> FakeSensiboCloud::takeOverride(Override& override)
{
    if (!override.response || override.times == 0) {
        return std::nullopt;
    }
    if (override.skip > 0) {
        --override.skip;
        return std::nullopt;
    }
    std::optional<FakeHttpServer::Response> response = override.response;
    if (override.times > 0 && --override.times == 0) {
        override.response.reset();
    }
    return response;
}

qsizetype FakeSensiboCloud::indexOfDevice(const QString& id) const
{
    for (qsizetype i = 0; i < m_devices.size(); ++i) {
        if (m_devices.at(i).toObject().value(QStringLiteral("id")).toString() == id) {
            return i;
        }
    }
    return -1;
}

std::optional<std::pair<FakeSensiboCloud::Endpoint, QString>> FakeSensiboCloud::route(const QString& path) const
{
    if (path == kApiPrefix + QStringLiteral("/users/me/pods")) {
        return std::pair{Endpoint::DeviceList, QString()};
    }
    // The timer lives under version 1 of the API: /api/v1/pods/<id>/timer/
    const QString v1Pods = QStringLiteral("/api/v1/pods/");
    if (path.startsWith(v1Pods)) {
        const QStringList segments = path.mid(v1Pods.size()).split(QLatin1Char('/'));
        if ((segments.size() == 2 || (segments.size() == 3 && segments[2].isEmpty())) && !segments[0].isEmpty() &&
            segments[1] == QLatin1String("timer")) {
            return std::pair{Endpoint::Timer, segments[0]};
        }
        return std::nullopt;
    }
    const QString pods = kApiPrefix + QStringLiteral("/pods/");
    if (!path.startsWith(pods)) {
        return std::nullopt;
    }
    const QStringList segments = path.mid(pods.size()).split(QLatin1Char('/'));
    if (segments[0].isEmpty()) {
        return std::nullopt;
    }
    if (segments.size() == 1) {
        return std::pair{Endpoint::DeviceDetails, segments[0]};
    }
    if (segments.size() == 3 && segments[1] == QLatin1String("acStates") && !segments[2].isEmpty()) {
        return std::pair{Endpoint::StateChange, segments[0]};
    }
    if (segments.size() == 2 && segments[1] == QLatin1String("smartmode")) {
        return std::pair{Endpoint::ClimateReact, segments[0]};
    }
    if (segments.size() == 2 && segments[1] == QLatin1String("historicalMeasurements")) {
        return std::pair{Endpoint::History, segments[0]};
    }
    return std::nullopt;
}

FakeHttpServer::Response FakeSensiboCloud::handle(const FakeHttpServer::Request& request)
{
    const QUrl url(QString::fromLatin1(request.target));
    const QUrlQuery query(url);
    const QString path = url.path();

    const auto routed = route(path);
    if (!routed) {
        return error(request, 404, QStringLiteral("NotFound"), QStringLiteral("No such resource"));
    }
    const auto [endpoint, deviceId] = *routed;
    ++m_counts[endpoint];
    if (std::optional<FakeHttpServer::Response> forced = takeOverride(m_overrides[endpoint])) {
        return *forced;
    }
    if (query.queryItemValue(QStringLiteral("apiKey"), QUrl::FullyDecoded) != m_apiKey) {
        return error(request, 401, QStringLiteral("Unauthorized"), QStringLiteral("Invalid API key"));
    }
    const auto methodIs = [&request](std::initializer_list<const char*> methods) {
        return std::any_of(methods.begin(), methods.end(), [&](const char* m) { return request.method == m; });
    };
    bool allowed = false;
    switch (endpoint) {
    case Endpoint::DeviceList:
    case Endpoint::DeviceDetails:
    case Endpoint::History:
        allowed = methodIs({"GET", "HEAD"});
        break;
    case Endpoint::StateChange:
        allowed = methodIs({"PATCH"});
        break;
    case Endpoint::Timer:
        allowed = methodIs({"PUT", "DELETE"});
        break;
    case Endpoint::ClimateReact:
        allowed = methodIs({"PUT"});
        break;
    }
    if (!allowed) {
        return error(request, 405, QStringLiteral("MethodNotAllowed"), QStringLiteral("Method not allowed"));
    }
    if (endpoint != Endpoint::DeviceList && indexOfDevice(deviceId) < 0) {
        return error(request, 404, QStringLiteral("NotFound"), QStringLiteral("Device %1 not found").arg(deviceId));
    }
    switch (endpoint) {
    case Endpoint::DeviceList:
        return deviceList(request, query);
    case Endpoint::StateChange:
        return stateChange(request, deviceId, path.section(QLatin1Char('/'), -1));
    case Endpoint::DeviceDetails:
        return details(request, deviceId, query);
    case Endpoint::Timer:
        return timer(request, deviceId);
    case Endpoint::ClimateReact:
        return climateReact(request, deviceId);
    case Endpoint::History:
        return history(request, deviceId, query);
    }
    return error(request, 404, QStringLiteral("NotFound"), QStringLiteral("No such resource"));
}

// Only the top-level keys named in ?fields=; without it, only the id.
QJsonObject FakeSensiboCloud::narrowed(const QJsonObject& device, const QString& fields) const
{
    if (!m_honourFields || fields == QLatin1String("*")) {
        return device;
    }
    QStringList wanted = fields.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (wanted.isEmpty()) {
        wanted.append(QStringLiteral("id"));
    }
    QJsonObject narrowed;
    for (const QString& field : wanted) {
        const QString key = field.trimmed();
        if (device.contains(key)) {
            narrowed.insert(key, device.value(key));
        }
    }
    return narrowed;
}

FakeHttpServer::Response FakeSensiboCloud::deviceList(const FakeHttpServer::Request& request, const QUrlQuery& query)
{
    QJsonArray result;
    const QString fields = query.queryItemValue(QStringLiteral("fields"), QUrl::FullyDecoded);
    if (!m_honourFields || fields == QLatin1String("*")) {
        result = m_devices;
    } else {
        for (const QJsonValue& value : m_devices) {
            result.append(narrowed(value.toObject(), fields));
        }
    }

    return json(request, 200,
                QJsonObject{
                    {QStringLiteral("status"), QStringLiteral("success")},
                    {QStringLiteral("result"), result},
                    {QStringLiteral("isPartial"), false},
                });
}

FakeHttpServer::Response FakeSensiboCloud::stateChange(const FakeHttpServer::Request& request, const QString& deviceId,
                                                       const QString& property)
{
    const qsizetype index = indexOfDevice(deviceId);
    if (index < 0) {
        return error(request, 404, QStringLiteral("NotFound"), QStringLiteral("Device %1 not found").arg(deviceId));
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        return error(request, 400, QStringLiteral("BadRequest"), QStringLiteral("Malformed JSON body"));
    }
    const QJsonObject body = document.object();
    if (!body.contains(QStringLiteral("newValue"))) {
        return error(request, 400, QStringLiteral("BadRequest"), QStringLiteral("newValue is required"));
    }
    if (!isKnownProperty(property)) {
        return error(request, 400, QStringLiteral("BadRequest"), QStringLiteral("Unknown property %1").arg(property));
    }
    const QJsonValue newValue = body.value(QStringLiteral("newValue"));
    if (!hasRightType(property, newValue)) {
        return error(request, 400, QStringLiteral("BadRequest"), QStringLiteral("Invalid value for %1").arg(property));
    }
    if (property == QLatin1String("mode")) {
        const QJsonObject modes = m_devices.at(index)
                                      .toObject()
                                      .value(QStringLiteral("remoteCapabilities"))
                                      .toObject()
                                      .value(QStringLiteral("modes"))
                                      .toObject();
        if (!modes.isEmpty() && !modes.contains(newValue.toString())) {
            return error(request, 400, QStringLiteral("BadRequest"),
                         QStringLiteral("Mode %1 is not supported").arg(newValue.toString()));
        }
    }

    const QJsonValue oldValue =
        m_devices.at(index).toObject().value(QStringLiteral("acState")).toObject().value(property);
    const bool changed = oldValue != newValue;
    setAcStateProperty(deviceId, property, newValue);

    QJsonObject acState = m_devices.at(index).toObject().value(QStringLiteral("acState")).toObject();
    acState.remove(QStringLiteral("timestamp"));
    QJsonArray changedProperties;
    if (changed) {
        changedProperties.append(property);
    }
    const QString changeId = QStringLiteral("chg%1").arg(m_nextChangeId++, 7, 10, QLatin1Char('0'));

    if (changed) {
        Q_EMIT acStateChanged(deviceId, property, newValue);
    }
    return json(request, 200,
                QJsonObject{
                    {QStringLiteral("status"), QStringLiteral("success")},
                    {QStringLiteral("result"),
                     QJsonObject{
                         {QStringLiteral("status"), QStringLiteral("Success")},
                         {QStringLiteral("reason"), QStringLiteral("UserRequest")},
                         {QStringLiteral("acState"), acState},
                         {QStringLiteral("changedProperties"), changedProperties},
                         {QStringLiteral("id"), changeId},
                         {QStringLiteral("failureReason"), QJsonValue::Null},
                     }},
                });
}

void FakeSensiboCloud::setDeviceKey(const QString& deviceId, const QString& key, const QJsonValue& value)
{
    const qsizetype index = indexOfDevice(deviceId);
    if (index >= 0) {
        QJsonObject device = m_devices.at(index).toObject();
        device.insert(key, value);
        m_devices.replace(index, device);
    }
}

FakeHttpServer::Response FakeSensiboCloud::details(const FakeHttpServer::Request& request, const QString& deviceId,
                                                   const QUrlQuery& query)
{
    QJsonObject pod = device(deviceId);
    // The wait is counted from the answer, as the cloud does: negative once past.
    QJsonObject set = pod.value(QStringLiteral("timer")).toObject();
    if (!set.isEmpty()) {
        QDateTime due = QDateTime::fromString(set.value(QStringLiteral("targetTime")).toString(), Qt::ISODate);
        due.setTimeZone(QTimeZone::utc());
        set.insert(QStringLiteral("targetTimeSecondsFromNow"), QDateTime::currentDateTimeUtc().secsTo(due));
        pod.insert(QStringLiteral("timer"), set);
    }
    return json(request, 200,
                QJsonObject{
                    {QStringLiteral("status"), QStringLiteral("success")},
                    {QStringLiteral("result"),
                     narrowed(pod, query.queryItemValue(QStringLiteral("fields"), QUrl::FullyDecoded))},
                });
}

FakeHttpServer::Response FakeSensiboCloud::timer(const FakeHttpServer::Request& request, const QString& deviceId)
{
    const QJsonObject success{{QStringLiteral("status"), QStringLiteral("success")}};
    if (request.method == "DELETE") {
        setDeviceKey(deviceId, QStringLiteral("timer"), QJsonValue::Null);
        return json(request, 200, success);
    }
    const QJsonDocument document = QJsonDocument::fromJson(request.body);
    const QJsonObject body = document.object();
    const QJsonValue minutes = body.value(QStringLiteral("minutesFromNow"));
    const QJsonObject acState = body.value(QStringLiteral("acState")).toObject();
    if (!minutes.isDouble() || minutes.toDouble() != double(minutes.toInteger()) || minutes.toInteger() < 1 ||
        !acState.value(QStringLiteral("on")).isBool()) {
        return error(request, 400, QStringLiteral("BadRequest"),
                     QStringLiteral("minutesFromNow and acState.on are required"));
    }
    const QString timerId = QStringLiteral("tmr%1").arg(m_nextTimerId++, 7, 10, QLatin1Char('0'));
    QJsonObject set = timerObject(acState, int(minutes.toInteger()));
    set.insert(QStringLiteral("id"), timerId);
    setDeviceKey(deviceId, QStringLiteral("timer"), set);
    QTimer::singleShot(std::chrono::minutes(minutes.toInteger()), this,
                       [this, deviceId, timerId] { fireTimer(deviceId, timerId); });
    return json(request, 200,
                QJsonObject{{QStringLiteral("status"), QStringLiteral("success")},
                            {QStringLiteral("result"), QJsonObject{{QStringLiteral("id"), timerId}}}});
}

QJsonObject FakeSensiboCloud::makeTimer(const QJsonObject& device, bool turnsOn, int minutesFromNow)
{
    QJsonObject acState = device.value(QStringLiteral("acState")).toObject();
    acState.remove(QStringLiteral("timestamp"));
    acState.insert(QStringLiteral("on"), turnsOn);
    QJsonObject set = timerObject(acState, minutesFromNow);
    set.insert(QStringLiteral("id"), QStringLiteral("tmr0000000"));
    return set;
}

// A timer that is still the one set applies its state, as the unit would on its own, and is gone.
void FakeSensiboCloud::fireTimer(const QString& deviceId, const QString& timerId)
{
    const QJsonObject set = device(deviceId).value(QStringLiteral("timer")).toObject();
    if (set.value(QStringLiteral("id")).toString() != timerId) {
        return;
    }
    const QJsonObject acState = set.value(QStringLiteral("acState")).toObject();
    for (auto it = acState.begin(); it != acState.end(); ++it) {
        if (!isKnownProperty(it.key())) {
            continue;
        }
        const bool changed = device(deviceId).value(QStringLiteral("acState")).toObject().value(it.key()) != *it;
        setAcStateProperty(deviceId, it.key(), *it);
        if (changed) {
            Q_EMIT acStateChanged(deviceId, it.key(), *it);
        }
    }
    setDeviceKey(deviceId, QStringLiteral("timer"), QJsonValue::Null);
}

FakeHttpServer::Response FakeSensiboCloud::climateReact(const FakeHttpServer::Request& request, const QString& deviceId)
{
    const QJsonValue enabled = QJsonDocument::fromJson(request.body).object().value(QStringLiteral("enabled"));
    if (!enabled.isBool()) {
        return error(request, 400, QStringLiteral("BadRequest"), QStringLiteral("enabled is required"));
    }
    QJsonObject smartMode = device(deviceId).value(QStringLiteral("smartMode")).toObject();
    if (smartMode.isEmpty()) {
        return error(request, 400, QStringLiteral("BadRequest"), QStringLiteral("Climate React is not set up"));
    }
    smartMode.insert(QStringLiteral("enabled"), enabled);
    setDeviceKey(deviceId, QStringLiteral("smartMode"), smartMode);
    return json(
        request, 200,
        QJsonObject{{QStringLiteral("status"), QStringLiteral("success")}, {QStringLiteral("result"), smartMode}});
}

FakeHttpServer::Response FakeSensiboCloud::history(const FakeHttpServer::Request& request, const QString& deviceId,
                                                   const QUrlQuery& query)
{
    bool ok = false;
    const int days = query.queryItemValue(QStringLiteral("days")).toInt(&ok);
    if (!ok || days < 1 || days > 7) {
        return error(request, 400, QStringLiteral("BadRequest"), QStringLiteral("days must be 1 to 7"));
    }
    return json(request, 200,
                QJsonObject{{QStringLiteral("status"), QStringLiteral("success")},
                            {QStringLiteral("result"), makeHistory(device(deviceId), days)}});
}

FakeHttpServer::Response FakeSensiboCloud::json(const FakeHttpServer::Request& request, int status,
                                                const QJsonObject& body) const
{
    FakeHttpServer::Response response;
    response.status = status;
    response.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    response.headers.emplaceBack("Content-Type", "application/json; charset=utf-8");
    response.gzip = m_gzip && request.header("accept-encoding").toLower().contains("gzip");
    response.delayMs = m_delayMs;
    return response;
}

FakeHttpServer::Response FakeSensiboCloud::error(const FakeHttpServer::Request& request, int status,
                                                 const QString& reason, const QString& message) const
{
    return json(request, status,
                QJsonObject{
                    {QStringLiteral("status"), QStringLiteral("error")},
                    {QStringLiteral("reason"), reason},
                    {QStringLiteral("message"), message},
                });
}

QJsonObject FakeSensiboCloud::makeTemperatureRanges()
{
    QJsonArray celsius;
    QJsonArray fahrenheit;
    for (int c = 16; c <= 30; ++c) {
        celsius.append(c);
        fahrenheit.append(qRound(c * 9.0 / 5.0 + 32.0));
    }
    return QJsonObject{
        {QStringLiteral("C"), QJsonObject{{QStringLiteral("isNative"), true}, {QStringLiteral("values"), celsius}}},
        {QStringLiteral("F"), QJsonObject{{QStringLiteral("isNative"), false}, {QStringLiteral("values"), fahrenheit}}},
    };
}

QJsonObject FakeSensiboCloud::makeRemoteCapabilities()
{
    const QJsonArray fanLevels = strings({"quiet", "low", "medium", "medium_high", "high", "auto"});
    const QJsonArray swing = strings(
        {"stopped", "fixedTop", "fixedMiddleTop", "fixedMiddle", "fixedMiddleBottom", "fixedBottom", "rangeFull"});
    const QJsonArray horizontalSwing = strings(
        {"stopped", "fixedLeft", "fixedCenterLeft", "fixedCenter", "fixedCenterRight", "fixedRight", "rangeFull"});
    const QJsonArray light = strings({"on", "off"});

    auto mode = [&](bool withTemperatures, bool withFanLevels) {
        QJsonObject capabilities{
            {QStringLiteral("temperatures"), withTemperatures ? makeTemperatureRanges() : QJsonObject()},
            {QStringLiteral("swing"), swing},
            {QStringLiteral("horizontalSwing"), horizontalSwing},
            {QStringLiteral("light"), light},
        };
        if (withFanLevels) {
            capabilities.insert(QStringLiteral("fanLevels"), fanLevels);
        }
        return capabilities;
    };

    return QJsonObject{
        {QStringLiteral("modes"),
         QJsonObject{
             {QStringLiteral("cool"), mode(true, true)},
             {QStringLiteral("heat"), mode(true, true)},
             {QStringLiteral("fan"), mode(false, true)},
             {QStringLiteral("dry"), mode(true, false)},
             {QStringLiteral("auto"), mode(true, true)},
         }},
    };
}

QJsonObject FakeSensiboCloud::makeDevice(const QString& id, const QString& roomName, bool on, const QString& mode,
                                         int targetTemperature, const QString& temperatureUnit, double roomTemperature,
                                         double humidity, bool alive)
{
    const QJsonObject acState{
        {QStringLiteral("timestamp"), timeAgo(0)},
        {QStringLiteral("on"), on},
        {QStringLiteral("mode"), mode},
        {QStringLiteral("targetTemperature"), targetTemperature},
        {QStringLiteral("temperatureUnit"), temperatureUnit},
        {QStringLiteral("fanLevel"), QStringLiteral("auto")},
        {QStringLiteral("swing"), QStringLiteral("stopped")},
        {QStringLiteral("horizontalSwing"), QStringLiteral("stopped")},
        {QStringLiteral("light"), QStringLiteral("on")},
    };
    const QJsonObject measurements{
        {QStringLiteral("time"), timeAgo(15)},  {QStringLiteral("temperature"), roomTemperature},
        {QStringLiteral("humidity"), humidity}, {QStringLiteral("feelsLike"), roomTemperature},
        {QStringLiteral("rssi"), -52},
    };
    QJsonObject connectionStatus{
        {QStringLiteral("isAlive"), alive},
        {QStringLiteral("lastSeen"), timeAgo(alive ? 15 : 86400)},
    };
    if (!alive) {
        connectionStatus.insert(QStringLiteral("deadReasons"), strings({"staleConnection"}));
    }

    return QJsonObject{
        {QStringLiteral("isGeofenceOnEnterEnabledForThisUser"), false},
        {QStringLiteral("isOwner"), true},
        {QStringLiteral("id"), id},
        {QStringLiteral("qrId"), QStringLiteral("QR") + id.toUpper()},
        {QStringLiteral("temperatureUnit"), temperatureUnit},
        {QStringLiteral("room"),
         QJsonObject{
             {QStringLiteral("uid"), QStringLiteral("r") + id},
             {QStringLiteral("name"), roomName},
             {QStringLiteral("icon"), QStringLiteral("Lounge")},
         }},
        {QStringLiteral("acState"), acState},
        {QStringLiteral("lastStateChange"), timeAgo(3600)},
        {QStringLiteral("location"),
         QJsonObject{
             {QStringLiteral("id"), QStringLiteral("LOC0001")},
             {QStringLiteral("name"), QStringLiteral("Home")},
             {QStringLiteral("latLon"), QJsonArray{52.52, 13.405}},
             {QStringLiteral("country"), QStringLiteral("Germany")},
         }},
        {QStringLiteral("connectionStatus"), connectionStatus},
        {QStringLiteral("firmwareVersion"), QStringLiteral("SKY30048")},
        {QStringLiteral("firmwareType"), QStringLiteral("esp8266ex")},
        {QStringLiteral("productModel"), QStringLiteral("skyv2")},
        {QStringLiteral("serial"), QStringLiteral("1234") + id},
        {QStringLiteral("macAddress"), QStringLiteral("00:00:5e:00:53:01")},
        {QStringLiteral("sensorsCalibration"),
         QJsonObject{{QStringLiteral("temperature"), 0.0}, {QStringLiteral("humidity"), 0.0}}},
        {QStringLiteral("tags"), QJsonArray()},
        {QStringLiteral("timer"), QJsonValue::Null},
        {QStringLiteral("schedules"), QJsonArray()},
        {QStringLiteral("smartMode"), QJsonValue::Null},
        {QStringLiteral("features"), strings({"showPlus"})},
        {QStringLiteral("remoteCapabilities"), makeRemoteCapabilities()},
        {QStringLiteral("measurements"), measurements},
        {QStringLiteral("autoOffEnabled"), false},
        {QStringLiteral("autoOffMinutes"), QJsonValue::Null},
    };
}

QJsonArray FakeSensiboCloud::defaultDevices()
{
    return QJsonArray{
        makeDevice(QStringLiteral("abc123"), QStringLiteral("Living Room"), true, QStringLiteral("cool"), 22),
        makeDevice(QStringLiteral("def456"), QStringLiteral("Bedroom"), false, QStringLiteral("heat"), 20,
                   QStringLiteral("C"), 19.8, 44.0),
    };
}

QJsonObject FakeSensiboCloud::makeSmartMode(bool enabled, double low, double high)
{
    const auto state = [](const QString& mode, int target, const QString& fanLevel) {
        return QJsonObject{
            {QStringLiteral("on"), true},
            {QStringLiteral("mode"), mode},
            {QStringLiteral("targetTemperature"), target},
            {QStringLiteral("temperatureUnit"), QStringLiteral("C")},
            {QStringLiteral("fanLevel"), fanLevel},
            {QStringLiteral("swing"), QStringLiteral("stopped")},
        };
    };
    return QJsonObject{
        {QStringLiteral("enabled"), enabled},
        {QStringLiteral("type"), QStringLiteral("temperature")},
        {QStringLiteral("deviceUid"), QStringLiteral("demo")},
        {QStringLiteral("lowTemperatureThreshold"), low},
        {QStringLiteral("highTemperatureThreshold"), high},
        {QStringLiteral("lowTemperatureState"), state(QStringLiteral("heat"), 22, QStringLiteral("low"))},
        {QStringLiteral("highTemperatureState"), state(QStringLiteral("cool"), 24, QStringLiteral("high"))},
        {QStringLiteral("lowTemperatureWebhook"), QJsonValue::Null},
        {QStringLiteral("highTemperatureWebhook"), QJsonValue::Null},
    };
}

QJsonObject FakeSensiboCloud::makeHistory(const QJsonObject& device, int days)
{
    constexpr qint64 step = 90; // seconds between readings
    const QJsonObject readings = device.value(QStringLiteral("measurements")).toObject();
    const double temperatureNow = readings.value(QStringLiteral("temperature")).toDouble(21);
    const double humidityNow = readings.value(QStringLiteral("humidity")).toDouble(45);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 last = now.toSecsSinceEpoch() / step * step;
    const quint32 seed = qHash(device.value(QStringLiteral("id")).toString());
    // Warmest in the afternoon, coolest before dawn, with slower drifts of its own (doors, sun, people) and a little
    // unrest from reading to reading; the same on every fetch.
    const double phase = double(seed % 628) / 100.0;
    const auto swing = [phase](qint64 secs) {
        const double day = double(secs % 86400) / 86400.0 * 2 * M_PI;
        const double hours = double(secs) / 3600.0;
        return std::sin(day - 10.0 / 24.0 * 2 * M_PI) + 0.25 * std::sin(hours * 0.9 + phase) +
               0.12 * std::sin(hours * 2.3 + 2 * phase);
    };
    const auto unrest = [seed](qint64 secs) {
        const quint32 h = qHash(secs, seed);
        return double(h % 1000) / 1000.0 - 0.5;
    };
    QJsonArray temperature;
    QJsonArray humidity;
    for (qint64 secs = last - qint64(days) * 86400 + step; secs <= last; secs += step) {
        const double t = temperatureNow + 1.4 * (swing(secs) - swing(last)) + 0.15 * unrest(secs);
        const double h =
            std::clamp(humidityNow - 4.0 * (swing(secs) - swing(last)) + 0.8 * unrest(secs + 1), 5.0, 95.0);
        const QString time = QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()).toString(Qt::ISODate);
        temperature.append(
            QJsonObject{{QStringLiteral("time"), time}, {QStringLiteral("value"), std::round(t * 10) / 10}});
        humidity.append(
            QJsonObject{{QStringLiteral("time"), time}, {QStringLiteral("value"), std::round(h * 10) / 10}});
    }
    return QJsonObject{{QStringLiteral("temperature"), temperature}, {QStringLiteral("humidity"), humidity}};
}
