#pragma once

#include <string>
#include <vector>

#include "tools/load.h"

namespace vorn_io::tool {

/// `vorn-io check`: prints the readers' account of every description in
/// each file ("-": standard input), as plain lines or as one JSON document.
/// Returns the worst exit code among the files: 0 clean, 1 flagged, 2 an
/// error (a file that cannot be read or selected from counts as one).
int RunCheck(const std::vector<std::string>& paths, const Selector& selector, bool json);

}  // namespace vorn_io::tool
