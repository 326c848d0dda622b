#include "tools/log_environment.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace vorn_io::tool {
namespace {

// Each variable changed, as the user gave it (none: unset). Written before
// any thread starts (main) or after the last one ended (exec).
std::vector<std::pair<std::string, std::optional<std::string>>> g_changed;

void Set(const std::string& name, const std::string& value) {
  if (std::none_of(g_changed.begin(), g_changed.end(), [&](const auto& entry) { return entry.first == name; })) {
    const char* before = std::getenv(name.c_str());  // NOLINT(concurrency-mt-unsafe)
    g_changed.emplace_back(name, before != nullptr ? std::optional<std::string>(before) : std::nullopt);
  }
  setenv(name.c_str(), value.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
}

void SetIfUnset(const char* name, const char* value) {
  if (std::getenv(name) == nullptr) {  // NOLINT(concurrency-mt-unsafe)
    Set(name, value);
  }
}

}  // namespace

void SetLogDefaults(bool no_console) {
  // The library's own defaults, given explicitly.
  if (no_console) {
    Set("SPDLOG_STDOUT", "false");
  }
  SetIfUnset("SPDLOG_STDOUT", "true");
  SetIfUnset("SPDLOG_SYSTEMD", "false");
  SetIfUnset("SPDLOG_LEVEL", "info");
}

void SetLogLevel(const std::string& level) {
  if (level == "off") {
    Set("SPDLOG_STDOUT", "false");
    Set("SPDLOG_SYSTEMD", "false");
  } else {
    // The library spells the level between info and error "warning".
    Set("SPDLOG_LEVEL", level == "warn" ? "warning" : level);
  }
}

void RestoreUserEnvironment() {
  for (const auto& [name, value] : g_changed) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    } else {
      unsetenv(name.c_str());  // NOLINT(concurrency-mt-unsafe)
    }
  }
  g_changed.clear();
}

}  // namespace vorn_io::tool
