#pragma once

#include "model/Records.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What `status` and `devices` print about devices. The JSON field names are part of Kelvo's interface (kelvo(1),
// README): add fields, never rename or drop one.

// Plain output goes to a terminal: the cloud's texts in it have their control and bidirectional characters escaped
// ("\x1B", "\u202E"), so that a room name can neither send the terminal commands nor fake a line. JSON needs no
// such care: its own escaping covers them.

// "Living Room: on, cool, 22°C, fan auto, room 23°C, humidity 51%, online"; a part the cloud did not report is left
// out.
QString statusLine(const SensiboDevice& device);

// The devices as a JSON array, one object per device with every field present (null when not reported): id, room,
// on, mode, targetTemperature, temperatureUnit, fanLevel, swing, horizontalSwing, light, roomTemperature (°C),
// humidity (%), online.
QByteArray statusJson(const QList<SensiboDevice>& devices);

// "<id>\t<room>" per device; the room is empty when the device has none.
QString deviceListText(const QList<SensiboDevice>& devices);
// [{"id": ..., "room": ... or null}, ...]
QByteArray deviceListJson(const QList<SensiboDevice>& devices);

// One line for a waybar custom module with "return-type": "json": text (the room temperature), tooltip, class (off,
// cool, heat, on, offline) and alt (off, offline or the mode). Texts are escaped for waybar's Pango markup.
QByteArray waybarStatus(const SensiboDevice& device);
// The same for a failure: class and alt "error", the message as the tooltip.
QByteArray waybarError(const QString& message);
