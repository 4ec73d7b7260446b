#pragma once

// The command line: `kelvo status`, `kelvo set temp 22` and the rest, `kelvo --help` and `kelvo --version`. It runs
// before any window system is touched, with a QCoreApplication, so it works with no display (ssh, cron).
namespace CommandLine {

// Whether the arguments ask for the command line rather than the tray application: a first argument that is a
// command (known or not), --help, -h or --version. Options of the tray application itself start with "-".
bool isCommandLine(int argc, char* argv[]);

// Does what the arguments ask and gives the process's exit status.
int run(int argc, char* argv[]);

} // namespace CommandLine
