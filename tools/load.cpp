// Reading a description file once, and selecting the description in it.
#include <fmt/ranges.h>

#include "tools/commands.h"
#include "vorn_io/description_file.h"

namespace vorn_io::tool {
namespace {

Device DeviceOf(DescriptionKind kind) { return kind == DescriptionKind::kLifter ? Device::kLifter : Device::kGripper; }

const char* DeviceName(Device device) { return device == Device::kLifter ? "lifter" : "gripper"; }

DescriptionKind ResolveKind(const YAML::Node& node, const Selector& selector, std::optional<Device> building,
                            const std::string& name) {
  const std::optional<KindEvidence> told = TellDescriptionKind(node);
  if (building && !selector.as && told && DeviceOf(told->kind) != *building) {
    const char* wanted = DeviceName(*building);
    throw ConfigError(fmt::format(
        "{}: looks like a {} description ({}), not a {} one; add --as {} to build a {} from it all the same", name,
        DeviceName(DeviceOf(told->kind)), told->evidence, wanted, wanted, wanted));
  }
  const std::optional<Device> device = selector.as ? selector.as : building;
  if (device == Device::kLifter) {
    return DescriptionKind::kLifter;
  }
  if (selector.motor) {
    return DescriptionKind::kMotorFile;
  }
  if (device == Device::kGripper) {
    return told && DeviceOf(told->kind) == Device::kGripper ? told->kind : DescriptionKind::kParameterMap;
  }
  if (!told) {
    throw ConfigError(fmt::format(
        "{}: cannot tell what device this describes from its keys; say which with --as lifter|gripper", name));
  }
  return told->kind;
}

}  // namespace

DescriptionFile LoadDescription(const std::string& path) {
  DescriptionFile file = ReadDescriptionFile(path);
  if (!file.error.empty()) {
    throw ConfigError(file.error);
  }
  return file;
}

DescriptionAccount Noted(const DescriptionFile& file, DescriptionAccount account) {
  account.keys.insert(account.keys.end(), file.findings.keys.begin(), file.findings.keys.end());
  return account;
}

Selection Select(const DescriptionFile& file, const Selector& selector, std::optional<Device> building) {
  Selection selection{DescriptionKind::kLifter, file.root, "root map", selector.motor};
  if (selector.node_path) {
    selection.where = "key " + *selector.node_path;
    std::string missing;
    const std::optional<YAML::Node> node = SelectNode(file.root, *selector.node_path, &missing);
    if (!node) {
      throw ConfigError(fmt::format("{}: no key \"{}\" (from --node {})", file.name, missing, *selector.node_path));
    }
    selection.node = *node;
  }
  selection.kind = ResolveKind(selection.node, selector, building, file.name);
  return selection;
}

GripperSelection ReadGripper(const Selection& selection, const std::string& file_name) {
  GripperSelection gripper = ReadGripperSelection(selection.node, selection.kind, selection.where, selection.motor);
  if (selection.motor && gripper.parts.empty()) {
    throw ConfigError(
        fmt::format("{}: no section {} (motor sections in the file: {})", file_name, MotorSectionKey(*selection.motor),
                    gripper.motors.empty() ? "none" : fmt::format("{}", fmt::join(gripper.motors, ", "))));
  }
  return gripper;
}

}  // namespace vorn_io::tool
