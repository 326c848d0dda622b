#pragma once

#include <string>

namespace vorn_io::tool {

/// Gives each of the library's SPDLOG_* variables that the user left unset the
/// tool's own value, so that a plain run prints no "is not set" notices; a
/// variable the user set is kept. Call first thing, before any thread starts
/// and before the logger is first used. With `no_console` the library's
/// console output is off for the run, whatever the user set.
void SetLogDefaults(bool no_console);

/// The level of the library's log lines for this run, from --log-level or
/// --quiet: it wins over the user's SPDLOG_LEVEL. "off" silences every sink.
void SetLogLevel(const std::string& level);

/// Puts the variables SetLogDefaults and SetLogLevel changed back as the user
/// gave them, for a program the tool is about to run in its place.
void RestoreUserEnvironment();

}  // namespace vorn_io::tool
