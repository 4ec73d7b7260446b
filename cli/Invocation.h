#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks for, read from the arguments alone (the cloud is not asked yet).

// The process's exit status.
namespace ExitStatus {
inline constexpr int done = 0;
inline constexpr int failed = 1; // no API key, or the cloud or the network failed
inline constexpr int usage = 2;  // unknown command, option, setting, value or device
} // namespace ExitStatus

// One SETTING VALUE pair of `set`, as typed.
struct SettingArgument {
    QString setting;
    QString value;
};

struct Invocation {
    enum class Command { Status, Devices, Set, Help, Version };
    enum class Format { Text, Json, Waybar };

    Command command = Command::Help;
    QString helpTopic;             // with Help: a command, or empty for the overview
    std::optional<QString> device; // --device
    Format format = Format::Text;
    QList<SettingArgument> settings; // with Set, in the order given
};

struct ParsedArguments {
    std::optional<Invocation> invocation;
    QString error;     // when there is no invocation: what is wrong, for the user
    QString helpTopic; // ... and the help that explains it
};

// The commands, as typed.
inline const QStringList commandNames{QStringLiteral("status"), QStringLiteral("devices"), QStringLiteral("set"),
                                      QStringLiteral("on"),     QStringLiteral("off"),     QStringLiteral("help")};

// Reads the arguments after the program's name. The first one is a command, --help, -h or --version.
ParsedArguments parseArguments(const QStringList& arguments);
