#include "vorn_io/description.h"

#include <algorithm>
#include <limits>
#include <unordered_set>

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

/// One section of a motor file: its number and its parameter map.
struct MotorSectionNode {
  unsigned int motor;
  YAML::Node node;
};

/// The sections of a motor file, in file order, each number once with the
/// map a lookup of its key gives (the first): found in one pass, since a
/// lookup per section would take time quadratic in their number.
std::vector<MotorSectionNode> MotorSections(const YAML::Node& root) {
  std::vector<MotorSectionNode> sections;
  if (!root.IsDefined() || !root.IsMap()) {
    return sections;
  }
  std::unordered_set<unsigned int> seen;
  for (const auto& entry : root) {
    const std::optional<unsigned int> number = SectionNumber(detail::KeyText(entry.first));
    if (number && seen.insert(*number).second) {
      sections.push_back({*number, entry.second});
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
  const std::vector<MotorSectionNode> sections = MotorSections(root);
  std::vector<std::string> known;
  known.reserve(sections.size());
  for (const MotorSectionNode& section : sections) {
    known.push_back(MotorSectionKey(section.motor));
  }
  if (!ReadRoot(root, known, reading)) {
    return reading;
  }
  for (std::size_t k = 0; k < sections.size(); ++k) {
    reading.sections.push_back(
        GripperSection{std::move(known[k]), sections[k].motor, ReadGripperParameters(sections[k].node)});
  }
  return reading;
}

GripperSelection ReadGripperSelection(const YAML::Node& node, DescriptionKind kind, const std::string& where,
                                      std::optional<unsigned int> motor) {
  GripperSelection selection;
  if (kind == DescriptionKind::kGripperFile) {
    GripperFileReading file = ReadGripperFile(node);
    selection.root = std::move(file.root);
    for (GripperSection& section : file.sections) {
      selection.parts.push_back({"key " + section.key, node[section.key], 0, std::move(section.reading)});
    }
    return selection;
  }
  if (kind != DescriptionKind::kMotorFile) {
    selection.parts.push_back({where, node, 0, ReadGripperParameters(node)});
    return selection;
  }
  // Only the section asked for is read; every section is listed.
  const std::vector<MotorSectionNode> sections = MotorSections(node);
  std::vector<std::string> known;
  known.reserve(sections.size());
  for (const MotorSectionNode& section : sections) {
    known.push_back(MotorSectionKey(section.motor));
    selection.motors.push_back(section.motor);
  }
  // A root that is no map has no sections: the account says so.
  GripperFileReading root;
  static_cast<void>(ReadRoot(node, known, root));
  selection.root = std::move(root.root);
  for (const MotorSectionNode& section : sections) {
    if (!motor || section.motor == *motor) {
      selection.parts.push_back({"section " + MotorSectionKey(section.motor), section.node, section.motor,
                                 ReadGripperParameters(section.node)});
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
  if (const std::vector<MotorSectionNode> sections = MotorSections(root); !sections.empty()) {
    std::string list;
    for (const MotorSectionNode& section : sections) {
      list += (list.empty() ? "" : ", ") + MotorSectionKey(section.motor);
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
