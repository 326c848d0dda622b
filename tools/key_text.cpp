#include "tools/key_text.h"

#include <algorithm>
#include <vector>

#include <fmt/format.h>

#include "vorn_io/config_keys.h"

namespace vorn_io::tool {
namespace {

using keys::Absent;
using keys::ConfigKey;
using keys::Type;

/// A table value as the device holds it: a float prints as a float (so the
/// lifter's default speed reads 1.5707964, not 1.5707963705062866).
std::string ValueText(Type type, double value) {
  switch (type) {
    case Type::kInt:
      return std::to_string(static_cast<int>(value));
    case Type::kUnsigned:
      return std::to_string(static_cast<unsigned>(value));
    case Type::kFloat:
      return fmt::format("{}", static_cast<float>(value));
    case Type::kDouble:
      return fmt::format("{}", value);
    case Type::kBool:
      return value != 0.0 ? "true" : "false";
    case Type::kString:
      return "empty";
  }
  return {};
}

struct Table {
  const char* title;
  const char* reader;
  const ConfigKey* const* keys;
  std::size_t count;
};

std::vector<Table> Tables() {
  return {
      {"Lifter", "`UpdownLifter`, from its description map", keys::lifter::kAll, std::size(keys::lifter::kAll)},
      {"Lifter motor", "`MotorAllocate`, from the same map as the lifter's keys", keys::motor::kAll,
       std::size(keys::motor::kAll)},
      {"Gripper",
       "`ServoGripper`, from a parameter map, the \"gripper\" key of a gripper file or a "
       "\"feetechmotor<N>\" section of a motor file",
       keys::gripper::kAll, std::size(keys::gripper::kAll)},
  };
}

std::string Escaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '|') {
      escaped += '\\';
    }
    escaped += c;
  }
  return escaped;
}

const char* TypeName(Type type) {
  switch (type) {
    case Type::kInt:
      return "int";
    case Type::kUnsigned:
      return "unsigned int";
    case Type::kFloat:
      return "float";
    case Type::kDouble:
      return "double";
    case Type::kBool:
      return "bool";
    case Type::kString:
      return "string";
  }
  return "";
}

std::string AbsentText(const ConfigKey& key) {
  switch (key.when_absent) {
    case Absent::kDefault:
      return ValueText(key.type, key.absent_value);
    case Absent::kError:
      return "error: the load stops";
    case Absent::kNoMotor:
      return "error line, no motor";
  }
  return {};
}

std::string FallbackText(const ConfigKey& key) {
  return key.has_fallback ? ValueText(key.type, key.fallback) : std::string("error (yaml-cpp exception)");
}

}  // namespace

std::string KeysText(bool markdown) {
  // Cells of a Markdown table, or columns aligned for a terminal.
  const char* row = markdown ? "| {} | {} | {} | {} | {} | {} |\n" : "  {:<12} {:<13} {:<22} {:<27} {:<8} {}\n";
  std::string text;
  for (const Table& table : Tables()) {
    if (markdown) {
      text += fmt::format("### {} keys\n\nRead by {}.\n\n", table.title, table.reader);
      text += "| Key | Type | When absent | When unreadable | Vendor | Meaning |\n|---|---|---|---|---|---|\n";
    } else {
      text += fmt::format("{} keys (read by {}):\n", table.title, table.reader);
      text += fmt::format(fmt::runtime(row), "key", "type", "when absent", "when unreadable", "vendor", "meaning");
    }
    for (std::size_t i = 0; i < table.count; ++i) {
      const ConfigKey& key = *table.keys[i];
      text += fmt::format(fmt::runtime(row), markdown ? fmt::format("`{}`", key.name) : key.name, TypeName(key.type),
                          AbsentText(key), FallbackText(key), *key.vendor == '\0' ? "any" : key.vendor,
                          markdown ? Escaped(key.meaning) : std::string(key.meaning));
    }
    text += "\n";
  }
  return text;
}

}  // namespace vorn_io::tool
