#include "model/DeviceCapabilities.h"

#include <algorithm>

namespace {

const ModeCapabilities* currentModeCapabilities(const SensiboDevice& device)
{
    if (!device.acState || !device.acState->mode || !device.remoteCapabilities || !device.remoteCapabilities->modes) {
        return nullptr;
    }
    const auto& modes = *device.remoteCapabilities->modes;
    const auto it = modes.constFind(*device.acState->mode);
    return it == modes.cend() ? nullptr : &it.value();
}

QStringList currentModeList(const SensiboDevice& device, std::optional<QList<QString>> ModeCapabilities::*list)
{
    const auto* capabilities = currentModeCapabilities(device);
    return capabilities ? (capabilities->*list).value_or(QStringList()) : QStringList();
}

// The current mode's temperatures in the state's unit; null when any of them is missing or the list is empty.
const QList<qint64>* currentTemperatures(const SensiboDevice& device)
{
    const auto* capabilities = currentModeCapabilities(device);
    if (!capabilities || !capabilities->temperatures || !device.acState->temperatureUnit) {
        return nullptr;
    }
    const auto it = capabilities->temperatures->constFind(*device.acState->temperatureUnit);
    if (it == capabilities->temperatures->cend() || !it->values || it->values->isEmpty()) {
        return nullptr;
    }
    return &*it->values;
}

} // namespace

QStringList DeviceCapabilities::modes(const SensiboDevice& device)
{
    if (!device.remoteCapabilities || !device.remoteCapabilities->modes) {
        return {};
    }
    QStringList modes = device.remoteCapabilities->modes->keys();
    const auto rank = [](const QString& mode) {
        const auto index = modeOrder.indexOf(mode);
        return index < 0 ? modeOrder.size() : index;
    };
    std::stable_sort(modes.begin(), modes.end(), [&](const QString& a, const QString& b) { return rank(a) < rank(b); });
    return modes;
}

QStringList DeviceCapabilities::fanLevels(const SensiboDevice& device)
{
    return currentModeList(device, &ModeCapabilities::fanLevels);
}

QStringList DeviceCapabilities::swingModes(const SensiboDevice& device)
{
    return currentModeList(device, &ModeCapabilities::swing);
}

QStringList DeviceCapabilities::horizontalSwingModes(const SensiboDevice& device)
{
    return currentModeList(device, &ModeCapabilities::horizontalSwing);
}

QStringList DeviceCapabilities::lightModes(const SensiboDevice& device)
{
    return currentModeList(device, &ModeCapabilities::light);
}

std::optional<std::pair<qint64, qint64>> DeviceCapabilities::temperatureRange(const SensiboDevice& device)
{
    const QList<qint64>* values = currentTemperatures(device);
    if (!values) {
        return std::nullopt;
    }
    const auto [lowest, highest] = std::minmax_element(values->cbegin(), values->cend());
    return std::pair{*lowest, *highest};
}

QList<qint64> DeviceCapabilities::temperatureValues(const SensiboDevice& device)
{
    const QList<qint64>* listed = currentTemperatures(device);
    if (!listed) {
        return {};
    }
    QList<qint64> values = *listed;
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

qint64 DeviceCapabilities::stepTemperature(qint64 current, qint64 steps, std::pair<qint64, qint64> range)
{
    const auto [lowest, highest] = range;
    if ((steps > 0 && current >= highest) || (steps < 0 && current <= lowest) || steps == 0) {
        return current;
    }
    qint64 next = 0;
    if (__builtin_add_overflow(current, steps, &next)) {
        return steps > 0 ? highest : lowest;
    }
    return steps > 0 ? std::min(next, highest) : std::max(next, lowest);
}
