#include "cli/HelpText.h"

namespace {

const char overview[] = R"(Usage: kelvo [COMMAND] [OPTIONS]

Kelvo controls Sensibo air conditioners. Without a command it starts in the
system tray. With one it does its work on the command line and exits; it needs
no display, so it works over ssh, in cron and from keyboard shortcuts.

Commands:
  status [--device ROOM|ID] [--json | --waybar]
                          show the air conditioners' state
  devices [--json]        list the devices' ids and rooms
  set [--device ROOM|ID] SETTING VALUE...
                          change settings (power, mode, temp, fan, swing,
                          hswing, light), in the order given
  on [--device ROOM|ID]   switch on (short for: set power on)
  off [--device ROOM|ID]  switch off (short for: set power off)
  help [COMMAND]          describe a command

Options:
  -h, --help              show this help (after a command: that command's)
  --version               show Kelvo's version

Without --device a command acts on the first device, the one the panel shows
first. --device takes a room name (in any case) or a device id.

The API key is the one saved in Kelvo's settings window; the environment
variable KELVO_API_KEY overrides it for the call.

Exit status: 0 done; 1 no API key, or the cloud or the network failed (the
message is on standard error); 2 usage error: an unknown command, option,
setting, value or device.

After a change, a Kelvo running in the tray shows it at once.
See kelvo(1) for examples.
)";

const char status[] = R"(Usage: kelvo status [--device ROOM|ID] [--json | --waybar]

Shows one line per air conditioner, or only for the one --device names: room,
power, mode, target temperature, fan level, room temperature, humidity and
whether it is online. Asks the Sensibo cloud once.

  --device ROOM|ID  only this device: a room name (in any case) or an id
  --json            the devices as a JSON array of objects with the fields
                      id, room, on, mode, targetTemperature, temperatureUnit,
                      fanLevel, swing, horizontalSwing, light,
                      roomTemperature (degrees Celsius, as measured),
                      humidity (percent), online
                    each null when the cloud reports nothing for it
  --waybar          one line for a waybar custom module ("return-type":
                    "json") about the --device or the first device: text (the
                    room temperature), tooltip, class and alt. class is off,
                    cool, heat, on, offline or error; alt is off, offline,
                    error or the mode. A failure of the cloud shows as class
                    error and exits 0, as waybar hides a module whose command
                    fails.
)";

const char devices[] = R"(Usage: kelvo devices [--json]

Lists the air conditioners of the account, one per line: the id, a tab and the
room. Asks the Sensibo cloud once.

  --json  a JSON array of objects with the fields id and room (null when the
          device has no room)
)";

const char set[] = R"(Usage: kelvo set [--device ROOM|ID] SETTING VALUE [SETTING VALUE]...

Changes settings of the --device or the first device, in the order given, with
one request to the Sensibo cloud per setting.

Settings:
  power on|off|toggle
  mode NAME           the device's modes, e.g. cool, heat, auto, dry, fan
  temp N|+N|-N        the target temperature in the device's unit; +N and -N
                      step from the current target and stop at the range's end
  fan NAME            fan level, e.g. quiet, low, medium, high, auto
  swing NAME          vertical swing, e.g. stopped, rangeFull
  hswing NAME         horizontal swing
  light NAME          display light, e.g. on, off

Each value is checked against what the device offers in its mode at that
point (a mode set earlier in the same call counts) before anything is sent: a
value it does not offer fails with exit status 2 and the allowed values.
Names match in any case.

Examples:
  kelvo set mode heat temp 23
  kelvo set --device bedroom temp +1
)";

const char on[] = R"(Usage: kelvo on [--device ROOM|ID]

Switches the --device or the first device on; short for: kelvo set power on.
)";

const char off[] = R"(Usage: kelvo off [--device ROOM|ID]

Switches the --device or the first device off; short for: kelvo set power off.
)";

const char help[] = R"(Usage: kelvo help [COMMAND]

Describes Kelvo's commands, or the one named: status, devices, set, on, off.
)";

} // namespace

QString helpText(const QString& topic)
{
    const char* text = topic == u"status"    ? status
                       : topic == u"devices" ? devices
                       : topic == u"set"     ? set
                       : topic == u"on"      ? on
                       : topic == u"off"     ? off
                       : topic == u"help"    ? help
                                             : overview;
    return QString::fromUtf8(text);
}
