#include "tools/commands.h"
#include "vorn_io/config_keys.h"

namespace vorn_io::tool {
namespace {

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
    case Type::kBool:
      return value != 0.0 ? "true" : "false";
    case Type::kString:
      return "empty";
    default:
      return fmt::format("{}", value);
  }
}

// Indexed by `keys::Type`, and by `keys::Absent` but its default.
constexpr const char* kTypeNames[] = {"int", "unsigned int", "float", "double", "bool", "string"};
static_assert(std::size(kTypeNames) == static_cast<std::size_t>(Type::kString) + 1, "a name for every type");
constexpr const char* kAbsentTexts[] = {"", "error: the load stops", "error line, no motor"};
static_assert(std::size(kAbsentTexts) == static_cast<std::size_t>(keys::Absent::kNoMotor) + 1, "every absence");

struct Table {
  const char* title;
  const char* reader;
  const ConfigKey* const* begin;
  const ConfigKey* const* end;
};

const Table kTables[] = {
    {"Lifter", "`UpdownLifter`, from its description map", std::begin(keys::lifter::kAll),
     std::end(keys::lifter::kAll)},
    {"Lifter motor", "`MotorAllocate`, from the same map as the lifter's keys", std::begin(keys::motor::kAll),
     std::end(keys::motor::kAll)},
    {"Gripper",
     "`ServoGripper`, from a parameter map, the \"gripper\" key of a gripper file or a \"feetechmotor<N>\" section "
     "of a motor file",
     std::begin(keys::gripper::kAll), std::end(keys::gripper::kAll)},
};

}  // namespace

std::string KeysText(bool markdown) {
  // Cells of a Markdown table, or columns aligned for a terminal.
  const char* row = markdown ? "| {} | {} | {} | {} | {} | {} |\n" : "  {:<12} {:<13} {:<22} {:<27} {:<8} {}\n";
  std::string text;
  for (const Table& table : kTables) {
    text +=
        markdown
            ? fmt::format("### {} keys\n\nRead by {}.\n\n", table.title, table.reader) +
                  "| Key | Type | When absent | When unreadable | Vendor | Meaning |\n|---|---|---|---|---|---|\n"
            : fmt::format("{} keys (read by {}):\n", table.title, table.reader) +
                  fmt::format(fmt::runtime(row), "key", "type", "when absent", "when unreadable", "vendor", "meaning");
    for (auto entry = table.begin; entry != table.end; ++entry) {
      const ConfigKey& key = **entry;
      std::string meaning = key.meaning;
      for (std::size_t at = 0; markdown && (at = meaning.find('|', at)) != std::string::npos; at += 2) {
        meaning.insert(at, "\\");  // a bar would end the cell
      }
      const auto absent = static_cast<std::size_t>(key.when_absent);
      text += fmt::format(fmt::runtime(row), markdown ? fmt::format("`{}`", key.name) : key.name,
                          kTypeNames[static_cast<int>(key.type)],
                          absent == 0 ? ValueText(key.type, key.absent_value) : kAbsentTexts[absent],
                          key.has_fallback ? ValueText(key.type, key.fallback) : "error (yaml-cpp exception)",
                          *key.vendor == '\0' ? "any" : key.vendor, meaning);
    }
    text += "\n";
  }
  return text;
}

}  // namespace vorn_io::tool
