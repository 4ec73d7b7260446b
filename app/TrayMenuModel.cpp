#include "app/TrayMenuModel.h"

#include "model/DeviceCapabilities.h"
#include "model/ExtrasText.h"
#include "model/ReadingText.h"
#include "panel/ClimateRows.h"
#include "service/SensiboService.h"

#include <tuple>
#include <utility>

namespace {
TrayMenuItem line(const QString& key, const QString& text)
{
    TrayMenuItem item;
    item.key = key;
    item.label = text;
    item.enabled = false;
    return item;
}

TrayMenuItem separator(const QString& key)
{
    TrayMenuItem item;
    item.key = key;
    item.separator = true;
    return item;
}

TrayMenuItem choice(const QString& key, const QString& label, bool checked, std::function<void()> action)
{
    TrayMenuItem item;
    item.key = key;
    item.label = label;
    item.toggle = TrayMenuItem::Toggle::Radio;
    item.checked = checked;
    item.action = std::move(action);
    return item;
}

// The first line: "Living Room — 24°C, 48%", with "Offline" when the cloud says the unit is not reachable.
QString headerText(const SensiboDevice& device)
{
    QStringList readings;
    const QString unit =
        device.acState && device.acState->temperatureUnit ? *device.acState->temperatureUnit : QStringLiteral("C");
    if (device.measurements && device.measurements->temperature) {
        readings.append(formatTemperature(*device.measurements->temperature, unit));
    }
    if (device.measurements && device.measurements->humidity) {
        if (const QString humidity = humidityText(*device.measurements->humidity); !humidity.isEmpty()) {
            readings.append(humidity);
        }
    }
    if (device.connectionStatus && !device.connectionStatus->isAlive.value_or(false)) {
        readings.append(QStringLiteral("Offline"));
    }
    const QString name = deviceName(device);
    return readings.isEmpty() ? name : name + QStringLiteral(" — ") + readings.join(QStringLiteral(", "));
}

QString settingKey(ACSetting setting)
{
    return QStringLiteral("row-") + wireName(setting);
}
} // namespace

TrayMenuModel::TrayMenuModel(SensiboService& service, Actions actions, QObject* parent)
    : QObject(parent)
    , m_service(service)
    , m_actions(std::move(actions))
{
    for (auto signal : {&SensiboService::apiKeyChanged, &SensiboService::devicesChanged,
                        &SensiboService::selectedDeviceIdChanged, &SensiboService::errorMessageChanged}) {
        connect(&m_service, signal, this, &TrayMenuModel::sync);
    }
    // Loading shows only while there is no list yet: each refresh of a list starts and ends a load.
    connect(&m_service, &SensiboService::isLoadingChanged, this, [this] {
        if (m_service.devices().isEmpty()) {
            sync();
        }
    });
    connect(&m_service.features(), &DeviceFeatures::extrasChanged, this, &TrayMenuModel::sync);
    m_items = build();
}

const QList<TrayMenuItem>& TrayMenuModel::items() const
{
    if (std::exchange(m_outOfDate, false)) {
        m_items = build();
    }
    return m_items;
}

void TrayMenuModel::setFollowed(bool followed)
{
    m_followed = followed;
    if (m_followed && m_outOfDate) {
        sync();
    }
}

void TrayMenuModel::sync()
{
    if (!m_followed) {
        m_outOfDate = true;
        return;
    }
    m_outOfDate = false;
    QList<TrayMenuItem> items = build();
    if (items == m_items) { // the last tree anyone was given
        return;
    }
    m_items = std::move(items);
    Q_EMIT itemsChanged();
}

TrayMenuItem TrayMenuModel::appEntry(const QString& key, const QString& label,
                                     const std::function<void()>& action) const
{
    TrayMenuItem item;
    item.key = key;
    item.label = label;
    item.action = action;
    return item;
}

// The panel's states, chosen the same way: no key, loading, an error or no devices, the device view.
QList<TrayMenuItem> TrayMenuModel::build() const
{
    const TrayMenuItem quit = appEntry(QStringLiteral("quit"), QStringLiteral("Quit Kelvo"), m_actions.quit);
    if (m_service.apiKey().isEmpty()) {
        return {line(QStringLiteral("message"), QStringLiteral("No API Key Configured")),
                appEntry(QStringLiteral("openSettings"), QStringLiteral("Open Settings..."), m_actions.openSettings),
                separator(QStringLiteral("separator-quit")), quit};
    }
    QList<TrayMenuItem> items;
    if (m_service.devices().isEmpty() && m_service.isLoading()) {
        items.append(line(QStringLiteral("message"), QStringLiteral("Loading devices...")));
    } else if (m_service.devices().isEmpty()) {
        items.append(
            line(QStringLiteral("message"), m_service.errorMessage().value_or(QStringLiteral("No devices found"))));
        items.append(appEntry(QStringLiteral("retry"), QStringLiteral("Retry"), [this] { m_service.fetchDevices(); }));
    } else {
        items.append(deviceEntries());
    }
    items.append(separator(QStringLiteral("separator-app")));
    items.append(appEntry(QStringLiteral("open"), QStringLiteral("Open Kelvo"), m_actions.openPanel));
    items.append(appEntry(QStringLiteral("settings"), QStringLiteral("Settings..."), m_actions.openSettings));
    items.append(separator(QStringLiteral("separator-quit")));
    items.append(quit);
    return items;
}

QList<TrayMenuItem> TrayMenuModel::deviceEntries() const
{
    QList<TrayMenuItem> items;
    const std::optional<SensiboDevice> device = m_service.selectedDevice();
    if (device) {
        items.append(line(QStringLiteral("header"), headerText(*device)));
    }
    if (m_service.errorMessage()) {
        items.append(line(QStringLiteral("error"), *m_service.errorMessage())); // the panel's footer
    }
    QList<TrayMenuItem> controls;
    if (device && device->acState) {
        const ACState& state = *device->acState;
        const QString unit = state.temperatureUnit.value_or(QString());
        for (const ClimateRow& row : climateRows(m_service, state)) {
            if (row.setting == ACSetting::Power) {
                TrayMenuItem power = appEntry(settingKey(row.setting), row.label, [this, on = !state.on] {
                    m_service.updateACState(ACSetting::Power, on);
                });
                power.toggle = TrayMenuItem::Toggle::Check;
                power.checked = state.on;
                controls.append(power);
                controls.append(extrasEntries(state));
            } else {
                controls.append(row.setting == ACSetting::TargetTemperature ? temperatureEntry(row, unit)
                                                                            : rowEntry(row));
            }
        }
    }
    if (m_service.devices().size() >= 2) {
        TrayMenuItem devices;
        devices.key = QStringLiteral("device");
        devices.label = device ? QStringLiteral("Device: ") + deviceName(*device) : QStringLiteral("Device");
        for (const SensiboDevice& each : m_service.devices()) {
            devices.children.append(choice(QStringLiteral("device/") + each.id, deviceName(each),
                                           m_service.selectedDeviceId() == each.id,
                                           [this, id = each.id] { m_service.setSelectedDeviceId(id); }));
        }
        controls.append(devices);
    }
    if (!controls.isEmpty() && !items.isEmpty()) {
        items.append(separator(QStringLiteral("separator-controls")));
    }
    items.append(controls);
    return items;
}

// A row of choices: "Mode: Cool" opening Cool, Heat, Auto... with the current one marked. It stays in the menu while
// the panel hides it, only not shown, so that switching the unit off and on changes properties, not the layout.
TrayMenuItem TrayMenuModel::rowEntry(const ClimateRow& row) const
{
    TrayMenuItem item;
    item.key = settingKey(row.setting);
    item.visible = row.shown;
    const QString current = row.current.isEmpty() ? QString() : row.name(row.current);
    item.label = current.isEmpty() ? row.label : row.label + QStringLiteral(": ") + current;
    for (const QString& option : row.options) {
        item.children.append(
            choice(item.key + QLatin1Char('/') + option, row.name(option), option == row.current,
                   [this, setting = row.setting, option] { m_service.updateACState(setting, option); }));
    }
    return item;
}

// The target temperature: every value the range reaches, or, for a range too long for a menu, one step warmer and
// one cooler, each showing the value it sets.
TrayMenuItem TrayMenuModel::temperatureEntry(const ClimateRow& row, const QString& unit) const
{
    TrayMenuItem item;
    item.key = settingKey(row.setting);
    item.visible = row.shown;
    item.label = row.label;
    if (!row.range) {
        return item;
    }
    item.label += QStringLiteral(": ") + targetTemperatureText(row.target, unit);
    const auto set = [this](qint64 value) {
        return [this, value] { m_service.updateACState(ACSetting::TargetTemperature, value); };
    };
    const auto [lowest, highest] = *row.range;
    if (highest - lowest < maxTemperatureChoices) {
        for (qint64 value = lowest; value <= highest; ++value) {
            item.children.append(choice(item.key + QLatin1Char('/') + QString::number(value),
                                        targetTemperatureText(value, unit), value == row.target, set(value)));
        }
        return item;
    }
    for (const auto& [key, word, steps] : {std::tuple{"warmer", "Warmer", 1}, std::tuple{"cooler", "Cooler", -1}}) {
        const qint64 value = DeviceCapabilities::stepTemperature(row.target, steps, *row.range);
        TrayMenuItem step =
            appEntry(item.key + QLatin1Char('/') + QLatin1String(key),
                     QLatin1String(word) + QStringLiteral(" (") + targetTemperatureText(value, unit) + QLatin1Char(')'),
                     set(value));
        step.enabled = value != row.target;
        item.children.append(step);
    }
    return item;
}

// The timer: "Off in…" (or "On in…") opening the lengths to choose from, or while one is set "Timer: off in 1 h
// 12 min" opening "Cancel Timer". Then Climate React, checked while it is on. Like the rows, each stays in the menu
// while it does not apply, only not shown.
QList<TrayMenuItem> TrayMenuModel::extrasEntries(const ACState& state) const
{
    const DeviceFeatures& features = m_service.features();
    TrayMenuItem timer;
    timer.key = QStringLiteral("timer");
    timer.visible = features.offersTimer();
    if (const auto set = features.timer()) {
        timer.label = QStringLiteral("Timer: ") + timerShortText(*set, features.now());
        timer.children.append(appEntry(timer.key + QStringLiteral("/cancel"), QStringLiteral("Cancel Timer"),
                                       [this] { m_service.features().cancelTimer(); }));
    } else {
        timer.label = timerMenuText(state.on);
        for (const int minutes : timerChoices) {
            timer.children.append(
                appEntry(timer.key + QLatin1Char('/') + QString::number(minutes), durationText(minutes),
                         [this, on = !state.on, minutes] { m_service.features().setTimer(on, minutes); }));
        }
    }

    const std::optional<SmartMode> climateReact = features.climateReact();
    TrayMenuItem react = appEntry(
        QStringLiteral("climateReact"), QStringLiteral("Climate React"),
        [this, enable = !(climateReact && climateReact->enabled)] { m_service.features().setClimateReact(enable); });
    react.visible = climateReact.has_value();
    react.toggle = TrayMenuItem::Toggle::Check;
    react.checked = climateReact && climateReact->enabled;
    return {timer, react};
}
