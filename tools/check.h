#pragma once

#include <string>

#include "tools/load.h"

namespace vorn_io::tool {

/// `vorn-io check`: explains a description key by key without creating a
/// motor. Returns 0 when it is clean, 1 when anything was flagged, 2 when the
/// device could not be built from it.
int RunCheck(const std::string& path, const Selector& selector);

}  // namespace vorn_io::tool
