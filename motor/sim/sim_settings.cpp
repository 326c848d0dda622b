#include "sim_settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vorn_motor_sim::detail {
namespace {

bool OnlySpaceFrom(const char* text) {
  while (*text != '\0') {
    if (std::isspace(static_cast<unsigned char>(*text)) == 0) {
      return false;
    }
    ++text;
  }
  return true;
}

void ReportIgnored(const std::string& variable, const char* value, const char* expected) {
  std::fprintf(stderr, "vorn_motor simulation: ignoring %s=\"%s\": expected %s\n", variable.c_str(), value, expected);
}

/// The value of the vendor's variable if set, else of the general one.
std::optional<std::string> Lookup(const char* vendor, const char* name, std::string& variable) {
  for (const std::string& candidate :
       {std::string("VORN_MOTOR_SIM_") + vendor + "_" + name, std::string("VORN_MOTOR_SIM_") + name}) {
    // Hosts set their environment before they create motors.
    const char* value = std::getenv(candidate.c_str());  // NOLINT(concurrency-mt-unsafe)
    if (value != nullptr && *value != '\0') {
      variable = candidate;
      return std::string(value);
    }
  }
  return std::nullopt;
}

template <typename Accept>
std::optional<double> ReadNumber(const char* vendor, const char* name, const char* expected, Accept accept) {
  std::string variable;
  const std::optional<std::string> text = Lookup(vendor, name, variable);
  if (!text) {
    return std::nullopt;
  }
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text->c_str(), &end);
  if (end == text->c_str() || !OnlySpaceFrom(end) || errno == ERANGE || !std::isfinite(value) || !accept(value)) {
    ReportIgnored(variable, text->c_str(), expected);
    return std::nullopt;
  }
  return value;
}

std::optional<std::uint64_t> ReadSeed(const char* vendor) {
  std::string variable;
  const std::optional<std::string> text = Lookup(vendor, "SEED", variable);
  if (!text) {
    return std::nullopt;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text->c_str(), &end, 0);
  if (end == text->c_str() || !OnlySpaceFrom(end) || errno == ERANGE || text->find('-') != std::string::npos) {
    ReportIgnored(variable, text->c_str(), "an unsigned integer");
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(value);
}

bool IsOperation(const std::string& name) {
  for (const char* op : {"initMotor", "setPosition", "setVelocity", "getVelocity", "getPosition", "setEnable",
                         "getEnableState", "setZeroPosition", "getTorque", "setGripperStatus"}) {
    if (name == op) {
      return true;
    }
  }
  return false;
}

/// One entry of a FAIL, THROW or HANG list: "op" or "op@N".
std::optional<CallFault> ParseFault(const std::string& entry, Fault fault) {
  CallFault parsed;
  parsed.fault = fault;
  const std::size_t at = entry.find('@');
  parsed.op = entry.substr(0, at);
  if (!IsOperation(parsed.op)) {
    return std::nullopt;
  }
  if (at != std::string::npos) {
    const std::string count = entry.substr(at + 1);
    char* end = nullptr;
    errno = 0;
    const unsigned long long after = std::strtoull(count.c_str(), &end, 10);
    if (count.empty() || *end != '\0' || errno == ERANGE || count.find('-') != std::string::npos) {
      return std::nullopt;
    }
    parsed.after = static_cast<std::size_t>(after);
  }
  return parsed;
}

void ReadFaults(const char* vendor, const char* name, Fault fault, std::vector<CallFault>& faults) {
  std::string variable;
  const std::optional<std::string> text = Lookup(vendor, name, variable);
  if (!text) {
    return;
  }
  std::vector<CallFault> read;
  std::size_t begin = 0;
  while (begin <= text->size()) {
    const std::size_t comma = std::min(text->find(',', begin), text->size());
    const std::optional<CallFault> parsed = ParseFault(text->substr(begin, comma - begin), fault);
    if (!parsed) {
      ReportIgnored(variable, text->c_str(), "operation names, each optionally followed by @N");
      return;
    }
    read.push_back(*parsed);
    begin = comma + 1;
  }
  faults.insert(faults.end(), read.begin(), read.end());
}

}  // namespace

EnvironmentSettings SettingsFromEnvironment(Vendor vendor) {
  const char* prefix = vendor == Vendor::kDamiao ? "DAMIAO" : "FEETECH";
  EnvironmentSettings settings;
  settings.obstacle = ReadNumber(prefix, "OBSTACLE", "a finite number", [](double) { return true; });
  settings.max_speed = ReadNumber(prefix, "MAX_SPEED", "a number above 0", [](double v) { return v > 0.0; });
  settings.noise = ReadNumber(prefix, "NOISE", "a number of 0 or more", [](double v) { return v >= 0.0; });
  settings.seed = ReadSeed(prefix);
  ReadFaults(prefix, "FAIL", Fault::kFails, settings.faults);
  ReadFaults(prefix, "THROW", Fault::kThrows, settings.faults);
  ReadFaults(prefix, "HANG", Fault::kStalls, settings.faults);
  return settings;
}

}  // namespace vorn_motor_sim::detail
