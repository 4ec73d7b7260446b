#pragma once

#include "model/Records.h"

#include <QString>

// How a device's readings are written for people, the same in the panel and on the command line.

// A measured temperature (always Celsius) in the user's unit: "F" converts to Fahrenheit, anything else shows
// Celsius. Whole degrees as printf's "%.0f" writes them: halves go to the even neighbour, -0.3 gives "-0°C".
QString formatTemperature(double celsius, const QString& unit);

// A target temperature as the cloud holds it, in the unit it names: 22 and "C" → "22°C".
QString targetTemperatureText(qint64 target, const QString& unit);

// The relative humidity's integer part (towards zero) and "%": 51.9 → "51%". Empty for a value that is not a
// finite number a 64-bit integer holds.
QString humidityText(double humidity);

// The room's name, or the device's id when it has no room.
QString deviceName(const SensiboDevice& device);
