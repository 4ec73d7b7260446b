#include "panel/ClimateRows.h"

#include "panel/DisplayNames.h"
#include "service/SensiboService.h"

QString climateRowLabel(ACSetting setting)
{
    switch (setting) {
    case ACSetting::Power:
        return QStringLiteral("Power");
    case ACSetting::Mode:
        return QStringLiteral("Mode");
    case ACSetting::TargetTemperature:
        return QStringLiteral("Temp");
    case ACSetting::FanLevel:
        return QStringLiteral("Fan");
    case ACSetting::Swing:
        return QStringLiteral("Swing");
    case ACSetting::HorizontalSwing:
        return QStringLiteral("H. Swing");
    case ACSetting::Light:
        return QStringLiteral("Light");
    }
    return {};
}

std::array<ClimateRow, 7> climateRows(const SensiboService& service, const ACState& state)
{
    const auto onOff = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
    const auto menuRow = [&](ACSetting setting, const QStringList& options, const QString& current,
                             ClimateRow::NameFunction name) {
        ClimateRow row{setting, climateRowLabel(setting), state.on && !options.isEmpty(), options, name, current, {},
                       0};
        return row;
    };

    ClimateRow power{ACSetting::Power, climateRowLabel(ACSetting::Power), true, {}, nullptr, onOff(state.on), {}, 0};

    ClimateRow temperature{ACSetting::TargetTemperature,
                           climateRowLabel(ACSetting::TargetTemperature),
                           false,
                           {},
                           nullptr,
                           {},
                           service.temperatureRange(),
                           0};
    temperature.shown = state.on && temperature.range.has_value();
    if (temperature.range) {
        temperature.target = state.targetTemperature.value_or(temperature.range->first);
    }

    // One light mode is no choice; the row switches between on and off whatever the modes are called.
    ClimateRow light{ACSetting::Light,
                     climateRowLabel(ACSetting::Light),
                     state.on && service.availableLightModes().size() >= 2,
                     {QStringLiteral("on"), QStringLiteral("off")},
                     displayName,
                     onOff(state.light == u"on"),
                     {},
                     0};

    return {
        power,
        menuRow(ACSetting::Mode, service.availableModes(), state.mode.value_or(QStringLiteral("cool")), displayName),
        temperature,
        menuRow(ACSetting::FanLevel, service.availableFanLevels(), state.fanLevel.value_or(QString()), displayName),
        menuRow(ACSetting::Swing, service.availableSwingModes(), state.swing.value_or(QString()), swingDisplayName),
        menuRow(ACSetting::HorizontalSwing, service.availableHorizontalSwingModes(),
                state.horizontalSwing.value_or(QString()), swingDisplayName),
        light};
}
