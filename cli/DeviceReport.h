#pragma once

#include "model/DeviceExtras.h"
#include "model/Records.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// What `status` and `devices` print about devices. The JSON field names are part of Kelvo's interface (kelvo(1),
// README): add fields, never rename or drop one.

// Plain output goes to a terminal: the cloud's texts in it have their control and bidirectional characters escaped
// ("\x1B", "\u202E"), so that a room name can neither send the terminal commands nor fake a line. JSON needs no
// such care: its own escaping covers them.

// A device as `status` shows it: the list's record and what its details said (nothing when they did not come).
struct ShownDevice {
    SensiboDevice device;
    DeviceExtras extras;
};

// "Living Room: on, cool, 22°C, fan auto, room 23°C, humidity 51%, online, off in 1 h 12 min (at 23:30), Climate
// React on"; a part the cloud did not report is left out. Times are reckoned from `now`.
QString statusLine(const ShownDevice& shown, const QDateTime& now);

// The devices as a JSON array, one object per device with every field present (null when not reported): id, room,
// on, mode, targetTemperature, temperatureUnit, fanLevel, swing, horizontalSwing, light, roomTemperature (°C),
// humidity (%), online, timer {turnsOn, due, minutesLeft}, climateReact {enabled, type, lowTemperatureThreshold,
// highTemperatureThreshold, description}.
QByteArray statusJson(const QList<ShownDevice>& devices, const QDateTime& now);

// "<id>\t<room>" per device; the room is empty when the device has none.
QString deviceListText(const QList<SensiboDevice>& devices);
// [{"id": ..., "room": ... or null}, ...]
QByteArray deviceListJson(const QList<SensiboDevice>& devices);

// One line for a waybar custom module with "return-type": "json": text (the room temperature), tooltip (with the
// timer and Climate React), class (off, cool, heat, on, offline) and alt (off, offline or the mode). Texts are
// escaped for waybar's Pango markup.
QByteArray waybarStatus(const ShownDevice& shown, const QDateTime& now);
// The same for a failure: class and alt "error", the message as the tooltip.
QByteArray waybarError(const QString& message);

// A room's readings, oldest first, one per time: the temperature (degrees Celsius) and the humidity (percent) measured
// then, when there is one.
struct HistoryRow {
    QDateTime time; // UTC
    std::optional<double> temperature;
    std::optional<double> humidity;
};
QList<HistoryRow> historyRows(const RoomHistory& history);

// `history`'s outputs: "2026-12-08 11:00  23°C  51%" per reading, in local time and the device's `unit`; the CSV
// header "time,temperature_celsius,humidity_percent" and a line per reading; a JSON array of {time, temperature,
// humidity}.
QString historyText(const QList<HistoryRow>& rows, const QString& unit);
QByteArray historyCsv(const QList<HistoryRow>& rows);
QByteArray historyJson(const QList<HistoryRow>& rows);
