// Reading a description file once, and selecting the description in it.
#include <fmt/ranges.h>

#include "tools/commands.h"
#include "vorn_io/description_file.h"

namespace vorn_io::tool {
namespace {

Device DeviceOf(DescriptionKind kind) { return kind == DescriptionKind::kLifter ? Device::kLifter : Device::kGripper; }

const char* DeviceName(Device device) { return device == Device::kLifter ? "lifter" : "gripper"; }

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
  const std::optional<KindEvidence> told = TellDescriptionKind(selection.node);
  if (building && !selector.as && told && DeviceOf(told->kind) != *building) {
    throw ConfigError(fmt::format(
        "{0}: looks like a {1} description ({2}), not a {3} one; add --as {3} to build a {3} from it all the same",
        file.name, DeviceName(DeviceOf(told->kind)), told->evidence, DeviceName(*building)));
  }
  const std::optional<Device> device = selector.as ? selector.as : building;
  if (!device && !selector.motor && !told) {
    throw ConfigError(fmt::format(
        "{}: cannot tell what device this describes from its keys; say which with --as lifter|gripper", file.name));
  }
  if (device != Device::kLifter) {  // a motor file's section, else what the keys tell, else a parameter map
    selection.kind = selector.motor                                                  ? DescriptionKind::kMotorFile
                     : told && (!device || DeviceOf(told->kind) == Device::kGripper) ? told->kind
                                                                                     : DescriptionKind::kParameterMap;
  }
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
