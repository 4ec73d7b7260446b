#include "cli/CommandTable.h"

#include "model/DeviceExtras.h"

#include <algorithm>

namespace {

constexpr auto device = Option::Help | Option::Device;
constexpr auto oneOrAll = device | Option::All | Option::Timeout;

const char statusHelp[] = R"help(
Shows one line per air conditioner, or only for the one --device names: room,
power, mode, target temperature, fan level, room temperature, humidity,
whether it is online, a timer that is set ("off in 1 h 12 min (at 23:30)") and
Climate React where it is set up. Asks the Sensibo cloud for the device list,
then, all at once, for the timer and Climate React of each device shown; when
that second answer fails, a warning says so and the rest is shown.

  --device ROOM|ID   only this device: a room name (in any case) or an id
  --json             the devices as a JSON array of objects with the fields
                       id, room, on, mode, targetTemperature, temperatureUnit,
                       fanLevel, swing, horizontalSwing, light,
                       roomTemperature (degrees Celsius, as measured),
                       humidity (percent), online,
                       timer: {turnsOn, due (UTC), minutesLeft},
                       climateReact: {enabled, type,
                         lowTemperatureThreshold, highTemperatureThreshold
                         (degrees Celsius; percent when type is humidity),
                         description}
                     each null when the cloud reports nothing for it (timer:
                     when none is set; climateReact: when it is not set up)
  --waybar           one line for a waybar custom module ("return-type":
                     "json") about the --device or the first device: text (the
                     room temperature), tooltip (with the timer and Climate
                     React), class and alt. class is off, cool, heat, on,
                     offline or error; alt is off, offline, error or the mode.
                     Every failure (no key, the cloud, a wrong --device or
                     option) prints class error with the message as the
                     tooltip and exits 0, as waybar hides a module whose
                     command fails.
  --timeout SECONDS  the longest each request may take (default 60 seconds;
                     10 with --waybar)
)help";

const char devicesHelp[] = R"(
Lists the air conditioners of the account, one per line: the id, a tab and the
room. Asks the Sensibo cloud once.

  --json             a JSON array of objects with the fields id and room (null
                     when the device has no room)
  --timeout SECONDS  the longest the request may take (default 60 seconds)
)";

const char setHelp[] = R"(
Changes settings of the --device or the first device, in the order given, with
one request to the Sensibo cloud per setting; with --all, of every device in
the cloud's order.

Settings:
  power on|off|toggle
  mode NAME           the device's modes, e.g. cool, heat, auto, dry, fan
  temp N|+N|-N        the target temperature in the device's unit, one of the
                      values the device lists for its mode; +N and -N move N
                      of those values up or down and stop at the range's end
  fan NAME            fan level, e.g. quiet, low, medium, high, auto
  swing NAME          vertical swing, e.g. stopped, rangeFull
  hswing NAME         horizontal swing
  light NAME          display light, e.g. on, off

The settings and the form of each value are checked before anything is asked
of the cloud. Each value is then checked against what the device offers in its
mode at that point (a mode set earlier in the same call counts) before anything
is sent: a value it does not offer fails with exit status 2 and the values it
offers. Names match in any case. When the cloud refuses a change, the rest is
not sent; the message names the setting, the cloud's answer, and what was
applied and what was not sent.

  --device ROOM|ID   the device: a room name (in any case) or an id
  --all              every device; one line on standard error for each device
                     that does not offer a value or refuses a change, and exit
                     status 1 if any did
  --timeout SECONDS  the longest each request may take (default 60 seconds)

Examples:
  kelvo set mode heat temp 23
  kelvo set --device bedroom temp +1
  kelvo set --all power off
)";

const char onHelp[] = R"(
Switches the --device, or every device with --all, or the first device on;
short for: kelvo set power on.
)";

const char offHelp[] = R"(
Switches the --device, or every device with --all, or the first device off;
short for: kelvo set power off.
)";

const char timerHelp[] = R"(
Sets a timer that switches the --device, or every device with --all, or the
first device off or on after DURATION, with the settings it has now; or
cancels the timer. The cloud keeps the timer: it fires with no computer on.

  off DURATION       switch off after DURATION
  on DURATION        switch on after DURATION
  cancel             cancel the timer

DURATION is hours and minutes, such as 30m, 1h, 90m or 1h30m, from 1m to 24h.
`kelvo status` shows a timer that is set. One request for the device list,
then one per device.

  --device ROOM|ID   the device: a room name (in any case) or an id
  --all              every device; one line on standard error for each device
                     that refuses, and exit status 1 if any did
  --timeout SECONDS  the longest each request may take (default 60 seconds)

Examples:
  kelvo timer off 1h30m
  kelvo timer --device bedroom on 30m
  kelvo timer --all cancel
)";

const char reactHelp[] = R"(
Switches Climate React, the cloud's own thermostat, on or off for the
--device, or every device with --all, or the first device. It must have been
set up in the Sensibo app; `kelvo status` shows what it does. One request for
the device list, then one per device.

  --device ROOM|ID   the device: a room name (in any case) or an id
  --all              every device; one line on standard error for each device
                     that refuses, and exit status 1 if any did
  --timeout SECONDS  the longest each request may take (default 60 seconds)
)";

const char historyHelp[] = R"(
Prints the room temperature and humidity that the --device or the first
device measured over the last day (or --days N days), oldest first, about one
reading every 90 seconds: one line per reading with the local time, the
temperature in the device's unit (whole degrees) and the humidity. Asks the
Sensibo cloud for the device list and the readings.

  --device ROOM|ID   the device: a room name (in any case) or an id
  --days N           1 to 7 days (default 1)
  --csv              comma-separated values: a header line
                       time,temperature_celsius,humidity_percent
                     then one line per reading: the time in UTC (ISO 8601,
                     "2026-12-08T10:00:00Z"), the temperature in degrees
                     Celsius as measured, whatever the device's unit, and the
                     relative humidity in percent (empty when the cloud has
                     none for that time)
  --json             the readings as a JSON array of objects with the fields
                     time, temperature (degrees Celsius) and humidity
                     (percent, null when missing), as in --csv
  --timeout SECONDS  the longest each request may take (default 60 seconds)
)";

const char loginHelp[] = R"(
Stores a Sensibo API key for Kelvo, as its settings window does. Reads the key
from the terminal without showing it, or from standard input when that is not
a terminal (kelvo login < keyfile), checks it with one request to the cloud,
stores it readable by you only, and tells a Kelvo running in the tray to use
it. A key the cloud refuses is not stored.

  --timeout SECONDS  the longest the request may take (default 60 seconds)
)";

const char logoutHelp[] = R"(
Removes the stored Sensibo API key and tells a Kelvo running in the tray.
)";

const char helpHelp[] = R"(
Describes Kelvo's commands, or the one named.
)";

const CommandSpec commands[] = {
    {Command::Status, "status", device | Option::Json | Option::Waybar | Option::Timeout, Operands::None, nullptr,
     nullptr, "status [--device ROOM|ID] [--json | --waybar]", "show the air conditioners' state", statusHelp},
    {Command::Devices, "devices", Option::Help | Option::Json | Option::Timeout, Operands::None, nullptr, nullptr,
     "devices [--json]", "list the devices' ids and rooms", devicesHelp},
    {Command::Set, "set", oneOrAll, Operands::SettingPairs, nullptr, nullptr,
     "set [--device ROOM|ID | --all] SETTING VALUE...",
     "change settings (power, mode, temp, fan, swing,\nhswing, light), in the order given", setHelp},
    {Command::Set, "on", oneOrAll, Operands::None, "power", "on", "on [--device ROOM|ID | --all]",
     "switch on (short for: set power on)", onHelp},
    {Command::Set, "off", oneOrAll, Operands::None, "power", "off", "off [--device ROOM|ID | --all]",
     "switch off (short for: set power off)", offHelp},
    {Command::Timer, "timer", oneOrAll, Operands::Timer, nullptr, nullptr,
     "timer [--device ROOM|ID | --all] off|on DURATION | cancel",
     "switch off or on after DURATION (30m, 1h, 1h30m),\nor cancel the timer", timerHelp},
    {Command::React, "react", oneOrAll, Operands::Switch, nullptr, nullptr, "react [--device ROOM|ID | --all] on|off",
     "switch Climate React on or off", reactHelp},
    {Command::History, "history", device | Option::Days | Option::Json | Option::Csv | Option::Timeout, Operands::None,
     nullptr, nullptr, "history [--device ROOM|ID] [--days N] [--json | --csv]",
     "the room's temperature and humidity, last day", historyHelp},
    {Command::Login, "login", Option::Help | Option::Timeout, Operands::None, nullptr, nullptr, "login",
     "store an API key, read without echo", loginHelp},
    {Command::Logout, "logout", static_cast<std::uint32_t>(Option::Help), Operands::None, nullptr, nullptr, "logout",
     "remove the stored API key", logoutHelp},
    {Command::Help, "help", 0, Operands::CommandName, nullptr, nullptr, "help [COMMAND]", "describe a command",
     helpHelp},
    {Command::Complete, "__complete", 0, Operands::Words, nullptr, nullptr, nullptr, nullptr, nullptr},
};

} // namespace

const CommandSpec* commandsBegin()
{
    return std::begin(commands);
}

const CommandSpec* commandsEnd()
{
    return std::end(commands);
}

const CommandSpec* findCommand(QStringView name)
{
    const auto found = std::find_if(std::begin(commands), std::end(commands),
                                    [&](const CommandSpec& c) { return name == QLatin1String(c.name); });
    return found == std::end(commands) ? nullptr : found;
}

const OptionSpec* findOption(QStringView name)
{
    const auto found = std::find_if(optionSpecs.begin(), optionSpecs.end(), [&](const OptionSpec& o) {
        return name == QLatin1String(o.name) || (o.shortName && name == QLatin1String(o.shortName));
    });
    return found == optionSpecs.end() ? nullptr : &*found;
}

const OptionSpec& optionSpec(Option option)
{
    return *std::find_if(optionSpecs.begin(), optionSpecs.end(),
                         [&](const OptionSpec& o) { return o.option == option; });
}

bool takesOption(const CommandSpec& command, Option option)
{
    return (command.options & static_cast<std::uint32_t>(option)) != 0;
}

QStringList operandChoices(const CommandSpec& command, const QStringList& typed)
{
    const QStringList onOff{QStringLiteral("on"), QStringLiteral("off")};
    switch (command.operands) {
    case Operands::Timer:
        if (typed.isEmpty()) {
            return onOff + QStringList{QStringLiteral("cancel")};
        }
        if (typed.size() == 1 && onOff.contains(typed.first(), Qt::CaseInsensitive)) {
            QStringList lengths;
            for (const int minutes : timerChoices) {
                lengths.append(minutes < 60 ? QStringLiteral("%1m").arg(minutes)
                                            : QStringLiteral("%1h").arg(minutes / 60));
            }
            return lengths;
        }
        return {};
    case Operands::Switch:
        return typed.isEmpty() ? onOff : QStringList();
    case Operands::None:
    case Operands::SettingPairs:
    case Operands::CommandName:
    case Operands::Words:
        break;
    }
    return {};
}

QStringList usualValues(ACSetting setting)
{
    switch (setting) {
    case ACSetting::Power:
        return {QStringLiteral("on"), QStringLiteral("off"), QStringLiteral("toggle")};
    case ACSetting::Mode:
        return {QStringLiteral("cool"), QStringLiteral("heat"), QStringLiteral("auto"), QStringLiteral("dry"),
                QStringLiteral("fan")};
    case ACSetting::TargetTemperature:
        return {QStringLiteral("+1"), QStringLiteral("-1")};
    case ACSetting::FanLevel:
        return {QStringLiteral("quiet"),       QStringLiteral("low"),  QStringLiteral("medium"),
                QStringLiteral("medium_high"), QStringLiteral("high"), QStringLiteral("auto")};
    case ACSetting::Swing:
        return {QStringLiteral("stopped"), QStringLiteral("rangeFull"), QStringLiteral("fixedTop"),
                QStringLiteral("fixedMiddle"), QStringLiteral("fixedBottom")};
    case ACSetting::HorizontalSwing:
        return {QStringLiteral("stopped"), QStringLiteral("rangeFull"), QStringLiteral("fixedLeft"),
                QStringLiteral("fixedCenter"), QStringLiteral("fixedRight")};
    case ACSetting::Light:
        return {QStringLiteral("on"), QStringLiteral("off")};
    }
    return {};
}
