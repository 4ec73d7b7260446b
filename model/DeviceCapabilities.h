#pragma once

#include "model/Records.h"

#include <QStringList>

#include <optional>
#include <utility>

// What one air conditioner offers in its current mode: the rules behind the panel's rows and the command line's
// checks, so that both offer exactly the same choices. Pure functions of a device record.
namespace DeviceCapabilities {

// The order modes are offered in; a mode not named here comes after all of these.
inline const QStringList modeOrder{QStringLiteral("cool"), QStringLiteral("heat"), QStringLiteral("auto"),
                                   QStringLiteral("dry"), QStringLiteral("fan")};

// The device's modes, sorted by modeOrder.
QStringList modes(const SensiboDevice& device);
// The lists of the current mode's capabilities, in the cloud's order; empty when the device has no state, no mode,
// no capabilities for that mode or no such list.
QStringList fanLevels(const SensiboDevice& device);
QStringList swingModes(const SensiboDevice& device);
QStringList horizontalSwingModes(const SensiboDevice& device);
QStringList lightModes(const SensiboDevice& device);
// (lowest, highest) of the current mode's temperatures in the state's unit; absent when any of them is missing.
std::optional<std::pair<qint64, qint64>> temperatureRange(const SensiboDevice& device);
// The targets the device lists for its current mode in the state's unit, ascending, each once; empty when any of
// them is missing. A Fahrenheit list may skip values (61, 63, 64...).
QList<qint64> temperatureValues(const SensiboDevice& device);

// The target `steps` degrees away from `current`, stopping at the range's end. A target already outside the range
// moves only towards it: a step that would take it further away leaves it where it is.
qint64 stepTemperature(qint64 current, qint64 steps, std::pair<qint64, qint64> range);

} // namespace DeviceCapabilities
