#include "tests/support/FakeSensiboCloud.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QSet>
#include <QUrl>
#include <QUrlQuery>

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

void FakeSensiboCloud::overrideDeviceList(std::optional<FakeHttpServer::Response> response, int times)
{
    m_deviceListOverride = Override{std::move(response), times};
}

void FakeSensiboCloud::overrideStateChange(std::optional<FakeHttpServer::Response> response, int times, int skip)
{
    m_stateChangeOverride = Override{std::move(response), times, skip};
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

FakeHttpServer::Response FakeSensiboCloud::handle(const FakeHttpServer::Request& request)
{
    const QUrl url(QString::fromLatin1(request.target));
    const QUrlQuery query(url);
    const QString path = url.path();

    if (path == kApiPrefix + QStringLiteral("/users/me/pods")) {
        ++m_deviceListCount;
        if (std::optional<FakeHttpServer::Response> forced = takeOverride(m_deviceListOverride)) {
            return *forced;
        }
        if (query.queryItemValue(QStringLiteral("apiKey"), QUrl::FullyDecoded) != m_apiKey) {
            return error(request, 401, QStringLiteral("Unauthorized"), QStringLiteral("Invalid API key"));
        }
        if (request.method != "GET" && request.method != "HEAD") {
            return error(request, 405, QStringLiteral("MethodNotAllowed"), QStringLiteral("Method not allowed"));
        }
        return deviceList(request, query);
    }

    // /api/v2/pods/<id>/acStates/<property>
    const QString prefix = kApiPrefix + QStringLiteral("/pods/");
    if (path.startsWith(prefix)) {
        const QStringList segments = path.mid(prefix.size()).split(QLatin1Char('/'));
        if (segments.size() == 3 && segments[1] == QLatin1String("acStates") && !segments[0].isEmpty() &&
            !segments[2].isEmpty()) {
            ++m_stateChangeCount;
            if (std::optional<FakeHttpServer::Response> forced = takeOverride(m_stateChangeOverride)) {
                return *forced;
            }
            if (query.queryItemValue(QStringLiteral("apiKey"), QUrl::FullyDecoded) != m_apiKey) {
                return error(request, 401, QStringLiteral("Unauthorized"), QStringLiteral("Invalid API key"));
            }
            if (request.method != "PATCH") {
                return error(request, 405, QStringLiteral("MethodNotAllowed"), QStringLiteral("Method not allowed"));
            }
            return stateChange(request, segments[0], segments[2]);
        }
    }

    return error(request, 404, QStringLiteral("NotFound"), QStringLiteral("No such resource"));
}

FakeHttpServer::Response FakeSensiboCloud::deviceList(const FakeHttpServer::Request& request, const QUrlQuery& query)
{
    QJsonArray result;
    const QString fields = query.queryItemValue(QStringLiteral("fields"), QUrl::FullyDecoded);
    if (!m_honourFields || fields == QLatin1String("*")) {
        result = m_devices;
    } else {
        // Without ?fields= the cloud lists only the ids.
        QStringList wanted = fields.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (wanted.isEmpty()) {
            wanted.append(QStringLiteral("id"));
        }
        for (const QJsonValue& value : m_devices) {
            const QJsonObject device = value.toObject();
            QJsonObject narrowed;
            for (const QString& field : wanted) {
                const QString key = field.trimmed();
                if (device.contains(key)) {
                    narrowed.insert(key, device.value(key));
                }
            }
            result.append(narrowed);
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
