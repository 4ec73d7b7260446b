#include "cli/DeviceReport.h"

#include "model/ControlCharacters.h"
#include "model/ReadingText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

template <typename T> QJsonValue orNull(const std::optional<T>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// Reported only when the cloud says anything about the connection; then, like the panel, anything but a clear
// "alive" is offline.
std::optional<bool> isOnline(const SensiboDevice& device)
{
    if (!device.connectionStatus) {
        return std::nullopt;
    }
    return device.connectionStatus->isAlive.value_or(false);
}

QString unit(const SensiboDevice& device)
{
    return device.acState ? device.acState->temperatureUnit.value_or(QString()) : QString();
}

QString roomTemperatureText(const SensiboDevice& device)
{
    return device.measurements && device.measurements->temperature
               ? formatTemperature(*device.measurements->temperature, unit(device))
               : QString();
}

// The state's parts: power, mode, target, fan.
QStringList stateParts(const SensiboDevice& device)
{
    QStringList parts;
    if (!device.acState) {
        return parts;
    }
    const ACState& state = *device.acState;
    parts.append(state.on ? QStringLiteral("on") : QStringLiteral("off"));
    if (state.mode) {
        parts.append(*state.mode);
    }
    if (state.targetTemperature) {
        parts.append(targetTemperatureText(*state.targetTemperature, state.temperatureUnit.value_or(QString())));
    }
    if (state.fanLevel) {
        parts.append(QStringLiteral("fan ") + *state.fanLevel);
    }
    return parts;
}

// The readings' parts: room temperature, humidity, online.
QStringList readingParts(const SensiboDevice& device)
{
    QStringList parts;
    if (const QString temperature = roomTemperatureText(device); !temperature.isEmpty()) {
        parts.append(QStringLiteral("room ") + temperature);
    }
    if (device.measurements && device.measurements->humidity) {
        if (const QString humidity = humidityText(*device.measurements->humidity); !humidity.isEmpty()) {
            parts.append(QStringLiteral("humidity ") + humidity);
        }
    }
    if (const auto online = isOnline(device)) {
        parts.append(*online ? QStringLiteral("online") : QStringLiteral("offline"));
    }
    return parts;
}

QByteArray line(const QJsonDocument& document)
{
    return document.toJson(QJsonDocument::Compact) + '\n';
}

QByteArray waybarLine(const QString& text, const QString& tooltip, const QString& cssClass, const QString& alt)
{
    return line(QJsonDocument(QJsonObject{
        {QStringLiteral("text"), text.toHtmlEscaped()},
        {QStringLiteral("tooltip"), tooltip.toHtmlEscaped()},
        {QStringLiteral("class"), cssClass},
        {QStringLiteral("alt"), alt},
    }));
}

} // namespace

QString statusLine(const SensiboDevice& device)
{
    return escapedForTerminal(deviceName(device) + QStringLiteral(": ") +
                              (stateParts(device) + readingParts(device)).join(QStringLiteral(", ")));
}

QByteArray statusJson(const QList<SensiboDevice>& devices)
{
    QJsonArray array;
    for (const SensiboDevice& device : devices) {
        const std::optional<ACState>& state = device.acState;
        const auto field = [&](auto member) { return state ? orNull((*state).*member) : QJsonValue(QJsonValue::Null); };
        array.append(QJsonObject{
            {QStringLiteral("id"), device.id},
            {QStringLiteral("room"), device.room ? QJsonValue(device.room->name) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("on"), state ? QJsonValue(state->on) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("mode"), field(&ACState::mode)},
            {QStringLiteral("targetTemperature"), field(&ACState::targetTemperature)},
            {QStringLiteral("temperatureUnit"), field(&ACState::temperatureUnit)},
            {QStringLiteral("fanLevel"), field(&ACState::fanLevel)},
            {QStringLiteral("swing"), field(&ACState::swing)},
            {QStringLiteral("horizontalSwing"), field(&ACState::horizontalSwing)},
            {QStringLiteral("light"), field(&ACState::light)},
            {QStringLiteral("roomTemperature"),
             device.measurements ? orNull(device.measurements->temperature) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("humidity"),
             device.measurements ? orNull(device.measurements->humidity) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("online"), orNull(isOnline(device))},
        });
    }
    return line(QJsonDocument(array));
}

QString deviceListText(const QList<SensiboDevice>& devices)
{
    QString text;
    for (const SensiboDevice& device : devices) {
        text += escapedForTerminal(device.id) + QLatin1Char('\t') +
                escapedForTerminal(device.room ? device.room->name : QString()) + QLatin1Char('\n');
    }
    return text;
}

QByteArray deviceListJson(const QList<SensiboDevice>& devices)
{
    QJsonArray array;
    for (const SensiboDevice& device : devices) {
        array.append(QJsonObject{
            {QStringLiteral("id"), device.id},
            {QStringLiteral("room"), device.room ? QJsonValue(device.room->name) : QJsonValue(QJsonValue::Null)},
        });
    }
    return line(QJsonDocument(array));
}

QByteArray waybarStatus(const SensiboDevice& device)
{
    const std::optional<ACState>& state = device.acState;
    QString cssClass;
    QString alt;
    if (isOnline(device) == false) {
        cssClass = alt = QStringLiteral("offline");
    } else if (!state || !state->on) {
        cssClass = alt = QStringLiteral("off");
    } else {
        const QString mode = state->mode.value_or(QString());
        cssClass = mode == u"cool" || mode == u"heat" ? mode : QStringLiteral("on");
        alt = mode.isEmpty() ? QStringLiteral("on") : mode;
    }
    QString text = roomTemperatureText(device);
    if (text.isEmpty()) {
        text = deviceName(device);
    }
    QStringList tooltip{deviceName(device)};
    for (const QStringList& parts : {stateParts(device), readingParts(device)}) {
        if (!parts.isEmpty()) {
            tooltip.append(parts.join(QStringLiteral(", ")));
        }
    }
    return waybarLine(text, tooltip.join(QLatin1Char('\n')), cssClass, alt);
}

QByteArray waybarError(const QString& message)
{
    return waybarLine(QStringLiteral("—"), message, QStringLiteral("error"), QStringLiteral("error"));
}
