#pragma once

#include <string>

namespace vorn_io::detail {

/// What the exception being handled says, for an error line: "threw: " and
/// its `what()`, or "threw" for one that is no `std::exception`. Call it
/// only inside a catch block.
std::string ThrownText();

}  // namespace vorn_io::detail
