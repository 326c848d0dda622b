#include "tools/log_environment.h"

#include <cstdlib>
#include <optional>
#include <vector>

namespace vorn_io::tool {
namespace {

struct Saved {
  const char* name;
  std::optional<std::string> value;  ///< as the user gave it; none: unset
};

// Written before any thread starts (main) or after the last one ended (exec).
std::vector<Saved>& Changed() {
  static std::vector<Saved> changed;
  return changed;
}

void Set(const char* name, const char* value) {
  bool saved = false;
  for (const Saved& entry : Changed()) {
    saved = saved || std::string(entry.name) == name;
  }
  if (!saved) {
    const char* before = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
    Changed().push_back({name, before != nullptr ? std::optional<std::string>(before) : std::nullopt});
  }
  setenv(name, value, 1);  // NOLINT(concurrency-mt-unsafe)
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
    return;
  }
  // The library spells the level between info and error "warning".
  Set("SPDLOG_LEVEL", level == "warn" ? "warning" : level.c_str());
}

void RestoreUserEnvironment() {
  for (const Saved& entry : Changed()) {
    if (entry.value) {
      setenv(entry.name, entry.value->c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    } else {
      unsetenv(entry.name);  // NOLINT(concurrency-mt-unsafe)
    }
  }
  Changed().clear();
}

}  // namespace vorn_io::tool
