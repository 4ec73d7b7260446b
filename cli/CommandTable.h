#pragma once

#include "model/ACSetting.h"

#include <QStringList>
#include <QStringView>

#include <array>
#include <cstdint>

// Every command and option of the command line, in one place: the parser, the help and the shell completion read
// them from here, so that a new command or option is one entry.

enum class Command {
    Tray, // no command: the tray application
    Status,
    Devices,
    Set,
    Timer,
    React,
    History,
    Login,
    Logout,
    Help,
    Version,
    Complete, // what the shell completion scripts ask; not shown
};

// One bit each, so that a command names the options it takes as a set.
enum class Option : std::uint32_t {
    Help = 1u << 0,
    Version = 1u << 6, // only on its own: `kelvo --version`
    Device = 1u << 1,
    All = 1u << 2,
    Json = 1u << 3,
    Waybar = 1u << 4,
    Timeout = 1u << 5,
    Days = 1u << 7,
    Csv = 1u << 8,
};

constexpr std::uint32_t operator|(Option a, Option b)
{
    return static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b);
}
constexpr std::uint32_t operator|(std::uint32_t a, Option b)
{
    return a | static_cast<std::uint32_t>(b);
}

struct OptionSpec {
    Option option;
    const char* name;      // "--device"; also taken as "--device=VALUE" when it takes a value
    const char* shortName; // "-h", or nullptr
    const char* valueName; // "ROOM|ID" for an option that takes a value; nullptr for a flag
    bool completesRooms;   // its value is a room of the account
    const char* choices;   // the values completion offers, separated by blanks; or nullptr
    const char* summary;   // for the overview; "\n" starts a continued line
};

inline constexpr std::array<OptionSpec, 9> optionSpecs{{
    {Option::Help, "--help", "-h", nullptr, false, nullptr, "show this help (after a command: that command's)"},
    {Option::Version, "--version", nullptr, nullptr, false, nullptr, "show Kelvo's version"},
    {Option::Device, "--device", nullptr, "ROOM|ID", true, nullptr,
     "the device to act on: a room name (in any case) or an\nid; without it, the first device"},
    {Option::All, "--all", nullptr, nullptr, false, nullptr,
     "every device, one after the other (set, on, off,\ntimer, react)"},
    {Option::Json, "--json", nullptr, nullptr, false, nullptr, "JSON output (status, devices, history)"},
    {Option::Csv, "--csv", nullptr, nullptr, false, nullptr, "comma-separated values (history)"},
    {Option::Waybar, "--waybar", nullptr, nullptr, false, nullptr, "one line for a waybar module (status)"},
    {Option::Days, "--days", nullptr, "N", false, "1 2 3 4 5 6 7", "the days of readings, 1 to 7 (history; default 1)"},
    {Option::Timeout, "--timeout", nullptr, "SECONDS", false, nullptr,
     "the longest each request to the cloud may take\n(default 60; 10 with --waybar)"},
}};

// What follows a command besides its options.
enum class Operands {
    None,
    SettingPairs, // SETTING VALUE [SETTING VALUE]...
    Timer,        // off|on DURATION, or cancel
    Switch,       // on|off
    CommandName,  // [COMMAND], for help
    Words,        // anything: the words to complete
};

struct CommandSpec {
    Command command;
    const char* name; // as typed; empty for the tray
    std::uint32_t options;
    Operands operands;
    const char* presetSetting; // a setting the command implies ("power" for on), or nullptr
    const char* presetValue;   // ... and its value ("on")
    const char* usage;         // after "kelvo ", for the overview; nullptr: not shown
    const char* summary;       // one line for the overview
    const char* help;          // `kelvo help NAME`: the text after "Usage: kelvo <usage>"
};

const CommandSpec* findCommand(QStringView name);
const OptionSpec* findOption(QStringView name); // by its name or short name, without any "=VALUE"
const OptionSpec& optionSpec(Option option);
bool takesOption(const CommandSpec& command, Option option);

// Every command, in the order the overview lists them.
const CommandSpec* commandsBegin();
const CommandSpec* commandsEnd();

// The words completion offers for the next operand of `command` after `typed` operands: "on", "off", "cancel" and
// the usual timer lengths for a timer; "on", "off" for a switch.
QStringList operandChoices(const CommandSpec& command, const QStringList& typed);

// The usual values of each setting, in the order `set`'s help gives them: what completion offers. The device
// decides what it takes; these are the names most devices use.
QStringList usualValues(ACSetting setting);
