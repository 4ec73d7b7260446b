#include "model/Decoding.h"
#include "model/DeviceExtras.h"

#include <QTest>
#include <QTimeZone>

#include <limits>

using namespace Qt::StringLiterals;

// The expected records below name only the fields the cloud sent; the others stay absent, as in the records.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// An air conditioner as the cloud describes it with fields=*: most keys are ones Kelvo does not read, some of them
// holding values that would not fit the records (rssi as text, a list of nulls, a fractional energy figure).
const QByteArray fullAirConditioner = R"json({
    "isGeofenceOnEnterEnabledForThisUser": false, "isOwner": true, "minimumCoolingTemperature": null,
    "id": "Ab12Cd34", "qrId": "KQWERTYUIO", "temperatureUnit": "C",
    "room": {"uid": "r7Ty2Lp0", "name": "Bedroom", "icon": "Bedroom", "pureBoostConfig": null},
    "acState": {"timestamp": {"time": "2024-12-08T17:17:01.431520Z", "secondsAgo": 0},
                "on": true, "mode": "cool", "targetTemperature": 23, "temperatureUnit": "C", "fanLevel": "medium_high",
                "swing": "rangeFull", "horizontalSwing": "stopped", "light": "on"},
    "lastStateChange": {"time": "2024-12-08T16:02:11Z", "secondsAgo": 4490},
    "location": {"id": "Lc9Qw2Er", "name": "Home", "latLon": [59.1, 17.1], "address": ["Street 1", "Town"],
                 "country": "Sweden", "createTime": {"time": "2020-03-21T15:44:15Z", "secondsAgo": 148872766},
                 "updateTime": null, "features": []},
    "connectionStatus": {"isAlive": true, "lastSeen": {"time": "2024-12-08T17:16:13.197465Z", "secondsAgo": 47}},
    "firmwareVersion": "SKY30046", "productModel": "skyv2", "sensorsCalibration": {"temperature": 0, "humidity": 0},
    "motionSensors": [], "tags": [], "timer": null,
    "schedules": [{"id": "fGgRPTEdJY", "isEnabled": false, "recurringDays": ["Monday", "Friday"],
                   "acState": {"on": false, "targetTemperature": 21, "mode": "heat", "extra": {"scheduler": {}}}}],
    "measurements": {"time": {"time": "2024-12-08T17:16:13.197465Z", "secondsAgo": 48}, "temperature": 20.2,
                     "humidity": 32.2, "feelsLike": 20.2, "rssi": "-71", "piezo": [null, null], "batteryVoltage": null},
    "remoteCapabilities": {"modes": {
        "cool": {"temperatures": {"F": {"isNative": false, "values": [64, 66, 68, 70, 72]},
                                  "C": {"isNative": true, "values": [18, 19, 20, 21, 22]}},
                 "fanLevels": ["quiet", "low", "medium", "medium_high", "high", "auto"],
                 "swing": ["stopped", "fixedTop", "rangeFull"],
                 "horizontalSwing": ["stopped", "fixedLeft", "rangeFull"], "light": ["on", "off"]},
        "heat": {"temperatures": {"F": {"isNative": false, "values": [50, 61, 63]},
                                  "C": {"isNative": true, "values": [10, 16, 17]}},
                 "fanLevels": ["low", "high", "auto"], "swing": ["stopped", "rangeFull"], "light": ["on", "off"]},
        "fan": {"temperatures": {}, "fanLevels": ["low", "high"], "swing": ["stopped"], "light": ["on", "off"]}
    }, "vendorCommands": []},
    "remote": {"toggle": false, "window": false},
    "smartMode": {"enabled": false, "type": "feelsLike", "lowTemperatureState": {"on": true, "mode": "heat"}},
    "accessPoint": {"ssid": "SENSIBO-I-37940", "password": null},
    "lastRunEnergyConsumption": 0.6894444444444444, "hasPolicy": false
})json";

// An air purifier: a fan mode in acState, air quality in measurements, and here no remoteCapabilities at all.
const QByteArray airPurifier = R"json({
    "id": "99AAbb88", "productModel": "pure",
    "room": {"uid": "nXecGb8d", "name": "Living room", "icon": "Livingroom",
             "pureBoostConfig": {"enabled": false, "sensitivity": "N", "pureboost_devices": ["99AAbb88"]}},
    "acState": {"timestamp": {"time": "2024-12-08T17:17:01.487730Z", "secondsAgo": 0},
                "on": false, "mode": "fan", "fanLevel": "low", "light": "on"},
    "connectionStatus": {"isAlive": true, "lastSeen": {"time": "2024-12-08T17:16:48.898713Z", "secondsAgo": 12}},
    "measurements": {"time": {"time": "2024-12-08T17:16:48.898713Z", "secondsAgo": 12},
                     "rssi": -61, "pm25": 1, "motion": false, "roomIsOccupied": null, "iaq": 67},
    "pureBoostConfig": {"enabled": false}
})json";

// A device whose set-up was never finished: no capabilities, nothing measured, not seen for months.
const QByteArray halfSetUp = R"json({
    "id": "VZ5USkhu",
    "room": {"uid": "knEcpZF9", "name": "Hallway", "icon": "Livingroom"},
    "acState": {"timestamp": {"time": "2025-01-06T23:32:33.289604Z", "secondsAgo": -1},
                "on": false, "mode": "cool", "targetTemperature": 24, "temperatureUnit": "C", "fanLevel": "auto"},
    "connectionStatus": {"isAlive": false, "lastSeen": {"time": "2024-09-29T05:47:25Z", "secondsAgo": 8617508},
                         "deadReasons": ["staleConnection"]},
    "measurements": {},
    "accessPoint": {"ssid": "SENSIBO-I-VZ5USkhu"}
})json";

// An air conditioner whose remote speaks Fahrenheit; the cloud still measures in Celsius, and sends whole numbers.
const QByteArray fahrenheitNative = R"json({
    "id": "YnhNCrRK", "temperatureUnit": "F",
    "room": {"uid": "5Huwwx2n", "name": "Living Room", "icon": "Livingroom"},
    "acState": {"timestamp": {"time": "2025-01-06T23:32:33.120894Z", "secondsAgo": -1},
                "on": true, "mode": "heat", "targetTemperature": 24, "temperatureUnit": "C",
                "nativeTargetTemperature": 75, "nativeTemperatureUnit": "F",
                "fanLevel": "quiet", "swing": "stopped", "horizontalSwing": "stopped"},
    "connectionStatus": {"isAlive": true, "lastSeen": {"time": "2025-01-06T23:32:17.280765Z", "secondsAgo": 15}},
    "measurements": {"time": {"time": "2025-01-06T23:32:17.280765Z", "secondsAgo": 15}, "temperature": 22,
                     "humidity": 48, "feelsLike": 22, "rssi": -58},
    "remoteCapabilities": {"modes": {
        "heat": {"temperatures": {"F": {"isNative": true, "values": [50, 64, 65, 66]},
                                  "C": {"isNative": false, "values": [10, 18, 19]}},
                 "fanLevels": ["quiet", "low", "medium_low", "auto"],
                 "swing": ["stopped", "rangeFull"], "horizontalSwing": ["stopped", "rangeFull"]}
    }}
})json";

// A device the cloud sends with explicit nulls in place of optional parts.
const QByteArray nullCapabilities = R"json({
    "id": "KvuLAyGC",
    "room": {"name": "Office", "icon": null},
    "acState": {"on": false, "mode": "fan", "fanLevel": "high", "light": null},
    "connectionStatus": {"isAlive": false, "lastSeen": null},
    "measurements": null,
    "remoteCapabilities": null
})json";

QByteArray listAnswer(const QByteArrayList& devices)
{
    return R"({"status": "success", "result": [)" + devices.join(',') + R"(], "isPartial": false})";
}

// A list holding one device with the given keys next to its id.
QByteArray oneDevice(const QByteArray& fields)
{
    return listAnswer({R"({"id": "a1", )" + fields + '}'});
}

QByteArray stateAnswer(const QByteArray& acState)
{
    return R"({"status": "success", "result": {"status": "Success", "reason": "UserRequest", "acState": )" + acState +
           R"(, "changedProperties": [], "id": "x", "failureReason": null}})";
}

// A device whose room's name and icon are both the given JSON text.
QByteArray namedRoom(const QByteArray& json)
{
    return oneDevice(R"("room": {"name": )" + json + R"(, "icon": )" + json + "}");
}

// A device with a key Kelvo does not read, holding the given JSON text, and a room after it.
QByteArray withExtra(const QByteArray& json)
{
    return listAnswer({R"({"id": "a1", "extra": )" + json + R"(, "room": {"name": "Den"}})"});
}

// The offset at which reading stops on the last byte of the first `stop` in the body, counted from 1.
int offsetAfter(const QByteArray& body, const QByteArray& stop)
{
    const qsizetype at = body.indexOf(stop);
    return at < 0 ? -1 : static_cast<int>(at + stop.size());
}

SensiboDevice decodeOne(const QByteArray& body)
{
    const auto decoded = decodeDeviceListResponse(body);
    if (!decoded.ok()) {
        qWarning().noquote() << decoded.error();
        return {};
    }
    if (decoded.value().result.size() != 1) {
        qWarning() << "expected one device, got" << decoded.value().result.size();
        return {};
    }
    return decoded.value().result.first();
}

MeasurementTime at(qint64 secondsAgo, const QString& time)
{
    return MeasurementTime{secondsAgo, time};
}

SensiboDevice expectedAirConditioner()
{
    ModeCapabilities cool;
    cool.temperatures = QMap<QString, TemperatureRange>{{u"C"_s, {true, QList<qint64>{18, 19, 20, 21, 22}}},
                                                        {u"F"_s, {false, QList<qint64>{64, 66, 68, 70, 72}}}};
    cool.fanLevels = QList<QString>{u"quiet"_s, u"low"_s, u"medium"_s, u"medium_high"_s, u"high"_s, u"auto"_s};
    cool.swing = QList<QString>{u"stopped"_s, u"fixedTop"_s, u"rangeFull"_s};
    cool.horizontalSwing = QList<QString>{u"stopped"_s, u"fixedLeft"_s, u"rangeFull"_s};
    cool.light = QList<QString>{u"on"_s, u"off"_s};

    ModeCapabilities heat;
    heat.temperatures = QMap<QString, TemperatureRange>{{u"C"_s, {true, QList<qint64>{10, 16, 17}}},
                                                        {u"F"_s, {false, QList<qint64>{50, 61, 63}}}};
    heat.fanLevels = QList<QString>{u"low"_s, u"high"_s, u"auto"_s};
    heat.swing = QList<QString>{u"stopped"_s, u"rangeFull"_s};
    heat.light = QList<QString>{u"on"_s, u"off"_s};

    ModeCapabilities fan;
    fan.temperatures = QMap<QString, TemperatureRange>{};
    fan.fanLevels = QList<QString>{u"low"_s, u"high"_s};
    fan.swing = QList<QString>{u"stopped"_s};
    fan.light = QList<QString>{u"on"_s, u"off"_s};

    SensiboDevice device;
    device.id = u"Ab12Cd34"_s;
    device.room = RoomInfo{u"Bedroom"_s, u"Bedroom"_s};
    device.acState = ACState{.on = true,
                             .mode = u"cool"_s,
                             .fanLevel = u"medium_high"_s,
                             .targetTemperature = 23,
                             .temperatureUnit = u"C"_s,
                             .swing = u"rangeFull"_s,
                             .horizontalSwing = u"stopped"_s,
                             .light = u"on"_s};
    device.measurements = SensiboMeasurement{20.2, 32.2, at(48, u"2024-12-08T17:16:13.197465Z"_s)};
    device.connectionStatus = ConnectionStatus{true, at(47, u"2024-12-08T17:16:13.197465Z"_s)};
    device.remoteCapabilities =
        RemoteCapabilities{QMap<QString, ModeCapabilities>{{u"cool"_s, cool}, {u"heat"_s, heat}, {u"fan"_s, fan}}};
    return device;
}

SensiboDevice expectedAirPurifier()
{
    SensiboDevice device;
    device.id = u"99AAbb88"_s;
    device.room = RoomInfo{u"Living room"_s, u"Livingroom"_s};
    device.acState = ACState{.on = false, .mode = u"fan"_s, .fanLevel = u"low"_s, .light = u"on"_s};
    device.measurements = SensiboMeasurement{std::nullopt, std::nullopt, at(12, u"2024-12-08T17:16:48.898713Z"_s)};
    device.connectionStatus = ConnectionStatus{true, at(12, u"2024-12-08T17:16:48.898713Z"_s)};
    return device;
}

SensiboDevice expectedHalfSetUp()
{
    SensiboDevice device;
    device.id = u"VZ5USkhu"_s;
    device.room = RoomInfo{u"Hallway"_s, u"Livingroom"_s};
    device.acState = ACState{
        .on = false, .mode = u"cool"_s, .fanLevel = u"auto"_s, .targetTemperature = 24, .temperatureUnit = u"C"_s};
    device.measurements = SensiboMeasurement{};
    device.connectionStatus = ConnectionStatus{false, at(8617508, u"2024-09-29T05:47:25Z"_s)};
    return device;
}

SensiboDevice expectedFahrenheitNative()
{
    ModeCapabilities heat;
    heat.temperatures = QMap<QString, TemperatureRange>{{u"F"_s, {true, QList<qint64>{50, 64, 65, 66}}},
                                                        {u"C"_s, {false, QList<qint64>{10, 18, 19}}}};
    heat.fanLevels = QList<QString>{u"quiet"_s, u"low"_s, u"medium_low"_s, u"auto"_s};
    heat.swing = QList<QString>{u"stopped"_s, u"rangeFull"_s};
    heat.horizontalSwing = QList<QString>{u"stopped"_s, u"rangeFull"_s};

    SensiboDevice device;
    device.id = u"YnhNCrRK"_s;
    device.room = RoomInfo{u"Living Room"_s, u"Livingroom"_s};
    device.acState = ACState{.on = true,
                             .mode = u"heat"_s,
                             .fanLevel = u"quiet"_s,
                             .targetTemperature = 24,
                             .temperatureUnit = u"C"_s,
                             .swing = u"stopped"_s,
                             .horizontalSwing = u"stopped"_s};
    device.measurements = SensiboMeasurement{22.0, 48.0, at(15, u"2025-01-06T23:32:17.280765Z"_s)};
    device.connectionStatus = ConnectionStatus{true, at(15, u"2025-01-06T23:32:17.280765Z"_s)};
    device.remoteCapabilities = RemoteCapabilities{QMap<QString, ModeCapabilities>{{u"heat"_s, heat}}};
    return device;
}

SensiboDevice expectedNullCapabilities()
{
    SensiboDevice device;
    device.id = u"KvuLAyGC"_s;
    device.room = RoomInfo{u"Office"_s, std::nullopt};
    device.acState = ACState{.on = false, .mode = u"fan"_s, .fanLevel = u"high"_s};
    device.connectionStatus = ConnectionStatus{false, std::nullopt};
    return device;
}

// Field by field, so that a failure names the part that differs.
void compareDevices(const SensiboDevice& actual, const SensiboDevice& expected)
{
    QCOMPARE(actual.id, expected.id);
    QVERIFY2(actual.room == expected.room, "room");
    QVERIFY2(actual.acState == expected.acState, "acState");
    QVERIFY2(actual.measurements == expected.measurements, "measurements");
    QVERIFY2(actual.connectionStatus == expected.connectionStatus, "connectionStatus");
    QVERIFY2(actual.remoteCapabilities == expected.remoteCapabilities, "remoteCapabilities");
}

} // namespace

class tst_Decoding : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodesTheCloudsDevices();
    void emptyResultIsAnEmptyList();
    void deviceWithOnlyAnId();
    void nullIsTheSameAsMissing_data();
    void nullIsTheSameAsMissing();
    void statusTextIsNotInterpreted_data();
    void statusTextIsNotInterpreted();
    void integerFieldsTakeWholeNumbers_data();
    void integerFieldsTakeWholeNumbers();
    void realFieldsTakeAnyNumber_data();
    void realFieldsTakeAnyNumber();
    void mapKeyOrderCarriesNoMeaning();
    void listsKeepTheCloudsOrder();
    void identicalCapabilitiesAreShared();
    void stateChangeAnswer();
    void failures_data();
    void failures();
    void textDecodesEscapesAndUnicode_data();
    void textDecodesEscapesAndUnicode();
    void escapedKeysNameFields();
    void repeatedKeysKeepTheLastValue();
    void whitespaceAndByteOrderMark();
    void notValidJson_data();
    void notValidJson();
    void detailsAndHistory_data();
    void detailsAndHistory();
};

void tst_Decoding::decodesTheCloudsDevices()
{
    const auto decoded = decodeDeviceListResponse(
        listAnswer({fullAirConditioner, airPurifier, halfSetUp, fahrenheitNative, nullCapabilities}));
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded.value().status, u"success"_s);
    const QList<SensiboDevice>& devices = decoded.value().result;
    QCOMPARE(devices.size(), 5);

    const QList<SensiboDevice> expected{expectedAirConditioner(), expectedAirPurifier(), expectedHalfSetUp(),
                                        expectedFahrenheitNative(), expectedNullCapabilities()};
    for (qsizetype i = 0; i < expected.size(); ++i) {
        compareDevices(devices.at(i), expected.at(i));
        if (QTest::currentTestFailed()) {
            qWarning() << "device" << i;
            return;
        }
    }

    // Present-but-empty stays distinct from absent.
    QVERIFY(devices.at(2).measurements.has_value());
    QVERIFY(!devices.at(2).remoteCapabilities.has_value());
    const auto& fanTemperatures = devices.at(0).remoteCapabilities->modes->value(u"fan"_s).temperatures;
    QVERIFY(fanTemperatures.has_value() && fanTemperatures->isEmpty());
    QVERIFY(!devices.at(0).remoteCapabilities->modes->value(u"fan"_s).horizontalSwing.has_value());
}

void tst_Decoding::emptyResultIsAnEmptyList()
{
    const auto decoded = decodeDeviceListResponse(R"({"status": "success", "result": []})");
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QVERIFY(decoded.value().result.isEmpty());
}

void tst_Decoding::deviceWithOnlyAnId()
{
    const SensiboDevice device = decodeOne(listAnswer({R"({"id": "solo"})"}));
    QCOMPARE(device.id, u"solo"_s);
    QVERIFY(!device.room);
    QVERIFY(!device.acState);
    QVERIFY(!device.measurements);
    QVERIFY(!device.connectionStatus);
    QVERIFY(!device.remoteCapabilities);
}

void tst_Decoding::nullIsTheSameAsMissing_data()
{
    QTest::addColumn<QByteArray>("withNull");
    QTest::addColumn<QByteArray>("withoutKey");

    QTest::newRow("acState") << QByteArray(R"("acState": null)") << QByteArray(R"("x": 0)");
    QTest::newRow("room") << QByteArray(R"("room": null)") << QByteArray(R"("x": 0)");
    QTest::newRow("measurements") << QByteArray(R"("measurements": null)") << QByteArray(R"("x": 0)");
    QTest::newRow("connectionStatus") << QByteArray(R"("connectionStatus": null)") << QByteArray(R"("x": 0)");
    QTest::newRow("remoteCapabilities") << QByteArray(R"("remoteCapabilities": null)") << QByteArray(R"("x": 0)");
    QTest::newRow("room.icon") << QByteArray(R"("room": {"name": "Den", "icon": null})")
                               << QByteArray(R"("room": {"name": "Den"})");
    QTest::newRow("acState fields")
        << QByteArray(R"("acState": {"on": true, "mode": null, "fanLevel": null, "targetTemperature": null,
                                     "temperatureUnit": null, "swing": null, "horizontalSwing": null, "light": null})")
        << QByteArray(R"("acState": {"on": true})");
    QTest::newRow("measurement fields")
        << QByteArray(R"("measurements": {"temperature": null, "humidity": null, "time": null})")
        << QByteArray(R"("measurements": {})");
    QTest::newRow("lastSeen fields")
        << QByteArray(R"("connectionStatus": {"isAlive": null, "lastSeen": {"secondsAgo": null, "time": null}})")
        << QByteArray(R"("connectionStatus": {"lastSeen": {}})");
    QTest::newRow("capability lists")
        << QByteArray(R"("remoteCapabilities": {"modes": {"fan": {"temperatures": null, "fanLevels": null,
                                               "swing": null, "horizontalSwing": null, "light": null}}})")
        << QByteArray(R"("remoteCapabilities": {"modes": {"fan": {}}})");
    QTest::newRow("temperature range")
        << QByteArray(R"("remoteCapabilities": {"modes": {"cool": {"temperatures": {"C": {"isNative": null,
                                                                                       "values": null}}}}})")
        << QByteArray(R"("remoteCapabilities": {"modes": {"cool": {"temperatures": {"C": {}}}}})");
    QTest::newRow("modes") << QByteArray(R"("remoteCapabilities": {"modes": null})")
                           << QByteArray(R"("remoteCapabilities": {})");
}

void tst_Decoding::nullIsTheSameAsMissing()
{
    QFETCH(QByteArray, withNull);
    QFETCH(QByteArray, withoutKey);
    const auto fromNull = decodeDeviceListResponse(oneDevice(withNull));
    const auto fromMissing = decodeDeviceListResponse(oneDevice(withoutKey));
    QVERIFY2(fromNull.ok(), qPrintable(fromNull.error()));
    QVERIFY2(fromMissing.ok(), qPrintable(fromMissing.error()));
    compareDevices(fromNull.value().result.first(), fromMissing.value().result.first());
}

void tst_Decoding::statusTextIsNotInterpreted_data()
{
    QTest::addColumn<QString>("status");
    QTest::newRow("success") << u"success"_s;
    QTest::newRow("failure") << u"failure"_s;
    QTest::newRow("empty") << QString();
}

void tst_Decoding::statusTextIsNotInterpreted()
{
    QFETCH(QString, status);
    const QByteArray body = R"({"status": ")" + status.toUtf8() + R"(", "result": [{"id": "a1"}]})";
    const auto decoded = decodeDeviceListResponse(body);
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded.value().status, status);
    QCOMPARE(decoded.value().result.size(), 1);
}

void tst_Decoding::integerFieldsTakeWholeNumbers_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("integer") << QByteArray("22") << qint64(22);
    QTest::newRow("point zero") << QByteArray("22.0") << qint64(22);
    QTest::newRow("exponent") << QByteArray("2.2e1") << qint64(22);
    QTest::newRow("negative") << QByteArray("-3") << qint64(-3);
    QTest::newRow("zero") << QByteArray("0") << qint64(0);
    QTest::newRow("largest") << QByteArray("9223372036854775807") << std::numeric_limits<qint64>::max();
    QTest::newRow("smallest") << QByteArray("-9223372036854775808") << std::numeric_limits<qint64>::min();
    QTest::newRow("exponent without fraction") << QByteArray("1e2") << qint64(100);
    QTest::newRow("capital exponent with sign") << QByteArray("1E+2") << qint64(100);
    QTest::newRow("negative exponent") << QByteArray("100e-2") << qint64(1);
    QTest::newRow("minus zero") << QByteArray("-0") << qint64(0);
    QTest::newRow("minus zero point zero") << QByteArray("-0.0") << qint64(0);
    QTest::newRow("zero with a huge exponent") << QByteArray("0e999") << qint64(0);
    QTest::newRow("smallest as a real") << QByteArray("-9223372036854775808.0") << std::numeric_limits<qint64>::min();
}

void tst_Decoding::integerFieldsTakeWholeNumbers()
{
    QFETCH(QByteArray, json);
    QFETCH(qint64, expected);
    const SensiboDevice device = decodeOne(oneDevice(R"("acState": {"on": true, "targetTemperature": )" + json +
                                                     R"(}, "measurements": {"time": {"secondsAgo": )" + json + "}}"));
    QVERIFY(device.acState && device.measurements);
    QCOMPARE(device.acState->targetTemperature, std::optional<qint64>(expected));
    QCOMPARE(device.measurements->time->secondsAgo, std::optional<qint64>(expected));
}

void tst_Decoding::realFieldsTakeAnyNumber_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<double>("expected");

    QTest::newRow("integer") << QByteArray("21") << 21.0;
    QTest::newRow("negative integer") << QByteArray("-4") << -4.0;
    QTest::newRow("fraction") << QByteArray("21.5") << 21.5;
    QTest::newRow("exponent") << QByteArray("4.5e1") << 45.0;
    QTest::newRow("minus zero") << QByteArray("-0") << 0.0;
    QTest::newRow("largest") << QByteArray("1.7976931348623157e308") << std::numeric_limits<double>::max();
    QTest::newRow("smallest above zero") << QByteArray("4.9e-324") << std::numeric_limits<double>::denorm_min();
    QTest::newRow("integer beyond 64 bits") << QByteArray("12345678901234567890") << 12345678901234567890.0;
    QTest::newRow("integer beyond any") << QByteArray("123456789012345678901234567890") << 1.2345678901234568e29;
    QTest::newRow("many digits") << QByteArray("0.1000000000000000000000000000000000000001") << 0.1;
}

void tst_Decoding::realFieldsTakeAnyNumber()
{
    QFETCH(QByteArray, json);
    QFETCH(double, expected);
    const SensiboDevice device =
        decodeOne(oneDevice(R"("measurements": {"temperature": )" + json + R"(, "humidity": )" + json + "}"));
    QVERIFY(device.measurements);
    QCOMPARE(device.measurements->temperature, std::optional<double>(expected));
    QCOMPARE(device.measurements->humidity, std::optional<double>(expected));
}

void tst_Decoding::mapKeyOrderCarriesNoMeaning()
{
    const SensiboDevice first = decodeOne(oneDevice(R"("remoteCapabilities": {"modes": {
        "cool": {"temperatures": {"C": {"isNative": true, "values": [18, 19]},
                                  "F": {"isNative": false, "values": [64, 66]}}, "fanLevels": ["low", "high"]},
        "heat": {"fanLevels": ["auto"]},
        "dry": {"temperatures": {}}}})"));
    const SensiboDevice second = decodeOne(oneDevice(R"("remoteCapabilities": {"modes": {
        "dry": {"temperatures": {}},
        "heat": {"fanLevels": ["auto"]},
        "cool": {"fanLevels": ["low", "high"], "temperatures": {"F": {"values": [64, 66], "isNative": false},
                                                                "C": {"values": [18, 19], "isNative": true}}}}})"));
    QVERIFY(first.remoteCapabilities && first.remoteCapabilities->modes);
    QCOMPARE(first.remoteCapabilities->modes->keys(), (QList<QString>{u"cool"_s, u"dry"_s, u"heat"_s}));
    QVERIFY(first.remoteCapabilities == second.remoteCapabilities);
}

void tst_Decoding::listsKeepTheCloudsOrder()
{
    const auto decoded = decodeDeviceListResponse(listAnswer({
        R"({"id": "zulu", "remoteCapabilities": {"modes": {"cool": {
            "fanLevels": ["quiet", "high", "low", "auto"],
            "swing": ["rangeFull", "stopped", "fixedTop"],
            "temperatures": {"C": {"values": [30, 16, 22]}}}}}})",
        R"({"id": "alpha"})",
        R"({"id": "mike"})",
    }));
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    const QList<SensiboDevice>& devices = decoded.value().result;
    QCOMPARE(devices.size(), 3);
    QCOMPARE(devices.at(0).id, u"zulu"_s);
    QCOMPARE(devices.at(1).id, u"alpha"_s);
    QCOMPARE(devices.at(2).id, u"mike"_s);

    const ModeCapabilities cool = devices.at(0).remoteCapabilities->modes->value(u"cool"_s);
    QCOMPARE(cool.fanLevels, (QList<QString>{u"quiet"_s, u"high"_s, u"low"_s, u"auto"_s}));
    QCOMPARE(cool.swing, (QList<QString>{u"rangeFull"_s, u"stopped"_s, u"fixedTop"_s}));
    QCOMPARE(cool.temperatures->value(u"C"_s).values, (QList<qint64>{30, 16, 22}));
}

// Devices whose capabilities read alike byte for byte share one record, which compares equal to the same block
// decoded on its own; a block that differs in one letter gets its own.
void tst_Decoding::identicalCapabilitiesAreShared()
{
    const QByteArray same = R"("remoteCapabilities": {"modes": {"cool": {"fanLevels": ["low", "high"],
                                                      "temperatures": {"C": {"values": [18, 19]}}}}})";
    QByteArray differs = same;
    differs.replace("\"high\"", "\"higH\"");
    const auto decoded = decodeDeviceListResponse(listAnswer(
        {R"({"id": "a1", )" + same + '}', R"({"id": "b2", )" + same + '}', R"({"id": "c3", )" + differs + '}'}));
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    const QList<SensiboDevice>& devices = decoded.value().result;
    const QMap<QString, ModeCapabilities>& modes = *devices.at(0).remoteCapabilities->modes;
    QVERIFY(modes.isSharedWith(*devices.at(1).remoteCapabilities->modes));
    QVERIFY(devices.at(0).remoteCapabilities == devices.at(1).remoteCapabilities);
    QVERIFY(!modes.isSharedWith(*devices.at(2).remoteCapabilities->modes));
    QVERIFY(devices.at(0).remoteCapabilities != devices.at(2).remoteCapabilities);

    const SensiboDevice alone = decodeOne(oneDevice(same));
    QVERIFY(!modes.isSharedWith(*alone.remoteCapabilities->modes));
    QVERIFY(alone == devices.at(0));

    // From one answer to the next through a memo: a block met before takes the record read then, a changed block is
    // read anew, the memo keeps the last answer's blocks only, and an answer that fails leaves it as it was.
    CapabilityMemo memo;
    const auto first = decodeDeviceListResponse(
        listAnswer({R"({"id": "a1", )" + same + '}', R"({"id": "c3", )" + differs + '}'}), memo);
    QVERIFY2(first.ok(), qPrintable(first.error()));
    QCOMPARE(memo.size(), 2);
    QByteArray differsAgain = same;
    differsAgain.replace("19]", "20]");
    const QByteArray next = listAnswer({R"({"id": "a1", )" + same + '}', R"({"id": "c3", )" + differsAgain + '}'});
    QVERIFY(!decodeDeviceListResponse(listAnswer({R"({"id": 7, )" + same + '}'}), memo).ok());
    for (int round = 0; round < 2; ++round) {
        const auto later = decodeDeviceListResponse(next, memo);
        QVERIFY2(later.ok(), qPrintable(later.error()));
        const QList<SensiboDevice>& now = later.value().result;
        const QList<SensiboDevice> fresh = decodeDeviceListResponse(next).value().result;
        QVERIFY(
            now.at(0).remoteCapabilities->modes->isSharedWith(*first.value().result.at(0).remoteCapabilities->modes));
        QVERIFY(now == fresh);
        QVERIFY(now.at(1).remoteCapabilities != first.value().result.at(1).remoteCapabilities);
        QCOMPARE(memo.size(), 2);
    }

    // Of blocks of 100 KB each, the memo keeps what fits in 256 KiB; the answer reads the same.
    QByteArrayList large;
    for (int block = 0; block < 3; ++block) {
        QByteArrayList levels;
        for (int level = 0; level < 7000; ++level) {
            levels.append('"' + QByteArray::number(block * 10000 + level) + "-level\"");
        }
        large.append(R"({"id": "d)" + QByteArray::number(block) +
                     R"(", "remoteCapabilities": {"modes": {"cool": {"fanLevels": [)" + levels.join(", ") + "]}}}}");
    }
    const auto bounded = decodeDeviceListResponse(listAnswer(large), memo);
    QVERIFY2(bounded.ok(), qPrintable(bounded.error()));
    QCOMPARE(memo.size(), 2);
    QVERIFY(bounded.value().result == decodeDeviceListResponse(listAnswer(large)).value().result);
}

void tst_Decoding::stateChangeAnswer()
{
    const auto decoded = decodeACStateResponse(stateAnswer(
        R"({"on": true, "fanLevel": "medium_high", "temperatureUnit": "C", "targetTemperature": 21,
            "mode": "heat", "swing": "rangeFull", "timestamp": {"time": "2025-01-06T23:32:33Z", "secondsAgo": 0}})"));
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded.value().status, u"success"_s);
    const ACState expected{.on = true,
                           .mode = u"heat"_s,
                           .fanLevel = u"medium_high"_s,
                           .targetTemperature = 21,
                           .temperatureUnit = u"C"_s,
                           .swing = u"rangeFull"_s};
    QVERIFY(decoded.value().result.acState == expected);
}

void tst_Decoding::failures_data()
{
    QTest::addColumn<bool>("stateChange");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    const auto list = [](const char* name, const QByteArray& body, const QString& expected) {
        QTest::newRow(name) << false << body << expected;
    };
    const auto state = [](const char* name, const QByteArray& body, const QString& expected) {
        QTest::newRow(name) << true << body << expected;
    };

    // The envelope.
    list("status missing", R"({"result": []})", u"status: required key is missing"_s);
    list("status null", R"({"status": null, "result": []})", u"status: expected a string, found null"_s);
    list("status a number", R"({"status": 200, "result": []})", u"status: expected a string, found 200"_s);
    list("result missing", R"({"status": "success"})", u"result: required key is missing"_s);
    list("result null", R"({"status": "success", "result": null})", u"result: expected an array, found null"_s);
    list("result an object", R"({"status": "success", "result": {"id": "a1"}})",
         u"result: expected an array, found an object"_s);
    list("device a string", listAnswer({R"("Ab12Cd34")"}), u"result[0]: expected an object, found \"Ab12Cd34\""_s);

    // Required fields inside devices.
    list("id missing", listAnswer({R"({"room": {"name": "Den"}})"}), u"result[0].id: required key is missing"_s);
    list("id null", listAnswer({R"({"id": null})"}), u"result[0].id: expected a string, found null"_s);
    list("id a number", listAnswer({R"({"id": 42})"}), u"result[0].id: expected a string, found 42"_s);
    list("room without name", listAnswer({R"({"id": "a1"})", R"({"id": "b2", "room": {"icon": "Den"}})"}),
         u"result[1].room.name: required key is missing"_s);
    list("acState without on", oneDevice(R"("acState": {"mode": "cool"})"),
         u"result[0].acState.on: required key is missing"_s);
    list("on null", oneDevice(R"("acState": {"on": null})"),
         u"result[0].acState.on: expected true or false, found null"_s);

    // Wrong types, optional fields included; one bad device fails the whole list.
    list("fraction for an integer",
         listAnswer({fullAirConditioner, R"({"id": "b2", "acState": {"on": true, "targetTemperature": 22.5}})"}),
         u"result[1].acState.targetTemperature: expected an integer, found 22.5"_s);
    list("integer beyond 64 bits", oneDevice(R"("acState": {"on": true, "targetTemperature": 9223372036854775808})"),
         u"result[0].acState.targetTemperature: expected an integer, found 9223372036854776000"_s);
    list("exponent beyond 64 bits", oneDevice(R"("measurements": {"time": {"secondsAgo": -1e19}})"),
         u"result[0].measurements.time.secondsAgo: expected an integer, found -1e+19"_s);
    list("string for an integer", oneDevice(R"("acState": {"on": true, "targetTemperature": "22"})"),
         u"result[0].acState.targetTemperature: expected an integer, found \"22\""_s);
    list("string for a real", oneDevice(R"("measurements": {"temperature": "21.5"})"),
         u"result[0].measurements.temperature: expected a number, found \"21.5\""_s);
    list("bool for a real", oneDevice(R"("measurements": {"humidity": false})"),
         u"result[0].measurements.humidity: expected a number, found false"_s);
    list("number for a bool", oneDevice(R"("acState": {"on": 1})"),
         u"result[0].acState.on: expected true or false, found 1"_s);
    list("string for a bool", oneDevice(R"("connectionStatus": {"isAlive": "true"})"),
         u"result[0].connectionStatus.isAlive: expected true or false, found \"true\""_s);
    list("number for text", oneDevice(R"("acState": {"on": true, "mode": 3})"),
         u"result[0].acState.mode: expected a string, found 3"_s);
    list("time as a number", oneDevice(R"("connectionStatus": {"lastSeen": {"time": 1733678173}})"),
         u"result[0].connectionStatus.lastSeen.time: expected a string, found 1733678173"_s);
    list("array for a record", oneDevice(R"("room": [])"), u"result[0].room: expected an object, found an array"_s);
    list("object for a list", oneDevice(R"("remoteCapabilities": {"modes": {"cool": {"fanLevels": {}}}})"),
         u"result[0].remoteCapabilities.modes.cool.fanLevels: expected an array, found an object"_s);
    list("array for a map", oneDevice(R"("remoteCapabilities": {"modes": []})"),
         u"result[0].remoteCapabilities.modes: expected an object, found an array"_s);
    list("null in a list of text",
         oneDevice(R"("remoteCapabilities": {"modes": {"fan": {"swing": ["stopped", null]}}})"),
         u"result[0].remoteCapabilities.modes.fan.swing[1]: expected a string, found null"_s);
    list("string in a list of integers",
         oneDevice(R"("remoteCapabilities": {"modes": {"cool": {"temperatures": {"C": {"values": [18, 19, "20"]}}}}})"),
         u"result[0].remoteCapabilities.modes.cool.temperatures.C.values[2]: expected an integer, found \"20\""_s);
    list("null map entry", oneDevice(R"("remoteCapabilities": {"modes": {"cool": {"temperatures": {"F": null}}}})"),
         u"result[0].remoteCapabilities.modes.cool.temperatures.F: expected an object, found null"_s);
    list("map key that is not a name", oneDevice(R"("remoteCapabilities": {"modes": {"cool mode": {"light": "on"}}})"),
         u"result[0].remoteCapabilities.modes[\"cool mode\"].light: expected an array, found \"on\""_s);
    list("long text is cut short",
         oneDevice(R"("acState": {"on": true, "targetTemperature": "twenty-two degrees, or so the remote claims"})"),
         u"result[0].acState.targetTemperature: expected an integer, "
         u"found \"twenty-two degrees, or so the remote cla…\""_s);
    list("quotes in text are escaped", oneDevice(R"("acState": {"on": true, "targetTemperature": "22\"C"})"),
         u"result[0].acState.targetTemperature: expected an integer, found \"22\\\"C\""_s);

    // Numbers described as before: whole ones in full, others at their shortest.
    list("whole number written as a real", oneDevice(R"("acState": {"on": true, "mode": 1e2})"),
         u"result[0].acState.mode: expected a string, found 100"_s);
    list("minus zero", oneDevice(R"("acState": {"on": true, "mode": -0.0})"),
         u"result[0].acState.mode: expected a string, found 0"_s);
    list("small fraction", oneDevice(R"("acState": {"on": true, "mode": 1.5e-7})"),
         u"result[0].acState.mode: expected a string, found 1.5e-07"_s);
    list("largest real for an integer",
         oneDevice(R"("acState": {"on": true, "targetTemperature": 1.7976931348623157e308})"),
         u"result[0].acState.targetTemperature: expected an integer, found 1.7976931348623157e+308"_s);
    list("2^63 written as a real", oneDevice(R"("acState": {"on": true, "targetTemperature": 9223372036854775807.0})"),
         u"result[0].acState.targetTemperature: expected an integer, found 9223372036854776000"_s);
    list("text with a surrogate pair", oneDevice(R"("acState": {"on": true, "targetTemperature": "22\ud83c\udf21"})"),
         u"result[0].acState.targetTemperature: expected an integer, found \"22\U0001F321\""_s);
    list("deep array for a record", oneDevice(R"("room": [[[[{"name": "Den"}]]]])"),
         u"result[0].room: expected an object, found an array"_s);

    // Which misfit is named does not depend on the order of the answer's keys.
    list("misfits in key order", oneDevice(R"("acState": {"mode": 3, "on": "yes"})"),
         u"result[0].acState.on: expected true or false, found \"yes\""_s);
    list("missing required key before a later misfit", listAnswer({R"({"room": [], "acState": {"on": 1}})"}),
         u"result[0].id: required key is missing"_s);
    list("earlier field before a later one", oneDevice(R"("measurements": {"humidity": "x"}, "room": {})"),
         u"result[0].room.name: required key is missing"_s);
    list("map misfits in key order",
         oneDevice(R"("remoteCapabilities": {"modes": {"heat": {"light": 1}, "cool": {"light": 2}}})"),
         u"result[0].remoteCapabilities.modes.cool.light: expected an array, found 2"_s);
    list("map misfits in code point order",
         oneDevice("\"remoteCapabilities\": {\"modes\": {\"\xf0\x9f\x98\x80\": {\"light\": 1}, "
                   "\"\xef\xbd\x81\": {\"light\": 2}}}"),
         u"result[0].remoteCapabilities.modes[\"\uFF41\"].light: expected an array, found 2"_s);
    list("first misfit in a list",
         oneDevice(R"("remoteCapabilities": {"modes": {"cool": {"temperatures": {"C": {"values": [18, "a", "b"]}}}}})"),
         u"result[0].remoteCapabilities.modes.cool.temperatures.C.values[1]: expected an integer, found \"a\""_s);
    list("first device that misfits", listAnswer({R"({"id": "a1"})", R"({"id": 2})", R"({"id": 3})"}),
         u"result[1].id: expected a string, found 2"_s);
    list("last of repeated keys counts", oneDevice(R"("acState": {"on": true, "on": "yes"})"),
         u"result[0].acState.on: expected true or false, found \"yes\""_s);
    list("last of repeated map keys counts",
         oneDevice(R"("remoteCapabilities": {"modes": {"cool": {"light": ["on"]}, "cool": {"light": "on"}}})"),
         u"result[0].remoteCapabilities.modes.cool.light: expected an array, found \"on\""_s);

    // The answer to a state change.
    state("acState missing", R"({"status": "success", "result": {"status": "Success", "id": "x"}})",
          u"result.acState: required key is missing"_s);
    state("acState null", stateAnswer("null"), u"result.acState: expected an object, found null"_s);
    state("result a list", R"({"status": "success", "result": []})", u"result: expected an object, found an array"_s);
    state("status missing", R"({"result": {"acState": {"on": true}}})", u"status: required key is missing"_s);
    state("fraction in acState", stateAnswer(R"({"on": true, "targetTemperature": 21.5})"),
          u"result.acState.targetTemperature: expected an integer, found 21.5"_s);

    // Bodies that are not an object.
    list("empty body", QByteArray(), u"The answer is empty, expected a JSON object"_s);
    list("blank body", " \r\n\t", u"The answer is empty, expected a JSON object"_s);
    list("only a byte order mark", "\xEF\xBB\xBF", u"The answer is empty, expected a JSON object"_s);
    state("empty state body", QByteArray(), u"The answer is empty, expected a JSON object"_s);
    list("top-level array", R"([{"id": "a1"}])", u"expected a JSON object at the top level, found an array"_s);
    list("top-level number", " 42 ", u"expected a JSON object at the top level, found 42"_s);
    list("top-level text", R"("success")", u"expected a JSON object at the top level, found \"success\""_s);
    list("top-level null", "null", u"expected a JSON object at the top level, found null"_s);
    state("top-level true", "true", u"expected a JSON object at the top level, found true"_s);
}

void tst_Decoding::failures()
{
    QFETCH(bool, stateChange);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    if (stateChange) {
        const auto decoded = decodeACStateResponse(body);
        QVERIFY(!decoded.ok());
        QCOMPARE(decoded.error(), expected);
    } else {
        const auto decoded = decodeDeviceListResponse(body);
        QVERIFY(!decoded.ok());
        QCOMPARE(decoded.error(), expected);
    }
}

void tst_Decoding::textDecodesEscapesAndUnicode_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QByteArray(R"("Den")") << u"Den"_s;
    QTest::newRow("empty") << QByteArray(R"("")") << QString();
    QTest::newRow("nul") << QByteArray(R"("a\u0000b")") << QString::fromUtf16(u"a\0b", 3);
    QTest::newRow("mixed") << QByteArray("\"K\\u00fc"
                                         "che \xf0\x9f\x98\x80 \\ud83d\\ude00 \\\"\\/\\b\\f\\n\\r\\t\"")
                           << u"Küche \U0001F600 \U0001F600 \"/\b\f\n\r\t"_s;
    QTest::newRow("long with an escape") << QByteArray('"' + QByteArray(100, 'x') + R"(\t")")
                                         << QString(100, u'x') + u'\t';
}

void tst_Decoding::textDecodesEscapesAndUnicode()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    const SensiboDevice device = decodeOne(namedRoom(json));
    QVERIFY(device.room.has_value());
    QCOMPARE(device.room->name, expected);
    QCOMPARE(device.room->icon, std::optional<QString>(expected));
}

void tst_Decoding::escapedKeysNameFields()
{
    const auto decoded = decodeDeviceListResponse(R"({"st\u0061tus": "success", "\u0072esult": [{"\u0069\u0064": "a1",
        "room": {"n\u0061me": "Den", "icon\u0000": "not the icon"},
        "remoteCapabilities": {"m\u006fdes": {"c\u006fol": {"light": ["on"]}, "\u00e9t\u00e9": {"light": ["off"]},
                                              "\ud83d\ude00": {}}}}]})");
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded.value().status, u"success"_s);
    QCOMPARE(decoded.value().result.size(), 1);
    const SensiboDevice& device = decoded.value().result.first();
    QCOMPARE(device.id, u"a1"_s);
    QVERIFY(device.room == (RoomInfo{u"Den"_s, std::nullopt}));
    QVERIFY(device.remoteCapabilities && device.remoteCapabilities->modes);
    const QMap<QString, ModeCapabilities>& modes = *device.remoteCapabilities->modes;
    QCOMPARE(modes.keys(), (QList<QString>{u"cool"_s, u"été"_s, u"\U0001F600"_s}));
    QCOMPARE(modes.value(u"cool"_s).light, (QList<QString>{u"on"_s}));
    QCOMPARE(modes.value(u"été"_s).light, (QList<QString>{u"off"_s}));
}

void tst_Decoding::repeatedKeysKeepTheLastValue()
{
    const SensiboDevice device = decodeOne(listAnswer({R"({"id": "first", "id": "a1",
        "acState": {"on": "yes", "mode": "cool", "on": true},
        "room": {"name": "Hall", "icon": "Hall"}, "room": {"name": "Den"},
        "remoteCapabilities": {"modes": {"cool": {"light": 1}, "heat": {"light": ["on"]}, "cool": {
            "temperatures": {"C": {"values": [18]}, "F": {"values": [64]}, "C": {"values": [20, 21]}}}}}})"}));
    QCOMPARE(device.id, u"a1"_s);
    QVERIFY(device.acState);
    QCOMPARE(device.acState->on, true);
    QCOMPARE(device.acState->mode, std::optional<QString>(u"cool"_s));
    // A repeated record replaces the earlier one whole.
    QVERIFY(device.room == (RoomInfo{u"Den"_s, std::nullopt}));
    QVERIFY(device.remoteCapabilities && device.remoteCapabilities->modes);
    const QMap<QString, ModeCapabilities>& modes = *device.remoteCapabilities->modes;
    QCOMPARE(modes.keys(), (QList<QString>{u"cool"_s, u"heat"_s}));
    const ModeCapabilities cool = modes.value(u"cool"_s);
    QVERIFY(!cool.light);
    QVERIFY(cool.temperatures);
    QCOMPARE(cool.temperatures->keys(), (QList<QString>{u"C"_s, u"F"_s}));
    QCOMPARE(cool.temperatures->value(u"C"_s).values, (QList<qint64>{20, 21}));

    const auto envelope =
        decodeDeviceListResponse(R"({"status": "old", "result": {}, "status": "success", "result": [{"id": "a1"}]})");
    QVERIFY2(envelope.ok(), qPrintable(envelope.error()));
    QCOMPARE(envelope.value().status, u"success"_s);
    QCOMPARE(envelope.value().result.size(), 1);

    // Records that must be present are replaced whole too.
    const auto state = decodeACStateResponse(
        R"({"status": "success", "result": {"acState": {"on": true, "mode": "cool"}, "acState": {"on": false}}})");
    QVERIFY2(state.ok(), qPrintable(state.error()));
    QVERIFY(state.value().result.acState == ACState{.on = false});
}

void tst_Decoding::whitespaceAndByteOrderMark()
{
    const QByteArray spaced = " \t\r\n{ \t\r\n\"status\" \t\r\n: \t\r\n\"success\" \t\r\n, \"result\" : [ { \"id\" : "
                              "\"a1\" , \"acState\" : { \"on\" : true , \"targetTemperature\" : 21 } } , "
                              "{ \"id\" : \"b2\" } ] } \t\r\n";
    const auto decoded = decodeDeviceListResponse(spaced);
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded.value().result.size(), 2);
    QVERIFY(decoded.value().result.at(0).acState);
    QCOMPARE(decoded.value().result.at(0).acState->targetTemperature, std::optional<qint64>(21));
    QCOMPARE(decoded.value().result.at(1).id, u"b2"_s);

    const auto marked = decodeDeviceListResponse("\xEF\xBB\xBF" + listAnswer({R"({"id": "a1"})"}));
    QVERIFY2(marked.ok(), qPrintable(marked.error()));
    QCOMPARE(marked.value().result.size(), 1);
}

// Answers a proxy, a cut connection or a broken server could hand over; the offset counts bytes from 1.
void tst_Decoding::notValidJson_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char* name, const QByteArray& body, const char* reason, qsizetype offset) {
        QTest::newRow(name)
            << body << u"The answer is not valid JSON: %1 at offset %2"_s.arg(QLatin1String(reason)).arg(offset);
    };
    // Reading stops on the last byte of `stop`, or at the end of the body.
    const auto stopsAt = [&row](const char* name, const QByteArray& body, const char* reason, const QByteArray& stop) {
        row(name, body, reason, offsetAfter(body, stop));
    };
    const auto endsEarly = [&row](const char* name, const QByteArray& body, const char* reason) {
        row(name, body, reason, body.size());
    };
    const char* garbage = "unexpected text after the end of the document";
    const char* notClosed = "expected '}' as the last character";
    const QByteArray answer = listAnswer({R"({"id": "a1"})"});

    // Text, wherever it is: well-formed UTF-8, closed strings without raw control characters, valid escapes.
    stopsAt("invalid UTF-8", namedRoom("\"Den\x80\""), "invalid UTF-8 in a string", "\x80");
    stopsAt("UTF-8 cut short", namedRoom("\"\xe2\x82\""), "invalid UTF-8 in a string", "\xe2");
    stopsAt("invalid UTF-8 outside a string", withExtra("\xff"), "invalid UTF-8", "\xff");
    stopsAt("control character", namedRoom("\"a\x01\""), "control character in a string", "\x01");
    endsEarly("unterminated string", R"({"status": "succ)", "unterminated string");
    stopsAt("invalid escape", namedRoom(R"("\x41")"), "invalid escape sequence", R"("name": ")");

    // Numbers and literals in the fields Kelvo reads.
    stopsAt("leading zero", oneDevice(R"("acState": {"on": true, "targetTemperature": 01})"), "malformed number",
            "Temperature\": 0");
    stopsAt("too large", oneDevice(R"("acState": {"on": true, "targetTemperature": 1e400})"), "number out of range",
            "Temperature\": 1");
    stopsAt("too small", oneDevice(R"("measurements": {"temperature": -1e-400})"), "number out of range", "ure\": -");
    stopsAt("literal misspelt", oneDevice(R"("acState": {"on": tru})"), "expected true, false or null", "\"on\": t");

    // Structure.
    row("html error page", "<html><body>502 Bad Gateway</body></html>", "expected a value", 1);
    endsEarly("cut short", R"({"status": "success", "result": [{"id": "a1"})", "unterminated object or array");
    stopsAt("comma before a brace", R"({"status": "success",})", "unexpected character", ",}");
    stopsAt("missing comma", R"({"status": "success" "result": []})", "unexpected character", R"("success" ")");
    stopsAt("text after the answer", answer + " x", notClosed, " x");
    endsEarly("nesting never closed", oneDevice("\"room\": " + QByteArray(200000, '[')), "unexpected character");
    stopsAt("second object after the answer", answer + "{}", garbage, "}{");
    stopsAt("text after a top-level number", " 42 x", garbage, " x");

    // An answer that is not JSON says so, whatever else is wrong with it.
    stopsAt("misfit, then a second object", oneDevice(R"("acState": {"on": 1})") + "{}", garbage, "}{");
}

void tst_Decoding::notValidJson()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    const auto decoded = decodeDeviceListResponse(body);
    QVERIFY(!decoded.ok());
    QCOMPARE(decoded.error(), expected);
}

void tst_Decoding::detailsAndHistory_data()
{
    QTest::addColumn<QByteArray>("result"); // the answer's "result"
    QTest::addColumn<QString>("shown");     // what Kelvo makes of it

    // A timer as the cloud describes one: what it applies, whether it is on, and when.
    const auto timer = [](const char* fields) {
        return QByteArray(R"({"timer": {"id": "KWcppTmrbb", "causedBy": {"username": "x"}, )") + fields +
               R"(, "createTime": "2026-12-08T21:00:00"}, "smartMode": null})";
    };
    const QByteArray off = R"("acState": {"on": false, "mode": "heat", "swing": "stopped"})";
    const QByteArray react = R"({"timer": null, "smartMode": {"enabled": true, "type": "temperature", )"
                             R"("deviceUid": "x", "lowTemperatureThreshold": 20.0, "highTemperatureThreshold": 27.5, )"
                             R"("lowTemperatureState": {"on": true, "mode": "heat", "targetTemperature": 21}, )"
                             R"("highTemperatureState": {"on": true, "mode": "cool"}, "lowTemperatureWebhook": null}})";
    QTest::newRow("timer from its wait")
        << timer(R"("isEnabled": true, )" + off +
                 R"(, "targetTimeSecondsFromNow": 3142, "targetTime": "2019-10-05T16:42:11")")
        << "timer: off at 22:52:22; Climate React: none";
    QTest::newRow("timer from its time, in UTC")
        << timer(R"("isEnabled": true, "acState": {"on": true}, "targetTime": "2026-12-08T23:30:00")")
        << "timer: on at 23:30:00; Climate React: none";
    QTest::newRow("timer that fired") << timer(R"("isEnabled": false, )" + off +
                                               R"(, "targetTimeSecondsFromNow": -5275495)")
                                      << "timer: none; Climate React: none";
    QTest::newRow("no timer") << QByteArray(R"({"timer": null, "smartMode": null})")
                              << "timer: none; Climate React: none";
    QTest::newRow("timer left out") << QByteArray(R"({"smartMode": null})") << "timer: hidden; Climate React: none";
    QTest::newRow("timer not an object") << QByteArray(R"({"timer": "soon", "smartMode": null})")
                                         << "timer: hidden; Climate React: none";
    QTest::newRow("timer without its state")
        << timer(R"("isEnabled": true, "targetTimeSecondsFromNow": 60)") << "timer: hidden; Climate React: none";
    QTest::newRow("timer with a fractional wait")
        << timer(R"("isEnabled": true, "acState": {"on": false}, "targetTimeSecondsFromNow": 59.6)")
        << "timer: off at 22:00:59; Climate React: none";
    QTest::newRow("timer with a garbled time")
        << timer(R"("isEnabled": true, "acState": {"on": false}, "targetTime": "soon")")
        << "timer: hidden; Climate React: none";
    QTest::newRow("Climate React set up") << react << "timer: none; Climate React: on 20 to 27.5";
    QTest::newRow("Climate React with one side")
        << QByteArray(R"({"timer": null, "smartMode": {"enabled": false, "type": "temperature", )"
                      R"("lowTemperatureThreshold": 15.0, "lowTemperatureState": {"on": false, "mode": "heat"}, )"
                      R"("sync_with_ac_power": false}})")
        << "timer: none; Climate React: off 15 to -";
    QTest::newRow("Climate React garbled, the timer still read")
        << QByteArray(R"({"timer": null, "smartMode": {"enabled": "yes"}})") << "timer: none; Climate React: none";
    QTest::newRow("details not an object") << QByteArray("[]") << "fails";

    const QByteArray readings = R"({"temperature": [{"time": "2026-12-08T10:01:30Z", "value": 23.6},
        {"time": "2026-12-08T10:00:00Z", "value": 23.5}, {"time": "yesterday", "value": 9}],
        "humidity": [{"time": "2026-12-08T10:00:00.250Z", "value": 48}]})";
    QTest::newRow("history, in time order")
        << readings << "temperature: 10:00:00 23.5, 10:01:30 23.6; humidity: 10:00:00 48";
    QTest::newRow("history with garbled humidity")
        << QByteArray(R"({"temperature": [{"time": "2026-12-08T10:00:00Z", "value": 23.5}],
                          "humidity": [{"time": "2026-12-08T10:00:00Z", "value": "48"}]})")
        << "temperature: 10:00:00 23.5; humidity: -";
    QTest::newRow("history with garbled temperatures")
        << QByteArray(R"({"temperature": {"time": "2026-12-08T10:00:00Z"}, "humidity": []})")
        << "temperature: -; humidity: -";
    QTest::newRow("history without readings")
        << QByteArray(R"({"temperature": [], "humidity": null})") << "temperature: -; humidity: -";
    QTest::newRow("history not an object") << QByteArray("null") << "fails";
}

// The details of one device and a room's history decode part by part: a part that does not fit is left out, the
// rest stays.
void tst_Decoding::detailsAndHistory()
{
    QFETCH(QByteArray, result);
    QFETCH(QString, shown);
    const QByteArray body = R"({"status": "success", "result": )" + result + "}";
    const QDateTime receivedAt(QDate(2026, 12, 8), QTime(22, 0), QTimeZone::utc());
    const auto clock = [](const QDateTime& time) { return time.toUTC().toString("HH:mm:ss"); };
    QString text;
    if (QString(QTest::currentDataTag()).startsWith("history")) {
        const auto decoded = decodeHistoryResponse(body);
        if (decoded.ok()) {
            const RoomHistory history = roomHistory(decoded.value().result);
            const auto points = [&clock](const QList<HistoryPoint>& list) {
                QStringList texts;
                for (const HistoryPoint& point : list) {
                    texts.append(clock(point.time) + ' ' + QString::number(point.value));
                }
                return texts.isEmpty() ? QStringLiteral("-") : texts.join(", ");
            };
            text = "temperature: " + points(history.temperature) + "; humidity: " + points(history.humidity);
        }
    } else {
        const auto decoded = decodeDeviceDetailsResponse(body);
        if (decoded.ok()) {
            const DeviceExtras extras = deviceExtras(decoded.value().result, receivedAt);
            text = "timer: ";
            text += !extras.timerKnown ? "hidden"
                    : extras.timer     ? (extras.timer->turnsOn ? "on at " : "off at ") + clock(extras.timer->due)
                                       : "none";
            text += "; Climate React: ";
            const auto threshold = [](const std::optional<double>& value) {
                return value ? QString::number(*value) : QStringLiteral("-");
            };
            text += extras.climateReact ? (extras.climateReact->enabled ? "on " : "off ") +
                                              threshold(extras.climateReact->lowTemperatureThreshold) + " to " +
                                              threshold(extras.climateReact->highTemperatureThreshold)
                                        : "none";
        }
    }
    QCOMPARE(text.isEmpty() ? QStringLiteral("fails") : text, shown);
}

QTEST_APPLESS_MAIN(tst_Decoding)
#include "tst_Decoding.moc"
