#pragma once

// The records of the Sensibo cloud's answers, as Kelvo decodes and keeps them. Plain values: copying one copies all
// of it. Only a device's acState changes after decoding. Every record names its fields in CodingKeys, in field
// order, and their JSON keys in keys; the decoder reads each field by its key.

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

#include <array>
#include <optional>

struct RoomInfo {
    enum class CodingKeys { name, icon };
    static constexpr std::array<const char*, 2> keys{"name", "icon"};

    QString name;
    std::optional<QString> icon;

    bool operator==(const RoomInfo&) const = default;
};

struct ACState {
    enum class CodingKeys { on, mode, fanLevel, targetTemperature, temperatureUnit, swing, horizontalSwing, light };
    static constexpr std::array<const char*, 8> keys{
        "on", "mode", "fanLevel", "targetTemperature", "temperatureUnit", "swing", "horizontalSwing", "light"};

    bool on = false;
    std::optional<QString> mode;
    std::optional<QString> fanLevel;
    std::optional<qint64> targetTemperature;
    std::optional<QString> temperatureUnit;
    std::optional<QString> swing;
    std::optional<QString> horizontalSwing;
    std::optional<QString> light;

    bool operator==(const ACState&) const = default;
};

struct MeasurementTime {
    enum class CodingKeys { secondsAgo, time };
    static constexpr std::array<const char*, 2> keys{"secondsAgo", "time"};

    std::optional<qint64> secondsAgo;
    std::optional<QString> time;

    bool operator==(const MeasurementTime&) const = default;
};

struct SensiboMeasurement {
    enum class CodingKeys { temperature, humidity, time };
    static constexpr std::array<const char*, 3> keys{"temperature", "humidity", "time"};

    std::optional<double> temperature; // degrees Celsius, whatever the device's unit
    std::optional<double> humidity;    // percent
    std::optional<MeasurementTime> time;

    bool operator==(const SensiboMeasurement&) const = default;
};

struct ConnectionStatus {
    enum class CodingKeys { isAlive, lastSeen };
    static constexpr std::array<const char*, 2> keys{"isAlive", "lastSeen"};

    std::optional<bool> isAlive;
    std::optional<MeasurementTime> lastSeen;

    bool operator==(const ConnectionStatus&) const = default;
};

struct TemperatureRange {
    enum class CodingKeys { isNative, values };
    static constexpr std::array<const char*, 2> keys{"isNative", "values"};

    std::optional<bool> isNative;
    std::optional<QList<qint64>> values;

    bool operator==(const TemperatureRange&) const = default;
};

struct ModeCapabilities {
    enum class CodingKeys { temperatures, fanLevels, swing, horizontalSwing, light };
    static constexpr std::array<const char*, 5> keys{"temperatures", "fanLevels", "swing", "horizontalSwing", "light"};

    std::optional<QMap<QString, TemperatureRange>> temperatures; // keyed by unit code ("C", "F")
    std::optional<QList<QString>> fanLevels;
    std::optional<QList<QString>> swing;
    std::optional<QList<QString>> horizontalSwing;
    std::optional<QList<QString>> light;

    bool operator==(const ModeCapabilities&) const = default;
};

// Devices of one answer whose capabilities read alike hold the same map: Qt's maps and lists are implicitly shared,
// so the copies cost a pointer, compare equal, and a change to one would copy it first.
struct RemoteCapabilities {
    enum class CodingKeys { modes };
    static constexpr std::array<const char*, 1> keys{"modes"};

    std::optional<QMap<QString, ModeCapabilities>>
        modes; // keyed by mode name; the cloud's key order carries no meaning

    bool operator==(const RemoteCapabilities&) const = default;
};

struct SensiboDevice {
    enum class CodingKeys { id, room, acState, measurements, connectionStatus, remoteCapabilities };
    static constexpr std::array<const char*, 6> keys{
        "id", "room", "acState", "measurements", "connectionStatus", "remoteCapabilities"};

    QString id; // identity in lists and the selection; the path segment of a state change
    std::optional<RoomInfo> room;
    std::optional<ACState> acState;
    std::optional<SensiboMeasurement> measurements;
    std::optional<ConnectionStatus> connectionStatus;
    std::optional<RemoteCapabilities> remoteCapabilities;

    bool operator==(const SensiboDevice&) const = default;
};

struct ACStateResult {
    enum class CodingKeys { acState };
    static constexpr std::array<const char*, 1> keys{"acState"};

    ACState acState;

    bool operator==(const ACStateResult&) const = default;
};

// A field read without failing its answer, for a feature the panel can do without: whether the answer left the key
// out, held null there, a value that fits, or one that does not (which is then dropped).
template <typename T> struct Tolerant {
    enum class Kind { Missing, Null, Present, Unreadable };

    Kind kind = Kind::Missing;
    T value{}; // with Present

    bool present() const { return kind == Kind::Present; }
    bool operator==(const Tolerant&) const = default;
};

// A timer set on a device: the state it applies when it fires. targetTime is UTC without a zone suffix
// ("2026-12-08T23:30:00"); targetTimeSecondsFromNow is counted from when the cloud answered, negative once past.
struct DeviceTimer {
    enum class CodingKeys { isEnabled, acState, targetTimeSecondsFromNow, targetTime };
    static constexpr std::array<const char*, 4> keys{"isEnabled", "acState", "targetTimeSecondsFromNow", "targetTime"};

    bool isEnabled = false;
    ACState acState;
    std::optional<double> targetTimeSecondsFromNow;
    std::optional<QString> targetTime;

    bool operator==(const DeviceTimer&) const = default;
};

// Climate React, the cloud's own thermostat: below the low threshold it applies the low state, above the high one
// the high state. Thresholds are degrees Celsius (percent when the type is "humidity").
struct SmartMode {
    enum class CodingKeys {
        enabled,
        type,
        lowTemperatureThreshold,
        highTemperatureThreshold,
        lowTemperatureState,
        highTemperatureState
    };
    static constexpr std::array<const char*, 6> keys{"enabled",
                                                     "type",
                                                     "lowTemperatureThreshold",
                                                     "highTemperatureThreshold",
                                                     "lowTemperatureState",
                                                     "highTemperatureState"};

    bool enabled = false;
    std::optional<QString> type;
    std::optional<double> lowTemperatureThreshold;
    std::optional<double> highTemperatureThreshold;
    std::optional<ACState> lowTemperatureState;
    std::optional<ACState> highTemperatureState;

    bool operator==(const SmartMode&) const = default;
};

// The answer to the details request of one device (fields=timer,smartMode). Each part is read on its own, so that a
// timer the cloud describes badly hides the timer and nothing else.
struct DeviceDetails {
    enum class CodingKeys { timer, smartMode };
    static constexpr std::array<const char*, 2> keys{"timer", "smartMode"};

    Tolerant<DeviceTimer> timer;
    Tolerant<SmartMode> smartMode;

    bool operator==(const DeviceDetails&) const = default;
};

// One reading of a room's history: "2026-12-08T10:00:00Z" and the value (degrees Celsius or percent).
struct MeasurementPoint {
    enum class CodingKeys { time, value };
    static constexpr std::array<const char*, 2> keys{"time", "value"};

    QString time;
    double value = 0;

    bool operator==(const MeasurementPoint&) const = default;
};

// The answer to the history request: the readings of the last days, oldest first, about one every 90 s. A humidity
// list that does not fit leaves the temperatures.
struct MeasurementHistory {
    enum class CodingKeys { temperature, humidity };
    static constexpr std::array<const char*, 2> keys{"temperature", "humidity"};

    Tolerant<QList<MeasurementPoint>> temperature;
    Tolerant<QList<MeasurementPoint>> humidity;

    bool operator==(const MeasurementHistory&) const = default;
};

// The envelope of every answer. The status word must be present, but its value is never looked at.
template <typename Payload> struct SensiboResponse {
    enum class CodingKeys { status, result };
    static constexpr std::array<const char*, 2> keys{"status", "result"};

    QString status;
    Payload result;

    bool operator==(const SensiboResponse&) const = default;
};

Q_DECLARE_METATYPE(SensiboDevice)
