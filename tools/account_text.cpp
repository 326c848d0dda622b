#include "tools/account_text.h"

#include <cstdio>

#include <fmt/format.h>

#include "tools/exit_codes.h"
#include "tools/load.h"

namespace vorn_io::tool {

std::string Escaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\t') {
      escaped += "\\t";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      escaped += fmt::format("\\x{:02x}", static_cast<unsigned char>(c));
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string LifterDevice(const LifterReading& reading) {
  const MotorSettings& motor = reading.motor.settings;
  return motor.vendor == MotorVendor::kNone ? std::string("lifter without a motor")
                                            : "lifter with a " + motor.vendor_name + " motor";
}

double MoveSeconds(const LifterReading& reading) {
  return static_cast<double>(reading.move_ticks) * reading.tick_period_ms / 1000.0;
}

void PrintNotes(const std::string& file, const DescriptionAccount& account) {
  bool any = false;
  for (const KeyAccount& key : account.keys) {
    if (key.Flagged()) {
      fmt::print(stderr, "vorn-io: note: {}: {}: {}\n", file, Escaped(key.key), Escaped(key.detail));
      any = true;
    }
  }
  if (any) {
    fmt::print(stderr, "vorn-io: note: `vorn-io check {}` explains every key\n", file == FileName("-") ? "-" : file);
  }
}

int ReportErrors(const std::string& file, const DescriptionAccount& account) {
  for (const KeyAccount& key : account.keys) {
    if (key.origin == KeyOrigin::kError) {
      fmt::print(stderr, "vorn-io: {}: {}: {}\n", file, Escaped(key.key), Escaped(key.detail));
    }
  }
  fmt::print(stderr, "vorn-io: {}: the device cannot be built from this description\n", file);
  return kBadConfig;
}

}  // namespace vorn_io::tool
