#include "model/ACSetting.h"

std::optional<ACSetting> settingFromWireName(QStringView name)
{
    for (const ACSettingNames& names : acSettings) {
        if (name == QLatin1String(names.wireName)) {
            return names.setting;
        }
    }
    return std::nullopt;
}

std::optional<ACSetting> settingFromCommandWord(QStringView word)
{
    for (const ACSettingNames& names : acSettings) {
        if (word.compare(QLatin1String(names.commandWord), Qt::CaseInsensitive) == 0) {
            return names.setting;
        }
    }
    return std::nullopt;
}

void applySetting(ACState& state, ACSetting setting, const ACValue& value)
{
    if (setting == ACSetting::Power) {
        if (const auto* on = std::get_if<bool>(&value)) {
            state.on = *on;
        }
        return;
    }
    if (setting == ACSetting::TargetTemperature) {
        if (const auto* degrees = std::get_if<qint64>(&value)) {
            state.targetTemperature = *degrees;
        }
        return;
    }
    const auto* text = std::get_if<QString>(&value);
    if (!text) {
        return;
    }
    switch (setting) {
    case ACSetting::Mode:
        state.mode = *text;
        break;
    case ACSetting::FanLevel:
        state.fanLevel = *text;
        break;
    case ACSetting::Swing:
        state.swing = *text;
        break;
    case ACSetting::HorizontalSwing:
        state.horizontalSwing = *text;
        break;
    case ACSetting::Light:
        state.light = *text;
        break;
    case ACSetting::Power:
    case ACSetting::TargetTemperature:
        break;
    }
}
