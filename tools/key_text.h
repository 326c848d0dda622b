#pragma once

#include <string>

#include "vorn_io/config_keys.h"

// How the key tables read in words: for `vorn-io keys` and the configuration
// reference in README.md, which is generated from them.
namespace vorn_io::tool {

/// "int", "unsigned int", "float", "double", "bool", "string".
const char* TypeName(keys::Type type);

/// What an absent key gives, e.g. "450", "false", "empty", "error: the load stops".
std::string AbsentText(const keys::ConfigKey& key);

/// What an unreadable value gives, e.g. "3.14", or "error (yaml-cpp exception)".
std::string FallbackText(const keys::ConfigKey& key);

/// The three key tables as Markdown, the text of README.md's configuration reference.
std::string KeysMarkdown();

/// The three key tables as aligned plain text.
std::string KeysPlain();

}  // namespace vorn_io::tool
