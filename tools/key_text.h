#pragma once

#include <string>

// How the key tables read in words: for `vorn-io keys` and the configuration
// reference in README.md, which is generated from them.
namespace vorn_io::tool {

/// The three key tables: as the Markdown of README.md's configuration
/// reference, or as aligned plain text.
std::string KeysText(bool markdown);

}  // namespace vorn_io::tool
