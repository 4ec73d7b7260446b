#pragma once

#include "cli/CommandTable.h"
#include "model/ACSetting.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks for, read from the arguments alone: the key and the cloud are not asked yet.

// The process's exit status.
namespace ExitStatus {
inline constexpr int done = 0;
inline constexpr int failed = 1; // no API key, the cloud or the network failed, a change was refused, output failed
inline constexpr int usage = 2;  // unknown command, option, setting, value or device
} // namespace ExitStatus

// One SETTING VALUE pair of `set`, its form checked.
struct SettingArgument {
    enum class Kind {
        Value,  // `value` is the Bool, text or whole number to send
        Toggle, // power toggle
        Step,   // temp +N or -N: `value` holds N, signed
    };

    ACSetting setting;
    QString typedSetting; // as typed, for messages: "temp"
    QString typedValue;   // "+1"
    Kind kind = Kind::Value;
    ACValue value;
};

// What `timer` and `react` do.
enum class ExtrasAction {
    TimerOff, // a timer that switches off after `minutes`
    TimerOn,
    CancelTimer,
    ReactOn,
    ReactOff,
};

struct Invocation {
    enum class Format { Text, Json, Waybar, Csv };

    Command command = Command::Help;
    QString helpTopic;             // with Help: a command, or empty for the overview
    std::optional<QString> device; // --device
    bool allDevices = false;       // --all
    Format format = Format::Text;
    std::optional<int> timeoutMs;                    // --timeout
    QList<SettingArgument> settings;                 // with Set, in the order given
    ExtrasAction action = ExtrasAction::CancelTimer; // with Timer and React
    qint64 minutes = 0;                              // ... for TimerOff and TimerOn
    int days = 1;                                    // --days, with History
    QStringList words;                               // with Complete: the words after "kelvo", the last one being typed
};

struct ParsedArguments {
    std::optional<Invocation> invocation;
    QString error;          // when there is no invocation: what is wrong, for the user
    QString helpTopic;      // ... and the help that explains it
    bool forWaybar = false; // ... in a call that asked for waybar's JSON
};

// Reads the arguments after the program's name. None at all is the tray application.
ParsedArguments parseArguments(const QStringList& arguments);

// A timer's length as typed: "30m", "1h", "90m", "1h30m" (any case), from 1 minute to a day; nothing when it is not
// one.
std::optional<qint64> parseDuration(const QString& text);

// The value of one SETTING VALUE pair, its form checked (not yet against a device); an error text when the setting
// or the form is wrong.
std::optional<SettingArgument> parseSetting(const QString& setting, const QString& value, QString* error);
