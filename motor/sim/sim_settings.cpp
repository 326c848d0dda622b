#include "sim_settings.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

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

}  // namespace

EnvironmentSettings SettingsFromEnvironment(Vendor vendor) {
  const char* prefix = vendor == Vendor::kDamiao ? "DAMIAO" : "FEETECH";
  EnvironmentSettings settings;
  settings.obstacle = ReadNumber(prefix, "OBSTACLE", "a finite number", [](double) { return true; });
  settings.max_speed = ReadNumber(prefix, "MAX_SPEED", "a number above 0", [](double v) { return v > 0.0; });
  settings.noise = ReadNumber(prefix, "NOISE", "a number of 0 or more", [](double v) { return v >= 0.0; });
  settings.seed = ReadSeed(prefix);
  return settings;
}

}  // namespace vorn_motor_sim::detail
