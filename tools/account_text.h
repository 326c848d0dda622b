#pragma once

#include <string>
#include <string_view>

#include "vorn_io/description.h"

// How a reader's account reads in words, for `check` and for the notes the
// move commands print before they build a device.
namespace vorn_io::tool {

/// `text` with its control characters (below 0x20, and 0x7f) escaped as
/// \n, \t, \r or \xNN, so a value cannot break or fake a line.
std::string Escaped(std::string_view text);

/// "lifter with a damiao motor", "lifter without a motor".
std::string LifterDevice(const LifterReading& reading);

/// How long a move of the lifter takes, in seconds; 0 when it never ends.
double MoveSeconds(const LifterReading& reading);

/// Prints each flagged key of `account` as a note on standard error, so a
/// person running a move learns what `vorn-io check` would tell them.
void PrintNotes(const std::string& file, const DescriptionAccount& account);

/// Prints the keys the device cannot be built from; returns the exit code for them.
int ReportErrors(const std::string& file, const DescriptionAccount& account);

}  // namespace vorn_io::tool
