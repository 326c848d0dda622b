#include "vorn_io/description.h"

#include <algorithm>
#include <limits>

#include <fmt/format.h>

#include "common/key_reading.h"

namespace vorn_io {
namespace {

namespace gripper_key = keys::gripper;

/// The number of a "feetechmotor<N>" key, written as the gripper writes it:
/// unsigned decimal without leading zeros.
std::optional<unsigned int> SectionNumber(const std::string& key) {
  const std::string prefix = gripper_key::kMotorSectionPrefix;
  if (key.size() <= prefix.size() || key.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  const std::string digits = key.substr(prefix.size());
  if (digits.size() > 1 && digits[0] == '0') {
    return std::nullopt;
  }
  unsigned long long number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    number = number * 10 + static_cast<unsigned int>(c - '0');
    if (number > std::numeric_limits<unsigned int>::max()) {
      return std::nullopt;
    }
  }
  return static_cast<unsigned int>(number);
}

/// The root keys of a gripper or motor file: those no gripper reads are
/// accounted for, and so are duplicates. Returns whether the root is a map.
bool ReadRoot(const YAML::Node& root, const std::vector<std::string>& known, GripperFileReading& reading) {
  const detail::KeyMap map(root);
  std::exception_ptr error;
  if (!detail::Subscriptable(map, gripper_key::kGripperFileRoot, error, reading.root)) {
    return false;
  }
  detail::AccountForStrayKeys(map, known, "no gripper reads this root key; it is ignored", reading.root);
  return true;
}

/// The sections of a motor file, in file order, each number once.
std::vector<unsigned int> MotorSections(const YAML::Node& root) {
  std::vector<unsigned int> sections;
  if (!root.IsDefined() || !root.IsMap()) {
    return sections;
  }
  for (const auto& entry : root) {
    const std::optional<unsigned int> number = SectionNumber(detail::KeyText(entry.first));
    if (number && std::find(sections.begin(), sections.end(), *number) == sections.end()) {
      sections.push_back(*number);
    }
  }
  return sections;
}

bool HasKey(const YAML::Node& root, const char* key) { return root.IsDefined() && root.IsMap() && root[key]; }

}  // namespace

const char* OriginName(KeyOrigin origin) {
  switch (origin) {
    case KeyOrigin::kFile:
      return "file";
    case KeyOrigin::kDefault:
      return "default";
    case KeyOrigin::kFallback:
      return "fallback";
    case KeyOrigin::kReplaced:
      return "replaced";
    case KeyOrigin::kSuspect:
      return "suspect";
    case KeyOrigin::kOtherVendor:
      return "other vendor";
    case KeyOrigin::kUnknown:
      return "unknown key";
    case KeyOrigin::kDuplicate:
      return "duplicate";
    case KeyOrigin::kMissing:
      return "missing";
    case KeyOrigin::kError:
      return "error";
  }
  return "";
}

bool DescriptionAccount::HasError() const {
  return std::any_of(keys.begin(), keys.end(),
                     [](const KeyAccount& entry) { return entry.origin == KeyOrigin::kError; });
}

std::size_t DescriptionAccount::FlaggedCount() const {
  return static_cast<std::size_t>(
      std::count_if(keys.begin(), keys.end(), [](const KeyAccount& entry) { return entry.Flagged(); }));
}

const KeyAccount* DescriptionAccount::Find(std::string_view key) const {
  const auto found = std::find_if(keys.begin(), keys.end(), [&](const KeyAccount& entry) { return entry.key == key; });
  return found == keys.end() ? nullptr : &*found;
}

std::string MotorSectionKey(unsigned int motor) {
  return std::string(gripper_key::kMotorSectionPrefix) + std::to_string(motor);
}

GripperFileReading ReadGripperFile(const YAML::Node& root) {
  GripperFileReading reading;
  if (!ReadRoot(root, {gripper_key::kGripperFileRoot}, reading)) {
    return reading;
  }
  // An absent entry reads as the gripper reads it: a map with no keys, whose
  // "id" is the first error.
  const YAML::Node entry = root[gripper_key::kGripperFileRoot];
  reading.sections.push_back(GripperSection{
      gripper_key::kGripperFileRoot, 0, ReadGripperParameters(entry ? entry : YAML::Node(YAML::NodeType::Undefined))});
  return reading;
}

GripperFileReading ReadMotorFile(const YAML::Node& root) {
  GripperFileReading reading;
  const std::vector<unsigned int> sections = MotorSections(root);
  std::vector<std::string> known;
  known.reserve(sections.size());
  for (const unsigned int motor : sections) {
    known.push_back(MotorSectionKey(motor));
  }
  if (!ReadRoot(root, known, reading)) {
    return reading;
  }
  for (const unsigned int motor : sections) {
    reading.sections.push_back(
        GripperSection{MotorSectionKey(motor), motor, ReadGripperParameters(root[MotorSectionKey(motor)])});
  }
  return reading;
}

GripperSelection ReadGripperSelection(const YAML::Node& node, DescriptionKind kind, const std::string& where,
                                      std::optional<unsigned int> motor) {
  GripperSelection selection;
  if (kind != DescriptionKind::kGripperFile && kind != DescriptionKind::kMotorFile) {
    selection.parts.push_back({where, node, 0, ReadGripperParameters(node)});
    return selection;
  }
  const bool motor_file = kind == DescriptionKind::kMotorFile;
  GripperFileReading file = motor_file ? ReadMotorFile(node) : ReadGripperFile(node);
  selection.root = std::move(file.root);
  for (GripperSection& section : file.sections) {
    if (motor_file) {
      selection.motors.push_back(section.motor);
    }
    if (!motor || section.motor == *motor) {
      selection.parts.push_back({(motor_file ? "section " : "key ") + section.key, node[section.key], section.motor,
                                 std::move(section.reading)});
    }
  }
  return selection;
}

const char* KindName(DescriptionKind kind) {
  switch (kind) {
    case DescriptionKind::kLifter:
      return "lifter";
    case DescriptionKind::kGripperFile:
      return "gripper file";
    case DescriptionKind::kMotorFile:
      return "motor file";
    case DescriptionKind::kParameterMap:
      return "gripper parameter map";
  }
  return "";
}

std::optional<KindEvidence> TellDescriptionKind(const YAML::Node& root) {
  // An invalid node (a host's lookup of an absent key) is no map either.
  if (!root.IsDefined() || !root.IsMap()) {
    return std::nullopt;
  }
  if (HasKey(root, gripper_key::kGripperFileRoot)) {
    return KindEvidence{DescriptionKind::kGripperFile, fmt::format("a root key \"{}\"", gripper_key::kGripperFileRoot)};
  }
  if (const std::vector<unsigned int> sections = MotorSections(root); !sections.empty()) {
    std::string list;
    for (const unsigned int motor : sections) {
      list += (list.empty() ? "" : ", ") + MotorSectionKey(motor);
    }
    return KindEvidence{DescriptionKind::kMotorFile, (sections.size() == 1 ? "section " : "sections ") + list};
  }
  if (HasKey(root, keys::motor::kVendor.name)) {
    return KindEvidence{DescriptionKind::kLifter, fmt::format("a \"{}\" key", keys::motor::kVendor.name)};
  }
  // Keys only a gripper reads: a parameter map on its own.
  for (const keys::ConfigKey* key : gripper_key::kAll) {
    const auto shared = [&](const keys::ConfigKey* const* table, std::size_t count) {
      return std::any_of(table, table + count,
                         [&](const keys::ConfigKey* other) { return std::string_view(other->name) == key->name; });
    };
    if (!shared(keys::lifter::kAll, std::size(keys::lifter::kAll)) &&
        !shared(keys::motor::kAll, std::size(keys::motor::kAll)) && HasKey(root, key->name)) {
      return KindEvidence{DescriptionKind::kParameterMap, fmt::format("a \"{}\" key", key->name)};
    }
  }
  return std::nullopt;
}

}  // namespace vorn_io
