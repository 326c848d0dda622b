// `vorn-io check` and `vorn-io keys`: how the readers' accounts and the key
// tables read in words.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "tools/commands.h"
#include "tools/exit_codes.h"
#include "vorn_io/config_keys.h"

namespace vorn_io::tool {
namespace {

// In the order a person reads them: what, where, then the findings and the verdict.
using json = nlohmann::ordered_json;

// Indexed by exit code: the worst of several results is the greatest.
constexpr const char* kResults[] = {"clean", "flagged", "error"};
static_assert(kDone == 0 && kRefused == 1 && kBadConfig == 2, "a check's results are its exit codes");

/// One file's check: its lines printed as they come, or its JSON entry built.
struct FileCheck {
  bool as_json;
  std::string name;
  json entry = json{{"file", name}};
  json descriptions = json::array();
  std::size_t flagged = 0;
  int result = kDone;

  void Describe(const std::string& kind, const std::string& where, const std::string& device,
                const DescriptionAccount& account, const LifterReading* lifter = nullptr) {
    const int verdict = account.HasError() ? kBadConfig : account.FlaggedCount() > 0 ? kRefused : kDone;
    result = std::max(result, verdict);
    flagged += account.FlaggedCount();
    const bool moves = lifter != nullptr && lifter->motor.settings.vendor != MotorVendor::kNone &&
                       verdict != kBadConfig && lifter->move_ticks > 0;
    if (!as_json) {
      fmt::print("{}: {}, {}\n  {:<12} {:<16} {}\n", name, device, where, "key", "value used", "from");
      for (const KeyAccount& key : account.keys) {
        fmt::print("{} {:<12} {:<16} {}{}{}\n", key.Flagged() ? '!' : ' ', Escaped(key.key),
                   key.value.empty() ? std::string("-") : Escaped(key.value), OriginName(key.origin),
                   key.detail.empty() ? "" : ": " + Escaped(key.detail),
                   key.position ? fmt::format("  [{}:{}:{}]", name, key.position->line, key.position->column) : "");
      }
      if (moves) {
        fmt::print("  a move: {} ticks of {:g} ms, about {:.1f} s\n", lifter->move_ticks, lifter->tick_period_ms,
                   MoveSeconds(*lifter));
      }
      return;
    }
    json keys = json::array();
    for (const KeyAccount& key : account.keys) {
      json& line = keys.emplace_back(
          json{{"key", key.key}, {"value", key.value}, {"origin", OriginName(key.origin)}, {"detail", key.detail}});
      if (key.position) {
        line["line"] = key.position->line;
        line["column"] = key.position->column;
      }
    }
    json& described = descriptions.emplace_back(
        json{{"kind", kind}, {"where", where}, {"device", device}, {"keys", std::move(keys)}});
    if (moves) {
      described["move"] = {
          {"ticks", lifter->move_ticks}, {"period_ms", lifter->tick_period_ms}, {"seconds", MoveSeconds(*lifter)}};
    }
    described["result"] = kResults[verdict];
  }
};

json CheckFile(const std::string& path, const Selector& selector, bool json_output, int& worst) {
  FileCheck check{json_output, FileName(path)};
  try {
    const DescriptionFile file = LoadDescription(path);
    const Selection selection = Select(file, selector, std::nullopt);
    const std::string kind = KindName(selection.kind);
    if (selection.kind == DescriptionKind::kLifter) {
      const LifterReading reading = ReadLifterDescription(selection.node);
      check.Describe(kind, selection.where, LifterDevice(reading), Noted(file, reading.account), &reading);
    } else {
      const GripperSelection gripper = ReadGripper(selection, file.name);
      const DescriptionAccount root = Noted(file, gripper.root);
      if (!root.keys.empty()) {
        check.Describe(kind, "file root", kind, root);
      }
      for (const GripperPart& part : gripper.parts) {
        check.Describe(kind, part.where, "gripper", part.reading.account);
      }
    }
  } catch (const std::exception& error) {  // ConfigError names its file; yaml-cpp's, or out of memory
    if (std::ferror(stdout) != 0) {
      throw;  // standard output failed, not the file
    }
    check.entry["error"] = Failure(error, check.name);
    Warn("{}", Failure(error, check.name));
    check.result = kBadConfig;
  }
  worst = std::max(worst, check.result);
  if (json_output) {
    check.entry["descriptions"] = std::move(check.descriptions);
    check.entry["result"] = kResults[check.result];
  } else if (!check.entry.contains("error")) {  // which standard error has told already
    fmt::print("{}: {}\n", check.name,
               check.result == kBadConfig ? "the device cannot be built from this description"
               : check.flagged > 0        ? fmt::format("{} flagged (marked !)", check.flagged)
                                          : "clean");
  }
  return check.entry;
}

using keys::ConfigKey;
using keys::Type;

/// A table value as the device holds it: a float prints as a float (so the
/// lifter's default speed reads 1.5707964, not 1.5707963705062866).
std::string ValueText(Type type, double value) {
  switch (type) {
    case Type::kFloat:
      return fmt::format("{}", static_cast<float>(value));
    case Type::kDouble:
      return fmt::format("{}", value);
    case Type::kBool:
      return value != 0.0 ? "true" : "false";
    case Type::kString:
      return "empty";
    default:  // kInt, kUnsigned
      return fmt::format("{}", static_cast<long long>(value));
  }
}

// Indexed by `keys::Type`, and by `keys::Absent` but its default.
constexpr const char* kTypeNames[] = {"int", "unsigned int", "float", "double", "bool", "string"};
static_assert(std::size(kTypeNames) == static_cast<std::size_t>(Type::kString) + 1, "a name for every type");
constexpr const char* kAbsentTexts[] = {"", "error: the load stops", "error line, no motor"};
static_assert(std::size(kAbsentTexts) == static_cast<std::size_t>(keys::Absent::kNoMotor) + 1, "every absence");

}  // namespace

int RunCheck(const std::vector<std::string>& paths, const Selector& selector, bool json_output) {
  int worst = kDone;
  json files = json::array();
  for (const std::string& path : paths) {
    files.push_back(CheckFile(path, selector, json_output, worst));
  }
  if (json_output) {
    const json report{{"files", std::move(files)}, {"result", kResults[worst]}};
    // A description's bytes need not be UTF-8; JSON text must be.
    fmt::print("{}\n", report.dump(2, ' ', false, json::error_handler_t::replace));
  }
  return worst;
}

std::string Escaped(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const char* named = c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : nullptr;
    escaped += named != nullptr              ? std::string(named)
               : byte < 0x20 || byte == 0x7f ? fmt::format("\\x{:02x}", byte)
                                             : std::string(1, c);
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

std::string KeysText(bool markdown) {
  // Cells of a Markdown table, or columns aligned for a terminal.
  const char* row = markdown ? "| {} | {} | {} | {} | {} | {} |\n" : "  {:<12} {:<13} {:<22} {:<27} {:<8} {}\n";
  std::string text;
  const auto table = [&](const char* title, const char* reader, const auto& all) {
    text +=
        markdown
            ? fmt::format("### {} keys\n\nRead by {}.\n\n", title, reader) +
                  "| Key | Type | When absent | When unreadable | Vendor | Meaning |\n|---|---|---|---|---|---|\n"
            : fmt::format("{} keys (read by {}):\n", title, reader) +
                  fmt::format(fmt::runtime(row), "key", "type", "when absent", "when unreadable", "vendor", "meaning");
    for (const ConfigKey* key : all) {
      std::string meaning = key->meaning;
      for (std::size_t at = 0; markdown && (at = meaning.find('|', at)) != std::string::npos; at += 2) {
        meaning.insert(at, "\\");  // a bar would end the cell
      }
      const auto absent = static_cast<std::size_t>(key->when_absent);
      text += fmt::format(fmt::runtime(row), markdown ? fmt::format("`{}`", key->name) : key->name,
                          kTypeNames[static_cast<int>(key->type)],
                          absent == 0 ? ValueText(key->type, key->absent_value) : kAbsentTexts[absent],
                          key->has_fallback ? ValueText(key->type, key->fallback) : "error (yaml-cpp exception)",
                          *key->vendor == '\0' ? "any" : key->vendor, meaning);
    }
    text += "\n";
  };
  table("Lifter", "`UpdownLifter`, from its description map", keys::lifter::kAll);
  table("Lifter motor", "`MotorAllocate`, from the same map as the lifter's keys", keys::motor::kAll);
  table("Gripper",
        "`ServoGripper`, from a parameter map, the \"gripper\" key of a gripper file or a \"feetechmotor<N>\" section "
        "of a motor file",
        keys::gripper::kAll);
  return text;
}

}  // namespace vorn_io::tool
