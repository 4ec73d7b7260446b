#pragma once

#include <optional>

// The command line: `kelvo status`, `kelvo set temp 22` and the rest, `kelvo --help` and `kelvo --version`. It runs
// before any window system is touched, with a QCoreApplication, so it works with no display (ssh, cron).
namespace CommandLine {

// Reads the whole command line first. With no command (a bare `kelvo`) it does nothing and gives nothing: the
// caller starts the tray application. Otherwise it does what the arguments ask, or says what is wrong with them,
// and gives the process's exit status.
std::optional<int> run(int argc, char* argv[]);

} // namespace CommandLine
