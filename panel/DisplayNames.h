#pragma once

#include "model/Records.h"

#include <QString>

// What the panel shows for the cloud's values. Pure functions: no view, no service.

// The symbol name for an air conditioner mode ("cool" → "snowflake"); unknown modes get a generic unit.
QString modeIcon(const QString& mode);

// The name shown for a mode or fan level ("medium_high" → "Med-High"); other values by titleCase().
QString displayName(const QString& value);

// The name shown for a vertical or horizontal swing position ("rangeFull" → "Full Range"); others by titleCase().
QString swingDisplayName(const QString& value);

// The fallback for values the tables do not know: every "_" becomes a space, then each word (words are separated
// by white space) gets an upper-case first letter and lower-case rest: "medium_low" → "Medium Low",
// "fixedLeft" → "Fixedleft".
QString titleCase(const QString& value);

// A measured temperature (always Celsius) in the user's unit: "F" converts to Fahrenheit, anything else shows
// Celsius. Whole degrees as printf's "%.0f" writes them: halves go to the even neighbour, -0.3 gives "-0°C".
QString formatTemperature(double celsius, const QString& unit);

// The relative humidity's integer part (towards zero) and "%": 51.9 → "51%". Empty for a value that is not a
// finite number a 64-bit integer holds.
QString humidityText(double humidity);

// The room's name, or the device's id when it has no room.
QString deviceName(const SensiboDevice& device);
