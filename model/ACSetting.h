#pragma once

#include "model/Records.h"

#include <QLatin1String>
#include <QString>

#include <array>
#include <optional>
#include <variant>

// The seven settings of an air conditioner that Kelvo changes, each with the property name the cloud gives it in
// acState and in a state change's address, and the word the command line takes for it.
enum class ACSetting { Power, Mode, TargetTemperature, FanLevel, Swing, HorizontalSwing, Light };

// The value of one state change, as it goes into "newValue": a JSON Boolean, string or integer.
using ACValue = std::variant<bool, QString, qint64>;

struct ACSettingNames {
    ACSetting setting;
    const char* wireName;    // "fanLevel"
    const char* commandWord; // "fan"
};

inline constexpr std::array<ACSettingNames, 7> acSettings{{
    {ACSetting::Power, "on", "power"},
    {ACSetting::Mode, "mode", "mode"},
    {ACSetting::TargetTemperature, "targetTemperature", "temp"},
    {ACSetting::FanLevel, "fanLevel", "fan"},
    {ACSetting::Swing, "swing", "swing"},
    {ACSetting::HorizontalSwing, "horizontalSwing", "hswing"},
    {ACSetting::Light, "light", "light"},
}};

inline QLatin1String wireName(ACSetting setting)
{
    return QLatin1String(acSettings[static_cast<std::size_t>(setting)].wireName);
}

inline QLatin1String commandWord(ACSetting setting)
{
    return QLatin1String(acSettings[static_cast<std::size_t>(setting)].commandWord);
}

std::optional<ACSetting> settingFromWireName(QStringView name);
std::optional<ACSetting> settingFromCommandWord(QStringView word); // in any case

// Sets one field of `state`; a value of another type than the setting's changes nothing.
void applySetting(ACState& state, ACSetting setting, const ACValue& value);
